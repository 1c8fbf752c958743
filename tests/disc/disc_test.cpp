// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the generated test discs into the disc model, and the ways an opening fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <random>
#include <set>

#include "support/test_support.h"
#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/disc/bd_disc.h"
#include "veld/disc/mpls.h"
#include "veld/disc/paths.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using test::RecordingMessenger;

const char* const kVariants[] = {"menu", "twoig", "popup", "subpath", "streams"};

nlohmann::json truth_of(const std::string& variant) {
  std::ifstream in(test::test_discs_dir() / variant / "truth.json");
  return nlohmann::json::parse(in);
}

fs::path bdmv_of(const std::string& variant) { return test::test_discs_dir() / variant / "BDMV"; }

// A writable copy of a generated disc's BDMV folder.
struct DiscCopy {
  explicit DiscCopy(const std::string& variant) {
    fs::copy(bdmv_of(variant), bdmv, fs::copy_options::recursive);
  }
  test::TempDir dir;
  fs::path bdmv = dir / "BDMV";
};

class EnglishMessages : public ::testing::Test {
 protected:
  void SetUp() override { set_language(Language::kEnglish); }
  void TearDown() override { reset_language(); }
};

using DiscOpen = EnglishMessages;

TEST_F(DiscOpen, EveryGeneratedDiscLoadsItsPlaylistsAndClips) {
  for (const std::string variant : kVariants) {
    SCOPED_TRACE(variant);
    const auto truth = truth_of(variant);
    CBDDisc disc;
    RecordingMessenger m;
    ASSERT_TRUE(disc.open(bdmv_of(variant), m)) << m.all_text();
    EXPECT_TRUE(m.shown.empty());
    EXPECT_EQ(disc.folder(), bdmv_of(variant) / "");

    // Playlists in file-name order, each with its number as id and its file title as name.
    std::vector<std::string> names;
    for (std::size_t i = 0; i < disc.playlists()->size(); ++i) {
      const CMplsObject& p = (*disc.playlists())[i];
      names.push_back(p.name);
      EXPECT_EQ(p.id, std::stoi(p.name));
      EXPECT_EQ(p.path, bdmv_of(variant) / "PLAYLIST" / (p.name + ".mpls"));
    }
    EXPECT_THAT(names, ElementsAreArray(truth["playlists"].get<std::vector<std::string>>()));

    // Clips ascending, each once, with times doubled to 90 kHz and one track per stream. The other
    // angles of a multi-angle play item are not clips of the disc model.
    std::set<std::string> angle_only;
    for (std::size_t i = 0; i < disc.playlists()->size(); ++i)
      for (const auto& item : (*disc.playlists())[i].data.PlayItems)
        for (const auto& angle : item.Angles) angle_only.insert(angle.ClipInformationFileName);
    for (std::size_t i = 0; i < disc.playlists()->size(); ++i) {
      for (const auto& item : (*disc.playlists())[i].data.PlayItems)
        angle_only.erase(item.ClipInformationFileName);
      for (const auto& path : (*disc.playlists())[i].data.SubPaths)
        for (const auto& sub : path.SubPlayItems) angle_only.erase(sub.ClipInformationFileName);
    }
    if (variant == "twoig") {
      EXPECT_EQ(angle_only.size(), 1u);
    }
    std::vector<std::string> clip_names;
    for (const auto& [name, clip] : truth["clips"].items())
      if (!angle_only.count(name)) clip_names.push_back(name);
    std::sort(clip_names.begin(), clip_names.end());
    ASSERT_EQ(disc.clips()->size(), clip_names.size());
    EXPECT_EQ(current_clips_folder(), disc.clips());
    for (std::size_t i = 0; i < clip_names.size(); ++i) {
      const CClpiObject& c = (*disc.clips())[i];
      const auto& t = truth["clips"][clip_names[i]];
      SCOPED_TRACE(clip_names[i]);
      EXPECT_EQ(c.name, clip_names[i]);
      EXPECT_EQ(c.id, std::stoi(clip_names[i]));
      EXPECT_EQ(c.clpi_path, bdmv_of(variant) / "CLIPINF" / (clip_names[i] + ".clpi"));
      EXPECT_EQ(c.stream_path, bdmv_of(variant) / "STREAM" / (clip_names[i] + ".m2ts"));
      EXPECT_EQ(c.start_time, t["presentation_start"].get<std::uint64_t>() * 2);
      EXPECT_EQ(c.end_time, t["presentation_end"].get<std::uint64_t>() * 2);
      const SRipTracks* tracks = disc.clip_tracks(c.id);
      ASSERT_NE(tracks, nullptr);
      ASSERT_EQ(tracks->size(), t["pids"].size());
      for (const auto& [pid_text, stream] : t["pids"].items()) {
        const auto pid = static_cast<std::uint16_t>(std::stoi(pid_text, nullptr, 16));
        const SRipTrack* track = tracks->find_pid(pid);
        ASSERT_NE(track, nullptr) << pid_text;
        EXPECT_EQ(track->stream_info.StreamCodingInfo.CodingType, stream["stream_type"].get<int>());
        EXPECT_EQ(track->stream_info.StreamCodingInfo.language(), stream["language"].get<std::string>());
        // picture-in-picture video and secondary audio are the only streams that are not primary
        EXPECT_EQ(track->primary, !((pid >= 0x1A00 && pid <= 0x1A1F) || (pid >= 0x1B00 && pid <= 0x1B1F)))
            << pid_text;
        EXPECT_EQ(tracks->tracks[track->index].pid, pid);
      }
    }
  }
}

