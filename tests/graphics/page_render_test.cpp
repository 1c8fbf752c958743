// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/page_render.h"

#include <gtest/gtest.h>

#include "veld/graphics/rle.h"

namespace veld {
namespace {

// A w x h object of entry ids 0 and 1 in a checkerboard: codes of 1.5 bytes per pixel.
IndexedBitmap Striped(int w, int h) {
  IndexedBitmap b{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, 0)};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) b.pixels[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>((x + y) % 2);
  }
  return b;
}

// A w x h object filled with one entry id, its top-left pixel set to `corner`.
IndexedBitmap Solid(int w, int h, std::uint8_t id, std::uint8_t corner) {
  IndexedBitmap b{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, id)};
  b.pixels[0] = corner;
  return b;
}

void AddObject(CDsData& ds, std::uint16_t id, const IndexedBitmap& bitmap) {
  for (COds& ods : SplitObjectData(EncodeBitmap(bitmap), id)) ds.OdsArray.push_back(std::move(ods));
}

void AddPalette(CDsData& ds, std::uint8_t id, std::vector<SPaletteEntry> entries) {
  CPds pds;
  pds.PaletteId = id;
  pds.Entries = std::move(entries);
  ds.PdsFolder.push_back(std::move(pds));
}

CBdButton Button(int id, std::uint16_t x, std::uint16_t y, int normal, int selected, int activated) {
  CBdButton b;
  b.Id = id;
  b.HorPos = x;
  b.VerPos = y;
  b.Normal.StartObjectId = b.Normal.EndObjectId = normal;
  b.Selected.StartObjectId = b.Selected.EndObjectId = selected;
  b.Activated.StartObjectId = b.Activated.EndObjectId = activated;
  return b;
}

CBog Bog(int default_button, std::vector<CBdButton> buttons) {
  CBog bog;
  bog.DefaultButtonIdRef = default_button;
  bog.Buttons = std::move(buttons);
  return bog;
}

// RGBA of a pixel as 0xRRGGBBAA.
std::uint32_t At(const RgbaImage& image, int x, int y) {
  const std::uint8_t* p = image.pixel(x, y);
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Palette 0: 1 studio white, 2 BT.709 red, 3 half-transparent red, 4 transparent, 5 BT.709 blue.
const std::vector<SPaletteEntry> kEntries = {
    {1, 235, 128, 128, 255}, {2, 63, 240, 102, 255}, {3, 63, 240, 102, 0x80}, {4, 16, 128, 128, 0}, {5, 32, 118, 240, 255}};
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kRed = 0xFF0100FF;
constexpr std::uint32_t kHalfRed = 0xFF010080;  // straight alpha: the colour is not darkened
constexpr std::uint32_t kClear = 0x00000000;
constexpr std::uint32_t kBlue = 0x0100FFFF;

class PageRender : public ::testing::Test {
 protected:
  void SetUp() override {
    AddPalette(ds_, 0, kEntries);
    AddObject(ds_, 10, Solid(4, 2, 1, 1));  // white
    AddObject(ds_, 11, Solid(4, 2, 2, 3));  // red, half-transparent corner
    AddObject(ds_, 12, Solid(4, 2, 5, 5));  // blue
    AddObject(ds_, 13, Solid(3, 3, 4, 4));  // transparent
    graphics_.Add(ds_);
    page_.PageId = 0;
    page_.PaletteIdRef = 0;
  }

  CDsData ds_;
  CDecodedGraphics graphics_;
  CPage page_;
};

TEST_F(PageRender, DefaultButtonsInNormalStateAndTheSelectedOneSelected) {
  page_.DefaultSelectedButtonId = 2;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 11, 12)}), Bog(2, {Button(2, 5, 0, 10, 11, 12)}),
                // Only the default button of a group is shown.
                Bog(4, {Button(3, 0, 3, 12, 12, 12), Button(4, 10, 3, 10, 11, 12)})};
  const SPagePicture picture = RenderPage(page_, graphics_, 16, 6, ColourMatrix::kBt709);
  ASSERT_TRUE(picture.has_palette);
  EXPECT_EQ(picture.selected_button, 2);
  EXPECT_EQ(At(picture.image, 1, 1), kWhite) << "button 1 normal";
  EXPECT_EQ(At(picture.image, 6, 1), kRed) << "button 2 selected";
  EXPECT_EQ(At(picture.image, 5, 0), kHalfRed) << "palette alpha kept";
  EXPECT_EQ(At(picture.image, 11, 4), kWhite) << "button 4, its group's default, normal";
  EXPECT_EQ(At(picture.image, 1, 4), kClear) << "button 3 is not its group's shown button";
  EXPECT_EQ(At(picture.image, 4, 0), kClear) << "between the buttons";
  EXPECT_EQ(At(picture.image, 15, 5), kClear);
}

