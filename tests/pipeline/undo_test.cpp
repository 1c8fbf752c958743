// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/undo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"
#include "veld/pipeline/copy_back.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using ::testing::HasSubstr;

// A small BDMV folder (without BACKUP/CLIPINF, which the copy-back makes) with unusual modes, and the new
// files of a replacement in a work folder.
struct Disc {
  TempDir dir;
  fs::path bdmv = dir / "BDMV";
  fs::path work = dir / "VELD";
  SReplacedFiles files;

  Disc() {
    for (const char* sub : {"STREAM", "CLIPINF", "PLAYLIST", "BACKUP/PLAYLIST"}) fs::create_directories(bdmv / sub);
    put(bdmv / "STREAM" / "00003.m2ts", Bytes(6144, 1), 0640);
    put(bdmv / "CLIPINF" / "00003.clpi", Bytes(100, 1), 0444);
    put(bdmv / "PLAYLIST" / "00007.mpls", Bytes(50, 1), 0600);
    put(bdmv / "BACKUP" / "PLAYLIST" / "00007.mpls", Bytes(50, 1), 0644);
    fs::create_directories(work / "Stream");
    next(2);
  }
  static void put(const fs::path& p, const Bytes& b, mode_t mode) {
    test::write_file(p, b);
    ::chmod(p.c_str(), mode);
  }
  // New files of a replacement, filled with v (written anew, as the replacement does).
  void next(std::uint8_t v) {
    for (const char* name : {"00003.m2ts", "00003.clpi", "00007.mpls"}) fs::remove(work / "Stream" / name);
    test::write_file(work / "Stream" / "00003.m2ts", Bytes(12288, v));
    test::write_file(work / "Stream" / "00003.clpi", Bytes(120, v));
    test::write_file(work / "Stream" / "00007.mpls", Bytes(60, v));
    files.clip_streams = {{3, work / "Stream" / "00003.m2ts"}};
    files.clip_infos = {{3, work / "Stream" / "00003.clpi"}};
    files.playlists = {{7, work / "Stream" / "00007.mpls"}};
  }
  int copy_back(test::RecordingMessenger& m) { return CopyBack(files, bdmv, CopyBackJournalPath(work), m); }
};

mode_t mode_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

TEST(UndoList, TextRoundTripAndDamage) {
  SUndoList list;
  list.bdmv = "/discs/100% sure/BDMV";
  list.saved = {{"/discs/100% sure/BDMV/STREAM/00003.m2ts", 1u << 31, 0640}, {"/x/odd\nname", 0, 04755}};
  list.added = {"/discs/100% sure/BDMV/BACKUP/CLIPINF/00003.clpi"};
  list.folders = {"/discs/100% sure/BDMV/BACKUP/CLIPINF"};
  const std::string text = UndoListText(list);
  EXPECT_THAT(text, HasSubstr("file 2147483648 640 /discs/100%25 sure/BDMV/STREAM/00003.m2ts\n"));
  EXPECT_EQ(ReadUndoListText(text), list);
  for (std::size_t n = 0; n + 1 < text.size(); ++n) EXPECT_FALSE(ReadUndoListText(text.substr(0, n))) << n;
  for (const char* bad : {"file 12 9 /a\n", "file x 644 /a\n", "file 12 644\n", "file 12 17777 /a\n", "what /a\n"}) {
    std::string t = text;
    t.insert(t.find("end\n"), bad);
    EXPECT_FALSE(ReadUndoListText(t)) << bad;
  }
}

