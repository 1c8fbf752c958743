// SPDX-License-Identifier: GPL-3.0-or-later
// Playlist objects: the stream list of the first play item, the tracks built from it, the playlists
// folder and writing a playlist file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/disc/mpls.h"
#include "veld/disc/playlist.h"

namespace veld {
namespace {

PRIMARY_STREAM_ENTRY entry(std::uint8_t type, std::uint16_t pid, std::uint8_t coding) {
  PRIMARY_STREAM_ENTRY e;
  e.StreamEntry.Type = type;
  e.StreamEntry.RefToStreamPID_OfMainClip = type == 2 ? 0 : pid;
  e.StreamEntry.RefToStreamPID_OfSubClip = type == 2 ? pid : 0;
  e.StreamAttributes.StreamCodingType = coding;
  return e;
}

PLAY_ITEM item_with_every_group() {
  PLAY_ITEM p;
  auto& t = p.StnTable;
  t.PrimaryVideoStreamEntries = {entry(1, 0x1011, 0x1B)};
  t.PrimaryVideoStreamEntries[0].StreamAttributes.VideoFormat = 6;
  t.PrimaryVideoStreamEntries[0].StreamAttributes.FrameRate = 1;
  t.PrimaryAudioStreamEntries = {entry(1, 0x1100, 0x81), entry(2, 0x1101, 0x81)};
  t.PrimaryAudioStreamEntries[0].StreamAttributes.AudioPresentationType = 3;
  t.PrimaryAudioStreamEntries[0].StreamAttributes.SamplingFrequency = 1;
  t.PrimaryAudioStreamEntries[0].StreamAttributes.Language = "eng";
  t.PrimaryPG_TextST_StreamEntries = {entry(1, 0x1200, 0x90), entry(1, 0x1800, 0x92)};
  t.PrimaryPG_TextST_StreamEntries[1].StreamAttributes.CharacterCode = 1;
  t.PrimaryPG_TextST_StreamEntries[1].StreamAttributes.Language = "jpn";
  t.PrimaryPiP_TextST_StreamEntries = {entry(3, 0x1201, 0x90)};
  t.InteractiveGraphicsStreamEntries = {entry(1, 0x1400, 0x91), entry(4, 0x1401, 0x91)};
  t.InteractiveGraphicsStreamEntries[0].StreamAttributes.Language = "fra";
  SECONDARD_AUDIO_STREAM_ENTRY sa;
  sa.StreamEntry.RefToStreamPID_OfMainClip = 0x1A00;
  sa.StreamAttributes.StreamCodingType = 0xA1;
  t.SecondaryAudioStreamEntries = {sa};
  SECONDARD_VIDEO_STREAM_ENTRY sv;
  sv.StreamEntry.Type = 3;
  sv.StreamEntry.RefToStreamPID_OfMainClip = 0x1B00;
  sv.StreamAttributes.StreamCodingType = 0x1B;
  t.SecondaryVideoStreamEntries = {sv};
  return p;
}

TEST(PlaylistStreams, GroupOrderWithoutSubPathClipStreams) {
  SMplsData d;
  d.PlayItems = {item_with_every_group(), PLAY_ITEM{}};
  const CSiFolder streams = first_play_item_streams(d);
  std::vector<std::uint16_t> pids;
  for (const auto& s : streams) pids.push_back(s.StreamPID);
  // Type 2 (a sub-path clip's stream, 0x1101) and the undefined type 4 (0x1401) are left out.
  EXPECT_THAT(pids, ::testing::ElementsAre(0x1011, 0x1100, 0x1200, 0x1800, 0x1201, 0x1400, 0x1A00, 0x1B00));
  for (const auto& s : streams) EXPECT_EQ(s.StreamCodingInfo.Length, 21);

  const auto& video = streams[0].StreamCodingInfo;
  EXPECT_EQ(video.CodingType, 0x1B);
  EXPECT_EQ(video.VideoFormat, 6);
  EXPECT_EQ(video.FrameRate, 1);
  const auto& audio = streams[1].StreamCodingInfo;
  EXPECT_EQ(audio.PresentationType, 3);
  EXPECT_EQ(audio.SamplingFrequency, 1);
  EXPECT_EQ(audio.language(), "eng");
  EXPECT_EQ(streams[3].StreamCodingInfo.CharacterCode, 1);
  EXPECT_EQ(streams[3].StreamCodingInfo.language(), "jpn");
  EXPECT_EQ(streams[5].StreamCodingInfo.language(), "fra");

  EXPECT_TRUE(first_play_item_streams(SMplsData{}).empty());
}

TEST(PlaylistStreams, TracksCarryIndexPidCopyAndPrimaryFlag) {
  CMplsObject p;
  p.data.PlayItems = {item_with_every_group()};
  p.build_tracks();
  ASSERT_EQ(p.rip_tracks.size(), 8u);
  for (std::size_t i = 0; i < p.rip_tracks.size(); ++i) {
    const SRipTrack& t = p.rip_tracks.tracks[i];
    EXPECT_EQ(t.index, static_cast<int>(i));
    EXPECT_EQ(t.pid, t.stream_info.StreamPID);
    EXPECT_EQ(t.primary, t.pid != 0x1A00 && t.pid != 0x1B00) << t.pid;
  }
  EXPECT_EQ(p.rip_tracks.find_pid(0x1400)->stream_info.StreamCodingInfo.language(), "fra");
  EXPECT_EQ(p.rip_tracks.find_pid(0x1401), nullptr);
  // Building again replaces the list.
  p.data.PlayItems.clear();
  p.build_tracks();
  EXPECT_TRUE(p.rip_tracks.empty());
}

TEST(PlaylistStreams, PrimaryPidRanges) {
  EXPECT_TRUE(is_primary_pid(0x1011));
  EXPECT_TRUE(is_primary_pid(0x19FF));
  EXPECT_FALSE(is_primary_pid(0x1A00));
  EXPECT_FALSE(is_primary_pid(0x1A1F));
  EXPECT_TRUE(is_primary_pid(0x1A20));
  EXPECT_FALSE(is_primary_pid(0x1B00));
  EXPECT_FALSE(is_primary_pid(0x1B1F));
  EXPECT_TRUE(is_primary_pid(0x1B20));
}

TEST(PlaylistFolder, NewPlaylistsAreNamedByCount) {
  set_language(Language::kEnglish);
  CPofObject folder;
  EXPECT_EQ(folder.name, "Playlists");
  EXPECT_EQ(folder.add().name, "Playlist#0");
  CMplsObject& second = folder.add();
  EXPECT_EQ(second.name, "Playlist#1");
  EXPECT_EQ(second.id, -1);
  second.id = 7;
  EXPECT_EQ(folder.find(7), &second);
  EXPECT_EQ(folder.find(3), nullptr);
  EXPECT_EQ(folder.size(), 2u);
  reset_language();
}

TEST(PlaylistFile, WritesTheComposedBytesOrReportsTheSystemError) {
  test::TempDir dir;
  CMplsObject p;
  p.data.PlayItems = {item_with_every_group()};
  test::RecordingMessenger m;
  ASSERT_EQ(write_playlist_file(p, dir / "00001.mpls", m), kResultOk);
  EXPECT_EQ(test::read_file(dir / "00001.mpls"), compose_mpls(p.data));
  EXPECT_TRUE(m.shown.empty());

  const auto missing = dir / "no-such-folder" / "00001.mpls";
  EXPECT_EQ(write_playlist_file(p, missing, m), kResultFailed);
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, system_error_text(missing, ENOENT));
}

}  // namespace
}  // namespace veld
