// SPDX-License-Identifier: GPL-3.0-or-later
// The nearest-colour measure, the ambiguity rule and the mapping of whole pictures.
#include "veld/graphics/colour_match.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace veld {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF, kWhite160 = 0xA0FFFFFF, kBlack = 0xFF000000, kClear = 0x00000000;
constexpr std::uint32_t kRed = 0xFFFF0000, kClearWhite = 0x00FFFFFF;

TEST(ColourDistance, TheDocumentedMeasure) {
  // OKLab of pure red (0.62796, 0.22486, 0.12585) from its published values; white has L 1, black L 0.
  const double red_to_black = std::sqrt(0.62796 * 0.62796 + 0.22486 * 0.22486 + 0.12585 * 0.12585);
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    const char* what;
    std::uint32_t picture;
    bool alpha_known;
    std::uint32_t entry;
    double expected;
  } rows[] = {
      {"the same opaque colour", kRed, true, kRed, 0},
      {"white to black", kWhite, true, kBlack, 1.0},
      {"red to black", kRed, true, kBlack, red_to_black},
      {"two fully transparent colours", kClearWhite, true, kClear, 0},
      {"opaque white to white at alpha 160: the alpha part alone", kWhite, true, kWhite160, 1 - 160 / 255.0},
      {"the colour part weighs by both alphas", 0x80FFFFFF, true, 0x80000000, 128 / 255.0},
      {"a GIF colour has no alpha: white and white at 160 are the same", kWhite, false, kWhite160, 0},
      {"a GIF colour is not a transparent entry", kWhite, false, kClearWhite, inf},
      {"a GIF's transparent colour to an entry at alpha 160", kClearWhite, false, kWhite160, 160 / 255.0},
      {"a GIF's transparent colour to a transparent entry", kClear, false, kClearWhite, 0},
  };
  for (const Row& r : rows) {
    const double d = ColourDistance(r.picture, r.alpha_known, r.entry);
    if (std::isinf(r.expected)) {
      EXPECT_TRUE(std::isinf(d)) << r.what;
    } else {
      EXPECT_NEAR(d, r.expected, 1e-4) << r.what;
    }
  }
}

TEST(ChooseTiedEntry, TheAmbiguityRule) {
  ArgbPalette menu{};
  menu[1] = kWhite;
  menu[2] = kWhite160;
  menu[3] = kWhite160;
  menu[4] = kBlack;
  struct Row {
    const char* what;
    std::vector<int> tied;
    int original;
    int expected;
    bool ambiguous;
  } rows[] = {
      {"the original pixel's entry is one of them", {1, 2}, 2, 2, false},
      {"no original: the most opaque, with a warning", {1, 2}, -1, 1, true},
      {"the original entry is not among them", {2, 1}, 4, 1, true},
      {"equal alphas: the lowest id, no warning", {3, 2}, -1, 2, false},
      {"one entry", {4}, 1, 4, false},
  };
  for (const Row& r : rows) {
    bool ambiguous = !r.ambiguous;
    EXPECT_EQ(ChooseTiedEntry(r.tied, menu, r.original, &ambiguous), r.expected) << r.what;
    EXPECT_EQ(ambiguous, r.ambiguous) << r.what;
  }
}

class MatchColoursTest : public ::testing::Test {
 protected:
  void SetUp() override {
    menu_[0] = kClear;
    menu_[1] = kWhite;
    menu_[2] = kBlack;
    menu_[3] = 0xFF777777;  // a mid grey
    menu_[9] = kWhite160;
    for (int i : {0, 1, 2, 3, 9}) defined_[static_cast<std::size_t>(i)] = true;
  }
  SPictureColours Row(std::vector<std::uint32_t> argb, bool alpha_known = true) {
    SPictureColours p;
    p.width = static_cast<int>(argb.size());
    p.height = 1;
    p.argb = std::move(argb);
    p.alpha_known = alpha_known;
    return p;
  }
  ArgbPalette menu_{};
  std::array<bool, 256> defined_{};
};

