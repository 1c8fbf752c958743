// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction writes into a staging folder beside the image folder and swaps it in only when it is
// complete: the earlier pictures (edited ones included) survive every run that does not complete.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/pipeline/extract.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::RecordingMessenger;
using test::RecordingProgress;

class ExtractStaging : public ::testing::Test {
 protected:
  void SetUp() override {
    set_language(Language::kEnglish);
    fs::copy(test::test_discs_dir() / "menu" / "BDMV", bdmv, fs::copy_options::recursive);
    fs::create_directories(work);
  }
  void TearDown() override { reset_language(); }

  int Extract(RecordingProgress& progress, RecordingMessenger& messenger, bool* found_out = nullptr) {
    bool found = false;
    const int r = ExtractButtonImages(names, bdmv, images, found, progress, messenger);
    if (found_out) *found_out = found;
    return r;
  }

  // A first extraction, then one picture edited (new content, written after the marker).
  void ExtractAndEdit() {
    RecordingProgress progress;
    RecordingMessenger messenger;
    ASSERT_EQ(Extract(progress, messenger), kResultOk) << messenger.all_text();
    edited = images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif";  // object 1
    ASSERT_TRUE(fs::exists(edited));
    test::write_file(edited, test::hex_bytes("47 49 46 38 39 61 65 64 69 74"));
    fs::last_write_time(edited, fs::last_write_time(images / "VELD.rip") + std::chrono::seconds(10));
  }

  void ExpectNoStagingLeft() {
    EXPECT_FALSE(fs::exists(work / "Images.new"));
    EXPECT_FALSE(fs::exists(work / "Images.old"));
  }

  const SOutputNames names;
  test::TempDir dir;
  fs::path bdmv = dir / "BDMV";
  fs::path work = dir / "VELD";
  fs::path images = work / "Images";
  fs::path edited;
};

TEST_F(ExtractStaging, StagingAndAsideFoldersLieBesideTheImageFolder) {
  EXPECT_EQ(StagingFolder("/w/VELD/Images"), fs::path("/w/VELD/Images.new"));
  EXPECT_EQ(StagingFolder("/w/VELD/Images/"), fs::path("/w/VELD/Images.new"));
  EXPECT_EQ(AsideFolder("/w/VELD/Images"), fs::path("/w/VELD/Images.old"));
  EXPECT_EQ(AsideFolder("/w/VELD/Images/"), fs::path("/w/VELD/Images.old"));
}

