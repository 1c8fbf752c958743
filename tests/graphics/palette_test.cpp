// SPDX-License-Identifier: GPL-3.0-or-later
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

// Reference values computed with exact fractions from the matrix definitions (Kr, Kb; luma 255/219,
// chroma 255/224), rounded to the nearest integer.
struct MatrixCase {
  int y, cr, cb;
  Rgb bt709;
  Rgb bt601;
};

TEST(Palette, ExactMatricesRoundToNearest) {
  const MatrixCase cases[] = {
      {63, 240, 102, {255, 1, 0}, {233, 0, 2}},       // BT.709 red
      {173, 42, 26, {29, 250, 0}, {46, 255, 0}},      // BT.709 green
      {32, 118, 240, {1, 0, 255}, {3, 0, 245}},       // BT.709 blue
      {81, 240, 90, {255, 24, 0}, {254, 0, 0}},       // BT.601 red
      {145, 34, 54, {0, 216, 0}, {0, 255, 1}},        // BT.601 green
      {41, 110, 240, {0, 15, 255}, {0, 0, 255}},      // BT.601 blue
      {128, 128, 160, {130, 124, 198}, {130, 118, 195}},
      {128, 160, 128, {188, 113, 130}, {181, 104, 130}},
      {235, 128, 128, {255, 255, 255}, {255, 255, 255}},
      {16, 128, 128, {0, 0, 0}, {0, 0, 0}},
      {126, 128, 128, {128, 128, 128}, {128, 128, 128}},  // 110 x 255 / 219 = 128.08
  };
  for (const auto& c : cases) {
    EXPECT_EQ(YCbCrToRgb(c.y, c.cr, c.cb, ColourMatrix::kBt709), c.bt709) << c.y << " " << c.cr << " " << c.cb;
    EXPECT_EQ(YCbCrToRgb(c.y, c.cr, c.cb, ColourMatrix::kBt601), c.bt601) << c.y << " " << c.cr << " " << c.cb;
  }
  // The GIF conversion stays the truncating one: studio white is 254, not 255.
  EXPECT_EQ(YCbCrToRgb(235, 128, 128, ColourMatrix::kGif), (Rgb{254, 254, 254}));
  EXPECT_EQ(YCbCrToRgb(0, 128, 128, ColourMatrix::kBt709), (Rgb{0, 0, 0})) << "clamped";
  EXPECT_EQ(YCbCrToRgb(255, 128, 128, ColourMatrix::kBt601), (Rgb{255, 255, 255})) << "clamped";
}

TEST(Palette, MatrixFollowsTheVideoHeightAndKeepsAlpha) {
  EXPECT_EQ(ColourMatrixForHeight(480), ColourMatrix::kBt601);
  EXPECT_EQ(ColourMatrixForHeight(576), ColourMatrix::kBt601);
  EXPECT_EQ(ColourMatrixForHeight(719), ColourMatrix::kBt601);
  EXPECT_EQ(ColourMatrixForHeight(720), ColourMatrix::kBt709);
  EXPECT_EQ(ColourMatrixForHeight(1080), ColourMatrix::kBt709);
  const std::vector<SPaletteEntry> entries = {{3, 63, 240, 102, 0x40}, {4, 16, 128, 128, 0}};
  const ArgbPalette hd = PaletteToArgb(entries, ColourMatrix::kBt709);
  EXPECT_EQ(hd[3], 0x40FF0100u) << "straight alpha: the colour is not scaled by T";
  EXPECT_EQ(hd[4], 0x00000000u);
  EXPECT_EQ(PaletteToArgb(entries, ColourMatrix::kBt601)[3], 0x40E90002u);
}

}  // namespace
}  // namespace veld