TEST_F(PageRender, EveryShownButtonInOneChosenState) {
  page_.DefaultSelectedButtonId = 2;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 11, 12)}), Bog(2, {Button(2, 5, 0, 10, 11, 12)}),
                Bog(4, {Button(3, 0, 3, 12, 12, 12), Button(4, 10, 3, 10, 11, 12)})};
  const struct {
    EPageButtons buttons;
    std::uint32_t colour;
  } cases[] = {{EPageButtons::kNormal, kWhite}, {EPageButtons::kSelected, kRed}, {EPageButtons::kActivated, kBlue}};
  for (const auto& c : cases) {
    const SPagePicture picture = RenderPage(page_, graphics_, 16, 6, ColourMatrix::kBt709, c.buttons);
    EXPECT_EQ(picture.selected_button, 2) << "still the player's choice";
    EXPECT_EQ(At(picture.image, 1, 1), c.colour);
    EXPECT_EQ(At(picture.image, 6, 1), c.colour);
    EXPECT_EQ(At(picture.image, 11, 4), c.colour);
    EXPECT_EQ(At(picture.image, 1, 4), kClear) << "button 3 is still not shown";
  }
}

TEST_F(PageRender, OneButtonInAStateOfItsOwnTheOthersAsThePlayerShowsThem) {
  page_.DefaultSelectedButtonId = 2;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 11, 12)}), Bog(2, {Button(2, 5, 0, 10, 11, 12)}),
                Bog(4, {Button(3, 0, 3, 12, 12, 12), Button(4, 10, 3, 10, 11, 12)})};
  SPagePicture picture =
      RenderPage(page_, graphics_, 16, 6, ColourMatrix::kBt709, EPageButtons::kAsPlayer, {1, EPageButtons::kActivated});
  EXPECT_EQ(At(picture.image, 1, 1), kBlue) << "button 1 activated";
  EXPECT_EQ(At(picture.image, 6, 1), kRed) << "button 2 still selected";
  EXPECT_EQ(At(picture.image, 11, 4), kWhite) << "button 4 still normal";
  // A button its group does not show takes the place of the group's default.
  picture = RenderPage(page_, graphics_, 16, 6, ColourMatrix::kBt709, EPageButtons::kAsPlayer, {3, EPageButtons::kNormal});
  EXPECT_EQ(At(picture.image, 1, 4), kBlue) << "button 3 drawn";
  EXPECT_EQ(At(picture.image, 11, 4), kClear) << "instead of button 4";
  EXPECT_EQ(At(picture.image, 1, 1), kWhite);
}

TEST_F(PageRender, SelectionFallsBackToTheFirstShownButtonAndAutoActionShowsActivated) {
  // The default selected button is not shown by its group: the first group's shown button is selected.
  page_.DefaultSelectedButtonId = 3;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 11, 12)}), Bog(4, {Button(3, 0, 3, 12, 12, 12), Button(4, 5, 3, 10, 11, 12)})};
  SPagePicture picture = RenderPage(page_, graphics_, 10, 6, ColourMatrix::kBt709);
  EXPECT_EQ(picture.selected_button, 1);
  EXPECT_EQ(At(picture.image, 1, 1), kRed);
  EXPECT_EQ(InitialSelectedButton(page_), 1);

  page_.Bogs[0].Buttons[0].AutoActionFlag = true;  // acts when selected: drawn activated
  picture = RenderPage(page_, graphics_, 10, 6, ColourMatrix::kBt709);
  EXPECT_EQ(At(picture.image, 1, 1), kBlue);

  page_.Bogs.clear();
  EXPECT_EQ(InitialSelectedButton(page_), -1);
}

