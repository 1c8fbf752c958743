// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/button_images.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/rle.h"

namespace veld {
namespace {

class ButtonImages : public ::testing::Test {
 protected:
  void SetUp() override {
    set_language(Language::kEnglish);
    picture_ = IndexedBitmap{12, 5, std::vector<std::uint8_t>(60)};
    for (std::size_t i = 0; i < picture_.pixels.size(); ++i) picture_.pixels[i] = static_cast<std::uint8_t>(i % 4);
    CPds& pds = ds_.PdsFolder.emplace_back();
    pds.PaletteId = 0;
    pds.Entries = {{0, 16, 128, 128, 0}, {1, 235, 128, 128, 255}, {2, 81, 90, 240, 255}, {3, 145, 54, 34, 255}};
    for (COds& ods : SplitObjectData(EncodeBitmap(picture_), 3)) {
      ods.PTS = 500;
      ds_.OdsArray.push_back(std::move(ods));
    }
  }
  void TearDown() override { reset_language(); }

  std::filesystem::path Save(const IndexedBitmap& bitmap) {
    const auto path = ImageFileName(dir_.path(), 3);
    EXPECT_EQ(SaveObjectImage(bitmap, PaletteToArgb(ds_.PdsFolder[0].Entries), path), "");
    return path;
  }

