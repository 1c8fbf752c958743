// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/copy_back.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

struct Disc {
  TempDir dir;
  fs::path bdmv;
  SReplacedFiles files;

  Disc() {
    bdmv = dir / "BDMV";
    for (const char* sub : {"STREAM", "CLIPINF", "PLAYLIST", "BACKUP/PLAYLIST"}) fs::create_directories(bdmv / sub);
    test::write_file(bdmv / "STREAM" / "00003.m2ts", Bytes(6144, 1));
    test::write_file(bdmv / "CLIPINF" / "00003.clpi", Bytes(100, 1));
    test::write_file(bdmv / "PLAYLIST" / "00007.mpls", Bytes(50, 1));
    fs::create_directories(dir / "work");
    test::write_file(dir / "work" / "00003.m2ts", Bytes(12288, 2));
    test::write_file(dir / "work" / "00003.clpi", Bytes(120, 2));
    test::write_file(dir / "work" / "00007.mpls", Bytes(60, 2));
    files.clip_streams = {{3, dir / "work" / "00003.m2ts"}};
    files.clip_infos = {{3, dir / "work" / "00003.clpi"}};
    files.playlists = {{7, dir / "work" / "00007.mpls"}};
  }
};

TEST(CopyBackTest, EveryFileLandsAndBackupFoldersAreMade) {
  Disc d;
  test::RecordingMessenger m;
  ASSERT_EQ(CopyBack(d.files, d.bdmv, d.dir / "work" / "CopyBack.journal", m), 0) << m.all_text();
  EXPECT_EQ(test::read_file(d.bdmv / "STREAM" / "00003.m2ts"), Bytes(12288, 2));
  for (const char* p : {"CLIPINF/00003.clpi", "BACKUP/CLIPINF/00003.clpi"})
    EXPECT_EQ(test::read_file(d.bdmv / p), Bytes(120, 2)) << p;
  for (const char* p : {"PLAYLIST/00007.mpls", "BACKUP/PLAYLIST/00007.mpls"})
    EXPECT_EQ(test::read_file(d.bdmv / p), Bytes(60, 2)) << p;
  // The clip stream is the work folder's file (linked, not copied); the small files are copies of their own.
  struct stat a {}, b {};
  ASSERT_EQ(stat((d.bdmv / "STREAM" / "00003.m2ts").c_str(), &a), 0);
  ASSERT_EQ(stat((d.dir / "work" / "00003.m2ts").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  ASSERT_EQ(stat((d.bdmv / "CLIPINF" / "00003.clpi").c_str(), &a), 0);
  ASSERT_EQ(stat((d.bdmv / "BACKUP" / "CLIPINF" / "00003.clpi").c_str(), &b), 0);
  EXPECT_NE(a.st_ino, b.st_ino);
  // Nothing staged is left over.
  for (const auto& e : fs::recursive_directory_iterator(d.bdmv))
    EXPECT_EQ(e.path().filename().string().find(".veld-"), std::string::npos) << e.path();
}

TEST(CopyBackTest, AFileThatCannotBeStagedLeavesTheFolderAsItWas) {
  Disc d;
  // A folder in the way of BACKUP/CLIPINF: the folder cannot be made.
  test::write_file(d.bdmv / "BACKUP" / "CLIPINF", Bytes{1});
  std::map<std::string, Bytes> before;
  for (const auto& e : fs::recursive_directory_iterator(d.bdmv))
    if (e.is_regular_file()) before[e.path().string()] = test::read_file(e.path());
  test::RecordingMessenger m;
  EXPECT_EQ(CopyBack(d.files, d.bdmv, d.dir / "work" / "CopyBack.journal", m), 2);
  EXPECT_THAT(m.all_text(), testing::HasSubstr("BACKUP/CLIPINF"));
  std::map<std::string, Bytes> after;
  for (const auto& e : fs::recursive_directory_iterator(d.bdmv))
    if (e.is_regular_file()) after[e.path().string()] = test::read_file(e.path());
  EXPECT_EQ(after, before);
  // A missing new file: the same.
  Disc e;
  fs::remove(e.dir / "work" / "00007.mpls");
  EXPECT_EQ(CopyBack(e.files, e.bdmv, e.dir / "work" / "CopyBack.journal", m), 2);
  EXPECT_EQ(test::read_file(e.bdmv / "STREAM" / "00003.m2ts"), Bytes(6144, 1));
  EXPECT_FALSE(fs::exists(e.bdmv / "BACKUP" / "CLIPINF"));
}

TEST(CopyBackTest, NoJournalIsLeftBehind) {
  Disc d;
  const fs::path journal = d.dir / "work" / "CopyBack.journal";
  test::RecordingMessenger m;
  ASSERT_EQ(CopyBack(d.files, d.bdmv, journal, m), 0) << m.all_text();
  EXPECT_FALSE(fs::exists(journal));
  Disc e;
  fs::remove(e.dir / "work" / "00007.mpls");
  EXPECT_EQ(CopyBack(e.files, e.bdmv, e.dir / "work" / "CopyBack.journal", m), 2);
  EXPECT_FALSE(fs::exists(e.dir / "work" / "CopyBack.journal"));
  // A work folder that cannot take the journal: nothing in the BDMV folder changes.
  Disc f;
  const auto before = test::snapshot_tree(f.bdmv);
  test::RecordingMessenger n;
  EXPECT_EQ(CopyBack(f.files, f.bdmv, f.dir / "no-such-folder" / "CopyBack.journal", n), 2);
  EXPECT_THAT(n.all_text(), testing::HasSubstr("The journal of the copy-back cannot be written"));
  EXPECT_THAT(n.all_text(), testing::HasSubstr("No such file or directory"));
  EXPECT_EQ(test::snapshot_tree(f.bdmv), before);
}

TEST(CopyBackJournal, TextRoundTripAndDamage) {
  SCopyBackJournal j;
  j.state = SCopyBackJournal::State::kRenaming;
  j.bdmv = "/discs/100% sure/BDMV";
  j.folders = {"/discs/100% sure/BDMV/BACKUP", "/discs/100% sure/BDMV/BACKUP/CLIPINF"};
  j.items = {{"/discs/100% sure/BDMV/STREAM/00003.m2ts", true}, {"/discs/odd\nname\r/x.clpi", false}};
  const std::string text = CopyBackJournalText(j);
  EXPECT_EQ(text.find("100% "), std::string::npos) << text;
  EXPECT_NE(text.find("odd%0Aname%0D"), std::string::npos) << text;
  EXPECT_EQ(ReadCopyBackJournalText(text), j);
  j.state = SCopyBackJournal::State::kStaging;
  EXPECT_EQ(ReadCopyBackJournalText(CopyBackJournalText(j)), j);
  // A journal cut anywhere, or with a line it does not know, does not read.
  for (std::size_t n = 0; n + 1 < text.size(); ++n) EXPECT_FALSE(ReadCopyBackJournalText(text.substr(0, n))) << n;
  std::string other = text;
  other.replace(other.find("state renaming"), 14, "state finished");
  EXPECT_FALSE(ReadCopyBackJournalText(other));
  other = text;
  other.replace(other.find("%0A"), 3, "%0B");
  EXPECT_FALSE(ReadCopyBackJournalText(other));
}

// A copy-back stopped part of the way: the state a kill leaves, made by hand.
struct Interrupted {
  Disc d;
  fs::path work = d.dir / "work";
  SCopyBackJournal journal;
  std::map<std::string, Bytes> old_files, new_files;  // by target

  Interrupted() {
    journal.bdmv = d.bdmv;
    journal.folders = {d.bdmv / "BACKUP" / "CLIPINF"};
    for (const SCopyItem& item : CopyBackPlan(d.files, d.bdmv)) {
      journal.items.push_back({item.to, fs::exists(item.to)});
      if (fs::exists(item.to)) old_files[item.to.string()] = test::read_file(item.to);
      new_files[item.to.string()] = test::read_file(item.from);
    }
  }
  void stage_all() {
    fs::create_directories(d.bdmv / "BACKUP" / "CLIPINF");
    for (const auto& item : CopyBackPlan(d.files, d.bdmv)) fs::copy_file(item.from, StagedNewFile(item.to));
  }
  // Puts the first n staged files in place as the copy-back does (old kept aside); with half, the last of
  // them is stopped between moving the old file aside and renaming the new one in.
  void rename_first(std::size_t n, bool half) {
    for (std::size_t i = 0; i < n; ++i) {
      const fs::path& t = journal.items[i].target;
      if (fs::exists(t)) fs::rename(t, KeptOldFile(t));
      if (half && i + 1 == n) break;
      fs::rename(StagedNewFile(t), t);
    }
  }
  // The regular files below the BDMV folder with their bytes.
  std::map<std::string, Bytes> files() const {
    std::map<std::string, Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(d.bdmv))
      if (e.is_regular_file()) out[e.path().string()] = test::read_file(e.path());
    return out;
  }
  std::map<std::string, Bytes> expect(bool new_ones) const {
    std::map<std::string, Bytes> out = files_before;
    if (new_ones)
      for (const auto& [t, b] : new_files) out[t] = b;
    return out;
  }
  std::map<std::string, Bytes> files_before = files();
};

TEST(CopyBackJournal, InterruptedStagingIsUndone) {
  for (std::size_t staged = 0; staged <= 5; ++staged) {
    Interrupted s;
    ASSERT_TRUE(WriteCopyBackJournal(CopyBackJournalPath(s.work), s.journal, nullptr));
    fs::create_directories(s.d.bdmv / "BACKUP" / "CLIPINF");
    const auto plan = CopyBackPlan(s.d.files, s.d.bdmv);
    for (std::size_t i = 0; i < staged; ++i) fs::copy_file(plan[i].from, StagedNewFile(plan[i].to));
    if (staged > 0) test::write_file(StagedNewFile(plan[staged - 1].to), Bytes(7, 9));  // cut short
    test::RecordingMessenger m;
    EXPECT_EQ(RecoverInterruptedCopyBack(s.work, m), 0) << m.all_text();
    EXPECT_EQ(s.files(), s.expect(false)) << staged;
    EXPECT_FALSE(fs::exists(s.d.bdmv / "BACKUP" / "CLIPINF")) << staged;
    EXPECT_FALSE(fs::exists(CopyBackJournalPath(s.work)));
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.shown[0].kind, MessageKind::kWarning);
    EXPECT_THAT(m.shown[0].text, testing::HasSubstr("has been undone"));
    EXPECT_THAT(m.shown[0].text, testing::HasSubstr(s.d.bdmv.string()));
  }
}

