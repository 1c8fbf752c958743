// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/playlist_adjust.h"

#include <gtest/gtest.h>

namespace veld {
namespace {

// Clip 1 was rebuilt: its old presentation ran from 2 s to 12 s (90 kHz 180,000 .. 1,080,000) and every
// time stamp moved by 54,000,000 - 180,000.
SRebuiltClip rebuilt_clip() {
  SRebuiltClip c;
  c.old_start = 180000;
  c.old_end = 1080000;
  c.old_start_45k = 90000;
  c.offset = 54000000 - 180000;
  c.new_start = 54000000 - 9000;  // a menu segment starts 0.1 s before the picture
  c.new_end = 54000000 + 900000;
  c.kept_any = true;
  c.order = {{0, 0, 0x1011, 0x1011, 0x1B, true},
             {1, 0, 0x1102, 0x1100, 0x81, true},  // the second audio PID of the old clip is now the first
             {-1, 0, 0x1400, 0x1400, 0x91, true}};
  c.new_languages = {{'f', 'r', 'a'}};
  return c;
}

PRIMARY_STREAM_ENTRY entry(std::uint8_t type, std::uint16_t pid, std::uint8_t coding, std::string lang = "") {
  PRIMARY_STREAM_ENTRY e;
  e.StreamEntry.Type = type;
  e.StreamEntry.RefToStreamPID_OfMainClip = pid;
  e.StreamAttributes.StreamCodingType = coding;
  e.StreamAttributes.Language = std::move(lang);
  return e;
}

struct Fixture {
  CCofObject clips;
  CRebuiltClips rebuilt;
  SMplsData pl;

