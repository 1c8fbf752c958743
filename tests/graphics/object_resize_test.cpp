// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of another size: placement in the video frame, effects, the decoder model, and the moves.
#include "veld/graphics/object_resize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "veld/base/messages.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/ic_data.h"
#include "veld/graphics/rle.h"

namespace veld {
namespace {
using ::testing::HasSubstr;

CBdButton Button(int id, int x, int y, int normal, int selected) {
  CBdButton b;
  b.Id = id;
  b.HorPos = static_cast<std::uint16_t>(x);
  b.VerPos = static_cast<std::uint16_t>(y);
  b.Normal.StartObjectId = b.Normal.EndObjectId = normal;
  b.Selected.StartObjectId = b.Selected.EndObjectId = selected;
  return b;
}

// Button 1 at 100, 50 shows objects 3 and 4; button 2 at 1880, 50 shows object 5; the in-effect shows
// object 6 in a 600 x 300 window and object 7 cropped. Every object is 40 x 20, decoded from DTS 0
// for the ICS's PTS 1000 (9 ticks each).
class ObjectResize : public ::testing::Test {
 protected:
  void SetUp() override {
    set_language(Language::kEnglish);
    CIcData ic;
    CPage& page = ic.Pages.emplace_back();
    page.PageId = 0;
    page.PaletteIdRef = 0;
    CBog& bog = page.Bogs.emplace_back();
    bog.Buttons = {Button(1, 100, 50, 3, 4), Button(2, 1880, 50, 5, -1)};
    page.InEffects.Windows.push_back(SWindow{0, 0, 0, 600, 300});
    CEffect& effect = page.InEffects.Effects.emplace_back();
    effect.Duration = 9000;
    SCompositionObject shown{};
    shown.ObjectIdRef = 6;
    shown.CompositionObjectHorPos = 10;
    shown.CompositionObjectVerPos = 10;
    SCompositionObject cropped = shown;
    cropped.ObjectIdRef = 7;
    cropped.ObjectCroppedFlag = true;
    cropped.ObjectCroppingWidth = 20;
    cropped.ObjectCroppingHeight = 20;
    effect.CompositionObjects = {shown, cropped};
    Bytes data;
    ASSERT_GT(ic.Write(&data), 0u);
    // Two ICS fragments, so that a move must keep the boundary.
    const std::size_t half = data.size() / 2;
    for (int i = 0; i < 2; ++i) {
      CIcs& ics = ds_.IcsArray.emplace_back();
      ics.Video = {1920, 1080, 2, 0};
      ics.PTS = 1000;
      ics.Fragment.assign(data.begin() + (i ? static_cast<std::ptrdiff_t>(half) : 0),
                          i ? data.end() : data.begin() + static_cast<std::ptrdiff_t>(half));
    }
    const IndexedBitmap picture{40, 20, std::vector<std::uint8_t>(800, 1)};
    for (std::uint16_t id : {3, 4, 5, 6, 7}) {
      for (COds& ods : SplitObjectData(EncodeBitmap(picture), id)) ds_.OdsArray.push_back(std::move(ods));
    }
  }
  void TearDown() override { reset_language(); }
  CDsData ds_;
};

TEST_F(ObjectResize, PlacementChecks) {
  struct Row {
    const char* what;
    std::uint16_t id;
    int width, height;
    ButtonAnchor anchor;
    bool ok;
    std::vector<std::string> says;  // in the refusal
    int moves;
  } rows[] = {
      {"wider, top-left kept", 3, 80, 20, ButtonAnchor::kTopLeft, true, {}, 0},
      {"wider, centre kept: the button moves", 3, 80, 20, ButtonAnchor::kCentre, true, {}, 1},
      {"leaves the frame at its button", 5, 80, 20, ButtonAnchor::kTopLeft, false,
       {"is 80 x 20 pixels, the object was 40 x 20", "button 2", "1880, 50", "1920 x 1080", "at most 40 x 20"}, 0},
      {"still leaves the frame with its centre kept", 5, 80, 20, ButtonAnchor::kCentre, false, {"1860, 50"}, 0},
      {"fits its effect window", 6, 60, 20, ButtonAnchor::kTopLeft, true, {}, 0},
      {"leaves its effect window", 6, 80, 40, ButtonAnchor::kCentre, false, {"window 0", "600 x 300", "-10, 0"}, 0},
      {"an effect crops it", 7, 50, 20, ButtonAnchor::kTopLeft, false, {"crops the object", "Keep the picture's size"}, 0},
      {"fits the frame but not the decoding time", 3, 1000, 1000, ButtonAnchor::kTopLeft, false,
       {"decoded only 10286 ticks", "after the menu is shown", "Make the picture smaller"}, 0},
  };
  for (const Row& r : rows) {
    const SResizePlan plan = PlanResize(ds_, r.id, r.width, r.height, r.anchor, "pic.gif");
    EXPECT_EQ(plan.ok, r.ok) << r.what << ": " << plan.refusal;
    for (const std::string& s : r.says) EXPECT_THAT(plan.refusal, HasSubstr(s)) << r.what;
    if (!r.ok) {
      EXPECT_THAT(plan.refusal, HasSubstr("pic.gif")) << r.what;
    }
    EXPECT_EQ(static_cast<int>(plan.moves.size()), r.moves) << r.what;
  }
}

TEST_F(ObjectResize, DecoderModel) {
  EXPECT_EQ(ObjectDecodeTicks(40, 20), 9u);  // 800 pixels at 64 Mbit/s: 9 ticks of 90 kHz
  EXPECT_EQ(ObjectDecodeTicks(1920, 1080), 23328u);
  // Five objects of 9 ticks from DTS 0: done 955 ticks before the PTS of 1000.
  EXPECT_EQ(DecodeTiming(ds_, 3, 40, 20).finish, 45 - 1000);
  EXPECT_EQ(DecodeTiming(ds_, 3, 4096, 4096).buffer, 4096 * 4096 + 4 * 800);
  EXPECT_GT(DecodeTiming(ds_, 3, 4096, 4096).buffer, kObjectBufferSize);
}

TEST_F(ObjectResize, CentredButtonMovesOnceForAllItsObjects) {
  // Both objects of button 1 grow by 40: the first moves it by 20, the second by nothing more.
  SResizePlan plan = PlanResize(ds_, 3, 80, 20, ButtonAnchor::kCentre, "0004.gif");
  ASSERT_TRUE(plan.ok) << plan.refusal;
  ASSERT_EQ(plan.moves.size(), 1u);
  EXPECT_EQ(plan.moves[0].to_x, 80);
  EXPECT_EQ(plan.moves[0].to_y, 50);
  const std::size_t first = ds_.IcsArray[0].Fragment.size();
  std::string error;
  ASSERT_TRUE(ApplyMoves(ds_, plan.moves, &error)) << error;
  EXPECT_EQ(ds_.IcsArray[0].Fragment.size(), first);
  ASSERT_TRUE(ReplaceObjectSegments(ds_, 3, SplitObjectData(EncodeBitmap({80, 20, std::vector<std::uint8_t>(1600, 1)}), 3)));
  plan = PlanResize(ds_, 4, 80, 20, ButtonAnchor::kCentre, "0005.gif");
  ASSERT_TRUE(plan.ok) << plan.refusal;
  EXPECT_TRUE(plan.moves.empty());
  const auto ic = ParseComposition(ds_);
  ASSERT_TRUE(ic.has_value());
  EXPECT_EQ(ic->Pages[0].Bogs[0].Buttons[0].HorPos, 80);
  EXPECT_EQ(ic->Pages[0].Bogs[0].Buttons[1].HorPos, 1880);
}

}  // namespace
}  // namespace veld