TEST_F(DiscOpen, TheSampleDiscOpens) {
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(test::source_dir() / "examples" / "sample-disc" / "BDMV", m)) << m.all_text();
  EXPECT_GT(disc.playlists()->size(), 0u);
  EXPECT_GT(disc.clips()->size(), 0u);
  EXPECT_TRUE(m.shown.empty());
}

TEST_F(DiscOpen, PlaylistTracksFollowTheFirstPlayItemsStreamTable) {
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(bdmv_of("popup"), m)) << m.all_text();
  const CMplsObject& p = (*disc.playlists())[0];
  const auto& stn = p.data.PlayItems.at(0).StnTable;
  const std::size_t entries = stn.PrimaryVideoStreamEntries.size() + stn.PrimaryAudioStreamEntries.size() +
                              stn.PrimaryPG_TextST_StreamEntries.size() +
                              stn.InteractiveGraphicsStreamEntries.size();
  ASSERT_EQ(p.rip_tracks.size(), entries);
  // Group order: video first, then audio, PG, IG; the attributes come along.
  EXPECT_EQ(p.rip_tracks.tracks.front().pid, 0x1011);
  EXPECT_EQ(p.rip_tracks.tracks.back().stream_info.StreamCodingInfo.CodingType, 0x91);
  for (const auto& t : p.rip_tracks.tracks) {
    const SRipTracks* clip = disc.clip_tracks(std::stoi(p.data.PlayItems[0].ClipInformationFileName));
    ASSERT_NE(clip, nullptr);
    const SRipTrack* same = clip->find_pid(t.pid);
    ASSERT_NE(same, nullptr) << t.pid;
    EXPECT_EQ(same->stream_info.StreamCodingInfo.CodingType, t.stream_info.StreamCodingInfo.CodingType);
    EXPECT_EQ(same->stream_info.StreamCodingInfo.language(), t.stream_info.StreamCodingInfo.language());
  }
}

TEST_F(DiscOpen, AClipUsedOnlyByASubPlayItemIsLoaded) {
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(bdmv_of("subpath"), m)) << m.all_text();
  const auto& data = (*disc.playlists())[0].data;
  ASSERT_FALSE(data.SubPaths.empty());
  const int sub_clip = leading_number(data.SubPaths[0].SubPlayItems.at(0).ClipInformationFileName);
  for (const auto& item : data.PlayItems) EXPECT_NE(leading_number(item.ClipInformationFileName), sub_clip);
  ASSERT_NE(disc.clips()->find(sub_clip), nullptr);
  EXPECT_EQ(disc.clips()->find(sub_clip)->data.ClipInfo.ApplicationType, 5);
}

