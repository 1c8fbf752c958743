// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_scan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"
#include "veld/clip/clpi.h"
#include "veld/graphics/ig_track.h"
#include "veld/mux/inplace_repacketiser.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

SClpiData read_clip_info(const fs::path& m2ts) {
  SClpiData d;
  const fs::path clpi = m2ts.parent_path().parent_path() / "CLIPINF" / (m2ts.stem().string() + ".clpi");
  EXPECT_GT(parse_clpi(test::read_file(clpi), d), 0) << clpi;
  return d;
}

// Every watched entry point's access unit ends where both scans say, and its packets give the size class
// the generator wrote (the independent EP-map checker holds the generator to it).
void ExpectSameAccessUnits(const SClpiData& info, const CInPlaceScan& a, const CInPlaceScan& b) {
  for (const STREAM_PID_ENTRY& e : info.Cpi.EpMap) {
    if (e.EpStreamType != 1) continue;
    ASSERT_EQ(e.FineEntriesAsRead.size(), e.KeyPoints.size());
    for (std::size_t i = 0; i < e.KeyPoints.size(); ++i) {
      KEY_POINT_INFO kp = e.KeyPoints[i];
      const auto end = a.access_unit_end(e.StreamPid, kp.SpnStart);
      ASSERT_TRUE(end.has_value()) << i;
      EXPECT_EQ(end, b.access_unit_end(e.StreamPid, kp.SpnStart)) << i;
      kp.SpnEnd = *end;
      EXPECT_EQ(i_end_position_offset(kp), e.FineEntriesAsRead[i].IEndPositionOffset) << i;
    }
  }
}

void ExpectSameSlots(const CInPlaceScan& observed, const CInPlaceScan& own, const SClipIgStream& s) {
  const SPidScan& a = observed.pid(s.pid);
  const SPidScan& b = own.pid(s.pid);
  ASSERT_FALSE(a.slots.empty());
  ASSERT_EQ(a.slots.size(), b.slots.size());
  for (std::size_t i = 0; i < a.slots.size(); ++i) {
    ASSERT_EQ(a.slots[i].spn, b.slots[i].spn) << i;
    ASSERT_EQ(a.slots[i].atc, b.slots[i].atc) << i;
    ASSERT_EQ(observed.clock().stc(a.slots[i].atc), own.clock().stc(b.slots[i].atc)) << i;
  }
  EXPECT_EQ(a.headers, b.headers);
  EXPECT_EQ(a.ds_first, b.ds_first);
  EXPECT_EQ(a.first_cc, b.first_cc);
  EXPECT_EQ(a.ds_first.size(), s.data.DisplaySetCount());
}

// The scan that the menu-reading pass makes as its packet observer must be the one a pass of its own
// makes, packet for packet, and must find as many display sets as the parsed stream holds.
TEST(InPlaceScan, TheMenuPassGathersWhatAPassOfItsOwnDoes) {
  int clips = 0;
  for (const auto& disc : fs::directory_iterator(test::test_discs_dir())) {
    const fs::path streams = disc.path() / "BDMV" / "STREAM";
    if (!fs::is_directory(streams)) continue;
    for (const auto& e : fs::directory_iterator(streams)) {
      if (e.path().extension() != ".m2ts") continue;
      SCOPED_TRACE(e.path().string());
      const SClpiData info = read_clip_info(e.path());
      CInPlaceScan observed, own;
      observed.watch_entry_points(info.Cpi.EpMap);
      own.watch_entry_points(info.Cpi.EpMap);
      std::vector<SClipIgStream> loaded;
      Progress progress;
      test::RecordingMessenger messenger;
      File clip;
      ASSERT_TRUE(clip.open(e.path(), File::Mode::kRead));
      if (LoadClipIgStreams(clip, loaded, progress, messenger, {}, &observed) != 0) continue;  // no menu
      std::string error;
      ASSERT_TRUE(own.read(e.path(), progress, error)) << error;
      ASSERT_EQ(observed.packets(), own.packets());
      EXPECT_EQ(observed.packets(), fs::file_size(e.path()) / 192);
      for (const SClipIgStream& s : loaded) ExpectSameSlots(observed, own, s);
      ExpectSameAccessUnits(info, observed, own);
      ++clips;
    }
  }
  EXPECT_GE(clips, 6);
}

// An access unit just under a size class boundary that gains packets moves up a class; one whose class
// the file measured some other way keeps it; packets outside it change nothing.
TEST(InPlaceScan, SizeClassesFollowThePacketsThatEnterTheAccessUnit) {
  struct Case {
    std::uint32_t start, end;  // old access unit, packets
    std::uint8_t stored;       // class in the file
    std::vector<std::uint32_t> inserted_after;
    std::uint8_t want;
  };
  const std::uint32_t under = 0x20000 / 192 - 1;  // packets of a unit just under class 2
  const Case cases[] = {
      {100, 100 + under - 1, 1, {150, 160}, 2},  // two packets enter: class 2
      {100, 100 + under - 1, 1, {50}, 1},       // before it: the unit only moves
      {100, 100 + under - 1, 4, {150, 160}, 4},  // measured otherwise: kept
      {100, 100 + under - 1, 1, {100 + under - 1}, 1},  // after its last packet: not inside
  };
  for (const Case& c : cases) {
    SClpiData clip;
    STREAM_PID_ENTRY e;
    e.StreamPid = 0x1011;
    e.KeyPoints.push_back({0, 90000, c.start, 0});
    e.FineEntriesAsRead.push_back({c.stored, false, true});
    clip.Cpi.EpMap.push_back(e);
    // A scan that saw the unit: packets of the video PID from start to end, then the next unit.
    CInPlaceScan scan;
    scan.watch_entry_points(clip.Cpi.EpMap);
    std::vector<std::uint8_t> packets((c.end + 2) * 192, 0);
    for (std::uint32_t spn = c.start; spn <= c.end + 1; ++spn) {
      std::uint8_t* ts = packets.data() + spn * 192 + 4;
      ts[0] = 0x47;
      ts[1] = static_cast<std::uint8_t>((spn == c.start || spn == c.end + 1 ? 0x40 : 0) | 0x10);
      ts[2] = 0x11;
      ts[3] = 0x10;
    }
    scan.observe(0, packets.data(), c.end + 2);
    ASSERT_EQ(scan.access_unit_end(0x1011, c.start), c.end);
    SSpnShift shift;
    shift.inserted_after = c.inserted_after;
    ShiftClipInfo(clip, shift, c.end + 2 + static_cast<std::uint32_t>(c.inserted_after.size()), &scan);
    EXPECT_EQ(clip.Cpi.EpMap[0].FineEntriesAsRead[0].IEndPositionOffset, c.want) << c.stored << " " << c.inserted_after[0];
  }
}

}  // namespace
}  // namespace veld
