// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/rip_index.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "support/test_support.h"
#include "ts/ts_builder.h"
#include "veld/clip/demux.h"
#include "veld/graphics/ig_track.h"
#include "veld/ts/transport.h"

namespace veld {
namespace {

using test::ClipBuilder;
using test::pes_packets;

std::filesystem::path write_clip(const test::TempDir& dir, const Bytes& bytes, const char* name = "clip.m2ts") {
  test::write_file(dir / name, bytes);
  return dir / name;
}

SRipTrack track(std::uint16_t pid, std::uint8_t coding_type) {
  SRipTrack t;
  t.pid = pid;
  t.stream_info.StreamPID = pid;
  t.stream_info.StreamCodingInfo.CodingType = coding_type;
  return t;
}

IndexResult index_all(SRipTracks& tracks, const std::filesystem::path& path, int cancel_after = -1) {
  File f;
  EXPECT_TRUE(f.open(path, File::Mode::kRead));
  test::RecordingProgress progress;
  progress.cancel_after = cancel_after;
  const IndexResult r = index_kept_tracks(tracks, f, progress);
  if (cancel_after < 0) {
    EXPECT_EQ(progress.title(), "Parsing");
    EXPECT_EQ(progress.status(), path.string());
  }
  return r;
}

TEST(AuIndexTest, RangesAreSharedAndCompact) {
  CAuIndex idx;
  idx.open(100, 90, 1);
  for (std::uint32_t s : {5u, 6u, 7u, 9u, 12u, 13u}) idx.add_packet(s);
  idx.open(200, 190, 0);  // closes the first
  idx.add_packet(14);
  idx.open(300, 300, 0);  // no packet: discarded when closed
  idx.close();
  ASSERT_EQ(idx.size(), 2u);
  EXPECT_EQ(idx[0].PacketCount, 6u);
  EXPECT_EQ(idx[0].size(), 6u * 192);
  const auto r0 = idx.ranges(0);
  ASSERT_EQ(r0.size(), 3u);
  EXPECT_EQ(r0[0], (SPacketRange{5, 7}));
  EXPECT_EQ(r0[1], (SPacketRange{9, 9}));
  EXPECT_EQ(r0[2], (SPacketRange{12, 13}));
  ASSERT_EQ(idx.ranges(1).size(), 1u);
  EXPECT_EQ(idx.ranges(1)[0], (SPacketRange{14, 14}));
  EXPECT_EQ(sizeof(SRipAu), 20u);
  EXPECT_EQ(sizeof(SPacketRange), 8u);
}

TEST(KeyInfoTest, ByCodingType) {
  EXPECT_EQ(access_unit_key_info(0x02, test::hex_bytes("00 00 01 B3 12 34")), 1u);
  EXPECT_EQ(access_unit_key_info(0x02, test::hex_bytes("00 00 01 00 12 34")), 0u);
  EXPECT_EQ(access_unit_key_info(0xEA, test::hex_bytes("FF 00 00 01 0F 00")), 1u);
  // H.264: AUD, SPS, PPS, IDR slice -> key; AUD then a non-IDR slice -> not.
  EXPECT_EQ(access_unit_key_info(0x1B, test::hex_bytes("00 00 00 01 09 10 00 00 00 01 67 64 00 29 00 00 00 01 68 "
                                                       "EE 00 00 00 01 65 88")),
            1u);
  EXPECT_EQ(access_unit_key_info(0x1B, test::hex_bytes("00 00 00 01 09 30 00 00 00 01 41 9A 00 00 00 01 67")), 0u);
  // Graphics: ICS with state 2 (epoch start, top bits 10).
  EXPECT_EQ(access_unit_key_info(0x91, test::hex_bytes("18 00 20 07 80 04 38 10 00 01 80 00")), 0x0218u);
  // PCS, state 0, no composition objects.
  EXPECT_EQ(access_unit_key_info(0x90, test::hex_bytes("16 00 0B 07 80 04 38 10 00 01 00 00 00 00")), 0x10016u);
  EXPECT_EQ(access_unit_key_info(0x90, test::hex_bytes("16 00 0B 07 80 04 38 10 00 01 40 00 00 01")), 0x0116u);
  EXPECT_EQ(access_unit_key_info(0x90, test::hex_bytes("15 00 10")), 0x15u);
  EXPECT_EQ(access_unit_key_info(0x91, {}), 0u);
  EXPECT_EQ(access_unit_key_info(0x81, test::hex_bytes("0B 77")), 0u);
}

// Video access units whose packets interleave with audio packets.
struct InterleavedClip {
  ClipBuilder c;
  std::vector<std::vector<std::uint32_t>> video_spns;  // per access unit
  std::vector<std::uint32_t> audio_spns;
};

InterleavedClip interleaved() {
  InterleavedClip x;
  x.c.put(test::pmt_packet(test::pmt_of({{0x1011, 0x1B}, {0x1100, 0x81}})));
  for (int au = 0; au < 5; ++au) {
    Bytes payload = test::hex_bytes(au == 0 ? "00 00 00 01 09 10 00 00 00 01 67 64" : "00 00 00 01 09 30 00 00 00 01 41");
    payload.resize(700, static_cast<std::uint8_t>(au));
    const auto v = pes_packets(0x1011, 0xE0, 180000 + 3003 * au, 177000 + 3003 * au, payload);
    std::vector<std::uint32_t> spns;
    for (std::size_t i = 0; i < v.size(); ++i) {
      spns.push_back(x.c.put(v[i]));
      if (i % 2 == 1) {
        const auto a = pes_packets(0x1100, 0xBD, 180000 + 2880 * (au * 2 + i), std::nullopt, Bytes(100, 0x77));
        x.audio_spns.push_back(x.c.put(a[0]));
      }
    }
    x.video_spns.push_back(spns);
  }
  return x;
}

TEST(IndexTest, InterleavedAccessUnitsAreRangesReplayedInOrder) {
  InterleavedClip x = interleaved();
  test::TempDir dir;
  const auto path = write_clip(dir, x.c.bytes);
  SRipTracks tracks;
  tracks.tracks.resize(2);
  tracks.tracks[0] = track(0x1011, 0x1B);
  tracks.tracks[1] = track(0x1100, 0x81);
  ASSERT_EQ(index_all(tracks, path), IndexResult::kOk);
  ASSERT_TRUE(tracks.pmt);
  EXPECT_EQ(tracks.pmt->streams.size(), 2u);
  ASSERT_TRUE(tracks.tracks[0].pmt_entry);
  EXPECT_EQ(tracks.tracks[0].pmt_entry->StreamType, 0x1B);
  EXPECT_EQ(tracks.tracks[0].packet_count, 5u * x.video_spns[0].size());
  EXPECT_EQ(tracks.tracks[1].packet_count, x.audio_spns.size());
  ASSERT_EQ(tracks.tracks[0].access_units.size(), 5u);
  EXPECT_EQ(tracks.tracks[0].access_units[0].KeyInfo, 1u);
  EXPECT_EQ(tracks.tracks[0].access_units[1].KeyInfo, 0u);
  EXPECT_EQ(tracks.tracks[0].access_units[2].PTS, 180000u + 2 * 3003);
  EXPECT_EQ(tracks.tracks[0].access_units[2].DTS, 177000u + 2 * 3003);
  EXPECT_GT(tracks.tracks[0].access_units.ranges(0).size(), 1u);

  File f;
  ASSERT_TRUE(f.open(path, File::Mode::kRead));
  CClipPacketSource source(f);
  CTrackReplay replay(tracks.tracks[0], source);
  // Only units 1..3, shifted by 90,000 ticks, on a new PID.
  replay.prepare(1, 3, 90000, 0x1B00);
  EXPECT_EQ(replay.current(), nullptr);
  int units = 0;
  while (replay.advance()) {
    const SRipAu* au = replay.current();
    ASSERT_NE(au, nullptr);
    const int n = 1 + units++;
    EXPECT_EQ(au->PTS, 180000u + 3003 * n + 90000);
    EXPECT_EQ(au->DTS, 177000u + 3003 * n + 90000);
    std::int64_t remaining = static_cast<std::int64_t>(au->size());
    std::size_t k = 0;
    int pes_bytes = 0;
    while (std::uint8_t* p = replay.next_packet(&pes_bytes, &remaining)) {
      ASSERT_LT(k, x.video_spns[n].size());
      const std::uint8_t* orig = x.c.ts(x.video_spns[n][k]);
      EXPECT_EQ(ts_pid(p), 0x1B00);
      EXPECT_EQ(p[1] & 0xE0, orig[1] & 0xE0);
      if (k == 0) {
        CTsPacketReader r;
        ASSERT_GT(r.read(p), 0);
        ASSERT_TRUE(r.pes_header());
        EXPECT_EQ(r.pes_header()->PTS.value, 180000u + 3003 * n + 90000);
        EXPECT_EQ(r.pes_header()->DTS.value, 177000u + 3003 * n + 90000);
        EXPECT_EQ(r.pes_header()->PTS.prefix, 3);
        EXPECT_EQ(pes_bytes, 184);
        EXPECT_EQ(0, std::memcmp(p + 4 + 19, orig + 4 + 19, 188 - 23));
      } else {
        EXPECT_EQ(0, std::memcmp(p + 3, orig + 3, 185));
      }
      ++k;
    }
    EXPECT_EQ(k, x.video_spns[n].size());
    EXPECT_EQ(remaining, 0);
  }
  EXPECT_EQ(units, 3);
  EXPECT_EQ(replay.stream_info().StreamPID, 0x1B00);
  EXPECT_EQ(replay.stream_info().StreamCodingInfo.CodingType, 0x1B);
  ASSERT_TRUE(replay.pmt_entry());
  EXPECT_EQ(replay.pmt_entry()->ElementaryPid, 0x1B00);
  EXPECT_EQ(tracks.tracks[0].pmt_entry->ElementaryPid, 0x1011);  // the track's own entry is unchanged
  EXPECT_EQ(tracks.tracks[0].byte_count(), tracks.tracks[0].packet_count * 192);
  EXPECT_TRUE(replay.finished());
  EXPECT_FALSE(replay.failed());
  EXPECT_EQ(replay.current(), nullptr);
  // A last index before the first replays the first unit alone; a first index beyond the units nothing.
  replay.prepare(2, 0, 0, 0x1011);
  ASSERT_TRUE(replay.advance());
  EXPECT_EQ(replay.current_index(), 2);
  EXPECT_FALSE(replay.advance());
  replay.prepare(5, 9, 0, 0x1011);
  EXPECT_TRUE(replay.finished());
  EXPECT_FALSE(replay.advance());
  EXPECT_EQ(replay.next_packet(nullptr), nullptr);
  SRipTrack empty = track(0x1012, 0x1B);
  CTrackReplay none(empty, source);
  none.prepare(0, 10, 0, 0x1011);
  EXPECT_FALSE(none.advance());
  EXPECT_EQ(none.current(), nullptr);

  // Profile and level come from the first replayed unit: unit 1 has no sequence parameter set.
  EXPECT_EQ(replay.profile(), 0);
  replay.prepare(0, 0, 0, 0x1011);
  EXPECT_EQ(replay.profile(), 0x64);
  EXPECT_EQ(replay.level(), 0);  // the test SPS is followed by zero bytes
}

TEST(IndexTest, CancellationEmptiesIndexesAndCounts) {
  InterleavedClip x = interleaved();
  test::TempDir dir;
  SRipTracks tracks;
  tracks.tracks.resize(1);
  tracks.tracks[0] = track(0x1011, 0x1B);
  EXPECT_EQ(index_all(tracks, write_clip(dir, x.c.bytes), 1), IndexResult::kCancelled);
  EXPECT_TRUE(tracks.tracks[0].access_units.empty());
  EXPECT_EQ(tracks.tracks[0].packet_count, 0u);
}

TEST(IndexTest, NotKeptTracksAreCountedButNotIndexed) {
  InterleavedClip x = interleaved();
  test::TempDir dir;
  SRipTracks tracks;
  tracks.tracks.resize(2);
  tracks.tracks[0] = track(0x1011, 0x1B);
  tracks.tracks[0].kept = false;
  tracks.tracks[1] = track(0x1100, 0x81);
  const auto path = write_clip(dir, x.c.bytes);
  ASSERT_EQ(index_all(tracks, path), IndexResult::kOk);
  EXPECT_TRUE(tracks.tracks[0].access_units.empty());
  EXPECT_GT(tracks.tracks[0].packet_count, 0u);
  EXPECT_EQ(tracks.tracks[1].access_units.size(), x.audio_spns.size());
  // Counts are gathered only on the first indexing.
  tracks.tracks[1].packet_count = 1234;
  ASSERT_EQ(index_all(tracks, path), IndexResult::kOk);
  EXPECT_EQ(tracks.tracks[1].packet_count, 1234u);
}

TEST(ReplayKeyPointsTest, AudioAtMostEveryHalfSecondAndOldMapMatching) {
  ClipBuilder c;
  for (int i = 0; i < 100; ++i) c.put_all(pes_packets(0x1100, 0xBD, 90000 + 2880 * i, std::nullopt, Bytes(50, 1)));
  test::TempDir dir;
  const auto path = write_clip(dir, c.bytes);
  SRipTracks tracks;
  tracks.tracks.resize(1);
  tracks.tracks[0] = track(0x1100, 0x81);
  ASSERT_EQ(index_all(tracks, path), IndexResult::kOk);
  ASSERT_EQ(tracks.tracks[0].access_units.size(), 100u);
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::kRead));
  CClipPacketSource source(f);
  CTrackReplay replay(tracks.tracks[0], source);
  replay.prepare(0, 1000, 0, 0x1100, true);
  while (replay.advance()) {
  }
  const auto& kp = replay.key_points();
  ASSERT_EQ(kp.size(), 7u);  // units 0, 16, 32, ... 96
  for (std::size_t i = 0; i < kp.size(); ++i) {
    EXPECT_EQ(kp[i].AuIndex, static_cast<std::int32_t>(16 * i));
    if (i) {
      EXPECT_GE(kp[i].PTS - kp[i - 1].PTS, 45000u);
      EXPECT_LT(kp[i].PTS - kp[i - 1].PTS, 45000u + 2880u);
    }
  }
  // With an old entry-point map every unit becomes a key point.
  // Without an old entry the new key points are handed over as they are.
  STREAM_PID_ENTRY fresh_entry = replay.hand_over_key_points(0x1101);
  EXPECT_EQ(fresh_entry.StreamPid, 0x1101);
  EXPECT_EQ(fresh_entry.KeyPoints, kp);

