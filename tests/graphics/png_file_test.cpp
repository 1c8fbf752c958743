// SPDX-License-Identifier: GPL-3.0-or-later
// PNG pictures: checked with libpng's own reader (palette, transparency chunk, pixels) and with the
// picture reader of the import.
#include "veld/graphics/png_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <filesystem>

#include "support/test_support.h"
#include "veld/graphics/image_file.h"

namespace veld {
namespace {
namespace fs = std::filesystem;

struct DecodedPng {
  int width = 0, height = 0, colour_type = -1, bit_depth = 0;
  std::vector<png_color> plte;
  std::vector<png_byte> trns;
  bool has_trns = false;
  std::vector<std::uint8_t> rows;  // as stored (no transformation)
};

// Reads a PNG with libpng's low-level reader, without transformations (a damaged file fails the test).
DecodedPng Decode(const Bytes& file) {
  DecodedPng out;
  png_image probe{};
  probe.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&probe, file.data(), file.size())) << probe.message;
  png_image_free(&probe);

  struct Source {
    const Bytes* data;
    std::size_t pos;
  } src{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    ADD_FAILURE() << "libpng cannot read the file";
    return out;
  }
  png_set_read_fn(png, &src, [](png_structp p, png_bytep buf, png_size_t n) {
    auto* s = static_cast<Source*>(png_get_io_ptr(p));
    if (n > s->data->size() - s->pos) png_error(p, "short");
    std::memcpy(buf, s->data->data() + s->pos, n);
    s->pos += n;
  });
  png_read_info(png, info);
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  out.colour_type = png_get_color_type(png, info);
  out.bit_depth = png_get_bit_depth(png, info);
  png_colorp plte = nullptr;
  int n = 0;
  if (png_get_PLTE(png, info, &plte, &n)) out.plte.assign(plte, plte + n);
  png_bytep trns = nullptr;
  int t = 0;
  if (png_get_tRNS(png, info, &trns, &t, nullptr)) {
    out.has_trns = true;
    out.trns.assign(trns, trns + t);
  }
  const std::size_t stride = png_get_rowbytes(png, info);
  out.rows.resize(stride * static_cast<std::size_t>(out.height));
  std::vector<png_bytep> rows(static_cast<std::size_t>(out.height));
  for (int y = 0; y < out.height; ++y) rows[static_cast<std::size_t>(y)] = out.rows.data() + stride * y;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

IndexedBitmap Pattern(int w, int h) {
  IndexedBitmap b{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h)};
  for (std::size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = static_cast<std::uint8_t>(i * 37 % 256);
  return b;
}

TEST(PngFile, IndexedPictureKeepsIndicesColoursAndEachEntrysAlpha) {
  ArgbPalette palette{};
  for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = 0xFF000000u | static_cast<std::uint32_t>(i * 0x010203);
  palette[0] = 0x00000000;   // transparent black
  palette[7] = 0x80FF0000;   // half-transparent red
  palette[200] = 0x01102030;  // nearly transparent: the last entry that is not opaque
  const IndexedBitmap bitmap = Pattern(17, 5);
  std::string error;
  const auto png = EncodeIndexedPng(bitmap, palette, &error);
  ASSERT_TRUE(png) << error;
  const DecodedPng d = Decode(*png);
  EXPECT_EQ(d.width, 17);
  EXPECT_EQ(d.height, 5);
  EXPECT_EQ(d.colour_type, PNG_COLOR_TYPE_PALETTE);
  EXPECT_EQ(d.bit_depth, 8);
  ASSERT_EQ(d.plte.size(), 256u);
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t argb = palette[static_cast<std::size_t>(i)];
    EXPECT_EQ(d.plte[static_cast<std::size_t>(i)].red, static_cast<png_byte>(argb >> 16)) << i;
    EXPECT_EQ(d.plte[static_cast<std::size_t>(i)].green, static_cast<png_byte>(argb >> 8)) << i;
    EXPECT_EQ(d.plte[static_cast<std::size_t>(i)].blue, static_cast<png_byte>(argb)) << i;
  }
  ASSERT_TRUE(d.has_trns);
  ASSERT_EQ(d.trns.size(), 201u) << "cut after the last entry that is not opaque";
  EXPECT_EQ(d.trns[0], 0);
  EXPECT_EQ(d.trns[7], 0x80);
  EXPECT_EQ(d.trns[200], 0x01);
  EXPECT_EQ(d.trns[1], 0xFF);
  EXPECT_EQ(d.rows, bitmap.pixels);