TEST_F(ExtractStaging, FirstExtractionMakesTheImageFolder) {
  RecordingProgress progress;
  RecordingMessenger messenger;
  bool found = false;
  ASSERT_EQ(Extract(progress, messenger, &found), kResultOk) << messenger.all_text();
  EXPECT_TRUE(found);
  EXPECT_TRUE(fs::is_regular_file(images / "VELD.rip"));
  EXPECT_TRUE(fs::is_regular_file(images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif"));
  EXPECT_EQ(CountEditedImages(work, names), 0);
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, CompletedReextractionReplacesEveryEarlierPicture) {
  ExtractAndEdit();
  test::write_file(images / "00000" / "stale.gif", test::hex_bytes("00"));
  const auto old_marker = fs::last_write_time(images / "VELD.rip");
  RecordingProgress progress;
  RecordingMessenger messenger;
  ASSERT_EQ(Extract(progress, messenger), kResultOk) << messenger.all_text();
  EXPECT_TRUE(messenger.shown.empty()) << messenger.all_text();
  EXPECT_FALSE(fs::exists(images / "00000" / "stale.gif"));
  EXPECT_NE(test::read_file(edited), test::hex_bytes("47 49 46 38 39 61 65 64 69 74"));
  EXPECT_GE(fs::last_write_time(images / "VELD.rip"), old_marker);
  EXPECT_EQ(CountEditedImages(work, names), 0);
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, CancelledReextractionLeavesTheEarlierPicturesAsTheyWere) {
  ExtractAndEdit();
  const test::TreeSnapshot before = test::snapshot_tree(images);
  RecordingProgress progress;
  progress.cancel_after = 1;
  RecordingMessenger messenger;
  EXPECT_EQ(Extract(progress, messenger), kResultCancelled);
  EXPECT_EQ(test::snapshot_tree(images), before);
  EXPECT_EQ(CountEditedImages(work, names), 1);
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, FailedReextractionLeavesTheEarlierPicturesAsTheyWere) {
  ExtractAndEdit();
  const test::TreeSnapshot before = test::snapshot_tree(images);
  // The menu clip loses its PMT: the run fails when it reads the clip.
  const fs::path m2ts = bdmv / "STREAM" / "00000.m2ts";
  test::write_file(m2ts, ByteSpan(test::read_file(m2ts)).first(192));
  RecordingProgress progress;
  RecordingMessenger messenger;
  EXPECT_EQ(Extract(progress, messenger), kResultFailed);
  EXPECT_THAT(messenger.all_text(), HasSubstr("00000.m2ts"));
  EXPECT_EQ(test::snapshot_tree(images), before);
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, DiscWithoutMenuStreamLeavesTheEarlierPicturesAsTheyWere) {
  ExtractAndEdit();
  const test::TreeSnapshot before = test::snapshot_tree(images);
  fs::remove(bdmv / "PLAYLIST" / "00000.mpls");  // only the main clip, which has no IG stream, is left
  RecordingProgress progress;
  RecordingMessenger messenger;
  bool found = true;
  EXPECT_EQ(Extract(progress, messenger, &found), kResultOk);
  EXPECT_FALSE(found);
  EXPECT_EQ(test::snapshot_tree(images), before);
  ExpectNoStagingLeft();
  // Into a fresh work folder no image folder is made.
  fs::remove_all(images);
  found = true;
  EXPECT_EQ(Extract(progress, messenger, &found), kResultOk);
  EXPECT_FALSE(found);
  EXPECT_FALSE(fs::exists(images));
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, StagingLeftByAKilledRunIsDiscarded) {
  test::write_file(work / "Images.new" / "00000" / "junk.gif", test::hex_bytes("00"));
  RecordingProgress progress;
  RecordingMessenger messenger;
  ASSERT_EQ(Extract(progress, messenger), kResultOk) << messenger.all_text();
  EXPECT_FALSE(fs::exists(images / "00000" / "junk.gif"));
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, SwapInterruptedBetweenItsRenamesIsUndone) {
  ExtractAndEdit();
  const test::TreeSnapshot before = test::snapshot_tree(images);
  // The earlier pictures were moved aside, then the run ended before the new ones were moved in.
  fs::rename(images, work / "Images.old");
  RestoreInterruptedSwap(images);
  EXPECT_EQ(test::snapshot_tree(images), before);
  ExpectNoStagingLeft();
  // With an image folder in place the aside folder is not touched.
  fs::create_directory(work / "Images.old");
  RestoreInterruptedSwap(images);
  EXPECT_EQ(test::snapshot_tree(images), before);
  EXPECT_TRUE(fs::exists(work / "Images.old"));
  // A cancelled run restores it too before it starts.
  fs::remove(work / "Images.old");
  fs::rename(images, work / "Images.old");
  RecordingProgress progress;
  progress.cancel_after = 1;
  RecordingMessenger messenger;
  EXPECT_EQ(Extract(progress, messenger), kResultCancelled);
  EXPECT_EQ(test::snapshot_tree(images), before);
  ExpectNoStagingLeft();
}

TEST_F(ExtractStaging, EarlierPicturesAreDeletedWithoutChangingModes) {
  ExtractAndEdit();
  const fs::path ds = images / "00000" / "5120" / "Epoch1" / "DS1";
  fs::permissions(edited, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const fs::perms read_only_folder = fs::perms::owner_read | fs::perms::owner_exec;
  fs::permissions(ds, read_only_folder);
  RecordingProgress progress;
  RecordingMessenger messenger;
  ASSERT_EQ(Extract(progress, messenger), kResultOk) << messenger.all_text();
  EXPECT_FALSE(fs::exists(work / "Images.new"));
  EXPECT_EQ(fs::status(images / "00000" / "5120" / "Epoch1" / "DS1").permissions() & fs::perms::owner_write,
            fs::perms::owner_write);  // the new pictures are in place
  if (::geteuid() == 0) {
    // The system lets root delete anything: the earlier pictures are gone.
    EXPECT_FALSE(fs::exists(work / "Images.old"));
    EXPECT_TRUE(messenger.shown.empty()) << messenger.all_text();
    return;
  }
  // A folder the system refuses to empty stays as it is, and a warning names it.
  const fs::path left = work / "Images.old" / "00000" / "5120" / "Epoch1" / "DS1";
  ASSERT_EQ(messenger.shown.size(), 1u) << messenger.all_text();
  EXPECT_EQ(messenger.shown[0].kind, MessageKind::kWarning);
  EXPECT_THAT(messenger.shown[0].text, HasSubstr((work / "Images.old").string()));
  EXPECT_EQ(fs::status(left).permissions(), read_only_folder);
  EXPECT_EQ(fs::status(left / "0002.gif").permissions(),
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// Without a manifest, pictures written after the marker are the edited ones, as the replacement takes
// them; without a marker every picture counts.
TEST_F(ExtractStaging, CountsThePicturesEditedSinceTheMarker) {
  EXPECT_EQ(CountEditedImages(work, names), 0);  // no image folder
  RecordingProgress progress;
  RecordingMessenger messenger;
  ASSERT_EQ(Extract(progress, messenger), kResultOk) << messenger.all_text();
  std::vector<fs::path> pictures;
  for (const auto& e : fs::recursive_directory_iterator(images))
    if (e.path().extension() == ".gif") pictures.push_back(e.path());
  ASSERT_GE(pictures.size(), 3u);
  // A work folder without manifest: the marker's time decides, to the nanosecond.
  fs::remove(images / "VELD.manifest");
  // The marker early in a second, so that a picture written later in the same second can be tried.
  const auto marker_time =
      std::chrono::floor<std::chrono::seconds>(fs::last_write_time(images / "VELD.rip")) + std::chrono::microseconds(1);
  fs::last_write_time(images / "VELD.rip", marker_time);
  struct Case {
    const char* what;
    std::vector<std::pair<fs::path, int>> newer;  // file, milliseconds after the marker
    int expected;
  };
  const fs::path note = images / "notes.txt";
  const fs::path png = pictures[2].parent_path() / "0099.png";  // a PNG beside the GIFs
  test::write_file(note, test::hex_bytes("00"));
  test::write_file(png, test::hex_bytes("00"));
  const std::vector<Case> cases = {
      {"none newer", {}, 0},
      {"later within the marker's second", {{pictures[0], 900}}, 1},
      {"one picture", {{pictures[0], 1000}}, 1},
      {"two pictures", {{pictures[0], 1000}, {pictures[2], 3600000}}, 2},
      {"a note is no picture", {{note, 5000}}, 0},
      {"a PNG of an object is", {{pictures[1], 2000}, {png, 2000}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const fs::path& p : pictures) fs::last_write_time(p, marker_time);
    fs::last_write_time(note, marker_time);
    fs::last_write_time(png, marker_time);
    for (const auto& [p, ms] : c.newer) fs::last_write_time(p, marker_time + std::chrono::milliseconds(ms));
    EXPECT_EQ(CountEditedImages(work, names), c.expected);
  }
  fs::remove(images / "VELD.rip");
  EXPECT_EQ(CountEditedImages(work, names), static_cast<int>(pictures.size()) + 1);  // the PNG too
}

}  // namespace
}  // namespace veld
