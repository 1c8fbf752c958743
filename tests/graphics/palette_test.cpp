#include "veld/graphics/palette.h"

#include <gtest/gtest.h>

#include <vector>

namespace veld {
namespace {

TEST(Palette, ConvertsTheReferenceColours) {
  const std::vector<SPaletteEntry> entries = {
      {0, 16, 128, 128, 255},   // black
      {1, 128, 128, 160, 255},  // bluish
      {2, 128, 160, 128, 255},  // reddish
  };
  const ArgbPalette argb = PaletteToArgb(entries);
  EXPECT_EQ(argb[0], 0xFF000000u);
  EXPECT_EQ(argb[1], 0xFF8275C2u);
  EXPECT_EQ(argb[2], 0xFFB56882u);
  EXPECT_EQ(argb[3], 0x00000000u) << "undefined ids are transparent black";
  EXPECT_EQ(argb[255], 0x00000000u);
  EXPECT_EQ(YCbCrToRgb(128, 128, 160), (Rgb{130, 117, 194}));
  EXPECT_EQ(YCbCrToRgb(128, 160, 128), (Rgb{181, 104, 130}));
}

TEST(Palette, AlphaIsTheStraightTransparencyAndLaterEntriesWin) {
  const std::vector<SPaletteEntry> entries = {
      {7, 128, 160, 128, 255},
      {9, 128, 160, 128, 0x80},  // half transparent: colour unchanged
      {7, 16, 128, 128, 0},      // redefines 7 as transparent black
      {255, 235, 128, 128, 255},
  };
  const ArgbPalette argb = PaletteToArgb(entries);
  EXPECT_EQ(argb[9], 0x80B56882u);
  EXPECT_EQ(argb[7], 0x00000000u);
  EXPECT_EQ(argb[255], 0xFFFEFEFEu) << "studio white: 219 x 1.164 = 254.9, truncated";
  EXPECT_TRUE(PaletteToArgb({}) == ArgbPalette{});
}

TEST(Palette, TruncatesTowardZeroAndClampsOutOfRangeValues) {
  // Greys of the studio range: R = G = B = trunc((Y - 16) x 1.164).
  for (int y = 16; y <= 235; ++y) {
    const auto v = static_cast<std::uint8_t>((y - 16) * 1164 / 1000);
    EXPECT_EQ(YCbCrToRgb(y, 128, 128), (Rgb{v, v, v})) << y;
  }
  EXPECT_EQ(YCbCrToRgb(0, 128, 128), (Rgb{0, 0, 0})) << "below black clamps to 0, not 255";
  EXPECT_EQ(YCbCrToRgb(255, 255, 255), (Rgb{255, 125, 255})) << "above white clamps to 255";
  EXPECT_EQ(YCbCrToRgb(255, 0, 0), (Rgb{73, 255, 20}));
  // R = 1.164 x 1 + 1.596 x (-1) = -0.432: truncated toward zero gives 0 (not -1 wrapped to 255).
  EXPECT_EQ(YCbCrToRgb(17, 127, 128).r, 0);
}

}  // namespace
}  // namespace veld