  // The import reads it back by content, whatever its name.
  test::TempDir dir;
  test::write_file(dir / "0001.gif", *png);
  const LoadedImage back = LoadIndexedImage(dir / "0001.gif");
  ASSERT_EQ(back.check, ImageCheck::kOk);
  EXPECT_EQ(back.bitmap, bitmap);
}

TEST(PngFile, OpaquePaletteHasNoTransparencyChunk) {
  ArgbPalette opaque;
  opaque.fill(0xFF336699);
  std::string error;
  const auto png = EncodeIndexedPng(Pattern(3, 3), opaque, &error);
  ASSERT_TRUE(png) << error;
  EXPECT_FALSE(Decode(*png).has_trns);
}

TEST(PngFile, RgbaPictureKeepsStraightAlpha) {
  RgbaImage image(3, 2);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<std::uint8_t>(i * 11);
  std::string error;
  const auto png = EncodeRgbaPng(image, &error);
  ASSERT_TRUE(png) << error;
  const DecodedPng d = Decode(*png);
  EXPECT_EQ(d.colour_type, PNG_COLOR_TYPE_RGB_ALPHA);
  EXPECT_EQ(d.rows, image.pixels);
}

TEST(PngFile, RefusesEmptyOrInconsistentPictures) {
  std::string error;
  EXPECT_FALSE(EncodeIndexedPng(IndexedBitmap{}, ArgbPalette{}, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("empty or inconsistent"));
  EXPECT_FALSE(EncodeIndexedPng(IndexedBitmap{4, 4, {1, 2}}, ArgbPalette{}, &error));
  RgbaImage short_image(2, 2);
  short_image.pixels.pop_back();
  EXPECT_FALSE(EncodeRgbaPng(short_image, &error));
  EXPECT_FALSE(EncodeRgbaPng(RgbaImage(0, 5), &error));
}

TEST(PngFile, ObjectPicturesByFormat) {
  const fs::path ds("/x/DS1");
  EXPECT_EQ(ImageFileName(ds, 0, ImageFormat::kPng), ds / "0001.png");
  EXPECT_EQ(ImageFileName(ds, 41, ImageFormat::kGif), ds / "0042.gif");
  EXPECT_EQ(ImageExtension(ImageFormat::kPng), ".png");

  test::TempDir dir;
  ArgbPalette palette{};
  palette[1] = 0x80FFFFFF;
  const IndexedBitmap bitmap = Pattern(6, 4);
  ASSERT_EQ(SaveObjectImage(bitmap, palette, ImageFileName(dir.path(), 3, ImageFormat::kPng), ImageFormat::kPng), "");
  EXPECT_EQ(Decode(test::read_file(dir / "0004.png")).colour_type, PNG_COLOR_TYPE_PALETTE);
  // The picture an extraction left: the PNG when there is no GIF, otherwise (and when neither) the GIF name.
  EXPECT_EQ(ExistingImageFile(dir.path(), 3), dir / "0004.png");
  EXPECT_EQ(ExistingImageFile(dir.path(), 4), dir / "0005.gif");
  ASSERT_EQ(SaveObjectImage(bitmap, palette, ImageFileName(dir.path(), 3)), "");
  EXPECT_EQ(ExistingImageFile(dir.path(), 3), dir / "0004.gif");
  // A failed write names the system's reason and leaves nothing behind.
  EXPECT_NE(SaveObjectImage(bitmap, palette, dir / "missing/0001.png", ImageFormat::kPng), "");
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
}  // namespace veld