  test::TempDir dir_;
  CDsData ds_;
  IndexedBitmap picture_;
  test::RecordingMessenger messenger_;
};

TEST_F(ButtonImages, AnEditedPictureBecomesTheObjectsData) {
  IndexedBitmap edited = picture_;
  edited.pixels[0] = 3;
  edited.pixels[59] = 200;  // any entry id, even one the palette does not define
  const auto path = Save(edited);
  EXPECT_EQ(path.filename(), "0004.gif");
  ASSERT_TRUE(ImportButtonImage(ds_, 3, path, messenger_));
  EXPECT_TRUE(messenger_.shown.empty());
  const auto back = DecodeObjectBitmap(ds_, 3, 0);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->bitmap, edited);
  EXPECT_EQ(ds_.OdsArray.size(), 1u);
  EXPECT_EQ(ds_.OdsArray[0].PTS, 500u);
}

TEST_F(ButtonImages, TheThreeChecksShowTheirMessageAndChangeNothing) {
  const Bytes before = JoinObjectFragments(ds_, 3);

  IndexedBitmap wider{13, 5, std::vector<std::uint8_t>(65, 1)};
  const auto path = Save(wider);
  EXPECT_FALSE(ImportButtonImage(ds_, 3, path, messenger_));
  ASSERT_EQ(messenger_.shown.size(), 1u);
  EXPECT_EQ(messenger_.shown[0].kind, MessageKind::kError);
  // Without a composition a picture of another size has no place: the message gives both sizes.
  EXPECT_EQ(messenger_.shown[0].text, path.string() + "\r\nis 13 x 5 pixels, the object was 12 x 5, and the display "
                                                     "set has no composition to place it by ! Keep the picture's size.");

  // A 2 x 1 24-bit BMP under the picture's name loads but is not 8-bit indexed.
  test::write_file(path, test::hex_bytes("424D 3E000000 0000 0000 36000000 28000000 02000000 01000000 0100 1800"
                                         "00000000 08000000 130B0000 130B0000 00000000 00000000"
                                         "0000FF 00FF00 0000"));
  EXPECT_FALSE(ImportButtonImage(ds_, 3, path, messenger_));
  ASSERT_EQ(messenger_.shown.size(), 2u);
  EXPECT_EQ(messenger_.shown[1].text, path.string() + "\r\nMust be 256 color ! ");

  test::write_file(path, test::hex_bytes("48 65 6C 6C 6F"));
  EXPECT_FALSE(ImportButtonImage(ds_, 3, path, messenger_));
  ASSERT_EQ(messenger_.shown.size(), 3u);
  EXPECT_EQ(messenger_.shown[2].text, path.string() + "\r\nnot support image file! ");

  // A picture of the right size for an object the display set does not have.
  const auto other = Save(picture_);
  EXPECT_FALSE(ImportButtonImage(ds_, 8, other, messenger_));
  EXPECT_EQ(messenger_.shown.size(), 4u);

  EXPECT_EQ(JoinObjectFragments(ds_, 3), before);
}

TEST_F(ButtonImages, MessagesInChinese) {
  set_language(Language::kChinese);
  const auto path = dir_ / "0004.gif";
  test::write_file(path, test::hex_bytes("00"));
  EXPECT_FALSE(ImportButtonImage(ds_, 3, path, messenger_));
  ASSERT_EQ(messenger_.shown.size(), 1u);
  EXPECT_EQ(messenger_.shown[0].text, path.string() + "\r\n不支持的图片格式 ! ");
}

// A display set as the extraction sees it: a 1080-line composition whose page shows object 3 with
// palette 0, so the import compares the picture's colours with the menu's.
class ButtonImagesWithMenu : public ButtonImages {
 protected:
  void SetUp() override {
    ButtonImages::SetUp();
    CIcData ic;
    CPage& page = ic.Pages.emplace_back();
    page.PageId = 0;
    page.PaletteIdRef = 0;
    CBdButton& b = page.Bogs.emplace_back().Buttons.emplace_back();
    b.Id = 1;
    b.Normal.StartObjectId = b.Normal.EndObjectId = 3;
    CIcs& ics = ds_.IcsArray.emplace_back();
    ics.Video.Width = 1920;
    ics.Video.Height = 1080;
    ASSERT_GT(ic.Write(&ics.Fragment), 0u);
  }
};

TEST_F(ButtonImagesWithMenu, PngPicturesAreMatchedWithTheColoursTheyWereWrittenWith) {
  EXPECT_EQ(PictureMatrix(ds_), ColourMatrix::kBt709);
  IndexedBitmap edited = picture_;
  edited.pixels[0] = 2;
  // As extracted with --format png: BT.709 colours. Entry 2 differs between the conversions.
  const ArgbPalette bt709 = *ObjectPalette(ds_, 3, ColourMatrix::kBt709);
  ASSERT_NE(bt709[2], (*ObjectPalette(ds_, 3))[2]);
  const auto png = ImageFileName(dir_.path(), 3, ImageFormat::kPng);
  ASSERT_EQ(SaveObjectImage(edited, bt709, png, ImageFormat::kPng), "");
  ASSERT_TRUE(ImportButtonImage(ds_, 3, png, messenger_)) << messenger_.all_text();
  EXPECT_EQ(DecodeObjectBitmap(ds_, 3, 0)->bitmap, edited);

  // A PNG an editor made from the GIF carries the GIF's colours: taken with that conversion.
  edited.pixels[1] = 3;
  ASSERT_EQ(SaveObjectImage(edited, *ObjectPalette(ds_, 3), png, ImageFormat::kPng), "");
  ASSERT_TRUE(ImportButtonImage(ds_, 3, png, messenger_)) << messenger_.all_text();
  EXPECT_EQ(DecodeObjectBitmap(ds_, 3, 0)->bitmap, edited);

  // A colour of neither conversion is refused, named in the PNG form (with its alpha).
  ArgbPalette foreign = bt709;
  foreign[2] = 0xFF123456;
  ASSERT_EQ(SaveObjectImage(picture_, foreign, png, ImageFormat::kPng), "");
  SImportOptions exact;
  exact.colours = ColourMode::kExact;
  EXPECT_FALSE(ImportButtonImage(ds_, 3, png, messenger_, exact));
  EXPECT_NE(messenger_.all_text().find("#123456FF"), std::string::npos) << messenger_.all_text();
  EXPECT_NE(messenger_.all_text().find("Use --colours nearest"), std::string::npos) << messenger_.all_text();
  EXPECT_NE(messenger_.all_text().find("palette0.gpl"), std::string::npos) << messenger_.all_text();
  // By default it takes the nearest entry, and a warning counts the pixels.
  messenger_.shown.clear();
  ASSERT_TRUE(ImportButtonImage(ds_, 3, png, messenger_)) << messenger_.all_text();
  ASSERT_EQ(messenger_.shown.size(), 1u);
  EXPECT_EQ(messenger_.shown[0].kind, MessageKind::kWarning);
  EXPECT_NE(messenger_.shown[0].text.find(": 15 pixels have colours that are not in the menu's palette"),
            std::string::npos) << messenger_.shown[0].text;
}

}  // namespace
}  // namespace veld

