// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/shell.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/base/messages.h"

namespace veld {
namespace {

using ::testing::ElementsAre;

struct NameCase {
  const char* folder;
  const char* name;
  bool match;
};

TEST(Shell, FolderNameIsTheLastComponentIgnoringCase) {
  const NameCase cases[] = {
      {"/media/disc/BDMV", "BDMV", true},
      {"/media/disc/bdmv", "BDMV", true},
      {"/media/disc/BdMv/", "BDMV", true},
      {"/media/disc/BDMV//", "BDMV", true},
      {"BDMV", "BDMV", true},
      {"/home/u/work/VELD", "VELD", true},
      {"/home/u/work/veld/", "VELD", true},
      {"/media/disc/BDMV/STREAM", "BDMV", false},
      {"/media/disc/BDMV2", "BDMV", false},
      {"/media/disc/XBDMV", "BDMV", false},
      {"/media/disc", "BDMV", false},
      {"/", "BDMV", false},
      {"", "BDMV", false},
      {"/BDMV", "VELD", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FolderNameIs(c.folder, c.name), c.match) << c.folder << " vs " << c.name;
  }
}

TEST(Shell, RememberedFoldersEndInOneSeparator) {
  EXPECT_EQ(WithTrailingSeparator("/home/u/work"), "/home/u/work/");
  EXPECT_EQ(WithTrailingSeparator("/home/u/work/"), "/home/u/work/");
  EXPECT_EQ(WithTrailingSeparator(""), "");
}

TEST(Shell, AnEmptySourceGivesMessage1020) {
  set_language(Language::kChinese);
  test::RecordingMessenger m;
  EXPECT_FALSE(CheckSourceSet("", m));
  EXPECT_TRUE(CheckSourceSet("/media/disc/BDMV", m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].kind, MessageKind::kError);
  EXPECT_EQ(m.shown[0].text, "没有设置BDMV路径 ! ");
  reset_language();
}

TEST(Shell, AWorkFolderWithoutImagesGivesMessage1021) {
  set_language(Language::kEnglish);
  test::TempDir tmp;
  const auto work = tmp / "VELD";
  std::filesystem::create_directories(work);
  test::RecordingMessenger m;
  EXPECT_FALSE(CheckImageFolder(work, m));
  // A file named Images is no image folder either.
  test::write_file(work / "Images", Bytes{});
  EXPECT_FALSE(CheckImageFolder(work, m));
  std::filesystem::remove(work / "Images");
  std::filesystem::create_directories(work / "Images");
  EXPECT_TRUE(CheckImageFolder(work, m));
  ASSERT_EQ(m.shown.size(), 2u);
  EXPECT_EQ(m.shown[0].text, "No image folder set ! ");
  EXPECT_TRUE(m.asked.empty());
  reset_language();
}

TEST(Shell, LanguageCodesAreThreeKnownLetters) {
  struct Case {
    const char* code;
    bool known;
  };
  const Case cases[] = {{"eng", true}, {"fra", true}, {"zho", true}, {"chi", true}, {"ger", true}, {"en", false},
                        {"engl", false}, {"ENG", false}, {"xqz", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(IsLanguageCode(c.code), c.known) << c.code;

  set_language(Language::kEnglish);
  test::RecordingMessenger m;
  EXPECT_TRUE(CheckIgLanguage("", m));  // empty keeps each stream's own
  EXPECT_TRUE(CheckIgLanguage("deu", m));
  EXPECT_FALSE(CheckIgLanguage("de", m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, "de\nis not a three-letter ISO 639-2 language code ! ");
  reset_language();
}

TEST(Shell, PlainTextHasOneKindOfLineBreakAndNoTrailingBlanks) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"a\r\nb", "a\nb"},
      {"a\n\rb", "a\nb"},
      {"a\rb", "a\nb"},
      {"No image folder set ! ", "No image folder set !"},
      {"x\r\n", "x"},
      {"done ! \r\nAt: /a b", "done !\nAt: /a b"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(plain_text(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace veld