TEST_F(DiscOpen, TrailingSeparatorAndRelativeFormsOpenTheSameDisc) {
  CBDDisc a, b;
  RecordingMessenger m;
  ASSERT_TRUE(a.open(bdmv_of("menu"), m));
  ASSERT_TRUE(b.open(bdmv_of("menu").string() + "/", m));
  EXPECT_EQ(a.folder(), b.folder());
  EXPECT_EQ(a.playlists()->size(), b.playlists()->size());
  EXPECT_EQ(a.clips()->size(), b.clips()->size());
  EXPECT_EQ((*a.clips())[0].stream_path, (*b.clips())[0].stream_path);
  EXPECT_TRUE(m.shown.empty());
}

TEST_F(DiscOpen, AnEmptyFolderPathIsAMissingIndex) {
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open("", m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, system_error_text("index.bdmv", ENOENT));
  EXPECT_EQ(disc.playlists(), nullptr);
}

TEST_F(DiscOpen, PlaylistsAreLoadedInFileNameOrderAndShareTheirClips) {
  DiscCopy copy("menu");
  // Directory order is not name order; the copies name the same clips as 00000 and 00001.
  fs::copy_file(copy.bdmv / "PLAYLIST" / "00001.mpls", copy.bdmv / "PLAYLIST" / "00002.mpls");
  fs::copy_file(copy.bdmv / "PLAYLIST" / "00000.mpls", copy.bdmv / "PLAYLIST" / "00010.mpls");
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(copy.bdmv, m)) << m.all_text();
  std::vector<int> ids;
  for (std::size_t i = 0; i < disc.playlists()->size(); ++i) ids.push_back((*disc.playlists())[i].id);
  EXPECT_THAT(ids, ::testing::ElementsAre(0, 1, 2, 10));
  EXPECT_EQ(disc.clips()->size(), 2u);  // each clip once
}

TEST_F(DiscOpen, FilesThatAreNotFiveDigitPlaylistsAreIgnored) {
  DiscCopy copy("menu");
  const fs::path dir = copy.bdmv / "PLAYLIST";
  fs::rename(dir / "00000.mpls", dir / "menu.mpls");
  fs::rename(dir / "00001.mpls", dir / "1.mpls");
  fs::copy_file(dir / "1.mpls", dir / "0001x.mpls");
  fs::copy_file(dir / "1.mpls", dir / "000001.mpls");
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, format_message(kMsgNoPlaylist));
  EXPECT_EQ(m.shown[0].kind, MessageKind::kError);

  // The same with no PLAYLIST folder at all.
  fs::remove_all(dir);
  RecordingMessenger m2;
  EXPECT_FALSE(disc.open(copy.bdmv, m2));
  ASSERT_EQ(m2.shown.size(), 1u);
  EXPECT_EQ(m2.shown[0].text, format_message(kMsgNoPlaylist));
}

TEST_F(DiscOpen, MissingClipStreamIsNamed) {
  DiscCopy copy("menu");
  const fs::path stream = copy.bdmv / "STREAM" / "00001.m2ts";
  fs::remove(stream);
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_THAT(m.shown[0].text, ::testing::StartsWith(format_message(kMsgNoClipStream, stream.string())));
  EXPECT_THAT(m.shown[0].text, HasSubstr("No such file or directory"));
  // A folder in place of the stream file is not a clip stream either.
  fs::create_directory(stream);
  RecordingMessenger m2;
  EXPECT_FALSE(disc.open(copy.bdmv, m2));
  EXPECT_THAT(m2.all_text(), HasSubstr(stream.string()));
}

TEST_F(DiscOpen, MissingClipInformationShowsTheSystemText) {
  DiscCopy copy("menu");
  const fs::path info = copy.bdmv / "CLIPINF" / "00000.clpi";
  fs::remove(info);
  fs::remove(copy.bdmv / "BACKUP" / "CLIPINF" / "00000.clpi");
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, system_error_text(info, ENOENT));
}