  // With an old entry-point map every unit becomes a key point, and the old points are matched.
  STREAM_PID_ENTRY old;
  old.StreamPid = 0x1100;
  old.EpStreamType = 3;
  for (int i : {10, 12, 50, 13}) old.KeyPoints.push_back({0, 90000u + 2880u * i, static_cast<std::uint32_t>(i), 0});
  tracks.tracks[0].old_ep_entry = old;
  CTrackReplay all(tracks.tracks[0], source);
  all.prepare(10, 19, 1000, 0x1100, true);
  while (all.advance()) {
  }
  ASSERT_EQ(all.key_points().size(), 10u);
  EXPECT_EQ(all.key_points()[0].PTS, 90000u + 2880 * 10 + 1000);
  EXPECT_EQ(all.key_points()[0].AuIndex, 0);
  for (std::size_t i = 0; i < all.key_points().size(); ++i) {
    all.key_points()[i].SpnStart = static_cast<std::uint32_t>(500 + i);
    all.key_points()[i].SpnEnd = static_cast<std::uint32_t>(600 + i);
  }
  const STREAM_PID_ENTRY handed = all.hand_over_key_points(0x1105);
  EXPECT_EQ(handed.StreamPid, 0x1105);
  EXPECT_EQ(handed.EpStreamType, 3);
  // Units 10, 12 and 13 match; 50 lies beyond the replayed units and is dropped.
  ASSERT_EQ(handed.KeyPoints.size(), 3u);
  EXPECT_EQ(handed.KeyPoints[2].SpnStart, 503u);
  EXPECT_EQ(handed.KeyPoints[0].PTS, 90000u + 2880 * 10 + 1000);
  EXPECT_EQ(handed.KeyPoints[0].SpnStart, 500u);
  EXPECT_EQ(handed.KeyPoints[1].SpnStart, 502u);
  EXPECT_EQ(handed.KeyPoints[1].SpnEnd, 602u);