TEST(Undo, CopyBackKeepsModesAndUndoRestoresEveryFile) {
  Disc d;
  const auto before = test::snapshot_tree(d.bdmv);
  const fs::path old_stream = d.bdmv / "STREAM" / "00003.m2ts";
  struct stat old_st {};
  ASSERT_EQ(::stat(old_stream.c_str(), &old_st), 0);
  test::RecordingMessenger m;
  ASSERT_EQ(d.copy_back(m), 0) << m.all_text();
  // The new files take the modes of the files they replace.
  EXPECT_EQ(mode_of(old_stream), 0640u);
  EXPECT_EQ(mode_of(d.bdmv / "CLIPINF" / "00003.clpi"), 0444u);
  EXPECT_EQ(mode_of(d.bdmv / "PLAYLIST" / "00007.mpls"), 0600u);
  EXPECT_EQ(test::read_file(old_stream), Bytes(12288, 2));
  // The replaced files are kept: hard links of the old files, with the list.
  const auto entries = ListUndoEntries(UndoFolder(d.work));
  ASSERT_EQ(entries.size(), 1u);
  struct stat kept {};
  ASSERT_EQ(::stat(UndoSavedFile(entries[0], 0).c_str(), &kept), 0);
  EXPECT_EQ(kept.st_ino, old_st.st_ino);
  const auto list = ReadUndoListText(std::string(reinterpret_cast<const char*>(test::read_file(entries[0] / "list").data()),
                                                 test::read_file(entries[0] / "list").size()));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->saved.size(), 4u);  // stream, clip information, playlist and its BACKUP copy
  EXPECT_EQ(list->added, std::vector<fs::path>{d.bdmv / "BACKUP" / "CLIPINF" / "00003.clpi"});
  EXPECT_EQ(list->folders, std::vector<fs::path>{d.bdmv / "BACKUP" / "CLIPINF"});

  test::RecordingMessenger u;
  u.default_answer = Answer::kYes;
  const SUndoOutcome out = UndoLastCopyBack(d.work, u);
  ASSERT_EQ(out.result, 0) << u.all_text();
  EXPECT_EQ(test::snapshot_tree(d.bdmv), before);  // bytes, modes and times of every file; no extra folder
  ASSERT_EQ(u.asked.size(), 1u);
  EXPECT_THAT(u.asked[0], HasSubstr("the 4 files"));
  EXPECT_THAT(u.all_text(), HasSubstr("put back " + old_stream.string()));
  EXPECT_THAT(u.all_text(), HasSubstr("removed " + (d.bdmv / "BACKUP" / "CLIPINF" / "00003.clpi").string()));
  EXPECT_TRUE(ListUndoEntries(UndoFolder(d.work)).empty());
  EXPECT_FALSE(fs::exists(CopyBackJournalPath(d.work)));
  // Nothing more to undo.
  test::RecordingMessenger again;
  again.default_answer = Answer::kYes;
  EXPECT_EQ(UndoLastCopyBack(d.work, again).result, 0);
  EXPECT_THAT(again.all_text(), HasSubstr("holds no copy-back to undo"));
  EXPECT_EQ(test::snapshot_tree(d.bdmv), before);
}

TEST(Undo, EachUndoGoesOneCopyBackFurtherBack) {
  Disc d;
  const auto first = test::snapshot_tree(d.bdmv);
  test::RecordingMessenger m;
  ASSERT_EQ(d.copy_back(m), 0) << m.all_text();
  const auto second = test::snapshot_tree(d.bdmv);
  d.next(3);
  ASSERT_EQ(d.copy_back(m), 0) << m.all_text();
  EXPECT_EQ(test::read_file(d.bdmv / "PLAYLIST" / "00007.mpls"), Bytes(60, 3));
  ASSERT_EQ(ListUndoEntries(UndoFolder(d.work)).size(), 2u);
  m.default_answer = Answer::kYes;
  ASSERT_EQ(UndoLastCopyBack(d.work, m).result, 0) << m.all_text();
  EXPECT_EQ(test::snapshot_tree(d.bdmv), second);
  ASSERT_EQ(UndoLastCopyBack(d.work, m).result, 0) << m.all_text();
  EXPECT_EQ(test::snapshot_tree(d.bdmv), first);
}

