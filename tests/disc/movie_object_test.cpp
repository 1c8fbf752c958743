// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/movie_object.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/clip/clpi.h"

namespace veld {
namespace {

Bytes movie_object_file(bool with_ext) {
  Bytes f = {'M', 'O', 'B', 'J', '0', '2', '0', '0'};
  ByteWriter w(f);
  w.u32(0);
  w.zeros(28);
  const std::size_t mo = w.pos();
  w.u32(0);
  w.u32(0);
  w.u16(2);
  // Object 0: resume intention, two commands.
  w.u8(0x80);
  w.u8(0);
  w.u16(2);
  for (const char* text : {"PlayPlaylist 1", "JumpTitle 2"}) {
    NavCommand c{};
    EXPECT_TRUE(assemble(text, c));
    w.bytes(c);
  }
  // Object 1: both masks, no command.
  w.u8(0x60);
  w.u8(0);
  w.u16(0);
  w.patch_u32(mo, static_cast<std::uint32_t>(w.pos() - mo - 4));
  if (with_ext) {
    w.patch_u32(8, static_cast<std::uint32_t>(w.pos()));
    SExtensionData ext;
    write_ext_data(ext, f);
  }
  return f;
}

TEST(MovieObjectParse, ObjectsFlagsAndCommands) {
  const Bytes f = movie_object_file(false);
  CMoObject mo;
  std::string error;
  ASSERT_EQ(mo.parse(f, &error), static_cast<int>(f.size())) << error;
  const SMovieObjectData& d = mo.data;
  EXPECT_EQ(std::string(d.TypeIndicator.data(), 4), "MOBJ");
  ASSERT_EQ(d.MovieObjects.size(), 2u);
  EXPECT_TRUE(d.MovieObjects[0].ResumeIntentionFlag);
  EXPECT_FALSE(d.MovieObjects[0].MenuCallMask);
  ASSERT_EQ(d.MovieObjects[0].NavCmds.commands.size(), 2u);
  EXPECT_EQ(disassemble(d.MovieObjects[0].NavCmds.commands[0]), "PlayPlaylist 1");
  EXPECT_EQ(disassemble(d.MovieObjects[0].NavCmds.commands[1]), "JumpTitle 2");
  EXPECT_FALSE(d.MovieObjects[1].ResumeIntentionFlag);
  EXPECT_TRUE(d.MovieObjects[1].MenuCallMask);
  EXPECT_TRUE(d.MovieObjects[1].TitleSearchMask);
  EXPECT_TRUE(d.MovieObjects[1].NavCmds.commands.empty());
  EXPECT_FALSE(d.ExtensionData);
}

TEST(MovieObjectParse, ExtensionDataAndFailures) {
  const Bytes f = movie_object_file(true);
  SMovieObjectData d;
  ASSERT_EQ(parse_movie_objects(f, d), static_cast<int>(f.size()));
  ASSERT_TRUE(d.ExtensionData);
  EXPECT_TRUE(d.ExtensionData->Entries.empty());
  for (std::size_t n = 0; n < f.size(); ++n) {
    const Bytes cut(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(parse_movie_objects(cut, d), 0) << n;
  }
  // A command count beyond the block is refused, even when the file goes on.
  Bytes g = movie_object_file(false);
  store_be16(&g[40 + 10 + 2], 3);
  g.resize(g.size() + 64);
  std::string error;
  EXPECT_EQ(parse_movie_objects(g, d, &error), 0);
  EXPECT_NE(error.find("MovieObjects"), std::string::npos) << error;
}

}  // namespace
}  // namespace veld