TEST_F(MatchColoursTest, NearestEntriesAndTheirCount) {
  // Antialiased grey steps between black and white, an exact white and an undefined id's colour.
  const SPictureColours p = Row({kWhite, 0xFF101010, 0xFF808080, 0xFFE0E0E0, kClear});
  const SColourMatch m = MatchColours(p, menu_, defined_, nullptr, {});
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.bitmap.pixels, (std::vector<std::uint8_t>{1, 2, 3, 1, 0}));
  EXPECT_EQ(m.mapped, 3);
  // The largest difference: dark grey 16 to black (OKLab L 0.173) is farther than light grey 224 to white.
  const double dark = ColourDistance(0xFF101010, true, kBlack);
  EXPECT_GT(dark, ColourDistance(0xFFE0E0E0, true, kWhite));
  EXPECT_GT(dark, ColourDistance(0xFF808080, true, 0xFF777777));
  EXPECT_NEAR(m.largest, dark, 1e-12);
  EXPECT_EQ(m.largest_colour, 0xFF101010u);
  EXPECT_EQ(m.largest_x, 1);
}

TEST_F(MatchColoursTest, ExactRefusesTheFirstForeignColour) {
  SImportOptions exact;
  exact.colours = ColourMode::kExact;
  const SColourMatch m = MatchColours(Row({kWhite, kBlack, 0xFF0606FF, 0xFF808080}), menu_, defined_, nullptr, exact);
  EXPECT_FALSE(m.ok);
  EXPECT_EQ(m.foreign, 0xFF0606FFu);
  EXPECT_EQ(m.foreign_x, 2);
  EXPECT_EQ(m.foreign_y, 0);
}

TEST_F(MatchColoursTest, GifWhiteKeepsTheOriginalTranslucentEntry) {
  // A GIF cannot tell white from white at alpha 160: where the original pixel was entry 9 it stays 9.
  const IndexedBitmap original{4, 1, {9, 1, 9, 2}};
  const SColourMatch m = MatchColours(Row({kWhite, kWhite, kWhite, kWhite}, false), menu_, defined_, &original, {});
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.bitmap.pixels, (std::vector<std::uint8_t>{9, 1, 9, 1}));
  EXPECT_EQ(m.mapped, 0);
  EXPECT_EQ(m.ambiguous, 1);  // the last one: its original was black, so the most opaque white
  EXPECT_EQ(m.ambiguous_x, 3);
}

TEST_F(MatchColoursTest, DitheringMixesTheNeighboursAndLeavesExactColours) {
  // A flat 50% grey between black and white (the grey entry removed) becomes a mix of both; the exact
  // white pixels at the start stay white.
  defined_[3] = false;
  std::vector<std::uint32_t> row(2, kWhite);
  row.resize(64, 0xFF636363);  // OKLab lightness 0.5, halfway between black and white
  SImportOptions dither;
  dither.dither = true;
  const SColourMatch plain = MatchColours(Row(row), menu_, defined_, nullptr, {});
  const SColourMatch mixed = MatchColours(Row(row), menu_, defined_, nullptr, dither);
  ASSERT_TRUE(plain.ok && mixed.ok);
  const auto count = [](const SColourMatch& m, int id) { return std::count(m.bitmap.pixels.begin(), m.bitmap.pixels.end(), id); };
  EXPECT_EQ(count(plain, 2) + count(plain, 1), 64);
  EXPECT_TRUE(count(plain, 2) == 62 || count(plain, 1) == 64);  // one entry for the whole grey
  EXPECT_GT(count(mixed, 2), 10);
  EXPECT_GT(count(mixed, 1), 12);
  EXPECT_EQ(mixed.bitmap.pixels[0], 1);
  EXPECT_EQ(mixed.bitmap.pixels[1], 1);
  EXPECT_EQ(mixed.mapped, 62);
}

}  // namespace
}  // namespace veld