TEST(CopyBackJournal, InterruptedRenamingIsFinished) {
  for (std::size_t done = 0; done <= 5; ++done) {
    for (bool half : {false, true}) {
      if (half && done == 0) continue;
      Interrupted s;
      s.stage_all();
      s.journal.state = SCopyBackJournal::State::kRenaming;
      ASSERT_TRUE(WriteCopyBackJournal(CopyBackJournalPath(s.work), s.journal, nullptr));
      s.rename_first(done, half);
      test::RecordingMessenger m;
      EXPECT_EQ(RecoverInterruptedCopyBack(s.work, m), 0) << m.all_text();
      EXPECT_EQ(s.files(), s.expect(true)) << done << half;
      EXPECT_FALSE(fs::exists(CopyBackJournalPath(s.work)));
      ASSERT_EQ(m.shown.size(), 1u);
      EXPECT_THAT(m.shown[0].text, testing::HasSubstr("has been finished"));
      // A second look finds nothing to do.
      test::RecordingMessenger again;
      EXPECT_EQ(RecoverInterruptedCopyBack(s.work, again), 0);
      EXPECT_TRUE(again.shown.empty());
    }
  }
}

TEST(CopyBackJournal, DamagedJournalStopsTheCommand) {
  Interrupted s;
  test::write_file(CopyBackJournalPath(s.work), Bytes{'x', '\n'});
  test::RecordingMessenger m;
  EXPECT_EQ(RecoverInterruptedCopyBack(s.work, m), 2);
  EXPECT_THAT(m.all_text(), testing::HasSubstr("is damaged"));
  EXPECT_TRUE(fs::exists(CopyBackJournalPath(s.work)));
  EXPECT_EQ(s.files(), s.expect(false));
}

TEST(CopyBackTest, PlanAndRoom) {
  Disc d;
  const auto plan = CopyBackPlan(d.files, d.bdmv);
  ASSERT_EQ(plan.size(), 5u);
  EXPECT_EQ(plan[0].to, d.bdmv / "STREAM" / "00003.m2ts");
  EXPECT_TRUE(plan[0].link);
  EXPECT_EQ(plan[2].to, d.bdmv / "BACKUP" / "CLIPINF" / "00003.clpi");
  EXPECT_EQ(plan[4].to, d.bdmv / "BACKUP" / "PLAYLIST" / "00007.mpls");
  // On one file system the linked clip stream needs no room; the small files do.
  const auto room = CopyBackRoom(plan);
  ASSERT_EQ(room.size(), 1u);
  EXPECT_EQ(room[0].needed, 2 * 120u + 2 * 60u);
  EXPECT_GT(room[0].free, 0u);
}

}  // namespace
}  // namespace veld
