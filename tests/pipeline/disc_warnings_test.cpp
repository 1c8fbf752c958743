// SPDX-License-Identifier: GPL-3.0-or-later
// Warnings every command gives about a damaged disc: a clip stream cut short (extract, show and
// replace), and a disc file that differs from its BACKUP copy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/pipeline/disc_warnings.h"
#include "veld/pipeline/extract.h"
#include "veld/pipeline/replace.h"
#include "veld/pipeline/show.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using test::RecordingMessenger;
using test::RecordingProgress;

class DiscWarnings : public ::testing::Test {
 protected:
  void SetUp() override {
    set_language(Language::kEnglish);
    fs::copy(test::test_discs_dir() / "menu" / "BDMV", bdmv, fs::copy_options::recursive);
  }
  void TearDown() override { reset_language(); }

  // Extracts into a fresh work folder; the number of pictures written, 0 when the run failed (a cut
  // before the first whole display set is an error).
  int Extract(RecordingMessenger& messenger) {
    fs::remove_all(work);
    fs::create_directories(work);
    RecordingProgress progress;
    bool found = false;
    ExtractStats stats;
    const int r = ExtractButtonImages(names, bdmv, work / "Images", found, progress, messenger, &stats);
    return r == kResultOk ? stats.images : 0;
  }

  // Cuts the menu clip's stream file to fraction of its whole source packets.
  void Cut(double fraction) {
    const Bytes whole = test::read_file(clip);
    const std::size_t packets = static_cast<std::size_t>(static_cast<double>(whole.size() / 192) * fraction);
    test::write_file(clip, ByteSpan(whole.data(), packets * 192));
    cut_packets = packets;
  }

  std::string ShortClipText() const {
    return fmt::format("{} is shorter than its clip information", clip.string());
  }

  const SOutputNames names;
  test::TempDir dir;
  fs::path bdmv = dir / "BDMV";
  fs::path work = dir / "VELD";
  fs::path clip = bdmv / "STREAM" / "00000.m2ts";
  std::size_t cut_packets = 0;
};

TEST_F(DiscWarnings, IntactDiscGivesNoWarning) {
  RecordingMessenger messenger;
  EXPECT_GT(Extract(messenger), 0);
  EXPECT_TRUE(messenger.shown.empty()) << messenger.all_text();
}

TEST_F(DiscWarnings, ClipCutShortWarnsWheneverPicturesAreMissing) {
  RecordingMessenger intact;
  const int all_pictures = Extract(intact);
  const Bytes whole = test::read_file(clip);
  int missing_cases = 0;
  for (const double fraction : {0.25, 0.35, 0.45, 0.55, 0.75}) {
    test::write_file(clip, whole);
    Cut(fraction);
    RecordingMessenger messenger;
    const int pictures = Extract(messenger);
    const std::string text = messenger.all_text();
    if (pictures < all_pictures) ++missing_cases;
    // The clip information counts every packet of the whole clip, so every cut is named, with the
    // packets expected and found.
    EXPECT_THAT(text, HasSubstr(ShortClipText())) << fraction;
    EXPECT_THAT(text, HasSubstr(fmt::format("{} source packets expected, {} found", whole.size() / 192,
                                            cut_packets)))
        << fraction;
    EXPECT_THAT(text, HasSubstr("00000.clpi")) << fraction;
  }
  EXPECT_GT(missing_cases, 0) << "no cut lost a picture: the test shows nothing";
}

TEST_F(DiscWarnings, ShowAndReplaceNameTheShortClip) {
  RecordingMessenger intact;
  ASSERT_GT(Extract(intact), 0);
  Cut(0.45);
  {
    RecordingMessenger messenger;
    RecordingProgress progress;
    SMenuReport report;
    BuildMenuReport(bdmv, report, progress, messenger);
    EXPECT_THAT(messenger.all_text(), HasSubstr(ShortClipText()));
  }
  RecordingMessenger messenger;
  RecordingProgress progress;
  SReplacedFiles files;
  bool edited = false;
  ReplaceButtonImages(files, edited, names, bdmv, work, ReplaceOptions{}, progress, messenger);
  EXPECT_THAT(messenger.all_text(), HasSubstr(ShortClipText()));
}

TEST_F(DiscWarnings, FileDifferingFromBackupIsNamedWithTheOffset) {
  const fs::path backup = bdmv / "BACKUP" / "CLIPINF" / "00000.clpi";
  const fs::path playlist_backup = bdmv / "BACKUP" / "PLAYLIST" / "00000.mpls";
  ASSERT_TRUE(fs::exists(backup));
  ASSERT_TRUE(fs::exists(playlist_backup));
  EXPECT_TRUE(BackupDifferenceWarnings(bdmv).empty());
  Bytes b = test::read_file(backup);
  ASSERT_GT(b.size(), 40u);
  b[37] ^= 0x01;
  test::write_file(backup, b);
  Bytes p = test::read_file(playlist_backup);
  p.pop_back();  // a prefix of the disc's file: differs at the backup's end
  test::write_file(playlist_backup, p);
  const std::vector<std::string> warnings = BackupDifferenceWarnings(bdmv);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], fmt::format("{} differs from its backup copy {}; the first differing byte is at offset {}",
                                     (bdmv / "PLAYLIST" / "00000.mpls").string(), playlist_backup.string(),
                                     p.size()));
  EXPECT_EQ(warnings[1], fmt::format("{} differs from its backup copy {}; the first differing byte is at offset 37",
                                     (bdmv / "CLIPINF" / "00000.clpi").string(), backup.string()));
  // Extract and replace both say it.
  RecordingMessenger messenger;
  Extract(messenger);
  EXPECT_THAT(messenger.all_text(), HasSubstr("offset 37"));
  RecordingMessenger replace_messenger;
  RecordingProgress progress;
  SReplacedFiles files;
  bool edited = false;
  ReplaceButtonImages(files, edited, names, bdmv, work, ReplaceOptions{}, progress, replace_messenger);
  EXPECT_THAT(replace_messenger.all_text(), HasSubstr("offset 37"));
  EXPECT_THAT(replace_messenger.all_text(), Not(HasSubstr("is shorter than")));
}

}  // namespace
}  // namespace veld
