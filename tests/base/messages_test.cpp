// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veld {
namespace {

TEST(Messages, LocaleChoosesTheLanguage) {
  EXPECT_EQ(language_from_locale("", "", "zh_CN.UTF-8"), Language::kChinese);
  EXPECT_EQ(language_from_locale("", "", "en_US.UTF-8"), Language::kEnglish);
  EXPECT_EQ(language_from_locale("", "", ""), Language::kEnglish);
  // LC_ALL wins over LC_MESSAGES, which wins over LANG.
  EXPECT_EQ(language_from_locale("C", "zh_TW", "zh_CN"), Language::kEnglish);
  EXPECT_EQ(language_from_locale("", "zh_TW.UTF-8", "en_GB"), Language::kChinese);
  EXPECT_EQ(language_from_locale("zh_CN", "en_US", ""), Language::kChinese);
}

TEST(Messages, TextsComeInBothLanguagesAndFormat) {
  set_language(Language::kEnglish);
  EXPECT_EQ(format_message(kMsgParseError, "/d/BDMV/index.bdmv"),
            "Error while analysing the file:\n/d/BDMV/index.bdmv");
  EXPECT_EQ(message_text(kMsgImageNot256), "%s\r\nMust be 256 color ! ");
  EXPECT_EQ(message_text(kMsgWrongM2ts), "Wrong m2ts file format ! ");
  set_language(Language::kChinese);
  EXPECT_EQ(format_message(kMsgParseError, "x"), "分析文件出错:\nx");
  EXPECT_EQ(format_message(kMsgNoClipStream, "/s/00001.m2ts"), "/s/00001.m2ts\n没有找到对应的素材(*.m2ts)文件");
  EXPECT_EQ(message_text(kMsgNoIgStream), "指定BDMV下,没有菜单流(IG) ! ");
  reset_language();
  EXPECT_EQ(message_text(123456, Language::kEnglish), "#123456");
  // Every catalogued id has a distinct, non-empty text in both languages.
  for (int id : {1020, 1021, 1022, 1023, 1024, 1025, 1031, 1032, 1033, 5071, 5072, 5073, 5074, 5086, 5087}) {
    EXPECT_NE(message_text(id, Language::kEnglish), message_text(id, Language::kChinese)) << id;
    EXPECT_NE(message_text(id, Language::kEnglish).front(), '#') << id;
  }
}

// The placeholders of a text in order ("%s", "%d"), which both languages must share.
std::string Placeholders(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '%') out += text.substr(i, 2), ++i;
  }
  return out;
}

TEST(Messages, TextsOfTheExtractCommandAndTheCommandLineComeInBothLanguages) {
  std::vector<int> ids = {kMsgFolderExists, kMsgFolderExistsEdited, kMsgNoRipFolder, kMsgIsFileNotBdmv,
                          kMsgNotBdmvFolder, kMsgBdmvFolderHint, kMsgDidYouMean, kMsgRipInsideSource,
                          kMsgSourceInsideWork, kMsgUsingBackup, kMsgOldImagesLeft};
  for (int id = kCliAbout; id <= kCliReplaceSummary; ++id) {
    if (message_text(id, Language::kEnglish).front() != '#') ids.push_back(id);
  }
  EXPECT_EQ(ids.size(), 11u + 41u);  // every text of the command line is catalogued
  for (int id : ids) {
    const std::string_view en = message_text(id, Language::kEnglish), zh = message_text(id, Language::kChinese);
    EXPECT_NE(en.front(), '#') << id;
    EXPECT_NE(en, zh) << id;
    EXPECT_EQ(Placeholders(en), Placeholders(zh)) << id;
  }
  set_language(Language::kEnglish);
  EXPECT_EQ(format_message(kMsgFolderExistsEdited, "/w/VELD/", 3),
            "/w/VELD/\n exists; 3 of its pictures were edited after the last extraction and will be replaced. "
            "Overwrite ? ");
  set_language(Language::kChinese);
  EXPECT_EQ(format_message(kMsgFolderExistsEdited, "/w/VELD/", 3),
            "/w/VELD/\n 已经存在,其中 3 张图片在上次提取后修改过,将被替换。覆盖 ? ");
  reset_language();
}

}  // namespace
}  // namespace veld
