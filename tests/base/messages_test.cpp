#include "veld/base/messages.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace veld