TEST_F(PageRender, LaterObjectsReplacePixelsEvenTransparentOnesAndAreClipped) {
  page_.DefaultSelectedButtonId = 0xFFFF;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 10, 10)}), Bog(2, {Button(2, 2, 0, 13, 13, 13)}),
                Bog(3, {Button(3, 6, 1, 12, 12, 12)})};
  const SPagePicture picture = RenderPage(page_, graphics_, 8, 2, ColourMatrix::kBt709);
  EXPECT_EQ(At(picture.image, 1, 0), kWhite);
  EXPECT_EQ(At(picture.image, 2, 1), kClear) << "the transparent object replaced the white pixel";
  EXPECT_EQ(At(picture.image, 7, 1), kBlue) << "the part inside the plane is drawn";
  // A state without object, or one whose object is missing, draws nothing.
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF)}), Bog(2, {Button(2, 2, 0, 99, 99, 99)})};
  const SPagePicture none = RenderPage(page_, graphics_, 8, 2, ColourMatrix::kBt709);
  EXPECT_EQ(none.image, RgbaImage(8, 2));
}

TEST_F(PageRender, APageWithoutItsPaletteDrawsNothing) {
  page_.PaletteIdRef = 7;
  page_.Bogs = {Bog(1, {Button(1, 0, 0, 10, 10, 10)})};
  const SPagePicture picture = RenderPage(page_, graphics_, 4, 4, ColourMatrix::kBt709);
  EXPECT_FALSE(picture.has_palette);
  EXPECT_EQ(picture.image, RgbaImage(4, 4));
}

TEST_F(PageRender, EffectsDrawTheirObjectsCroppedWithTheirPalette) {
  AddPalette(ds_, 1, {{1, 63, 240, 102, 255}});  // palette 1 shows entry 1 red
  graphics_.Add(ds_);
  CEffect effect;
  effect.PaletteIdRef = 1;
  SCompositionObject whole;
  whole.ObjectIdRef = 10;
  whole.CompositionObjectHorPos = 0;
  SCompositionObject cropped;
  cropped.ObjectIdRef = 10;
  cropped.CompositionObjectHorPos = 6;
  cropped.CompositionObjectVerPos = 1;
  cropped.ObjectCroppedFlag = true;
  cropped.ObjectCroppingHorPos = 1;
  cropped.ObjectCroppingVerPos = 1;
  cropped.ObjectCroppingWidth = 2;
  cropped.ObjectCroppingHeight = 5;  // taller than the object: cut to what it has
  effect.CompositionObjects = {whole, cropped};
  const RgbaImage plane = RenderEffect(effect, graphics_, 10, 3, ColourMatrix::kBt709);
  EXPECT_EQ(At(plane, 1, 1), kRed);
  EXPECT_EQ(At(plane, 3, 0), kRed) << "the whole object, palette 1 making entry 1 red";
  EXPECT_EQ(At(plane, 4, 0), kClear);
  EXPECT_EQ(At(plane, 6, 1), kRed);
  EXPECT_EQ(At(plane, 7, 1), kRed);
  EXPECT_EQ(At(plane, 8, 1), kClear) << "crop width 2";
  EXPECT_EQ(At(plane, 6, 2), kClear) << "the object has one row below the crop's top";
}