TEST_F(DiscOpen, PlaylistsWithoutAnyClipGiveMessage5073) {
  DiscCopy copy("menu");
  for (const char* name : {"00000.mpls", "00001.mpls"}) {
    const fs::path p = copy.bdmv / "PLAYLIST" / name;
    SMplsData d;
    ASSERT_GT(parse_mpls(test::read_file(p), d), 0);
    d.PlayItems.clear();
    d.PlayListMarks.clear();
    test::write_file(p, compose_mpls(d));
  }
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, format_message(kMsgNoClipInfo));
  ASSERT_NE(disc.playlists(), nullptr);
  EXPECT_EQ(disc.playlists()->size(), 2u);
  EXPECT_TRUE(disc.playlists()->operator[](0).rip_tracks.empty());
}

TEST_F(DiscOpen, CorruptPlaylistsGiveMessage5071WithThePath) {
  DiscCopy copy("popup");
  const fs::path p = copy.bdmv / "PLAYLIST" / "00000.mpls";
  fs::remove(copy.bdmv / "BACKUP" / "PLAYLIST" / "00000.mpls");  // no copy to fall back on
  const Bytes good = test::read_file(p);
  // Every truncation, then random flips; none may crash (the sanitizer build runs this too).
  for (std::size_t n = 0; n < good.size(); ++n) {
    test::write_file(p, ByteSpan(good).first(n));
    CBDDisc disc;
    RecordingMessenger m;
    EXPECT_FALSE(disc.open(copy.bdmv, m)) << n;
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_THAT(m.shown[0].text, ::testing::StartsWith(format_message(kMsgParseError, p.string())));
  }
  std::mt19937 rng(5071);
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes bad = good;
    for (int i = 0; i < 3; ++i) bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    test::write_file(p, bad);
    CBDDisc disc;
    RecordingMessenger m;
    if (!disc.open(copy.bdmv, m)) {
      ++refused;
      // One error; blocks that hold more than their content may have been noted before it.
      EXPECT_EQ(std::count_if(m.shown.begin(), m.shown.end(),
                              [](const RecordingMessenger::Shown& s) { return s.kind == MessageKind::kError; }),
                1);
    }
  }
  EXPECT_GT(refused, 0);
}

TEST_F(DiscOpen, BlocksHoldingMoreThanTheirContentAreWarnedAbout) {
  // The menu playlist with its play-item count damaged to 0: it parses, the disc opens without its menu
  // clip, and a warning names the file, the block and where the bytes that were not read start.
  DiscCopy copy("menu");
  const fs::path p = copy.bdmv / "PLAYLIST" / "00000.mpls";
  Bytes bad = test::read_file(p);
  const std::size_t playlist = load_be32(&bad[8]);
  store_be16(&bad[playlist + 6], 0);
  test::write_file(p, bad);
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(copy.bdmv, m)) << m.all_text();
  ASSERT_EQ(m.shown.size(), 1u) << m.all_text();
  EXPECT_EQ(m.shown[0].kind, MessageKind::kWarning);
  EXPECT_EQ(m.shown[0].text, p.string() + ": PlayList at offset " + std::to_string(playlist + 10) + " holds " +
                                 std::to_string(load_be32(&bad[playlist]) - 6) +
                                 " bytes after its content, which were not read");
  EXPECT_EQ(disc.clips()->find(0), nullptr);
  // Read from its backup, the file that was read is named.
  test::write_file(p, Bytes{1, 2, 3});
  test::write_file(copy.bdmv / "BACKUP" / "PLAYLIST" / "00000.mpls", bad);
  RecordingMessenger n;
  ASSERT_TRUE(disc.open(copy.bdmv, n)) << n.all_text();
  ASSERT_EQ(n.shown.size(), 2u) << n.all_text();
  EXPECT_THAT(n.shown[1].text, ::testing::StartsWith((copy.bdmv / "BACKUP" / "PLAYLIST" / "00000.mpls").string() +
                                                     ": PlayList at offset "));
}

