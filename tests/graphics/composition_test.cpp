// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/composition.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"
#include "veld/graphics/rle.h"

namespace veld {
namespace {

IndexedBitmap Picture(int width, int height, unsigned seed, bool noisy) {
  IndexedBitmap b{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height))};
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < b.pixels.size(); ++i) {
    b.pixels[i] = noisy ? static_cast<std::uint8_t>(1 + rng() % 255) : static_cast<std::uint8_t>((i / 7) % 3);
  }
  return b;
}

void AddObject(CDsData& ds, std::uint16_t id, const IndexedBitmap& picture, std::uint32_t pts, std::uint32_t dts) {
  for (COds& ods : SplitObjectData(EncodeBitmap(picture), id)) {
    ods.PTS = pts;
    ods.DTS = dts;
    ods.ObjectVersion = 3;
    ds.OdsArray.push_back(std::move(ods));
  }
}

CBdButton Button(int id, int start, int end) {
  CBdButton b;
  b.Id = id;
  b.Normal.StartObjectId = start;
  b.Normal.EndObjectId = end;
  return b;
}

// Page 0 (palette 4) shows object 7 in a button's selected state and object 8 in an in-effect; page 1
// (palette 1) has a normal state from 3 to 0xFFFF.
CIcData Menu() {
  CIcData ic;
  CPage& p0 = ic.Pages.emplace_back();
  p0.PageId = 0;
  p0.PaletteIdRef = 4;
  CBdButton b = Button(1, 1, 1);
  b.Selected.StartObjectId = 7;
  p0.Bogs.emplace_back().Buttons.push_back(b);
  CEffect& e = p0.InEffects.Effects.emplace_back();
  e.CompositionObjects.push_back({});
  e.CompositionObjects[0].ObjectIdRef = 8;
  CPage& p1 = ic.Pages.emplace_back();
  p1.PageId = 1;
  p1.PaletteIdRef = 1;
  p1.Bogs.emplace_back().Buttons.push_back(Button(2, 3, 0xFFFF));
  return ic;
}

TEST(Composition, ParseCompositionJoinsTheIcsFragments) {
  const CIcData menu = Menu();
  Bytes data;
  ASSERT_GT(menu.Write(&data), 0u);
  CDsData ds;
  EXPECT_FALSE(ParseComposition(ds).has_value());
  // The composition cut into three ICS fragments.
  const std::size_t third = data.size() / 3;
  for (int i = 0; i < 3; ++i) {
    CIcs& ics = ds.IcsArray.emplace_back();
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(i * third);
    ics.Fragment.assign(from, i == 2 ? data.end() : from + static_cast<std::ptrdiff_t>(third));
  }
  const auto parsed = ParseComposition(ds);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->Pages.size(), 2u);
  EXPECT_EQ(parsed->Pages[1].Bogs[0].Buttons[0].Normal.EndObjectId, 0xFFFF);
  Bytes again;
  parsed->Write(&again);
  EXPECT_EQ(again, data);
  ds.IcsArray.pop_back();
  std::string error;
  EXPECT_FALSE(ParseComposition(ds, &error).has_value());
  EXPECT_NE(error.find("unexpected end"), std::string::npos) << error;
}

TEST(Composition, FindObjectPaletteWalksPagesInOrder) {
  CIcData ic = Menu();
  EXPECT_EQ(FindObjectPalette(ic, 1), 4);
  EXPECT_EQ(FindObjectPalette(ic, 7), 4);  // the selected state
  EXPECT_EQ(FindObjectPalette(ic, 8), 4);  // an in-effect
  EXPECT_EQ(FindObjectPalette(ic, 2), kNoPalette);
  EXPECT_EQ(FindObjectPalette(ic, 3), 1);
  EXPECT_EQ(FindObjectPalette(ic, 1000), 1);    // 3..0xFFFF covers every id from 3 upwards
  EXPECT_EQ(FindObjectPalette(ic, 0xFFFF), 1);  // 0xFFFF is an ordinary id
  // Such a state on the first page claims those objects for it.
  ic.Pages[0].Bogs[0].Buttons[0].Activated.StartObjectId = 0xFFFF;
  ic.Pages[0].Bogs[0].Buttons[0].Activated.EndObjectId = 3;
  EXPECT_EQ(FindObjectPalette(ic, 1000), 4);
  // An unset end covers only the other end.
  CButtonStateInfo half;
  half.StartObjectId = 5;
  EXPECT_TRUE(half.Covers(5));
  EXPECT_FALSE(half.Covers(6));
  EXPECT_FALSE(half.Covers(4));
  // Out-effects count too.
  CIcData out_only;
  CPage& p = out_only.Pages.emplace_back();
  p.PaletteIdRef = 9;
  p.OutEffects.Effects.emplace_back().CompositionObjects.push_back({});
  p.OutEffects.Effects[0].CompositionObjects[0].ObjectIdRef = 0;
  EXPECT_EQ(FindObjectPalette(out_only, 0), 9);
  EXPECT_EQ(FindObjectPalette(CIcData{}, 0), kNoPalette);
}

