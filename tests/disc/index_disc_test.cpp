// SPDX-License-Identifier: GPL-3.0-or-later
// Index and movie-object files of the generated test discs, with libbluray's view of the titles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "veld/disc/index.h"
#include "veld/disc/movie_object.h"

extern "C" {
#include <libbluray/bluray.h>
}

namespace veld {
namespace {

namespace fs = std::filesystem;

const char* const kVariants[] = {"menu", "twoig", "popup", "subpath", "streams"};

TEST(IndexDisc, TitlesAgreeWithTruthAndLibbluray) {
  for (const char* variant : kVariants) {
    SCOPED_TRACE(variant);
    const fs::path disc = test::test_discs_dir() / variant;
    std::ifstream in(disc / "truth.json");
    const nlohmann::json truth = nlohmann::json::parse(in);

    const Bytes file = test::read_file(disc / "BDMV" / "index.bdmv");
    CIndexObject index;
    std::string error;
    ASSERT_EQ(index.parse(file, &error), static_cast<int>(file.size())) << error;
    const SIndexData& d = index.data;
    EXPECT_EQ(std::string(d.TypeIndicator.data(), 4), "INDX");
    ASSERT_EQ(d.Titles.size(), truth.at("titles").get<std::size_t>());

    BLURAY* bd = bd_open(disc.c_str(), nullptr);
    ASSERT_NE(bd, nullptr);
    const BLURAY_DISC_INFO* info = bd_get_disc_info(bd);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->num_titles, d.Titles.size());
    for (std::size_t i = 0; i < d.Titles.size(); ++i) {
      EXPECT_EQ(info->titles[i + 1]->bdj, d.Titles[i].is_hdmv() ? 0 : 1);
      EXPECT_EQ(info->titles[i + 1]->id_ref, d.Titles[i].MovieObject);
    }
    ASSERT_NE(info->first_play, nullptr);
    EXPECT_EQ(info->first_play->id_ref, d.FirstPlayback.MovieObject);
    ASSERT_NE(info->top_menu, nullptr);
    EXPECT_EQ(info->top_menu->id_ref, d.TopMenu.MovieObject);
    bd_close(bd);

    // The backup copy holds the same.
    SIndexData backup;
    ASSERT_GT(parse_index(test::read_file(disc / "BDMV" / "BACKUP" / "index.bdmv"), backup), 0);
    EXPECT_EQ(backup, d);
  }
}

TEST(MovieObjectDisc, EveryCommandHasAnExactTextForm) {
  int commands = 0;
  for (const char* variant : kVariants) {
    SCOPED_TRACE(variant);
    const fs::path disc = test::test_discs_dir() / variant;
    const Bytes file = test::read_file(disc / "BDMV" / "MovieObject.bdmv");
    CMoObject mo;
    std::string error;
    ASSERT_EQ(mo.parse(file, &error), static_cast<int>(file.size())) << error;
    ASSERT_FALSE(mo.data.MovieObjects.empty());

    // Every movie object that an index entry names exists.
    SIndexData index;
    ASSERT_GT(parse_index(test::read_file(disc / "BDMV" / "index.bdmv"), index), 0);
    EXPECT_LT(index.FirstPlayback.MovieObject, mo.data.MovieObjects.size());
    for (const SIndexObjectRef& t : index.Titles) EXPECT_LT(t.MovieObject, mo.data.MovieObjects.size());

    for (const CMovieObject& obj : mo.data.MovieObjects) {
      for (const NavCommand& c : obj.NavCmds.commands) {
        const std::string text = disassemble(c);
        EXPECT_NE(text.rfind("Raw ", 0), 0u) << text;
        NavCommand back{};
        ASSERT_TRUE(assemble(text, back)) << text;
        EXPECT_EQ(back, c) << text;
        ++commands;
      }
    }
  }
  EXPECT_GT(commands, 4);
}

// A block longer than its content: the generated files hold nothing unread; with two bytes more at the
// end of the Indexes or MovieObjects block (the last block of these files), those two are noted.
TEST(NavFilesDisc, BytesAfterTheLastEntryOfABlockAreNoted) {
  for (const char* variant : kVariants) {
    SCOPED_TRACE(variant);
    const fs::path bdmv = test::test_discs_dir() / variant / "BDMV";
    Bytes index = test::read_file(bdmv / "index.bdmv");
    ASSERT_EQ(load_be32(&index[12]), 0u) << "no extension data";
    SIndexData idx;
    CUnreadBytes unread;
    ASSERT_GT(parse_index(index, idx, nullptr, &unread), 0);
    EXPECT_TRUE(unread.empty());
    const std::size_t at = load_be32(&index[8]);
    store_be32(&index[at], load_be32(&index[at]) + 2);
    index.push_back(0xAB);
    index.push_back(0xCD);
    ASSERT_GT(parse_index(index, idx, nullptr, &unread), 0);
    EXPECT_EQ(unread, (CUnreadBytes{{"Indexes", index.size() - 2, 2}}));

    Bytes mobj = test::read_file(bdmv / "MovieObject.bdmv");
    ASSERT_EQ(load_be32(&mobj[8]), 0u) << "no extension data";
    SMovieObjectData mo;
    unread.clear();
    ASSERT_GT(parse_movie_objects(mobj, mo, nullptr, &unread), 0);
    EXPECT_TRUE(unread.empty());
    store_be32(&mobj[40], load_be32(&mobj[40]) + 2);
    mobj.push_back(0);
    mobj.push_back(0);
    ASSERT_GT(parse_movie_objects(mobj, mo, nullptr, &unread), 0);
    EXPECT_EQ(unread, (CUnreadBytes{{"MovieObjects", mobj.size() - 2, 2}}));
  }
}

TEST(NavFilesDisc, EveryTruncationFailsCleanly) {
  for (const char* variant : kVariants) {
    const fs::path bdmv = test::test_discs_dir() / variant / "BDMV";
    const Bytes index = test::read_file(bdmv / "index.bdmv");
    const Bytes mobj = test::read_file(bdmv / "MovieObject.bdmv");
    for (std::size_t n = 0; n < index.size(); ++n) {
      const Bytes cut(index.begin(), index.begin() + static_cast<std::ptrdiff_t>(n));
      SIndexData d;
      EXPECT_EQ(parse_index(cut, d), 0) << variant << " index.bdmv cut at " << n;
    }
    for (std::size_t n = 0; n < mobj.size(); ++n) {
      const Bytes cut(mobj.begin(), mobj.begin() + static_cast<std::ptrdiff_t>(n));
      SMovieObjectData d;
      EXPECT_EQ(parse_movie_objects(cut, d), 0) << variant << " MovieObject.bdmv cut at " << n;
    }
  }
}

}  // namespace
}  // namespace veld
