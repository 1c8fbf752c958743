// SPDX-License-Identifier: GPL-3.0-or-later
// Names and paths of the files of a BDMV folder.
#include <gtest/gtest.h>

#include "veld/disc/paths.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

TEST(DiscPaths, BuildersUseTheFixedWordsAndFiveDigitNames) {
  const fs::path base = "/discs/one/BDMV";
  EXPECT_EQ(*index_file_path(base), "/discs/one/BDMV/index.bdmv");
  EXPECT_EQ(*movie_object_file_path(base), "/discs/one/BDMV/MovieObject.bdmv");
  EXPECT_EQ(*playlist_folder(base), "/discs/one/BDMV/PLAYLIST");
  EXPECT_EQ(*backup_playlist_folder(base), "/discs/one/BDMV/BACKUP/PLAYLIST");
  EXPECT_EQ(*playlist_path(base, 1), "/discs/one/BDMV/PLAYLIST/00001.mpls");
  EXPECT_EQ(*backup_playlist_path(base, 1), "/discs/one/BDMV/BACKUP/PLAYLIST/00001.mpls");
  EXPECT_EQ(*clip_info_path(base, 1), "/discs/one/BDMV/CLIPINF/00001.clpi");
  EXPECT_EQ(*backup_clip_info_path(base, 1), "/discs/one/BDMV/BACKUP/CLIPINF/00001.clpi");
  EXPECT_EQ(*clip_stream_path(base, 1), "/discs/one/BDMV/STREAM/00001.m2ts");
  EXPECT_EQ(*clip_stream_path(base, 99999), "/discs/one/BDMV/STREAM/99999.m2ts");
  EXPECT_EQ(*clip_stream_path(base, 0), "/discs/one/BDMV/STREAM/00000.m2ts");
}

TEST(DiscPaths, TrailingSeparatorMakesNoDifference) {
  EXPECT_EQ(*clip_info_path("/d/BDMV/", 7), *clip_info_path("/d/BDMV", 7));
  EXPECT_EQ(*index_file_path("/d/BDMV/"), *index_file_path("/d/BDMV"));
  EXPECT_EQ(*backup_playlist_path("rel/BDMV/", 12), "rel/BDMV/BACKUP/PLAYLIST/00012.mpls");
}

TEST(DiscPaths, EmptyBaseAndOutOfRangeNumbersBuildNothing) {
  EXPECT_FALSE(index_file_path(""));
  EXPECT_FALSE(movie_object_file_path(""));
  EXPECT_FALSE(playlist_folder(""));
  EXPECT_FALSE(playlist_path("", 1));
  EXPECT_FALSE(playlist_path("/d/BDMV", 100000));
  EXPECT_FALSE(clip_info_path("/d/BDMV", -1));
  EXPECT_FALSE(clip_stream_path("/d/BDMV", 123456));
  EXPECT_FALSE(backup_clip_info_path("/d/BDMV", 100000));
  EXPECT_EQ(five_digit_name(42), "00042");
  EXPECT_EQ(five_digit_name(100000), "");
}

TEST(DiscPaths, LeadingNumberOfClipAndFileNames) {
  EXPECT_EQ(leading_number("00012M2TS"), 12);
  EXPECT_EQ(leading_number("00000"), 0);
  EXPECT_EQ(leading_number("99999"), 99999);
  EXPECT_EQ(leading_number("123456"), -1);
  EXPECT_EQ(leading_number("menu"), -1);
  EXPECT_EQ(leading_number(""), -1);
  EXPECT_EQ(leading_number("-0001"), -1);
}

}  // namespace
}  // namespace veld
