// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/raw_track.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "support/test_support.h"
#include "veld/mux/packetiser.h"
#include "veld/ts/ts_packet.h"

namespace veld {
namespace {

using test::TempDir;

// The packets of one unit, and what a reader makes of them.
struct Packets {
  std::vector<std::array<std::uint8_t, 188>> packets;
  std::vector<int> pes_bytes;
};

SPacketUnit make_unit(ByteSpan bytes, std::uint64_t pts, std::uint64_t dts, bool both) {
  SPacketUnit u;
  u.bytes = bytes;
  u.pts = pts;
  u.dts = dts;
  u.pts_and_dts = both;
  return u;
}

Packets packetise(CPacketiser& p, const SPacketUnit& unit) {
  Packets out;
  std::size_t sent = 0;
  while (sent < unit.bytes.size()) {
    std::array<std::uint8_t, 188> packet{};
    out.pes_bytes.push_back(p.next(unit, sent, packet.data()));
    out.packets.push_back(packet);
  }
  return out;
}

TEST(PacketiserTest, ShortSegmentWithBothStampsFillsOnePacket) {
  CPacketiser p(0x1400, 0x91);
  Bytes segment(100, 0x42);
  segment[0] = 0x15;  // an object definition segment
  const SPacketUnit unit = make_unit(segment, 54131070, 54000000, true);
  const Packets out = packetise(p, unit);
  ASSERT_EQ(out.packets.size(), 1u);
  const std::uint8_t* pk = out.packets[0].data();
  const STsHeader h = STsHeader::parse(pk);
  EXPECT_TRUE(h.PayloadUnitStartIndicator);
  EXPECT_EQ(h.PID, 0x1400);
  EXPECT_EQ(h.AdapationFieldControl, 3);
  const int payload = ts_payload_offset(pk);
  // header (4) + adaptation field + 19-byte PES header + 100 bytes = 188.
  EXPECT_EQ(payload, 188 - 19 - 100);
  SPesHeader pes;
  ASSERT_EQ(pes.parse(ByteSpan(pk + payload, 188 - payload)), 19);
  EXPECT_EQ(pes.StreamID, 0xBD);
  EXPECT_EQ(pes.PTS.value, 54131070u);
  EXPECT_EQ(pes.DTS.value, 54000000u);
  EXPECT_EQ(pes.PES_PacketLength, 100 + 13);
  EXPECT_EQ(0, std::memcmp(pk + 188 - 100, segment.data(), 100));
  EXPECT_EQ(out.pes_bytes[0], 119);
}

TEST(PacketiserTest, LongSegmentSpansPacketsAndOnlyTheFirstStartsAUnit) {
  CPacketiser p(0x1401, 0x91);
  Bytes segment(5000);
  for (std::size_t i = 0; i < segment.size(); ++i) segment[i] = static_cast<std::uint8_t>(i * 7);
  segment[0] = 0x80;  // an END segment: PTS only
  const Packets out = packetise(p, make_unit(segment, 1000, 0, false));
  // 14-byte PES header: 5014 bytes in 184-byte payloads = 28 packets, the last with stuffing.
  ASSERT_EQ(out.packets.size(), 28u);
  Bytes joined;
  for (std::size_t i = 0; i < out.packets.size(); ++i) {
    const STsHeader h = STsHeader::parse(out.packets[i].data());
    EXPECT_EQ(h.PayloadUnitStartIndicator, i == 0);
    EXPECT_EQ(h.ContinuityCounter, i % 16);
    EXPECT_EQ(h.AdapationFieldControl, i + 1 == out.packets.size() ? 3 : 1);
    const int off = ts_payload_offset(out.packets[i].data());
    joined.insert(joined.end(), out.packets[i].begin() + off, out.packets[i].end());
  }
  SPesHeader pes;
  ASSERT_EQ(pes.parse(joined), 14);
  EXPECT_EQ(pes.PTS_DTS_Flag, 2);
  EXPECT_EQ(Bytes(joined.begin() + 14, joined.end()), segment);
}

TEST(PacketiserTest, ContinuationPacketsOfEveryLengthEndExactly) {
  // Rests of 182, 183 and 184 bytes after the first packet: stuffing of 2, 1 (the length byte alone)
  // and 0 bytes.
  for (const std::size_t rest : {182u, 183u, 184u, 1u}) {
    CPacketiser p(0x1200, 0x90);
    const Bytes segment(170 + rest, 0x14);  // first packet: 14-byte header + 170 bytes
    const Packets out = packetise(p, make_unit(segment, 1, 0, false));
    ASSERT_EQ(out.packets.size(), 2u) << rest;
    const int off = ts_payload_offset(out.packets[1].data());
    EXPECT_EQ(188 - off, static_cast<int>(rest));
    EXPECT_EQ(out.pes_bytes[1], static_cast<int>(rest));
  }
}

TEST(PacketiserTest, StreamIdsByType) {
  struct Row {
    std::uint8_t type;
    bool extension;
    std::uint8_t id;
    int ext;
    bool priority;
  };
  const Row rows[] = {{0x1B, false, 0xE0, -1, false}, {0x02, false, 0xE0, -1, false}, {0x80, false, 0xBD, -1, false},
                      {0x91, false, 0xBD, -1, false}, {0x92, false, 0xBF, -1, false}, {0x81, false, 0xFD, 0x71, true},
                      {0x84, false, 0xFD, 0x72, false}, {0x83, false, 0xFD, 0x73, false},
                      {0x86, true, 0xFD, 0x72, false}, {0x86, false, 0xFD, 0x71, true}, {0x82, true, 0xFD, 0x71, true},
                      {0xEA, false, 0xFD, 0x55, false}};
  for (const Row& r : rows) {
    const SPesLayout l = PesLayoutFor(r.type, r.extension);
    EXPECT_EQ(l.stream_id, r.id) << int{r.type};
    EXPECT_EQ(l.stream_id_extension ? int{*l.stream_id_extension} : -1, r.ext) << int{r.type};
    EXPECT_EQ(l.transport_priority, r.priority) << int{r.type};
  }
  // The extension byte is written in the PES extension and counted in the packet length.
  CPacketiser p(0x1100, 0x81);
  const Bytes frame(50, 0x0B);
  const Packets out = packetise(p, make_unit(frame, 9000, 0, false));
  const int off = ts_payload_offset(out.packets[0].data());
  SPesHeader pes;
  ASSERT_GT(pes.parse(ByteSpan(out.packets[0].data() + off, 188 - off)), 0);
  ASSERT_EQ(pes.PES_ExtensionField.size(), 1u);
  EXPECT_EQ(pes.PES_ExtensionField[0], 0x71);
  EXPECT_EQ(pes.PES_PacketLength, 50 + 3 + 5 + 3);
  EXPECT_TRUE(STsHeader::parse(out.packets[0].data()).TransportPriority);
}

// A segment file record: tag, PTS, DTS, type, length, body.
Bytes record(std::uint32_t pts, std::uint32_t dts, std::uint8_t type, ByteSpan body) {
  ByteWriter w;
  w.u16(0x4947);  // "IG"
  w.u32(pts);
  w.u32(dts);
  w.u8(type);
  w.u16(static_cast<std::uint16_t>(body.size()));
  w.bytes(body);
  return w.take();
}

// An ICS body whose composition state is `state` (bits 7..6 of byte 7).
Bytes ics_body(std::uint8_t state) {
  Bytes b(20, 0);
  b[0] = 0x07;
  b[1] = 0x80;  // 1920
  b[2] = 0x04;
  b[3] = 0x38;  // 1080
  b[4] = 0x20;
  b[7] = static_cast<std::uint8_t>(state << 6);
  return b;
}

TEST(RawTrackTest, UnitsTimesEntryPointsAndCache) {
  TempDir dir;
  const auto path = dir / "00000_5120.ig";
  Bytes file;
  const Bytes ics = ics_body(2);
  const Bytes pds(10, 1), end;
  for (const Bytes& r : {record(131070, 131070 - 9000, 0x18, ics), record(131070, 0, 0x14, pds),
                         record(131070, 0, 0x80, end), record(500000, 490000, 0x18, ics_body(0))})
    file.insert(file.end(), r.begin(), r.end());
  test::write_file(path, file);

  std::string error;
  auto track = SRawTrack::Open({path, {'f', 'r', 'a'}}, nullptr, &error);
  ASSERT_TRUE(track) << error;
  EXPECT_EQ(track->stream_type(), 0x91);
  EXPECT_TRUE(std::filesystem::exists(StreamInfoCachePath(path)));
  track->pid = 0x1400;
  track->has_ep_map = true;
  track->ep_stream_type = 7;
  ASSERT_TRUE(track->reset(&error)) << error;
  const SMuxAu* au = track->current();
  ASSERT_TRUE(au);
  // The first record at 131,070 lands at 54,131,070.
  EXPECT_EQ(au->pts, 54131070u);
  EXPECT_EQ(au->dts, 54122070u);
  EXPECT_EQ(au->size, ics.size() + 3);
  EXPECT_EQ(au->entry_point, 0);
  std::array<std::uint8_t, 188> packet{};
  const std::uint8_t* pk = packet.data();
  ASSERT_GT(track->make_packet(packet.data()), 0);
  EXPECT_EQ(track->current()->bytes_left, 0u);
  EXPECT_EQ(track->make_packet(packet.data()), -1);
  SPesHeader pes;
  const int off = ts_payload_offset(pk);
  ASSERT_GT(pes.parse(ByteSpan(pk + off, 188 - off)), 0);
  EXPECT_EQ(pes.PTS.value, 54131070u);
  EXPECT_EQ(pes.PTS_DTS_Flag, 3);
  // A palette segment has no decoding time: PTS only, scheduled by the offset alone.
  ASSERT_TRUE(track->next_access_unit());
  EXPECT_EQ(track->current()->dts, kRawTrackTimeOffset);
  EXPECT_EQ(track->current()->entry_point, -1);
  ASSERT_TRUE(track->next_access_unit());
  ASSERT_TRUE(track->next_access_unit());
  EXPECT_EQ(track->current()->entry_point, -1);  // composition state 0: no entry point
  ASSERT_TRUE(track->next_access_unit());
  EXPECT_TRUE(track->ended);
  const auto map = track->finish_ep_map();
  ASSERT_TRUE(map);
  EXPECT_EQ(map->StreamPid, 0x1400);
  EXPECT_EQ(map->EpStreamType, 7);
  ASSERT_EQ(map->KeyPoints.size(), 1u);
  EXPECT_EQ(track->pmt_entry().LanguageDescriptor->Language, (std::array<char, 3>{'f', 'r', 'a'}));
  EXPECT_EQ(track->clip_stream_entry().StreamCodingInfo.language(), "fra");

  // The cache is taken while the file is unchanged, and ignored once it changes.
  auto again = LoadStreamInfoCache(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->index, track->index());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Bytes extra = record(600000, 0, 0x80, end);
  file.insert(file.end(), extra.begin(), extra.end());
  test::write_file(path, file);
  EXPECT_FALSE(LoadStreamInfoCache(path));
  auto reopened = SRawTrack::Open({path}, nullptr, &error);
  ASSERT_TRUE(reopened) << error;
  EXPECT_EQ(reopened->index().size(), 5u);
}

TEST(RawTrackTest, DamagedCachesAreRefused) {
  SStreamInfoCache c;
  c.stream_type = 0x91;
  c.file_size = 100;
  c.file_time = 42;
  c.index = {{20, 10, 0x18, 1, 2, 0}, {30, 40, 0x80, 0, 3, 0}};
  c.info.TotalBytes = 50;
  const Bytes good = WriteStreamInfoCache(c);
  auto back = ReadStreamInfoCache(good);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->index, c.index);
  EXPECT_EQ(back->file_time, 42);
  // Every truncation, and a unit lying outside the file, is refused.
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(ReadStreamInfoCache(ByteSpan(good.data(), n))) << n;
  c.index[1].Offset = 90;
  EXPECT_FALSE(ReadStreamInfoCache(WriteStreamInfoCache(c)));
}

TEST(RawTrackTest, FilesThatAreNoSegmentFilesGiveNoTrack) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(SRawTrack::Open({dir / "missing.ig"}, nullptr, &error));
  EXPECT_FALSE(error.empty());
  test::write_file(dir / "bad.ig", Bytes{'X', 'Y', 1, 2, 3});
  EXPECT_FALSE(SRawTrack::Open({dir / "bad.ig"}, nullptr, &error));
  test::write_file(dir / "empty.ig", Bytes{});
  EXPECT_FALSE(SRawTrack::Open({dir / "empty.ig"}, nullptr, &error));
  Bytes cut = record(1, 1, 0x18, ics_body(1));
  cut.resize(cut.size() - 3);
  test::write_file(dir / "cut.ig", cut);
  EXPECT_FALSE(SRawTrack::Open({dir / "cut.ig"}, nullptr, &error));
}

}  // namespace
}  // namespace veld