TEST(DecodedGraphics, FollowsTheDisplaySetsOfAnEpoch) {
  CDecodedGraphics g;
  CDsData start;
  start.State = kEpochStart;
  AddPalette(start, 0, {{1, 235, 128, 128, 255}, {2, 16, 128, 128, 255}});
  AddObject(start, 5, Solid(2, 2, 1, 1));
  AddObject(start, 6, Solid(1, 1, 2, 2));
  g.Add(start);
  ASSERT_NE(g.Object(5), nullptr);
  ASSERT_NE(g.Palette(0), nullptr);
  EXPECT_EQ(g.Palette(0)->size(), 2u);

  // An acquisition point keeps what it does not define again and replaces a palette whole.
  CDsData acquisition;
  acquisition.State = kAcquisitionPoint;
  AddPalette(acquisition, 0, {{2, 81, 240, 90, 128}});
  AddObject(acquisition, 6, Solid(3, 1, 2, 2));
  g.Add(acquisition);
  ASSERT_NE(g.Object(5), nullptr);
  EXPECT_EQ(g.Object(6)->width, 3);
  ASSERT_EQ(g.Palette(0)->size(), 1u);

  // A normal case updates only the entries it carries.
  CDsData update;
  update.State = kNormalCase;
  AddPalette(update, 0, {{3, 16, 128, 128, 255}, {2, 16, 128, 128, 0}});
  g.Add(update);
  ASSERT_EQ(g.Palette(0)->size(), 2u);
  EXPECT_EQ((*g.Palette(0))[0], (SPaletteEntry{2, 16, 128, 128, 0}));

  // An object defined twice in one display set: the later definition holds; fragments are joined.
  CDsData twice;
  twice.State = kNormalCase;
  AddObject(twice, 7, Solid(2, 1, 1, 1));
  AddObject(twice, 7, Striped(200, 400));  // more than one fragment
  ASSERT_GT(twice.OdsArray.size(), 2u);
  g.Add(twice);
  ASSERT_NE(g.Object(7), nullptr);
  EXPECT_EQ(g.Object(7)->height, 400);

  // Malformed object data gives no object; a new epoch drops everything.
  CDsData broken;
  broken.State = kNormalCase;
  AddObject(broken, 8, Solid(2, 2, 1, 1));
  broken.OdsArray.back().Fragment.pop_back();
  g.Add(broken);
  EXPECT_EQ(g.Object(8), nullptr);
  CDsData next;
  next.State = kEpochStart;
  g.Add(next);
  EXPECT_EQ(g.Object(5), nullptr);
  EXPECT_EQ(g.Palette(0), nullptr);
}

TEST(ContactSheet, ShrinksWithAlphaWeightsAndLaysRowsOut) {
  RgbaImage image(4, 2);
  // Block (0..1, 0..1): one opaque red pixel, three transparent ones of another colour.
  std::uint8_t* p = image.pixel(0, 0);
  p[0] = 255;
  p[3] = 255;
  image.pixel(1, 0)[1] = 255;  // green, transparent: its colour does not count
  // Block (2..3, 0..1): all half transparent blue.
  for (int y = 0; y < 2; ++y) {
    for (int x = 2; x < 4; ++x) {
      image.pixel(x, y)[2] = 200;
      image.pixel(x, y)[3] = 128;
    }
  }
  const RgbaImage small = ShrinkImage(image, 2);
  ASSERT_EQ(small.width, 2);
  ASSERT_EQ(small.height, 1);
  EXPECT_EQ(At(small, 0, 0), 0xFF000040u);
  EXPECT_EQ(At(small, 1, 0), 0x0000C880u);

  const RgbaImage sheet = ContactSheet({{small, small}, {ShrinkImage(RgbaImage(40, 20), 2)}});
  EXPECT_EQ(sheet.width, 16 + 20 + 16);
  EXPECT_EQ(sheet.height, 16 + 1 + 16 + 10 + 16);
  EXPECT_EQ(At(sheet, 0, 0), 0x282828FFu) << "opaque background";
  // (255, 0, 0, 64) over the dark square (102): (255 x 64 + 102 x 191) / 255 = 140, 102 x 191 / 255 = 76.
  EXPECT_EQ(At(sheet, 16, 16), 0x8C4C4CFFu) << "over the checkerboard";
}

}  // namespace
}  // namespace veld
