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
  ASSERT_EQ(CopyBack(d.files, d.bdmv, m), 0) << m.all_text();
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
  EXPECT_EQ(CopyBack(d.files, d.bdmv, m), 2);
  EXPECT_THAT(m.all_text(), testing::HasSubstr("BACKUP/CLIPINF"));
  std::map<std::string, Bytes> after;
  for (const auto& e : fs::recursive_directory_iterator(d.bdmv))
    if (e.is_regular_file()) after[e.path().string()] = test::read_file(e.path());
  EXPECT_EQ(after, before);
  // A missing new file: the same.
  Disc e;
  fs::remove(e.dir / "work" / "00007.mpls");
  EXPECT_EQ(CopyBack(e.files, e.bdmv, m), 2);
  EXPECT_EQ(test::read_file(e.bdmv / "STREAM" / "00003.m2ts"), Bytes(6144, 1));
  EXPECT_FALSE(fs::exists(e.bdmv / "BACKUP" / "CLIPINF"));
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