TEST(Composition, ListsCompletedObjectsAndDecodesThemWithTheirPalette) {
  CDsData ds;
  CPds& pal = ds.PdsFolder.emplace_back();
  pal.PaletteId = 4;
  pal.Entries = {{1, 16, 128, 128, 255}, {2, 128, 128, 160, 255}};
  CPds& later = ds.PdsFolder.emplace_back();
  later.PaletteId = 4;
  later.Entries = {{1, 235, 128, 128, 255}};
  const IndexedBitmap big = Picture(400, 400, 1, true);
  const IndexedBitmap small = Picture(20, 10, 2, false);
  AddObject(ds, 5, big, 100, 50);
  AddObject(ds, 7, small, 200, 150);
  ASSERT_EQ(ds.OdsArray.size(), 4u);  // three fragments and one
  EXPECT_EQ(ListObjects(ds), (std::vector<std::uint16_t>{5, 7}));

  const auto decoded = DecodeObjectBitmap(ds, 5, 4);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->bitmap, big);
  // The later PDS with the id is the palette: only its entry is defined.
  EXPECT_EQ(decoded->palette[1], 0xFFFEFEFEu);
  EXPECT_EQ(decoded->palette[2], 0u);
  ds.PdsFolder.pop_back();
  EXPECT_EQ(DecodeObjectBitmap(ds, 5, 4)->palette[1], 0xFF000000u);
  EXPECT_EQ(DecodeObjectBitmap(ds, 5, 4)->palette[2], 0xFF8275C2u);
  EXPECT_FALSE(DecodeObjectBitmap(ds, 5, kNoPalette).has_value());  // no PDS with id 255
  EXPECT_FALSE(DecodeObjectBitmap(ds, 6, 4).has_value());          // no such object
  ds.OdsArray[1].Fragment.pop_back();                                // data shorter than declared
  EXPECT_FALSE(DecodeObjectBitmap(ds, 5, 4).has_value());
  EXPECT_TRUE(DecodeObjectBitmap(ds, 7, 4).has_value());

  EXPECT_EQ(ObjectSize(ds, 5).width, 400);
  EXPECT_EQ(ObjectSize(ds, 5).height, 400);
  EXPECT_EQ(ObjectSize(ds, 9).width, 0);
}

TEST(Composition, ReplacingASplitObjectKeepsItsPlaceAndTimes) {
  CDsData ds;
  AddObject(ds, 2, Picture(30, 4, 3, false), 10, 5);
  AddObject(ds, 5, Picture(400, 400, 1, true), 100, 50);
  AddObject(ds, 7, Picture(20, 10, 2, false), 200, 150);
  ASSERT_EQ(ds.OdsArray.size(), 5u);
  ds.OdsArray[2].PTS = 111;  // later fragments have other times; the first fragment's are kept

  const IndexedBitmap edited = Picture(400, 400, 9, false);  // codes into one fragment
  ASSERT_TRUE(ReplaceObjectFromBitmap(ds, 5, edited));
  ASSERT_EQ(ds.OdsArray.size(), 3u);
  EXPECT_EQ(ds.OdsArray[0].ObjectId, 2);
  const COds& ods = ds.OdsArray[1];
  EXPECT_EQ(ods.ObjectId, 5);
  EXPECT_EQ(ods.PTS, 100u);
  EXPECT_EQ(ods.DTS, 50u);
  EXPECT_TRUE(ods.FirstFlag && ods.LastFlag);
  EXPECT_EQ(ods.ObjectVersion, 0);
  EXPECT_EQ(ds.OdsArray[2].ObjectId, 7);
  EXPECT_EQ(ds.OdsArray[2].ObjectVersion, 3);  // other objects untouched
  const auto back = DecodeObjectData(JoinObjectFragments(ds, 5));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, edited);

  // A size mismatch or an unknown id changes nothing.
  const auto before = ds.OdsArray.size();
  EXPECT_FALSE(ReplaceObjectFromBitmap(ds, 5, Picture(401, 400, 9, false)));
  EXPECT_FALSE(ReplaceObjectFromBitmap(ds, 6, IndexedBitmap{}));
  EXPECT_FALSE(ReplaceObjectSegments(ds, 6, {}));
  EXPECT_EQ(ds.OdsArray.size(), before);
  EXPECT_EQ(*DecodeObjectData(JoinObjectFragments(ds, 5)), edited);
}

TEST(Composition, DoublyDefinedObjectIsRemovedTwiceAndInsertedOnce) {
  CDsData ds;
  AddObject(ds, 4, Picture(8, 8, 1, false), 10, 5);
  AddObject(ds, 9, Picture(8, 8, 2, false), 20, 15);
  AddObject(ds, 4, Picture(8, 8, 3, false), 30, 25);
  EXPECT_EQ(ListObjects(ds), (std::vector<std::uint16_t>{4, 9, 4}));
  const IndexedBitmap edited = Picture(8, 8, 4, true);
  ASSERT_TRUE(ReplaceObjectFromBitmap(ds, 4, edited));
  EXPECT_EQ(ListObjects(ds), (std::vector<std::uint16_t>{4, 9}));
  EXPECT_EQ(ds.OdsArray[0].PTS, 10u);
  EXPECT_EQ(*DecodeObjectData(JoinObjectFragments(ds, 4)), edited);

  // New fragments take the remembered times and the object id whatever they carried.
  std::vector<COds> fresh = SplitObjectData(EncodeBitmap(edited), 77);
  fresh[0].PTS = 999;
  ASSERT_TRUE(ReplaceObjectSegments(ds, 9, fresh));
  EXPECT_EQ(ds.OdsArray[1].ObjectId, 9);
  EXPECT_EQ(ds.OdsArray[1].PTS, 20u);
  EXPECT_EQ(ds.OdsArray[1].DTS, 15u);
}

}  // namespace
}  // namespace veld
