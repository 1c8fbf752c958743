// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/test_support.h"

namespace veld {
namespace {

using test::hex_bytes;

// A 188-byte packet: header bytes, then the given bytes, then 0xFF.
Bytes packet(const char* hex) {
  Bytes p = hex_bytes(hex);
  p.resize(188, 0xFF);
  return p;
}

TEST(PidPlanTest, Categories) {
  EXPECT_EQ(pid_category(0x1011), PidCategory::kPrimaryVideo);
  EXPECT_EQ(pid_category(0x1012), PidCategory::kNone);
  EXPECT_EQ(pid_category(0x1100), PidCategory::kPrimaryAudio);
  EXPECT_EQ(pid_category(0x111F), PidCategory::kPrimaryAudio);
  EXPECT_EQ(pid_category(0x1120), PidCategory::kNone);
  EXPECT_EQ(pid_category(0x1200), PidCategory::kPresentationGraphics);
  EXPECT_EQ(pid_category(0x141F), PidCategory::kInteractiveGraphics);
  EXPECT_EQ(pid_category(0x1420), PidCategory::kNone);
  EXPECT_EQ(pid_category(0x1800), PidCategory::kTextSubtitle);
  EXPECT_EQ(pid_category(0x1801), PidCategory::kNone);
  EXPECT_EQ(pid_category(0x1A1F), PidCategory::kSecondaryAudio);
  EXPECT_EQ(pid_category(0x1B00), PidCategory::kSecondaryVideo);
  EXPECT_EQ(pid_category(0x1B20), PidCategory::kNone);
  for (std::uint16_t pid : {0x0000, 0x001F, 0x0100, 0x1001, 0x1FFF}) EXPECT_FALSE(is_elementary_pid(pid));
}

TEST(TsPacketReaderTest, ElementaryStreamPacketStartingPes) {
  const Bytes p = packet("47 54 00 30 03 00 FF FF 00 00 01 BD 00 20 81 80 05 21 00 05 BF 21 18 00 10");
  CTsPacketReader r;
  ASSERT_EQ(r.read(p.data()), 22);
  EXPECT_EQ(r.header().PID, 0x1400);
  ASSERT_TRUE(r.adaptation_field());
  EXPECT_EQ(r.adaptation_field()->StuffingSize, 2u);
  ASSERT_TRUE(r.pes_header());
  EXPECT_EQ(r.pes_offset(), 8);
  EXPECT_EQ(r.pes_header()->PTS.value, 90000u);
  EXPECT_EQ(p[22], 0x18);

  // Writing the decoded structures back gives the same header bytes.
  Bytes out(188, 0xFF);
  ASSERT_EQ(r.write(out.data()), 22u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 22), Bytes(p.begin(), p.begin() + 22));

