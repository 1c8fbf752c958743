// SPDX-License-Identifier: GPL-3.0-or-later
// Commands on a disk that fills up: the shim of tests/fault lets a run write N bytes in all and then fails
// every write with ENOSPC. For N on a grid over what a whole run writes, every run of extract, replace and
// replace with copy-back must end with status 2 and the system's text, leave no partial output, and leave
// the BDMV folder as it was (after a failed copy-back: every old file, nothing staged, no journal).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/fault_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using test::RunResult;

constexpr const char* kFullDisk = "No space left on device";
// The smallest generated disc: one clip of 320 KB with a pop-up menu.
constexpr const char* kVariant = "popup";
const fs::path kPicture = fs::path("00000") / "5120" / "Epoch1" / "DS1" / "0003.gif";

struct FullDiskTest : ::testing::Test {
  test::TempDir dir;
  fs::path disc = dir / "disc";
  fs::path rip = dir / "rip";
  fs::path work = rip / "VELD";

  void SetUp() override { test::copy_disc(test::test_discs_dir() / kVariant, disc); }
  std::string bdmv() const { return (disc / "BDMV").string(); }
  // Extracts without a limit and edits one picture.
  void extract_and_edit() {
    const RunResult r = test::run_veld({"extract", bdmv(), rip.string()}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    test::edit_picture_pixels(work / "Images" / kPicture, work / "Images" / "VELD.rip");
  }
};

TEST_F(FullDiskTest, ExtractFailsCleanlyAtEveryPoint) {
  const auto disc_before = test::snapshot_tree(disc);
  long long total = 0;
  const RunResult whole = test::run_veld_on_disk({"extract", bdmv(), (dir / "measure").string()}, dir.path(), -1, &total);
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_GT(total, 1000);
  for (const long long limit : test::limit_grid(0, total, 16)) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(total));
    const fs::path out = dir / ("rip" + std::to_string(limit));
    const RunResult r = test::run_veld_on_disk({"extract", bdmv(), out.string()}, dir.path(), limit);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr(kFullDisk));
    // The folders the run made are gone with everything in them.
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_EQ(test::snapshot_tree(disc), disc_before);
}

TEST_F(FullDiskTest, FailedReextractionKeepsTheEarlierPictures) {
  extract_and_edit();
  const auto work_before = test::snapshot_tree(work);
  long long total = 0;
  const RunResult whole = test::run_veld_on_disk({"extract", bdmv(), (dir / "measure").string()}, dir.path(), -1, &total);
  ASSERT_EQ(whole.status, 0) << whole.err;
  for (const long long limit : test::limit_grid(0, total, 4)) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(total));
    const RunResult r = test::run_veld_on_disk({"extract", bdmv(), rip.string(), "--yes"}, dir.path(), limit);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr(kFullDisk));
    EXPECT_EQ(test::snapshot_tree(work), work_before);
  }
}

TEST_F(FullDiskTest, ReplaceFailsCleanlyAtEveryPoint) {
  extract_and_edit();
  const auto disc_before = test::snapshot_tree(disc);
  const auto images_before = test::snapshot_tree(work / "Images");
  long long total = 0;
  const RunResult whole = test::run_veld_on_disk({"replace", bdmv(), work.string(), "--no-copy-back"}, dir.path(), -1,
                                                 &total);
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_THAT(whole.out, HasSubstr("clips remultiplexed: 1"));
  // The files of a whole run; the stream-information cache holds the time of its stream file, so only its
  // size is compared.
  std::map<std::string, std::string> complete;
  for (const char* sub : {"Stream", "Igs"}) {
    for (const auto& e : fs::directory_iterator(work / sub)) {
      const std::string key = std::string(sub) + "/" + e.path().filename().string();
      complete[key] = e.path().extension() == ".rsif" ? std::to_string(fs::file_size(e.path()))
                                                      : test::sha256_hex(test::read_file(e.path()));
    }
  }
  ASSERT_EQ(complete.size(), 4u);  // clip stream and clip information, .ig and its cache: no playlist in place
  for (const long long limit : test::limit_grid(0, total, 16)) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(total));
    const RunResult r = test::run_veld_on_disk({"replace", bdmv(), work.string(), "--no-copy-back"}, dir.path(), limit);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr(kFullDisk));
    // What is left is whole: no file of the run is cut short.
    for (const char* sub : {"Stream", "Igs"}) {
      for (const auto& e : fs::directory_iterator(work / sub)) {
        const std::string key = std::string(sub) + "/" + e.path().filename().string();
        ASSERT_TRUE(complete.count(key)) << key;
        EXPECT_EQ(e.path().extension() == ".rsif" ? std::to_string(fs::file_size(e.path()))
                                                  : test::sha256_hex(test::read_file(e.path())),
                  complete[key])
            << key << " is a partial file";
      }
    }
    EXPECT_EQ(test::snapshot_tree(work / "Images"), images_before);
  }
  EXPECT_EQ(test::snapshot_tree(disc), disc_before);
}

TEST_F(FullDiskTest, FailedCopyBackLeavesEveryOldFile) {
  extract_and_edit();
  const auto old_tree = test::tree_content(disc);
  const fs::path pristine = dir / "pristine";
  test::copy_disc(disc, pristine);
  // Each run starts from the old disc at the same path (the journal names the files, so its size depends
  // on the path).
  const auto reset_disc = [&] {
    fs::remove_all(disc);
    test::copy_disc(pristine, disc);
  };
  long long replace_bytes = 0, total = 0;
  RunResult r = test::run_veld_on_disk({"replace", bdmv(), work.string(), "--no-copy-back"}, dir.path(), -1,
                                       &replace_bytes);
  ASSERT_EQ(r.status, 0) << r.err;
  r = test::run_veld_on_disk({"replace", bdmv(), work.string(), "--copy-back"}, dir.path(), -1, &total);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_NE(test::tree_content(disc), old_tree);
  ASSERT_GT(total, replace_bytes);
  // Most points fall into the copy-back (the journal, the copies of the clip information and playlist),
  // a few into the replacement before it.
  std::vector<long long> limits = test::limit_grid(replace_bytes, total, 12);
  for (long long v : {replace_bytes / 3, replace_bytes - 1}) limits.push_back(v);
  for (const long long limit : limits) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(total));
    reset_disc();
    const RunResult run = test::run_veld_on_disk({"replace", bdmv(), work.string(), "--copy-back"}, dir.path(), limit);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(kFullDisk));
    if (limit >= replace_bytes) {
      EXPECT_THAT(run.err, AnyOf(HasSubstr("cannot be replaced"), HasSubstr("journal of the copy-back"),
                                 HasSubstr("replaced files cannot be kept")));
      EXPECT_THAT(run.err, HasSubstr("replace them by hand"));
    }
    EXPECT_EQ(test::tree_content(disc), old_tree);
    EXPECT_FALSE(fs::exists(work / "CopyBack.journal"));
  }
}

}  // namespace
}  // namespace veld