namespace veld {
namespace {

// A picture of four pixels (indices 0, 1, 2, 1) as an editor saved it, against a menu palette whose
// entries 0..3 are transparent black, white, blue, and blue at half opacity.
LoadedImage saved(ImageFormat format, std::vector<std::uint32_t> table, std::vector<std::uint8_t> pixels = {0, 1, 2, 1}) {
  LoadedImage image;
  image.check = ImageCheck::kOk;
  image.format = format;
  image.bitmap = IndexedBitmap{static_cast<int>(pixels.size()), 1, pixels};
  image.palette_size = static_cast<int>(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) image.palette[i] = table[i];
  return image;
}

TEST(MatchPicturePaletteTest, SameReorderedTrimmedAndForeignPalettes) {
  ArgbPalette menu{};
  menu[0] = 0x00000000;
  menu[1] = 0xFFFFFFFF;
  menu[2] = 0xFF0000FF;
  menu[3] = 0x800000FF;
  struct Row {
    const char* what;
    ImageFormat format;
    std::vector<std::uint32_t> table;
    bool ok;
    std::vector<std::uint8_t> pixels;  // after mapping
    const char* foreign;
  };
  const Row rows[] = {
      // GIF keeps one transparent colour (alpha 0 at index 0); other entries read as opaque.
      {"unchanged", ImageFormat::kGif, {0x00000000, 0xFFFFFFFF, 0xFF0000FF, 0xFF0000FF}, true, {0, 1, 2, 1}, ""},
      {"reordered", ImageFormat::kGif, {0xFFFFFFFF, 0xFF0000FF, 0x00000000}, true, {1, 2, 0, 2}, ""},
      {"trimmed", ImageFormat::kGif, {0x00000000, 0xFFFFFFFF, 0xFF0000FF}, true, {0, 1, 2, 1}, ""},
      {"foreign", ImageFormat::kGif, {0x00000000, 0xFFFF0000, 0xFF0000FF}, false, {}, "#FF0000"},
      // An opaque GIF colour whose RGB only a transparent entry has still finds it (first match).
      {"transparent rgb", ImageFormat::kGif, {0xFF000000, 0xFFFFFFFF, 0xFF0000FF}, true, {0, 1, 2, 1}, ""},
      // PNG compares alpha too: half-transparent blue is entry 3.
      {"png alpha", ImageFormat::kPng, {0x00000000, 0xFFFFFFFF, 0x800000FF}, true, {0, 1, 3, 1}, ""},
      {"png foreign alpha", ImageFormat::kPng, {0x00000000, 0x40FFFFFF, 0xFF0000FF}, false, {}, "#FFFFFF40"},
  };
  for (const Row& r : rows) {
    LoadedImage image = saved(r.format, r.table);
    std::string foreign;
    int x = -1, y = -1;
    EXPECT_EQ(MatchPicturePalette(image, menu, &foreign, &x, &y), r.ok) << r.what;
    if (r.ok) {
      EXPECT_EQ(image.bitmap.pixels, r.pixels) << r.what;
    } else {
      EXPECT_EQ(foreign, r.foreign) << r.what;
      EXPECT_EQ(x, 1) << r.what;
    }
  }
}

}  // namespace
}  // namespace veld