  // Old points match new ones with the offset removed, at 512-tick precision, in order.
  const CKpiFolder fresh = {{0, 1000 + 0, 0, 0}, {1, 1000 + 5000, 0, 0}, {2, 1000 + 9000, 0, 0}};
  const std::vector<std::uint32_t> old_pts = {100, 4000, 5100, 9000};
  EXPECT_EQ(match_key_points(old_pts, fresh, 1000), (std::vector<int>{0, -1, 1, 2}));

  EXPECT_EQ(frame_duration_ticks(1), 3753u);
  EXPECT_EQ(frame_duration_ticks(2), 3750u);
  EXPECT_EQ(frame_duration_ticks(3), 3600u);
  EXPECT_EQ(frame_duration_ticks(4), 3003u);
  EXPECT_EQ(frame_duration_ticks(6), 1800u);
  EXPECT_EQ(frame_duration_ticks(7), 1501u);
  for (std::uint8_t c : {0, 5, 8, 9, 15}) EXPECT_EQ(frame_duration_ticks(c), 0u);
}

TEST(ClipPacketSourceTest, PacketsRangesAndTheEnd) {
  ClipBuilder c;
  for (int i = 0; i < 400; ++i) c.put(pes_packets(0x1011, 0xE0, i, std::nullopt, Bytes(10, static_cast<std::uint8_t>(i)))[0]);
  c.bytes.resize(c.bytes.size() + 100);  // a partial packet at the end is no packet
  test::TempDir dir;
  File f;
  ASSERT_TRUE(f.open(write_clip(dir, c.bytes), File::Mode::kRead));
  CClipPacketSource s(f);
  ASSERT_TRUE(s.ok()) << s.error();
  EXPECT_EQ(s.packet_count(), 400u);
  Bytes out(192 * 10);
  const SPacketRange r1[] = {{10, 12}, {100, 101}, {20, 20}};
  ASSERT_TRUE(s.copy_packets(r1, out.data()));
  EXPECT_EQ(0, std::memcmp(out.data(), c.bytes.data() + 10 * 192, 3 * 192));
  EXPECT_EQ(0, std::memcmp(out.data() + 3 * 192, c.bytes.data() + 100 * 192, 2 * 192));
  EXPECT_EQ(0, std::memcmp(out.data() + 5 * 192, c.bytes.data() + 20 * 192, 192));
  ASSERT_NE(s.packet(399), nullptr);
  EXPECT_EQ(0, std::memcmp(s.packet(399), c.bytes.data() + 399 * 192, 192));
  EXPECT_EQ(s.packet(400), nullptr);
  const SPacketRange past[] = {{399, 400}};
  EXPECT_FALSE(s.copy_packets(past, out.data()));
  const SPacketRange bad[] = {{5, 4}};
  EXPECT_FALSE(s.copy_packets(bad, out.data()));
  // Readers that have passed a region let it go; the packets stay readable.
  const int a = s.add_reader(), b = s.add_reader();
  s.reader_at(a, 399);
  s.reader_at(b, 399);
  EXPECT_EQ(0, std::memcmp(s.packet(5), c.bytes.data() + 5 * 192, 192));
}