  // A continuation packet of the same PID: payload right after the header, no PES header.
  const Bytes c = packet("47 14 00 11 AA");
  EXPECT_EQ(r.read(c.data()), 4);
  EXPECT_FALSE(r.pes_header());
  EXPECT_FALSE(r.adaptation_field());
}

TEST(TsPacketReaderTest, PrivateItemAfterPesHeader) {
  // 0x06, n = 3, value: the payload starts n + 2 bytes after the header.
  const Bytes p = packet("47 51 00 10 00 00 01 BD 00 20 81 80 05 21 00 05 BF 21 06 03 01 02 03 0B 77");
  CTsPacketReader r;
  EXPECT_EQ(r.read(p.data()), 18 + 5);
  EXPECT_EQ(p[23], 0x0B);
}

TEST(TsPacketReaderTest, WrongSyncAndOverrunsGiveZero) {
  CTsPacketReader r;
  EXPECT_EQ(r.read(packet("46 54 00 10 00 00 01 BD").data()), 0);
  // Adaptation field longer than the packet.
  EXPECT_EQ(r.read(packet("47 14 00 30 B8").data()), 0);
  // Adaptation field filling the whole packet: payload offset at the end, nothing to read.
  EXPECT_EQ(r.read(packet("47 14 00 20 B7 00").data()), 188);
  // A PES start without a start code.
  EXPECT_EQ(r.read(packet("47 54 00 10 00 00 02 BD 00 00 81 80 05").data()), 0);
  // A PES header whose data length runs past the packet.
  Bytes p = packet("47 54 00 30 B0 00");
  std::memcpy(p.data() + 181, hex_bytes("00 00 01 BD 00 00 81").data(), 7);
  EXPECT_EQ(r.read(p.data()), 0);
  // A pointer field past the end on the PAT PID.
  EXPECT_EQ(r.read(packet("47 40 00 10 FF").data()), 0);
}

TEST(TsPacketReaderTest, PatSitAndPmtPids) {
  SPat pat = SPat::make_default();
  Bytes sec;
  pat.write(sec);
  Bytes p = packet("47 40 00 10 02 EE EE");
  std::memcpy(p.data() + 7, sec.data(), sec.size());
  CTsPacketReader r;
  EXPECT_EQ(r.read(p.data()), 7);
  ASSERT_TRUE(r.pat());
  EXPECT_EQ(r.pat()->programs.size(), 2u);

  SSit sit;
  sec.clear();
  sit.write(sec);
  p = packet("47 40 1F 10 00");
  std::memcpy(p.data() + 5, sec.data(), sec.size());
  EXPECT_EQ(r.read(p.data()), 5);
  ASSERT_TRUE(r.sit());
  EXPECT_EQ(r.sit()->PartialTransportStreamDescriptor.PeakRate, 120000u);

  SPmt pmt;
  SEsInfo ig;
  ig.StreamType = 0x91;
  ig.ElementaryPid = 0x1400;
  pmt.streams.push_back(ig);
  sec.clear();
  pmt.write(sec);
  p = packet("47 41 00 10 00");
  std::memcpy(p.data() + 5, sec.data(), sec.size());
  EXPECT_EQ(r.read(p.data()), 188);
  ASSERT_TRUE(r.pmt());
  EXPECT_EQ(r.pmt()->streams.size(), 1u);
  // The next read drops the completed table.
  r.read(packet("47 14 00 11").data());
  EXPECT_FALSE(r.pmt());
}

TEST(TsPacketReaderTest, RandomPacketsStayInsideThePacket) {
  std::mt19937 rng(11);
  const std::uint16_t pids[] = {0x0000, 0x001F, 0x0100, 0x1011, 0x1400, 0x1001};
  CTsPacketReader r;
  Bytes p(188);
  for (int i = 0; i < 50000; ++i) {
    for (auto& b : p) b = static_cast<std::uint8_t>(rng());
    p[0] = 0x47;
    const std::uint16_t pid = pids[rng() % std::size(pids)];
    p[1] = static_cast<std::uint8_t>((p[1] & 0xE0) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid);
    if (i % 2) {  // a plausible PES start, so that the header parser gets far
      const std::size_t at = ts_payload_offset(p.data());
      if (at > 0 && at + 9 <= 188) {
        p[at] = 0;
        p[at + 1] = 0;
        p[at + 2] = 1;
        p[at + 6] = static_cast<std::uint8_t>(0x80 | (p[at + 6] & 0x3F));
        p[at + 8] = static_cast<std::uint8_t>(p[at + 8] % 40);
      }
    }
    const int off = r.read(p.data());
    ASSERT_GE(off, 0);
    ASSERT_LE(off, 188);
    if (r.pes_header()) {
      ASSERT_LE(static_cast<std::size_t>(r.pes_offset()) + r.pes_header()->header_size(), 188u);
    }
    Bytes out(188, 0xFF);
    const std::size_t n = r.write(out.data());
    ASSERT_LE(n, 188u);
  }
}

}  // namespace
}  // namespace veld
