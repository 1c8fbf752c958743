// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/folders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/base/path_line.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(EnsureFolder, CreatesMissingFoldersAndAsksBeforeReuse) {
  test::TempDir dir;
  test::RecordingMessenger m;
  set_language(Language::kEnglish);
  EXPECT_TRUE(EnsureFolder(dir / "a" / "b", &m));
  EXPECT_TRUE(fs::is_directory(dir / "a" / "b"));
  EXPECT_TRUE(m.asked.empty());

  // Existing folder: asked; No and Cancel refuse, Yes accepts.
  m.answers = {Answer::kNo, Answer::kCancel, Answer::kYes};
  EXPECT_FALSE(EnsureFolder(dir / "a", &m));
  EXPECT_FALSE(EnsureFolder(dir / "a", &m));
  EXPECT_TRUE(EnsureFolder(dir / "a", &m));
  ASSERT_EQ(m.asked.size(), 3u);
  EXPECT_THAT(m.asked[0], HasSubstr("exists, overwrite ? "));
  // Without a messenger an existing folder is simply accepted.
  EXPECT_TRUE(EnsureFolder(dir / "a", nullptr));

  // A folder that cannot be made: message with the path, or silence without a messenger.
  test::write_file(dir / "file", test::hex_bytes("00"));
  EXPECT_FALSE(EnsureFolder(dir / "file" / "sub", &m));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_THAT(m.shown[0].text, HasSubstr("Can't create "));
  EXPECT_THAT(m.shown[0].text, HasSubstr("file/sub"));
  EXPECT_FALSE(EnsureFolder(dir / "file" / "sub", nullptr));
  EXPECT_EQ(m.shown.size(), 1u);

  set_language(Language::kChinese);
  EXPECT_FALSE(EnsureFolder(dir / "a", &m));
  EXPECT_THAT(m.asked.back(), HasSubstr("已经存在,覆盖 ? "));
  reset_language();
}

TEST(EmptyFolder, DeletesNestedReadOnlyEntries) {
  test::TempDir dir;
  const fs::path root = dir / "VELD";
  test::write_file(root / "Images" / "00001" / "a.gif", test::hex_bytes("47 49 46"));
  test::write_file(root / "Images" / "00001" / "deep" / "b.gif", test::hex_bytes("47"));
  test::write_file(root / "top.txt", test::hex_bytes("00"));
  fs::permissions(root / "Images" / "00001" / "a.gif", fs::perms::owner_read, fs::perm_options::replace);
  fs::permissions(root / "Images" / "00001" / "deep", fs::perms::owner_read | fs::perms::owner_exec,
                  fs::perm_options::replace);
  fs::permissions(root, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);

  EXPECT_TRUE(EmptyFolder(root, false));
  EXPECT_TRUE(fs::is_directory(root));
  EXPECT_TRUE(fs::is_empty(root));
  // The folder's read-only state was cleared.
  EXPECT_NE(fs::status(root).permissions() & fs::perms::owner_write, fs::perms::none);

  test::write_file(root / "x" / "y.gif", test::hex_bytes("00"));
  EXPECT_TRUE(EmptyFolder(root, true));
  EXPECT_FALSE(fs::exists(root));
  EXPECT_FALSE(EmptyFolder(root, true));  // nothing to empty
}

}  // namespace
}  // namespace veld

namespace veld {
namespace {

// A path on one line of a list file comes back as it was, whatever bytes it holds; a line that no path
// was written as is refused.
TEST(PathLine, RoundTripsEveryByteAndRefusesUnknownEscapes) {
  for (const char* p : {"/a/b c", "/with%percent", "/line\nfeed", "/cr\r", "%0A", "/ü/日本"}) {
    const std::string line = EscapePathLine(p);
    EXPECT_EQ(line.find('\n'), std::string::npos) << p;
    EXPECT_EQ(UnescapePathLine(line), std::filesystem::path(p)) << p;
  }
  for (const char* bad : {"", "/a%", "/a%2", "/a%41", "%%"}) EXPECT_FALSE(UnescapePathLine(bad)) << bad;
}

}  // namespace
}  // namespace veld