// ---- generated discs ----------------------------------------------------------------------------------

nlohmann::json truth_of(const std::string& variant) {
  std::ifstream in(test::test_discs_dir() / variant / "truth.json");
  return nlohmann::json::parse(in);
}

TEST(GeneratedDiscsIndexTest, UnitsMatchTheTruthAndReplayIsByteExact) {
  int clips = 0;
  for (const char* variant : {"menu", "twoig", "popup", "subpath", "streams"}) {
    const auto disc = test::test_discs_dir() / variant;
    const auto truth = truth_of(variant);
    for (const auto& [clip, info] : truth["clips"].items()) {
      const auto path = disc / "BDMV" / "STREAM" / (clip + ".m2ts");
      const Bytes bytes = test::read_file(path);
      SRipTracks tracks;
      for (const auto& [pid_hex, p] : info["pids"].items())
        tracks.tracks.push_back(track(static_cast<std::uint16_t>(std::stoi(pid_hex, nullptr, 16)),
                                      static_cast<std::uint8_t>(p["stream_type"].get<int>())));
      ASSERT_EQ(index_all(tracks, path), IndexResult::kOk);
      ++clips;
      // Scanned in two halves on two threads, the index is the same.
      {
        SRipTracks halves = tracks;
        for (SRipTrack& t : halves.tracks) t.packet_count = 0;
        File f;
        ASSERT_TRUE(f.open(path, File::Mode::kRead));
        test::RecordingProgress progress;
        ASSERT_EQ(index_kept_tracks(halves, f, progress, nullptr, 1), IndexResult::kOk);
        for (std::size_t k = 0; k < tracks.size(); ++k) {
          const CAuIndex& a = tracks.tracks[k].access_units;
          const CAuIndex& b = halves.tracks[k].access_units;
          ASSERT_EQ(a.size(), b.size()) << variant << clip << k;
          for (std::size_t u = 0; u < a.size(); ++u) {
            ASSERT_EQ(a[u], b[u]) << variant << clip << k << " unit " << u;
            ASSERT_TRUE(std::ranges::equal(a.ranges(u), b.ranges(u))) << variant << clip << k << " unit " << u;
          }
          EXPECT_EQ(tracks.tracks[k].packet_count, halves.tracks[k].packet_count);
        }
      }
      File f;
      ASSERT_TRUE(f.open(path, File::Mode::kRead));
      // A small window, so that it has to slide over these small clips.
      CClipPacketSource source(f);
      std::vector<std::unique_ptr<CTrackReplay>> replays;
      std::map<std::uint16_t, Bytes> payloads;
      for (const auto& t : tracks.tracks) {
        const std::string key = fmt::format("0x{:04X}", t.pid);
        EXPECT_EQ(t.access_units.size(), info["pids"][key]["pes_count"].get<std::size_t>()) << variant << clip << key;
        std::uint64_t count = 0;
        for (std::size_t at = 0; at + 192 <= bytes.size(); at += 192) count += ts_pid(bytes.data() + at + 4) == t.pid;
        EXPECT_EQ(t.packet_count, count);
        EXPECT_LT(t.access_units.memory_bytes(), 32 * t.access_units.size() + 8 * t.access_units.range_count() + 64);
        replays.push_back(std::make_unique<CTrackReplay>(t, source));
        replays.back()->prepare(0, 1 << 30, 0, t.pid);
        replays.back()->advance();
      }
      // Replay in decoding order, as the multiplexer does, and compare each packet with the file.
      for (;;) {
        CTrackReplay* next = nullptr;
        std::size_t which = 0;
        for (std::size_t i = 0; i < replays.size(); ++i) {
          const SRipAu* au = replays[i]->current();
          if (au && (!next || au->DTS < next->current()->DTS)) {
            next = replays[i].get();
            which = i;
          }
        }
        if (!next) break;
        const auto ranges = tracks.tracks[which].access_units.ranges(static_cast<std::size_t>(next->current_index()));
        std::vector<std::uint32_t> spns;
        for (const auto& r : ranges)
          for (std::uint32_t s = r.first; s <= r.last; ++s) spns.push_back(s);
        std::size_t k = 0;
        int pes_bytes = 0;
        while (std::uint8_t* p = next->next_packet(&pes_bytes)) {
          ASSERT_LT(k, spns.size());
          ASSERT_EQ(0, std::memcmp(p, bytes.data() + std::size_t{spns[k]} * 192 + 4, 188))
              << variant << " " << clip << " spn " << spns[k];
          CTsPacketReader r;
          const int off = r.read(p);
          ASSERT_GT(off, 0);
          Bytes& pl = payloads[tracks.tracks[which].pid];
          pl.insert(pl.end(), p + off, p + 188);
          ++k;
        }
        EXPECT_EQ(k, spns.size());
        next->advance();
      }
      for (std::size_t i = 0; i < tracks.tracks.size(); ++i) {
        EXPECT_FALSE(replays[i]->failed());
        const std::string key = fmt::format("0x{:04X}", tracks.tracks[i].pid);
        EXPECT_EQ(test::sha256_hex(payloads[tracks.tracks[i].pid]), info["pids"][key]["pes_payload_sha256"].get<std::string>())
            << variant << " " << clip << " " << key;
      }
      EXPECT_LE(source.bytes_read(), bytes.size() * 3 / 2) << variant << " " << clip;
    }
  }
  EXPECT_GE(clips, 8);
}

