// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/progress.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace veld {
namespace {

TEST(Progress, PercentageRoundsHalvesUp) {
  EXPECT_EQ(Progress::percentage(37, 0, 100), 37);
  EXPECT_EQ(Progress::percentage(1, 0, 8), 13);   // 12.5 -> 13
  EXPECT_EQ(Progress::percentage(1, 0, 3), 33);   // 33.3 -> 33
  EXPECT_EQ(Progress::percentage(2, 0, 3), 67);   // 66.7 -> 67
  EXPECT_EQ(Progress::percentage(-1, 0, 8), -12); // -12.5 -> -12 (halves up)
  EXPECT_EQ(Progress::percentage(5, 10, 10), 0);  // empty range
}

TEST(Progress, TitleChangesOnlyWithThePercentage) {
  test::RecordingProgress p;
  EXPECT_TRUE(p.set_title("Parsing"));
  EXPECT_TRUE(p.set_position(37));
  ASSERT_EQ(p.window_titles.size(), 1u);
  EXPECT_EQ(p.window_titles[0], "Parsing [37%]");
  EXPECT_TRUE(p.set_position(37));
  EXPECT_EQ(p.window_titles.size(), 1u);  // same percentage: title unchanged
  EXPECT_EQ(p.positions.size(), 2u);      // the bar is still set
  EXPECT_TRUE(p.set_position(0));          // back to 0 differs from 37
  EXPECT_EQ(p.window_titles.back(), "Parsing [0%]");
}

TEST(Progress, StatusAndTitleIgnoreCaseAndStatusIsCut) {
  test::RecordingProgress p;
  p.set_status("/disc/BDMV/STREAM/00001.m2ts");
  p.set_status("/DISC/bdmv/stream/00001.M2TS");
  EXPECT_EQ(p.statuses.size(), 1u);
  EXPECT_EQ(p.status(), "/disc/BDMV/STREAM/00001.m2ts");
  p.set_title("Demuxing");
  p.set_title("DEMUXING");
  EXPECT_EQ(p.title(), "Demuxing");
  EXPECT_EQ(p.redraws, 2);

  p.set_status(std::string(5000, 'a'));
  EXPECT_EQ(p.status().size(), Progress::kMaxStatus);
  // A multi-byte character at the cut is not split.
  std::string wide(Progress::kMaxStatus - 1, 'b');
  wide += "分析";
  p.set_status(wide);
  EXPECT_EQ(p.status().size(), Progress::kMaxStatus - 1);
  EXPECT_EQ(cut_utf8("abc", 10), "abc");
}

TEST(Progress, CancelledStaysCancelled) {
  test::RecordingProgress p;
  p.cancel_after = 2;
  EXPECT_TRUE(p.set_position(10));
  EXPECT_FALSE(p.set_position(20));  // cancelled in the second pump
  EXPECT_FALSE(p.set_status("x"));
  EXPECT_FALSE(p.set_title("y"));
  EXPECT_FALSE(p.hide_bar());
  EXPECT_TRUE(p.statuses.empty());  // nothing taken after cancelling
  EXPECT_TRUE(p.bar_visible());
}

TEST(Progress, BarHidesAndReappears) {
  test::RecordingProgress p;
  EXPECT_TRUE(p.hide_bar());
  EXPECT_FALSE(p.bar_visible());
  EXPECT_TRUE(p.set_position(5));
  EXPECT_TRUE(p.bar_visible());
}

}  // namespace
}  // namespace veld