TEST(Undo, DeclinedOrDamagedEntryChangesNothing) {
  Disc d;
  test::RecordingMessenger m;
  ASSERT_EQ(d.copy_back(m), 0) << m.all_text();
  const auto after = test::snapshot_tree(d.bdmv);
  // Declined: exit 1, the entry stays.
  test::RecordingMessenger no;
  EXPECT_EQ(UndoLastCopyBack(d.work, no).result, 1);
  EXPECT_EQ(test::snapshot_tree(d.bdmv), after);
  const fs::path entry = ListUndoEntries(UndoFolder(d.work)).at(0);
  // A saved file cut short: refused, naming it.
  test::write_file(UndoSavedFile(entry, 2), Bytes(3, 0));
  test::RecordingMessenger yes;
  yes.default_answer = Answer::kYes;
  EXPECT_EQ(UndoLastCopyBack(d.work, yes).result, 2);
  EXPECT_THAT(yes.all_text(), HasSubstr(UndoSavedFile(entry, 2).string()));
  EXPECT_TRUE(yes.asked.empty());
  EXPECT_EQ(test::snapshot_tree(d.bdmv), after);
}

TEST(Undo, AFailedCopyBackKeepsNoEntry) {
  Disc d;
  fs::remove(d.work / "Stream" / "00007.mpls");  // a new file that is missing: the copy-back fails
  test::RecordingMessenger m;
  EXPECT_EQ(d.copy_back(m), 2);
  EXPECT_TRUE(ListUndoEntries(UndoFolder(d.work)).empty());
  EXPECT_TRUE(!fs::exists(UndoFolder(d.work)) || fs::is_empty(UndoFolder(d.work)));
}

// An undo stopped part of the way, as a kill leaves it, is rolled back (staging) or finished (renaming).
TEST(Undo, InterruptedUndoIsRolledBackOrFinished) {
  for (bool renaming : {false, true}) {
    SCOPED_TRACE(renaming ? "renaming" : "staging");
    Disc d;
    const auto before = test::snapshot_tree(d.bdmv);
    test::RecordingMessenger m;
    ASSERT_EQ(d.copy_back(m), 0) << m.all_text();
    const auto after = test::snapshot_tree(d.bdmv);
    const fs::path entry = ListUndoEntries(UndoFolder(d.work)).at(0);
    // The undo's journal and its first staged file, the first target already renamed when renaming.
    SCopyBackJournal j;
    j.state = renaming ? SCopyBackJournal::State::kRenaming : SCopyBackJournal::State::kStaging;
    j.bdmv = d.bdmv;
    j.consume = entry;
    j.drop_folders = {d.bdmv / "BACKUP" / "CLIPINF"};
    const fs::path stream = d.bdmv / "STREAM" / "00003.m2ts";
    const fs::path added = d.bdmv / "BACKUP" / "CLIPINF" / "00003.clpi";
    j.items = {{stream, true, false}, {added, true, true}};
    ASSERT_TRUE(WriteCopyBackJournal(CopyBackJournalPath(d.work), j, nullptr));
    fs::create_hard_link(UndoSavedFile(entry, 0), StagedNewFile(stream));
    if (renaming) {
      fs::create_hard_link(stream, KeptOldFile(stream));
      fs::rename(StagedNewFile(stream), stream);
    }
    test::RecordingMessenger r;
    ASSERT_EQ(RecoverInterruptedCopyBack(d.work, r), 0) << r.all_text();
    EXPECT_THAT(r.all_text(), HasSubstr(renaming ? "undo in " + d.bdmv.string() + " has been finished"
                                                 : "undo in " + d.bdmv.string() + " has been rolled back"));
    if (renaming) {
      // Finished: the two items of the journal; the rest of the undo was not in this journal.
      EXPECT_EQ(test::read_file(stream), Bytes(6144, 1));
      EXPECT_FALSE(fs::exists(added));
      EXPECT_FALSE(fs::exists(entry));
    } else {
      EXPECT_EQ(test::snapshot_tree(d.bdmv), after);
      EXPECT_TRUE(fs::exists(entry));
      m.default_answer = Answer::kYes;
      ASSERT_EQ(UndoLastCopyBack(d.work, m).result, 0) << m.all_text();
      EXPECT_EQ(test::snapshot_tree(d.bdmv), before);
    }
  }
}

}  // namespace
}  // namespace veld
