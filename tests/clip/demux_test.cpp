// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/demux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "ts/ts_builder.h"
#include "veld/base/crc32.h"
#include "veld/graphics/ig_track.h"
#include "veld/ts/transport.h"
#include "veld/graphics/segment_file.h"

namespace veld {
namespace {

using test::ClipBuilder;
using test::pes_packets;

const Bytes kIcs = test::hex_bytes("18 00 0B 07 80 04 38 10 00 00 80 00 00 00");  // not parsed here

std::filesystem::path write_clip(const test::TempDir& dir, const Bytes& bytes, const char* name = "clip.m2ts") {
  test::write_file(dir / name, bytes);
  return dir / name;
}

// Demultiplexes the given PIDs of a clip into IG track files in memory; returns their contents.
std::vector<Bytes> demux_ig(const std::filesystem::path& path, std::vector<std::uint16_t> pids,
                            DemuxResult* result = nullptr, int cancel_after = -1) {
  CTrackInfoMap map;
  for (std::uint16_t pid : pids) {
    STrackInfo info;
    info.coding_type = 0x91;
    info.track = std::make_unique<SIgTrackFile>();
    info.track->attach(std::make_unique<CMemorySink>());
    map.add(pid, std::move(info));
  }
  File f;
  EXPECT_TRUE(f.open(path, File::Mode::kRead));
  test::RecordingProgress progress;
  progress.cancel_after = cancel_after;
  const DemuxResult r = demux_to_track_files(map, f, progress, nullptr);
  if (result) *result = r;
  std::vector<Bytes> out;
  for (auto& [pid, info] : map.entries()) out.push_back(static_cast<const CMemorySink*>(info.track->sink())->data());
  return out;
}

TEST(DemuxTest, TimeBaseFromFirstVideoPts) {
  ClipBuilder c;
  c.put(test::pmt_packet(test::pmt_of({{0x1011, 0x1B}, {0x1400, 0x91}})));
  c.put(test::pcr_packet(500'000));
  c.put_all(pes_packets(0x1011, 0xE0, 1'000'000, 990'000, Bytes(300, 0x11)));
  c.put_all(pes_packets(0x1400, 0xBD, 1'045'000, std::nullopt, kIcs));
  test::TempDir dir;
  const auto path = write_clip(dir, c.bytes);
  EXPECT_EQ(find_time_base(c.bytes), 1'000'000u);
  const auto files = demux_ig(path, {0x1400});
  ASSERT_EQ(files.size(), 1u);
  // 0.5 s after the time base: the first record carries 131,070.
  ASSERT_EQ(files[0].size(), 10 + kIcs.size());
  EXPECT_EQ(load_be32(files[0].data() + 2), 131070u);
}

TEST(DemuxTest, TimeBaseFromPcrWhenTheFirstPesIsGraphics) {
  ClipBuilder c;
  c.put(test::pmt_packet(test::pmt_of({{0x1011, 0x1B}, {0x1400, 0x91}})));
  c.put(test::pcr_packet(100'000));
  c.put_all(pes_packets(0x1400, 0xBD, 1'000'000, std::nullopt, kIcs));
  c.put_all(pes_packets(0x1011, 0xE0, 1'100'000, std::nullopt, Bytes(300, 0x11)));
  test::TempDir dir;
  const auto path = write_clip(dir, c.bytes);
  EXPECT_EQ(find_time_base(c.bytes), 100'000u);
  const auto files = demux_ig(path, {0x1400});
  // 900,000 ticks (10 s) after the PCR: no adjustment.
  EXPECT_EQ(load_be32(files[0].data() + 2), 900'000u);
  const auto first = find_first_pes_pts(c.bytes);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->pid, 0x1400);
  EXPECT_EQ(find_first_pcr(c.bytes), 100'000u);
}

TEST(DemuxTest, TwoIgStreamsInMapOrderAndPrioritySplit) {
  ClipBuilder c;
  c.put(test::pmt_packet(test::pmt_of({{0x1401, 0x91}, {0x1400, 0x91}})));
  Bytes big(500);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  auto a = pes_packets(0x1400, 0xBD, 200'000, std::nullopt, big);
  auto b = pes_packets(0x1401, 0xBD, 300'000, std::nullopt, kIcs);
  c.put(a[0]);
  c.put(b[0]);
  c.put(a[1]);
  c.put(a[2]);
  test::TempDir dir;
  const auto path = write_clip(dir, c.bytes);
  const auto files = demux_ig(path, {0x1401, 0x1400});
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].size(), 10 + kIcs.size());
  ASSERT_EQ(files[1].size(), 10 + big.size());
  EXPECT_EQ(Bytes(files[1].begin() + 10, files[1].end()), big);

  // Priority: packets with TransportPriority 0 go to the second track file.
  ClipBuilder d;
  d.put_all(pes_packets(0x1400, 0xBD, 200'000, std::nullopt, kIcs, true));
  d.put_all(pes_packets(0x1400, 0xBD, 210'000, std::nullopt, kIcs, false));
  const auto path2 = write_clip(dir, d.bytes, "prio.m2ts");
  CTrackInfoMap map;
  STrackInfo info;
  info.coding_type = 0x91;
  info.track = std::make_unique<SIgTrackFile>();
  info.track->attach(std::make_unique<CMemorySink>());
  info.low_priority_track = std::make_unique<SIgTrackFile>();
  info.low_priority_track->attach(std::make_unique<CMemorySink>());
  STrackInfo& added = map.add(0x1400, std::move(info));
  File f;
  ASSERT_TRUE(f.open(path2, File::Mode::kRead));
  test::RecordingProgress progress;
  ASSERT_EQ(demux_to_track_files(map, f, progress), DemuxResult::kOk);
  EXPECT_EQ(static_cast<const CMemorySink*>(added.track->sink())->data().size(), 10 + kIcs.size());
  EXPECT_EQ(static_cast<const CMemorySink*>(added.low_priority_track->sink())->data().size(), 10 + kIcs.size());
  EXPECT_EQ(progress.positions.back(), 100);
  EXPECT_EQ(progress.title(), "Demuxing");
  EXPECT_EQ(progress.status(), path2.string());
}

TEST(DemuxTest, PartialLastPacketIsIgnoredAndBadSyncSkipped) {
  ClipBuilder c;
  c.put_all(pes_packets(0x1400, 0xBD, 200'000, std::nullopt, kIcs));
  Bytes bad = pes_packets(0x1400, 0xBD, 300'000, std::nullopt, kIcs)[0];
  bad[0] = 0x48;
  c.put(bad);
  ClipBuilder tail;
  tail.put_all(pes_packets(0x1400, 0xBD, 400'000, std::nullopt, kIcs));
  c.bytes.insert(c.bytes.end(), tail.bytes.begin(), tail.bytes.begin() + 100);
  test::TempDir dir;
  const auto files = demux_ig(write_clip(dir, c.bytes), {0x1400});
  EXPECT_EQ(files[0].size(), 10 + kIcs.size());
}

TEST(DemuxTest, PesStraddlingBlocksAndPiecesAndAPartialTail) {
  ClipBuilder c;
  c.put(test::pmt_packet(test::pmt_of({{0x1400, 0x91}})));
  Bytes null_packet(188, 0xFF);
  null_packet[0] = 0x47;
  null_packet[1] = 0x1F;
  null_packet[2] = 0xFF;
  null_packet[3] = 0x10;
  const std::uint32_t block_packets = kDemuxBlockSize / 192;
  while (c.bytes.size() / 192 < block_packets - 1) c.put(null_packet);
  Bytes big(400);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13);
  c.put_all(pes_packets(0x1400, 0xBD, 2'000'000, std::nullopt, big));  // across the first block's end
  while (c.bytes.size() / 192 < block_packets + kDemuxScanPiece / 192 - 1) c.put(null_packet);
  c.put_all(pes_packets(0x1400, 0xBD, 2'100'000, std::nullopt, big));  // across a piece boundary
  ClipBuilder tail;
  tail.put_all(pes_packets(0x1400, 0xBD, 2'200'000, std::nullopt, kIcs));
  c.bytes.insert(c.bytes.end(), tail.bytes.begin(), tail.bytes.begin() + 191);
  test::TempDir dir;
  const auto path = write_clip(dir, c.bytes);
  for (std::uint8_t type : {0x91, 0x92}) {  // with and without the graphics time base
    CTrackInfoMap map;
    STrackInfo info;
    info.coding_type = type;
    info.track = std::make_unique<SIgTrackFile>();
    info.track->attach(std::make_unique<CMemorySink>());
    const STrackInfo& added = map.add(0x1400, std::move(info));
    File f;
    ASSERT_TRUE(f.open(path, File::Mode::kRead));
    test::RecordingProgress progress;
    ASSERT_EQ(demux_to_track_files(map, f, progress), DemuxResult::kOk);
    const Bytes& out = static_cast<const CMemorySink*>(added.track->sink())->data();
    ASSERT_EQ(out.size(), 2 * (10 + big.size())) << int{type};
    EXPECT_EQ(Bytes(out.begin() + 10, out.begin() + 410), big);
    EXPECT_EQ(Bytes(out.begin() + 420, out.end()), big);
    EXPECT_EQ(load_be32(out.data() + 412) - load_be32(out.data() + 2), 100'000u);
    EXPECT_EQ(progress.positions.front(), 0);
    EXPECT_EQ(progress.positions.back(), 100);
  }
}

TEST(DemuxTest, CancellationStops) {
  ClipBuilder c;
  c.put_all(pes_packets(0x1400, 0xBD, 200'000, std::nullopt, kIcs));
  test::TempDir dir;
  DemuxResult r = DemuxResult::kOk;
  demux_ig(write_clip(dir, c.bytes), {0x1400}, &r, 1);
  EXPECT_EQ(r, DemuxResult::kCancelled);
}

TEST(DemuxTest, FindPmtRestoresThePosition) {
  ClipBuilder c;
  for (int i = 0; i < 150; ++i) c.put(pes_packets(0x1011, 0xE0, 1000 + i, std::nullopt, Bytes(10))[0]);
  c.put(test::pmt_packet(test::pmt_of({{0x1011, 0x1B}, {0x1400, 0x91}})));
  test::TempDir dir;
  File f;
  ASSERT_TRUE(f.open(write_clip(dir, c.bytes), File::Mode::kRead));
  ASSERT_TRUE(f.seek(192 * 3));
  const auto pmt = find_pmt(f);
  ASSERT_TRUE(pmt);
  EXPECT_EQ(pmt->streams.size(), 2u);
  EXPECT_EQ(f.position(), 192 * 3);
}

TEST(LoadClipIgStreamsTest, MessagesWithoutPmtOrIgStream) {
  test::TempDir dir;
  ClipBuilder none;
  none.put_all(pes_packets(0x1011, 0xE0, 1000, std::nullopt, Bytes(10)));
  const auto p1 = write_clip(dir, none.bytes, "a.m2ts");
  ClipBuilder noig;
  noig.put(test::pmt_packet(test::pmt_of({{0x1011, 0x1B}})));
  const auto p2 = write_clip(dir, noig.bytes, "b.m2ts");
  test::RecordingMessenger m;
  test::RecordingProgress progress;
  std::vector<SClipIgStream> out;
  EXPECT_EQ(LoadClipIgStreams(p1, out, progress, m), 2);
  EXPECT_EQ(LoadClipIgStreams(p2, out, progress, m), 2);
  EXPECT_EQ(LoadClipIgStreams(dir / "missing.m2ts", out, progress, m), 2);
  ASSERT_EQ(m.shown.size(), 3u);
  EXPECT_EQ(m.shown[0].text, p1.string() + ":\n\rWrong m2ts file format ! ");
  EXPECT_EQ(m.shown[1].text, p2.string() + ":\n\rhas no IGS (menu) ! ");
  EXPECT_THAT(m.shown[2].text, testing::HasSubstr("missing.m2ts"));
  EXPECT_TRUE(out.empty());
}

TEST(LoadClipIgStreamsTest, CancellationAndParseFailure) {
  test::TempDir dir;
  ClipBuilder c;
  c.put(test::pmt_packet(test::pmt_of({{0x1400, 0x91}, {0x1401, 0x91}})));
  // 0x1400: one display set made of an END segment only; 0x1401: a segment of unknown type 0x33.
  c.put_all(pes_packets(0x1400, 0xBD, 900'000, std::nullopt, test::hex_bytes("80 00 00")));
  c.put_all(pes_packets(0x1401, 0xBD, 900'000, std::nullopt, test::hex_bytes("33 00 01 00")));
  const auto path = write_clip(dir, c.bytes);
  test::RecordingMessenger m;
  std::vector<SClipIgStream> out;
  {
    test::RecordingProgress progress;
    progress.cancel_after = 1;
    EXPECT_EQ(LoadClipIgStreams(path, out, progress, m), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(m.shown.empty());
  }
  test::RecordingProgress progress;
  EXPECT_EQ(LoadClipIgStreams(path, out, progress, m), 2);
  // The first stream parsed and stays; the second failed with a message naming the clip, the PID and the
  // clip's packet that the bad segment came from.
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].pid, 0x1400);
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_THAT(m.shown[0].text, testing::HasSubstr(path.string() + " (PID 5121): unknown segment type 0x33 at byte 384 "
                                                  "(packet 2) of the clip"));
}

// ---- generated discs ----------------------------------------------------------------------------------

struct Record {
  std::uint32_t pts = 0, dts = 0;
  Bytes segment;
};

// The records of a segment file (one segment per record).
std::vector<Record> records_of(const Bytes& file) {
  std::vector<Record> out;
  std::size_t at = 0;
  while (at + 13 <= file.size()) {
    Record r;
    r.pts = load_be32(file.data() + at + 2);
    r.dts = load_be32(file.data() + at + 6);
    const std::size_t len = 3 + load_be16(file.data() + at + 11);
    EXPECT_LE(at + 10 + len, file.size());
    if (at + 10 + len > file.size()) break;
    r.segment.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 10),
                     file.begin() + static_cast<std::ptrdiff_t>(at + 10 + len));
    out.push_back(std::move(r));
    at += 10 + len;
  }
  EXPECT_EQ(at, file.size());
  return out;
}

nlohmann::json truth_of(const std::string& variant) {
  std::ifstream in(test::test_discs_dir() / variant / "truth.json");
  return nlohmann::json::parse(in);
}

const char* const kVariants[] = {"menu", "twoig", "popup", "subpath", "streams"};

TEST(GeneratedDiscsTest, IgStreamsEqualTheGeneratorsSegmentFiles) {
  int clips_with_ig = 0;
  for (const char* variant : kVariants) {
    const auto disc = test::test_discs_dir() / variant;
    const auto truth = truth_of(variant);
    for (const auto& [clip, info] : truth["clips"].items()) {
      const auto m2ts = disc / "BDMV" / "STREAM" / (clip + ".m2ts");
      std::vector<std::uint16_t> pmt_ig;
      {
        File f;
        ASSERT_TRUE(f.open(m2ts, File::Mode::kRead));
        const auto pmt = find_pmt(f);
        ASSERT_TRUE(pmt) << m2ts;
        for (const auto& es : pmt->streams)
          if (es.StreamType == 0x91) pmt_ig.push_back(es.ElementaryPid);
      }
      if (!info.contains("ig") || info["ig"].empty()) {
        EXPECT_TRUE(pmt_ig.empty());
        continue;
      }
      ++clips_with_ig;
      test::RecordingMessenger m;
      test::RecordingProgress progress;
      std::vector<SClipIgStream> out;
      ASSERT_EQ(LoadClipIgStreams(m2ts, out, progress, m), 0) << m.all_text();
      ASSERT_EQ(out.size(), info["ig"].size()) << variant << " " << clip;
      ASSERT_EQ(out.size(), pmt_ig.size());
      for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pid, pmt_ig[i]);  // PMT order
        const std::string key = fmt::format("0x{:04X}", out[i].pid);
        ASSERT_TRUE(info["ig"].contains(key)) << key;
        // The generator's segment file holds the stream's own time stamps; ours are rebased to the
        // clip's time base and moved so that the first record is at least 131,070 ticks after it.
        const Bytes expect = test::read_file(disc / info["ig"][key]["segment_file"].get<std::string>());
        const auto files = demux_ig(m2ts, {out[i].pid});
        const auto got = records_of(files[0]);
        const auto want = records_of(expect);
        ASSERT_EQ(got.size(), want.size()) << variant << " " << clip << " " << key;
        ASSERT_FALSE(got.empty());
        const Bytes clip_bytes = test::read_file(m2ts);
        const std::int64_t base = static_cast<std::int64_t>(find_time_base(
            ByteSpan(clip_bytes.data(), std::min<std::size_t>(clip_bytes.size(), kDemuxBlockSize))));
        const std::int64_t first = want[0].dts ? want[0].dts : want[0].pts;
        const std::int64_t adjust = first - base < 131070 ? 131070 - (first - base) : 0;
        const std::uint32_t delta = static_cast<std::uint32_t>(adjust - base);
        for (std::size_t k = 0; k < got.size(); ++k) {
          EXPECT_EQ(got[k].segment, want[k].segment) << key << " record " << k;
          EXPECT_EQ(got[k].pts, static_cast<std::uint32_t>(want[k].pts + delta)) << key << " record " << k;
          EXPECT_EQ(got[k].dts, want[k].dts ? static_cast<std::uint32_t>(want[k].dts + delta) : 0u) << k;
        }
        const std::uint32_t first_out = got[0].dts ? got[0].dts : got[0].pts;
        EXPECT_GE(first_out, 131070u);
        CGsData again;
        ASSERT_TRUE(ReadGraphicsStream(expect, again));
        EXPECT_EQ(out[i].data.DisplaySetCount(), again.DisplaySetCount());
        EXPECT_EQ(out[i].data.DisplaySetCount(), info["ig"][key]["display_sets"].size());
      }
    }
  }
  EXPECT_GE(clips_with_ig, 4);
}

TEST(GeneratedDiscsTest, PmtReadAndWrittenBackIsEqual) {
  for (const char* variant : kVariants) {
    const auto dir = test::test_discs_dir() / variant / "BDMV" / "STREAM";
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const Bytes clip = test::read_file(e.path());
      // The section bytes of the first PMT, which may continue in the next PMT packets.
      for (std::size_t at = 0; at + 192 <= clip.size(); at += 192) {
        const std::uint8_t* p = clip.data() + at + 4;
        if (ts_pid(p) != kPidPmt || !ts_payload_unit_start(p)) continue;
        const std::size_t start = 5 + p[4];
        const std::size_t len = 3 + (load_be16(p + start + 1) & 0x0FFF);
        Bytes section(p + start, p + 188);
        for (std::size_t next = at + 192; section.size() < len && next + 192 <= clip.size(); next += 192) {
          const std::uint8_t* q = clip.data() + next + 4;
          if (ts_pid(q) == kPidPmt) section.insert(section.end(), q + 4, q + 188);
        }
        ASSERT_GE(section.size(), len) << e.path();
        section.resize(len);
        SPmt pmt;
        ASSERT_EQ(pmt.parse(section), static_cast<int>(len));
        Bytes again;
        pmt.write(again);
        EXPECT_EQ(again, section) << e.path();
        EXPECT_EQ(crc32_mpeg(again), 0u);
        break;
      }
    }
  }
}

}  // namespace
}  // namespace veld