TEST_F(DiscOpen, AClipNameWithoutDigitsIsAParseError) {
  DiscCopy copy("menu");
  const fs::path p = copy.bdmv / "PLAYLIST" / "00001.mpls";
  SMplsData d;
  ASSERT_GT(parse_mpls(test::read_file(p), d), 0);
  d.PlayItems[0].ClipInformationFileName = "ABCDE";
  test::write_file(p, compose_mpls(d));
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  EXPECT_THAT(m.all_text(), ::testing::StartsWith(format_message(kMsgParseError, p.string())));
}

TEST_F(DiscOpen, NavigationFilesAreReadFirst) {
  {
    CBDDisc disc;
    RecordingMessenger m;
    ASSERT_TRUE(disc.open(bdmv_of("twoig"), m));
    ASSERT_NE(disc.index(), nullptr);
    EXPECT_EQ(disc.index()->name, "index.bdmv");
    EXPECT_EQ(disc.index()->data.Titles.size(), truth_of("twoig")["titles"].get<std::size_t>());
    ASSERT_NE(disc.movie_objects(), nullptr);
    EXPECT_EQ(disc.movie_objects()->name, "MovieObject.bdmv");
    EXPECT_EQ(disc.movie_objects()->path, bdmv_of("twoig") / "MovieObject.bdmv");
  }
  DiscCopy copy("menu");
  // Without the copies in BACKUP, a missing index ends the opening before anything else is looked at.
  fs::remove(copy.bdmv / "BACKUP" / "index.bdmv");
  fs::remove(copy.bdmv / "BACKUP" / "MovieObject.bdmv");
  fs::remove_all(copy.bdmv / "PLAYLIST");
  fs::rename(copy.bdmv / "index.bdmv", copy.bdmv / "index.old");
  CBDDisc disc;
  RecordingMessenger m;
  EXPECT_FALSE(disc.open(copy.bdmv, m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, system_error_text(copy.bdmv / "index.bdmv", ENOENT));
  // A truncated index is a parse error naming it.
  Bytes index = test::read_file(copy.bdmv / "index.old");
  index.resize(30);
  test::write_file(copy.bdmv / "index.bdmv", index);
  RecordingMessenger m2;
  EXPECT_FALSE(disc.open(copy.bdmv, m2));
  ASSERT_EQ(m2.shown.size(), 1u);
  EXPECT_THAT(m2.shown[0].text,
              ::testing::StartsWith(format_message(kMsgParseError, (copy.bdmv / "index.bdmv").string())));
  // Then the movie objects, still before the playlists.
  fs::rename(copy.bdmv / "index.old", copy.bdmv / "index.bdmv");
  const Bytes mo = test::read_file(copy.bdmv / "MovieObject.bdmv");
  test::write_file(copy.bdmv / "MovieObject.bdmv", ByteSpan(mo).first(20));
  RecordingMessenger m3;
  EXPECT_FALSE(disc.open(copy.bdmv, m3));
  ASSERT_EQ(m3.shown.size(), 1u);
  EXPECT_THAT(m3.shown[0].text, ::testing::StartsWith(format_message(
                                    kMsgParseError, (copy.bdmv / "MovieObject.bdmv").string())));
  fs::remove(copy.bdmv / "MovieObject.bdmv");
  RecordingMessenger m4;
  EXPECT_FALSE(disc.open(copy.bdmv, m4));
  ASSERT_EQ(m4.shown.size(), 1u);
  EXPECT_EQ(m4.shown[0].text, system_error_text(copy.bdmv / "MovieObject.bdmv", ENOENT));
}

// A damaged or missing disc file is read from its copy in BACKUP, with one warning line; the opening
// fails only when the copy is unusable too, and then names both.
struct BackupCase {
  const char* file;  // below BDMV, and below BDMV/BACKUP for the copy
  bool remove;       // the file is missing rather than damaged
};

class DiscBackup : public EnglishMessages, public ::testing::WithParamInterface<BackupCase> {};

// What the disc model read, as a comparable summary.
std::string DiscSummary(const CBDDisc& disc) {
  std::string s = std::to_string(disc.index()->data.Titles.size()) + " titles, " +
                  std::to_string(disc.movie_objects()->data.MovieObjects.size()) + " objects;";
  for (std::size_t i = 0; i < disc.playlists()->size(); ++i) {
    const CMplsObject& p = (*disc.playlists())[i];
    s += " " + p.name + ":" + std::to_string(p.data.PlayItems.size());
  }
  for (std::size_t i = 0; i < disc.clips()->size(); ++i) {
    const CClpiObject& c = (*disc.clips())[i];
    s += " " + c.name + ":" + std::to_string(c.data.streams().size()) + "/" + std::to_string(c.end_time);
  }
  return s;
}

TEST_P(DiscBackup, DamagedFileIsReadFromItsBackup) {
  const BackupCase& c = GetParam();
  CBDDisc intact;
  RecordingMessenger m0;
  ASSERT_TRUE(intact.open(bdmv_of("menu"), m0)) << m0.all_text();

  DiscCopy copy("menu");
  const fs::path file = copy.bdmv / c.file;
  const fs::path backup = copy.bdmv / "BACKUP" / c.file;
  const Bytes good = test::read_file(file);
  if (c.remove) {
    fs::remove(file);
  } else {
    test::write_file(file, ByteSpan(good).first(good.size() / 3));
  }
  CBDDisc disc;
  RecordingMessenger m;
  ASSERT_TRUE(disc.open(copy.bdmv, m)) << m.all_text();
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].kind, MessageKind::kWarning);
  EXPECT_EQ(m.shown[0].text, format_message(kMsgUsingBackup, file.string(), backup.string()));
  EXPECT_EQ(m.shown[0].text.find('\n'), std::string::npos);  // one line
  EXPECT_EQ(DiscSummary(disc), DiscSummary(intact));
  // The object remembers the file that was read.
  std::vector<fs::path> paths{disc.index()->path, disc.movie_objects()->path};
  for (std::size_t i = 0; i < disc.playlists()->size(); ++i) paths.push_back((*disc.playlists())[i].path);
  for (std::size_t i = 0; i < disc.clips()->size(); ++i) paths.push_back((*disc.clips())[i].clpi_path);
  EXPECT_THAT(paths, ::testing::Contains(backup));
  EXPECT_THAT(paths, ::testing::Not(::testing::Contains(file)));

  // A damaged copy as well: the opening fails and says why neither could be used.
  const Bytes copy_bytes = test::read_file(backup);
  test::write_file(backup, ByteSpan(copy_bytes).first(copy_bytes.size() / 3));
  CBDDisc both;
  RecordingMessenger m2;
  EXPECT_FALSE(both.open(copy.bdmv, m2));
  ASSERT_EQ(m2.shown.size(), 1u);
  EXPECT_EQ(m2.shown[0].kind, MessageKind::kError);
  EXPECT_THAT(m2.shown[0].text, HasSubstr(file.string()));
  EXPECT_THAT(m2.shown[0].text, HasSubstr(format_message(kMsgParseError, backup.string())));
  EXPECT_THAT(m2.shown[0].text, ::testing::StartsWith(c.remove ? system_error_text(file, ENOENT)
                                                                : format_message(kMsgParseError, file.string())));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, DiscBackup,
                         ::testing::Values(BackupCase{"index.bdmv", false}, BackupCase{"index.bdmv", true},
                                           BackupCase{"MovieObject.bdmv", false},
                                           BackupCase{"MovieObject.bdmv", true},
                                           BackupCase{"PLAYLIST/00000.mpls", false},
                                           BackupCase{"CLIPINF/00000.clpi", false},
                                           BackupCase{"CLIPINF/00001.clpi", true}));

