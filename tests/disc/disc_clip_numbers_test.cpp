// SPDX-License-Identifier: GPL-3.0-or-later
// The clip numbers a disc's playlists refer to.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "veld/disc/bd_disc.h"

namespace veld {
namespace {

PLAY_ITEM item(const char* clip) {
  PLAY_ITEM p;
  p.ClipInformationFileName = clip;
  return p;
}

TEST(DiscClipNumbers, PlayItemsThenSubPlayItemsAscendingEachOnce) {
  CPofObject playlists;
  CMplsObject& a = playlists.add();
  a.data.PlayItems = {item("00007"), item("00003")};
  a.data.PlayItems[1].IsMultiAngle = true;
  a.data.PlayItems[1].Angles = {ANGLE_CLIP_ENTRY{"00042", "M2TS", 0}};  // angles are not collected
  SUB_PATH sp;
  SUB_PLAY_ITEM spi;
  spi.ClipInformationFileName = "00012";
  sp.SubPlayItems = {spi};
  a.data.SubPaths = {sp};
  CMplsObject& b = playlists.add();
  b.data.PlayItems = {item("00003"), item("00000")};

  std::vector<int> numbers;
  const CMplsObject* bad = nullptr;
  ASSERT_TRUE(collect_clip_numbers(playlists, numbers, &bad));
  EXPECT_THAT(numbers, ::testing::ElementsAre(0, 3, 7, 12));
  EXPECT_EQ(bad, nullptr);
}

TEST(DiscClipNumbers, NoPlayItemsGiveNoNumbersAndBadNamesNameTheirPlaylist) {
  CPofObject playlists;
  playlists.add();
  std::vector<int> numbers{5};
  ASSERT_TRUE(collect_clip_numbers(playlists, numbers, nullptr));
  EXPECT_TRUE(numbers.empty());

  CMplsObject& bad_one = playlists.add();
  SUB_PATH sp;
  SUB_PLAY_ITEM spi;
  spi.ClipInformationFileName = "X0001";
  sp.SubPlayItems = {spi};
  bad_one.data.SubPaths = {sp};
  const CMplsObject* bad = nullptr;
  EXPECT_FALSE(collect_clip_numbers(playlists, numbers, &bad));
  EXPECT_EQ(bad, &bad_one);
}

}  // namespace
}  // namespace veld