// ---- damaged clip streams -----------------------------------------------------------------------------

TEST(DamagedStreamsTest, FlipsTruncationAndBadSyncNeverCrash) {
  const auto path = test::test_discs_dir() / "twoig" / "BDMV" / "STREAM" / "00000.m2ts";
  const Bytes original = test::read_file(path);
  std::mt19937 rng(7);
  test::TempDir dir;
  for (int round = 0; round < 24; ++round) {
    Bytes b = original;
    switch (round % 3) {
      case 0:
        for (int i = 0; i < 400; ++i) b[rng() % b.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        b.resize(rng() % b.size());
        break;
      case 2:
        for (std::size_t at = 4; at < b.size(); at += 192)
          if (rng() % 5 == 0) b[at] = static_cast<std::uint8_t>(rng());
        break;
    }
    const auto p = write_clip(dir, b, "damaged.m2ts");
    test::RecordingMessenger m;
    test::RecordingProgress progress;
    std::vector<SClipIgStream> out;
    const int r = LoadClipIgStreams(p, out, progress, m);
    EXPECT_TRUE(r == 0 || r == 2);
    SRipTracks tracks;
  tracks.tracks.resize(3);
    tracks.tracks[0] = track(0x1011, 0x1B);
    tracks.tracks[1] = track(0x1400, 0x91);
    tracks.tracks[2] = track(0x1401, 0x91);
    ASSERT_EQ(index_all(tracks, p), IndexResult::kOk);
    File f;
    ASSERT_TRUE(f.open(p, File::Mode::kRead));
    CClipPacketSource source(f);
    for (const auto& t : tracks.tracks) {
      CTrackReplay replay(t, source);
      replay.prepare(0, 1 << 30, 12345, 0x1B00, true);
      while (replay.advance()) {
        int n = 0;
        while (replay.next_packet(&n)) {
        }
      }
    }
  }
}

}  // namespace
}  // namespace veld