// libbluray reads a disc whose playlists (and their backup copies) were all rewritten by the composer.
TEST(DiscLibbluray, RewrittenPlaylistsStillOpen) {
#ifndef VELD_BDCHECK
  FAIL() << "built without the libbluray checker veld_bdcheck";
#else
  struct Case {
    const char* variant;
    const char* expect;
  } cases[] = {
      {"menu", "--titles 1 --playlists 00000,00001 --ig-streams 0:1 --audio-streams 1:1"},
      {"twoig", "--titles 2 --playlists 00000,00001,00002 --ig-streams 0:2 --angles 1:2 --angles 2:1"},
      {"popup", "--titles 1 --playlists 00000 --ig-streams 0:1 --pg-streams 0:1 --audio-streams 0:2"},
      {"subpath", "--titles 1 --playlists 00001 --ig-streams 1:1 --audio-streams 1:1"},
      {"streams", "--titles 2 --playlists 00000,00001 --video-streams 0:1 --audio-streams 0:4 --pg-streams 0:1 "
       "--ig-streams 0:1 --sec-video-streams 0:1 --sec-audio-streams 0:1 --video-streams 1:1 "
       "--audio-streams 1:1 --pg-streams 1:1 --ig-streams 1:1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variant);
    DiscCopy copy(c.variant);
    int rewritten = 0;
    for (const fs::path& dir : {copy.bdmv / "PLAYLIST", copy.bdmv / "BACKUP" / "PLAYLIST"}) {
      for (const auto& f : fs::directory_iterator(dir)) {
        SMplsData d;
        ASSERT_GT(parse_mpls(test::read_file(f.path()), d), 0) << f.path();
        // Relabel the menu streams so that the check sees the composer's bytes, not the originals.
        for (auto& item : d.PlayItems)
          for (auto& ig : item.StnTable.InteractiveGraphicsStreamEntries) ig.StreamAttributes.Language = "deu";
        test::write_file(f.path(), compose_mpls(d));
        ++rewritten;
      }
    }
    EXPECT_GT(rewritten, 0);
    const fs::path log = copy.dir / "bdcheck.log";
    const std::string cmd = std::string(VELD_BDCHECK) + " " + copy.dir.path().string() + " --read " +
                            c.expect + " > " + log.string() + " 2>&1";
    const int status = std::system(cmd.c_str());
    const Bytes out = test::read_file(log);
    const std::string text(out.begin(), out.end());
    EXPECT_EQ(status, 0) << text;
    EXPECT_THAT(text, HasSubstr("IG(0x91) lang 'deu'"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("IG(0x91) lang 'eng'")));
  }
#endif
}

TEST(DiscMessages, OpeningFailuresSpeakTheUsersLanguage) {
  DiscCopy copy("menu");
  fs::remove_all(copy.bdmv / "PLAYLIST");
  set_language(Language::kChinese);
  CBDDisc disc;
  RecordingMessenger zh;
  EXPECT_FALSE(disc.open(copy.bdmv, zh));
  ASSERT_EQ(zh.shown.size(), 1u);
  EXPECT_EQ(zh.shown[0].text, "没有找到播放列表(*.mpls)文件 ! ");
  set_language(Language::kEnglish);
  RecordingMessenger en;
  EXPECT_FALSE(disc.open(copy.bdmv, en));
  ASSERT_EQ(en.shown.size(), 1u);
  EXPECT_EQ(en.shown[0].text, "No playlist files (*.mpls) found ! ");
  reset_language();
}

TEST(DiscModel, ClearingTheDiscForgetsTheCurrentClipsFolder) {
  RecordingMessenger m;
  {
    CBDDisc disc;
    ASSERT_TRUE(disc.open(bdmv_of("menu"), m));
    EXPECT_EQ(current_clips_folder(), disc.clips());
  }
  EXPECT_EQ(current_clips_folder(), nullptr);
  CBDDisc a, b;
  ASSERT_TRUE(a.open(bdmv_of("menu"), m));
  ASSERT_TRUE(b.open(bdmv_of("twoig"), m));
  EXPECT_EQ(current_clips_folder(), b.clips());
  a.clear();
  EXPECT_EQ(current_clips_folder(), b.clips());
  b.clear();
  EXPECT_EQ(current_clips_folder(), nullptr);
  EXPECT_EQ(b.playlists(), nullptr);
}

}  // namespace
}  // namespace veld
