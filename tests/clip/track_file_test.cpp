// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/track_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "ts/ts_builder.h"

namespace veld {
namespace {

SPesHeader pes_with(std::uint64_t pts, std::optional<std::uint64_t> dts = std::nullopt) {
  const Bytes b = test::pes_header_bytes(0xBD, pts, dts);
  SPesHeader h;
  EXPECT_GT(h.parse(b), 0);
  return h;
}

// A sink that counts its writes and can be told to fail.
class CountingSink : public CByteSink {
 public:
  std::int64_t length() const override { return static_cast<std::int64_t>(data.size()); }
  const std::filesystem::path& path() const override { return path_; }
  bool write(ByteSpan d) override {
    ++writes;
    if (fail) {
      error_ = "disk full";
      return false;
    }
    data.insert(data.end(), d.begin(), d.end());
    return true;
  }
  void close() override { ++closes; }
  const std::string& error() const override { return error_; }
  Bytes data;
  int writes = 0;
  int closes = 0;
  bool fail = false;

 private:
  std::filesystem::path path_;
  std::string error_;
};

TEST(GsTrackFileTest, FirstRecordHalfSecondAfterTimeBaseIsAdjusted) {
  SIgTrackFile t;
  auto sink = std::make_unique<CMemorySink>();
  const CMemorySink* s = sink.get();
  t.attach(std::move(sink));
  const std::uint64_t base = 1'000'000;
  const Bytes seg = {0x18, 0x00, 0x01, 0xAA};
  const SPesHeader first = pes_with(base + 45000);
  t.write(seg.data(), seg.size(), &first, base);
  EXPECT_EQ(t.adjustment(), 131070 - 45000);
  const SPesHeader second = pes_with(base + 45000 + 9000, base + 45000 + 3000);
  t.write(seg.data(), seg.size(), &second, base);
  ASSERT_TRUE(t.flush());
  const Bytes expect = test::hex_bytes(
      "49 47 00 01 FF FE 00 00 00 00 18 00 01 AA"
      "49 47 00 02 23 26 00 02 0B B6 18 00 01 AA");
  EXPECT_EQ(s->data(), expect);
  EXPECT_EQ(s->capacity() % 1024, 0u);
}

TEST(GsTrackFileTest, FirstRecordTenSecondsAfterTimeBaseIsNotAdjusted) {
  SIgTrackFile t;
  auto sink = std::make_unique<CMemorySink>();
  const CMemorySink* s = sink.get();
  t.attach(std::move(sink));
  const SPesHeader first = pes_with(50 + 900000);
  const Bytes seg = {0x80, 0x00, 0x00};
  t.write(seg.data(), seg.size(), &first, 50);
  t.flush();
  EXPECT_EQ(t.adjustment(), 0);
  EXPECT_EQ(load_be32(s->data().data() + 2), 900000u);
  EXPECT_EQ(load_be32(s->data().data() + 6), 0u);  // no DTS in the PES header
}

TEST(GsTrackFileTest, AdjustmentUsesTheDtsAndPesSpansSeveralPackets) {
  SIgTrackFile t;
  auto sink = std::make_unique<CMemorySink>();
  const CMemorySink* s = sink.get();
  t.attach(std::move(sink));
  // DTS 1000 ticks after the base, PTS 5000: r = 1000 from the DTS.
  const SPesHeader first = pes_with(10000 + 5000, 10000 + 1000);
  const Bytes a = {0x15, 0x00, 0x04}, b = {1, 2}, c = {3, 4};
  t.write(a.data(), a.size(), &first, 10000);
  t.write(b.data(), b.size(), nullptr, 10000);
  t.write(c.data(), c.size(), nullptr, 10000);
  t.flush();
  EXPECT_EQ(t.adjustment(), 130070);
  EXPECT_EQ(load_be32(s->data().data() + 2), 135070u);
  EXPECT_EQ(load_be32(s->data().data() + 6), 131070u);
  EXPECT_EQ(Bytes(s->data().begin() + 10, s->data().end()), test::hex_bytes("15 00 04 01 02 03 04"));
}

TEST(GsTrackFileTest, FlushAtEndHandsEachDisplaySetOnAtItsEnd) {
  for (const bool on : {false, true}) {
    SIgTrackFile t;
    t.set_flush_at_end(on);
    auto sink = std::make_unique<CountingSink>();
    const CountingSink* s = sink.get();
    t.attach(std::move(sink));
    const Bytes ics = {0x18, 0x00, 0x01, 0xAA};
    const Bytes end = {0x80, 0x00, 0x00};
    const SPesHeader h = pes_with(200000);
    t.write(ics.data(), ics.size(), &h, 100000);
    EXPECT_EQ(s->writes, 0) << "a record that is not an END stays in the buffer";
    t.write(end.data(), end.size(), &h, 100000);
    EXPECT_EQ(s->writes, on ? 1 : 0);
    EXPECT_EQ(s->data.size(), on ? 2 * 10 + ics.size() + end.size() : 0u);
    // A continuation packet starting with 0x80 is payload, not a new segment.
    t.write(end.data(), end.size(), nullptr, 100000);
    EXPECT_EQ(s->writes, on ? 1 : 0);
  }
}

TEST(TrackFileTest, LargeAmountsReachTheSinkInFewLargeWrites) {
  SIgTrackFile t;
  auto sink = std::make_unique<CountingSink>();
  CountingSink* s = sink.get();
  t.attach(std::move(sink));
  Bytes expect;
  Bytes chunk(184);
  for (std::size_t i = 0; i < 60000; ++i) {  // about 11 MB
    for (std::size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<std::uint8_t>(i + k);
    if (i % 100 == 0) {
      const SPesHeader h = pes_with(200000 + i);
      t.write(chunk.data(), chunk.size(), &h, 0);
      std::uint8_t head[10] = {'I', 'G'};
      store_be32(head + 2, static_cast<std::uint32_t>(200000 + i));
      expect.insert(expect.end(), head, head + 10);
    } else {
      t.write(chunk.data(), chunk.size(), nullptr, 0);
    }
    expect.insert(expect.end(), chunk.begin(), chunk.end());
  }
  EXPECT_LE(t.used(), SGsTrackFile::kCapacity);
  ASSERT_TRUE(t.flush());
  EXPECT_EQ(s->data, expect);
  EXPECT_LE(s->writes, 4);
}

TEST(TrackFileTest, PlainTrackFileAndPrefix) {
  STrackFile t(16);
  auto sink = std::make_unique<CountingSink>();
  CountingSink* s = sink.get();
  t.attach(std::move(sink));
  const Bytes a = {1, 2, 3}, p = {9, 9};
  t.write(a.data(), a.size(), nullptr, 0);
  t.write_with_prefix(a.data(), a.size(), p.data(), p.size());
  t.write_with_prefix(a.data(), a.size(), nullptr, 0);
  const Bytes big(40, 7);  // larger than the whole buffer
  t.write(big.data(), big.size(), nullptr, 0);
  t.flush();
  Bytes expect = {1, 2, 3, 9, 9, 1, 2, 3, 1, 2, 3};
  expect.resize(expect.size() + big.size(), 7);  // then the 40 bytes of big
  EXPECT_EQ(s->data, expect);
}

TEST(TrackFileTest, SinkFailureIsReported) {
  STrackFile t(8);
  auto sink = std::make_unique<CountingSink>();
  sink->fail = true;
  t.attach(std::move(sink));
  const Bytes a = {1, 2, 3};
  t.write(a.data(), a.size(), nullptr, 0);
  EXPECT_FALSE(t.flush());
  EXPECT_EQ(t.error(), "disk full");
}

TEST(TrackFileTest, EmptyFileSinkIsDeletedAndAWrittenOneKept) {
  test::TempDir dir;
  {
    STrackFile t;
    auto sink = std::make_unique<CFileSink>();
    ASSERT_TRUE(sink->open(dir / "empty.ig"));
    t.attach(std::move(sink));
    EXPECT_TRUE(std::filesystem::exists(dir / "empty.ig"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.ig"));
  {
    STrackFile t;
    auto sink = std::make_unique<CFileSink>();
    ASSERT_TRUE(sink->open(dir / "full.ig"));
    t.attach(std::move(sink));
    const Bytes a = {1, 2, 3};
    t.write(a.data(), a.size(), nullptr, 0);
    EXPECT_TRUE(t.flush());
  }
  EXPECT_EQ(test::read_file(dir / "full.ig"), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace veld