  Fixture() {
    for (int id : {1, 2}) {
      auto c = std::make_unique<CClpiObject>();
      c->id = id;
      clips.insert(std::move(c));
    }
    rebuilt[1] = rebuilt_clip();
    PLAY_ITEM on_rebuilt;
    on_rebuilt.ClipInformationFileName = "00001";
    on_rebuilt.InTime = 90000;   // the old start
    on_rebuilt.OutTime = 540000;  // the old end
    on_rebuilt.StnTable.PrimaryVideoStreamEntries = {entry(1, 0x1011, 0x1B)};
    on_rebuilt.StnTable.PrimaryAudioStreamEntries = {entry(1, 0x1102, 0x81, "deu"), entry(1, 0x1101, 0x81, "eng"),
                                                     entry(2, 0x1100, 0x81, "jpn")};
    on_rebuilt.StnTable.InteractiveGraphicsStreamEntries = {entry(1, 0x1400, 0x91, "eng")};
    PLAY_ITEM other;
    other.ClipInformationFileName = "00002";
    other.InTime = 1000;
    other.OutTime = 2000;
    pl.PlayItems = {on_rebuilt, other};
    pl.PlayListMarks = {{1, 0, 90000, 0xFFFF, 0}, {1, 0, 400000, 0xFFFF, 0}, {1, 0, 600000, 0xFFFF, 0},
                        {1, 1, 1500, 0xFFFF, 0}};
  }
};

TEST(AdjustPlaylistTest, TimesMoveWithTheClipAndStreamTablesNameTheNewPids) {
  Fixture f;
  ASSERT_TRUE(AdjustPlaylist(f.pl, f.clips, f.rebuilt));
  const PLAY_ITEM& item = f.pl.PlayItems[0];
  // IN moves by the offset (not by the distance between the presentation starts); OUT at the old end
  // becomes the new end.
  EXPECT_EQ(item.InTime, 27000000u);
  EXPECT_EQ(item.OutTime, (54000000u + 900000u) / 2);
  // Entries keep their order (the stream numbers); the kept audio streams name their new PIDs, the one
  // that is gone is dropped, the sub-path entry stays, the rebuilt IG stream takes its language.
  const auto& audio = item.StnTable.PrimaryAudioStreamEntries;
  ASSERT_EQ(audio.size(), 2u);
  EXPECT_EQ(audio[0].StreamEntry.RefToStreamPID_OfMainClip, 0x1100);
  EXPECT_EQ(audio[0].StreamAttributes.Language, "deu");
  EXPECT_EQ(audio[1].StreamEntry.Type, 2);
  EXPECT_EQ(item.StnTable.InteractiveGraphicsStreamEntries[0].StreamAttributes.Language, "fra");
  // The other play item is untouched.
  EXPECT_EQ(f.pl.PlayItems[1].InTime, 1000u);
  // Marks on the rebuilt clip move by 27,000,000 - old start; past the new end they go.
  ASSERT_EQ(f.pl.PlayListMarks.size(), 3u);
  EXPECT_EQ(f.pl.PlayListMarks[0].MarkTimeStamp, 27000000u);
  EXPECT_EQ(f.pl.PlayListMarks[1].MarkTimeStamp, 27000000u + 310000u);
  EXPECT_EQ(f.pl.PlayListMarks[2].MarkTimeStamp, 1500u);
}

TEST(AdjustPlaylistTest, InAndOutRulesAtTheEdges) {
  struct Row {
    std::uint32_t in, out;
    std::uint32_t want_in, want_out;
  };
  // 45 kHz; the new end is 54,900,000 / 2 = 27,450,000.
  const Row rows[] = {
      {90000, 540000, 27000000, 27450000},   // the whole clip
      {100000, 500000, 27010000, 27410000},  // inside: both move by the offset
      {90000, 600000, 27000000, 27510000},   // past the end: moves too, the duration stays
      {0, 100, 26910000, 26910100},          // before the old start still moves
  };
  for (const Row& r : rows) {
    Fixture f;
    f.pl.PlayItems[0].InTime = r.in;
    f.pl.PlayItems[0].OutTime = r.out;
    ASSERT_TRUE(AdjustPlaylist(f.pl, f.clips, f.rebuilt));
    EXPECT_EQ(f.pl.PlayItems[0].InTime, r.want_in) << r.in;
    EXPECT_EQ(f.pl.PlayItems[0].OutTime, r.want_out) << r.out;
  }
}

TEST(AdjustPlaylistTest, UnrelatedPlaylistsDoNotChangeButLoseMarksOfUnknownClips) {
  Fixture f;
  f.pl.PlayItems.erase(f.pl.PlayItems.begin());
  f.pl.PlayItems[0].ClipInformationFileName = "00009";  // not in the disc model
  f.pl.PlayListMarks = {{1, 0, 1500, 0xFFFF, 0}};
  f.pl.SubPaths = {SUB_PATH{}};
  EXPECT_FALSE(AdjustPlaylist(f.pl, f.clips, f.rebuilt));
  EXPECT_TRUE(f.pl.PlayListMarks.empty());
  EXPECT_TRUE(f.pl.SubPaths.empty());
  EXPECT_EQ(f.pl.PlayItems[0].InTime, 1000u);
}

TEST(AdjustPlaylistTest, SubPlayItemsAnglesAndEmptyClips) {
  Fixture f;
  // A sub-play item on the rebuilt clip, synchronised to the first play item.
  SUB_PLAY_ITEM sub;
  sub.ClipInformationFileName = "00001";
  sub.InTime = 90000;
  sub.OutTime = 540000;
  sub.SyncPlayItemID = 0;
  sub.SyncStartPTS_OfPlayItem = 95000;
  SUB_PATH path;
  path.SubPathType = 3;
  path.SubPlayItems = {sub};
  f.pl.SubPaths = {path};
  // An angle of the second play item names the rebuilt clip.
  f.pl.PlayItems[1].IsMultiAngle = true;
  f.pl.PlayItems[1].Angles = {ANGLE_CLIP_ENTRY{"00001", "M2TS", 0}};
  ASSERT_TRUE(AdjustPlaylist(f.pl, f.clips, f.rebuilt));
  const SUB_PLAY_ITEM& s = f.pl.SubPaths[0].SubPlayItems[0];
  EXPECT_EQ(s.InTime, 27000000u);
  EXPECT_EQ(s.OutTime, 27450000u);
  EXPECT_EQ(s.SyncStartPTS_OfPlayItem, 27005000u);
  EXPECT_TRUE(f.pl.PlayItems[1].Angles.empty());
  EXPECT_FALSE(f.pl.PlayItems[1].IsMultiAngle);

  // A rebuilt clip that kept nothing and gained nothing loses its play item; marks follow the numbering.
  Fixture g;
  g.rebuilt[1].kept_any = false;
  g.rebuilt[1].order.clear();
  ASSERT_TRUE(AdjustPlaylist(g.pl, g.clips, g.rebuilt));
  ASSERT_EQ(g.pl.PlayItems.size(), 1u);
  ASSERT_EQ(g.pl.PlayListMarks.size(), 1u);
  EXPECT_EQ(g.pl.PlayListMarks[0].RefToPlayItemID, 0);
}

TEST(AdjustPlaylistTest, PictureInPictureTimesMove) {
  // Metadata: length, one block for play item 0 whose data (2 entries) lies at byte 20.
  Bytes pip = {0, 0, 0, 36, 0, 1,                  // length, blocks
               0, 0, 1, 0, 0x10, 0, 0, 0, 0, 0,   // play item 0, secondary video 1, timeline 1
               0, 0, 0, 20,                       // data address
               0, 2,                              // two entries
               0, 1, 0x5F, 0x90, 1, 2, 3, 0x40,   // time 90,000, position, scale
               0, 3, 0x0D, 0x40, 1, 2, 3, 0x40};  // time 200,000
  Fixture f;
  SExtDataEntry e;
  e.ExtDataEntry_ID1 = kExtIdPipMetaData1;
  e.ExtDataEntry_ID2 = kExtIdPipMetaData2;
  e.Data = pip;
  f.pl.ExtensionData = SExtensionData{};
  f.pl.ExtensionData->Entries = {e};
  ASSERT_TRUE(AdjustPlaylist(f.pl, f.clips, f.rebuilt));
  const Bytes& moved = f.pl.ExtensionData->Entries[0].Data;
  EXPECT_EQ(load_be32(moved.data() + 22), 90000u + 27000000u - 90000u);
  EXPECT_EQ(load_be32(moved.data() + 30), 200000u + 27000000u - 90000u);
  EXPECT_EQ(Bytes(moved.begin() + 26, moved.begin() + 30), Bytes(pip.begin() + 26, pip.begin() + 30));
  // A block whose data lies outside the metadata leaves it as it was.
  Bytes broken = pip;
  broken[19] = 200;
  EXPECT_FALSE(MovePipMetadata(broken, {5}));
  broken[19] = 20;
  EXPECT_EQ(broken, pip);
}

}  // namespace
}  // namespace veld
