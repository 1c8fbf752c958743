// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/image_file.h"

#include <gif_lib.h>
#include <png.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/graphics/rle.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using ::testing::HasSubstr;

// ---------------------------------------------------------------------------------------------------
// Independent writers of test pictures

// A GIF written without giflib: 256-entry global table and "uncompressed" LZW (9-bit literal codes with
// a clear code every 250 pixels), so that the reader is checked against a second implementation.
struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlace = false;
  int transparent = -1;
  std::vector<std::uint8_t> pixels;  // width x height, row-major in picture order
};

Bytes WriteGifByHand(int screen_width, int screen_height, const std::array<std::uint32_t, 256>& rgb,
                     const std::vector<GifFrame>& frames, int background = 0) {
  Bytes out;
  auto le16 = [&](int v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  for (char c : std::string("GIF89a")) out.push_back(static_cast<std::uint8_t>(c));
  le16(screen_width);
  le16(screen_height);
  out.push_back(0xF7);  // global table, 8-bit colour resolution, 256 entries
  out.push_back(static_cast<std::uint8_t>(background));
  out.push_back(0);
  for (std::uint32_t c : rgb) {
    out.push_back(static_cast<std::uint8_t>(c >> 16));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
    out.push_back(static_cast<std::uint8_t>(c));
  }
  for (const GifFrame& f : frames) {
    if (f.transparent >= 0) {
      for (int b : {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, f.transparent, 0x00}) out.push_back(static_cast<std::uint8_t>(b));
    }
    out.push_back(0x2C);
    le16(f.left);
    le16(f.top);
    le16(f.width);
    le16(f.height);
    out.push_back(f.interlace ? 0x40 : 0x00);
    out.push_back(8);  // LZW minimum code size
    std::vector<int> rows;
    if (f.interlace) {
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < f.height; y += step) rows.push_back(y);
    } else {
      for (int y = 0; y < f.height; ++y) rows.push_back(y);
    }
    Bytes lzw;
    std::uint32_t acc = 0;
    int nbits = 0;
    auto code = [&](int c) {
      acc |= static_cast<std::uint32_t>(c) << nbits;
      nbits += 9;
      while (nbits >= 8) {
        lzw.push_back(static_cast<std::uint8_t>(acc));
        acc >>= 8;
        nbits -= 8;
      }
    };
    int since_clear = 250;
    for (int y : rows) {
      for (int x = 0; x < f.width; ++x) {
        if (since_clear == 250) {
          code(256);
          since_clear = 0;
        }
        code(f.pixels[static_cast<std::size_t>(y) * f.width + x]);
        ++since_clear;
      }
    }
    code(257);
    if (nbits > 0) lzw.push_back(static_cast<std::uint8_t>(acc));
    for (std::size_t i = 0; i < lzw.size(); i += 255) {
      const std::size_t n = std::min<std::size_t>(255, lzw.size() - i);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), lzw.begin() + static_cast<std::ptrdiff_t>(i), lzw.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

// PNG through libpng's simplified writer: a colour-mapped picture is written with the smallest bit depth
// that holds its entries (1, 2, 4 or 8).
Bytes WritePng(int width, int height, png_uint_32 format, const std::vector<std::uint8_t>& data,
               const std::vector<std::uint8_t>& colormap = {}) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  image.colormap_entries = static_cast<png_uint_32>(colormap.size() / 3);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, data.data(), 0, colormap.empty() ? nullptr : colormap.data())) {
    ADD_FAILURE() << image.message;
    return {};
  }
  Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, data.data(), 0, colormap.empty() ? nullptr : colormap.data())) {
    ADD_FAILURE() << image.message;
    return {};
  }
  out.resize(size);
  return out;
}

// An Adam7-interlaced 8-bit palette PNG through libpng's own writer.
void AppendPng(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

Bytes WriteInterlacedPalettePng(const IndexedBitmap& picture) {
  Bytes out;
  std::vector<png_color> palette(256);
  for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = {static_cast<png_byte>(i), 0, 0};
  std::vector<png_bytep> rows;
  for (int y = 0; y < picture.height; ++y)
    rows.push_back(const_cast<png_bytep>(picture.pixels.data()) + static_cast<std::size_t>(y) * picture.width);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write the test picture";
    return {};
  }
  png_set_write_fn(png, &out, AppendPng, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
               PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette.data(), 256);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes WriteBmp24(int width, int height) {
  const int stride = (width * 3 + 3) & ~3;
  const int size = 54 + stride * height;
  Bytes out(static_cast<std::size_t>(size), 0);
  auto le32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  le32(2, static_cast<std::uint32_t>(size));
  le32(10, 54);
  le32(14, 40);
  le32(18, static_cast<std::uint32_t>(width));
  le32(22, static_cast<std::uint32_t>(height));
  out[26] = 1;
  out[28] = 24;
  for (std::size_t i = 54; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 7);
  return out;
}

// An 8 x 8 red JPEG (JFIF).
Bytes TinyJpeg() {
  return test::hex_bytes(
    "ffd8ffe000104a46494600010200000100010000fffe00104c61766335392e33372e31303000ffdb0043000804040404"
    "040505050505050606060606060606060606060607070708080807070706060707080808080909090808080809090a0a"
    "0a0c0c0b0b0e0e0e111114ffc4004c000101000000000000000000000000000000060101010000000000000000000000"
    "0000000607100100000000000000000000000000000000110100000000000000000000000000000000ffc00011080008"
    "000803012200021100031100ffda000c03010002110311003f008b00517f7fffd9");
}

// ---------------------------------------------------------------------------------------------------
// Reading GIF files back with giflib, apart from the product's reader

struct GifContents {
  int width = 0, height = 0;
  int colours = 0;
  std::array<std::uint32_t, 256> rgb{};
  int transparent = -1;
  bool interlaced = false;
  int frames = 0;
  std::vector<std::uint8_t> pixels;
};

GifContents ReadGifWithGiflib(const fs::path& path) {
  GifContents c;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (!gif) {
    ADD_FAILURE() << "giflib cannot open " << path << ": " << GifErrorString(error);
    return c;
  }
  if (DGifSlurp(gif) != GIF_OK) {
    ADD_FAILURE() << "giflib cannot read " << path << ": " << GifErrorString(gif->Error);
  } else {
    c.width = gif->SWidth;
    c.height = gif->SHeight;
    c.frames = gif->ImageCount;
    if (gif->SColorMap) {
      c.colours = gif->SColorMap->ColorCount;
      for (int i = 0; i < c.colours && i < 256; ++i) {
        const GifColorType& k = gif->SColorMap->Colors[i];
        c.rgb[static_cast<std::size_t>(i)] = (std::uint32_t{k.Red} << 16) | (std::uint32_t{k.Green} << 8) | k.Blue;
      }
    }
    if (gif->ImageCount > 0) {
      const SavedImage& img = gif->SavedImages[0];
      c.interlaced = img.ImageDesc.Interlace;
      c.pixels.assign(img.RasterBits, img.RasterBits + static_cast<std::size_t>(img.ImageDesc.Width) * img.ImageDesc.Height);
      GraphicsControlBlock gcb{};
      if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) c.transparent = gcb.TransparentColor;
    }
  }
  DGifCloseFile(gif, &error);
  return c;
}

std::array<std::uint32_t, 256> RgbOf(const ArgbPalette& argb) {
  std::array<std::uint32_t, 256> rgb{};
  for (std::size_t i = 0; i < 256; ++i) rgb[i] = argb[i] & 0xFFFFFF;
  return rgb;
}

IndexedBitmap Pattern(int width, int height) {
  IndexedBitmap b{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.pixels.push_back(static_cast<std::uint8_t>((x / 3 + y * 7) % 256));
  return b;
}

ArgbPalette SomePalette() {
  std::vector<SPaletteEntry> entries;
  for (int i = 0; i < 256; ++i) {
    if (i == 3 || i == 200) continue;  // undefined: transparent black
    entries.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(16 + i % 200),
                       static_cast<std::uint8_t>(128 + (i % 30)), static_cast<std::uint8_t>(100 + i % 50),
                       static_cast<std::uint8_t>(i == 9 ? 0 : 255)});
  }
  return PaletteToArgb(entries);
}

// Replaces rather than truncates: rewriting a truncated file forces a flush on some file systems, which
// makes the loops below slow.
void WriteBytes(const fs::path& p, const Bytes& b) {
  fs::remove(p);
  test::write_file(p, b);
}

// ---------------------------------------------------------------------------------------------------

TEST(ImageFile, NamesFollowTheObjectId) {
  const fs::path ds = fs::path("VELD") / "Images" / "00000" / "0x1400" / "Epoch1" / "DS1";
  EXPECT_EQ(ImageFileName(ds, 0), ds / "0001.gif");
  EXPECT_EQ(ImageFileName(ds, 41), ds / "0042.gif");
  EXPECT_EQ(ImageFileName(ds, 9998), ds / "9999.gif");
  EXPECT_EQ(ImageFileName(ds, 9999), ds / "10000.gif");
  EXPECT_EQ(ImageFileName(ds, 0xFFFE), ds / "65535.gif");
}

TEST(ImageFile, SavedGifHoldsIndicesPaletteAndTransparency) {
  TempDir dir;
  const IndexedBitmap picture = Pattern(37, 13);
  const ArgbPalette palette = SomePalette();
  const fs::path path = ImageFileName(dir.path(), 0);
  ASSERT_EQ(SaveObjectImage(picture, palette, path), "");

  const GifContents gif = ReadGifWithGiflib(path);
  EXPECT_EQ(gif.width, 37);
  EXPECT_EQ(gif.height, 13);
  EXPECT_EQ(gif.frames, 1);
  EXPECT_EQ(gif.colours, 256);
  EXPECT_EQ(gif.rgb, RgbOf(palette));
  EXPECT_EQ(gif.transparent, 3) << "lowest id with alpha 0 (3 is undefined, 9 has T = 0)";
  EXPECT_FALSE(gif.interlaced);
  EXPECT_EQ(gif.pixels, picture.pixels);

  const LoadedImage back = LoadIndexedImage(path);
  EXPECT_EQ(back.check, ImageCheck::kOk);
  EXPECT_EQ(back.bitmap, picture);

  // Overwriting an existing file; a palette without transparent entries gives no transparent index.
  ArgbPalette opaque;
  opaque.fill(0xFF102030);
  ASSERT_EQ(SaveObjectImage(Pattern(5, 5), opaque, path), "");
  const GifContents second = ReadGifWithGiflib(path);
  EXPECT_EQ(second.transparent, -1);
  EXPECT_EQ(second.pixels, Pattern(5, 5).pixels);
}

TEST(ImageFile, FailedSavesAreReported) {
  TempDir dir;
  const std::string missing_folder = SaveObjectImage(Pattern(4, 4), SomePalette(), dir / "no/such/0001.gif");
  EXPECT_THAT(missing_folder, HasSubstr("0001.gif"));
  EXPECT_THAT(missing_folder, HasSubstr(std::strerror(ENOENT)));
  EXPECT_FALSE(fs::exists(dir / "no"));
  EXPECT_NE(SaveObjectImage(IndexedBitmap{}, SomePalette(), dir / "empty.gif"), "");
  EXPECT_NE(SaveObjectImage(IndexedBitmap{4, 4, {1, 2}}, SomePalette(), dir / "short.gif"), "");
  EXPECT_FALSE(fs::exists(dir / "empty.gif"));
  // A full device: the write fails with the system's text.
  if (fs::exists("/dev/full")) {
    EXPECT_THAT(SaveObjectImage(Pattern(4, 4), SomePalette(), "/dev/full"), HasSubstr(std::strerror(ENOSPC)));
    EXPECT_TRUE(fs::exists("/dev/full"));
  }
}

TEST(ImageFile, ReadsGifsOfOtherWriters) {
  TempDir dir;
  const std::array<std::uint32_t, 256> rgb = RgbOf(SomePalette());
  // Plain, interlaced, and a frame smaller than the screen followed by a second frame that is ignored.
  GifFrame plain{0, 0, 300, 9, false, -1, Pattern(300, 9).pixels};
  GifFrame interlaced{0, 0, 23, 19, true, 5, Pattern(23, 19).pixels};
  GifFrame inner{2, 1, 3, 2, false, -1, {1, 2, 3, 4, 5, 6}};
  GifFrame later{0, 0, 6, 4, false, -1, std::vector<std::uint8_t>(24, 77)};

  WriteBytes(dir / "plain.gif", WriteGifByHand(300, 9, rgb, {plain}));
  WriteBytes(dir / "interlaced.gif", WriteGifByHand(23, 19, rgb, {interlaced}));
  WriteBytes(dir / "frames.gif", WriteGifByHand(6, 4, rgb, {inner, later}, 9));

  LoadedImage a = LoadIndexedImage(dir / "plain.gif");
  EXPECT_EQ(a.check, ImageCheck::kOk);
  EXPECT_EQ(a.bitmap, Pattern(300, 9));
  LoadedImage b = LoadIndexedImage(dir / "interlaced.gif");
  EXPECT_EQ(b.check, ImageCheck::kOk);
  EXPECT_EQ(b.bitmap, Pattern(23, 19)) << "rows put back in picture order";
  LoadedImage c = LoadIndexedImage(dir / "frames.gif");
  EXPECT_EQ(c.check, ImageCheck::kOk);
  EXPECT_EQ(c.bitmap, (IndexedBitmap{6, 4, {9, 9, 9, 9, 9, 9,  //
                                            9, 9, 1, 2, 3, 9,  //
                                            9, 9, 4, 5, 6, 9,  //
                                            9, 9, 9, 9, 9, 9}}))
      << "first frame only, uncovered pixels of the background index";
}

TEST(ImageFile, ReadsIndexedPngsOfEveryBitDepth) {
  TempDir dir;
  for (int entries : {2, 4, 16, 256}) {
    std::vector<std::uint8_t> colormap;
    for (int i = 0; i < entries; ++i) {
      colormap.insert(colormap.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7});
    }
    IndexedBitmap picture{13, 5, {}};
    for (int i = 0; i < 13 * 5; ++i) picture.pixels.push_back(static_cast<std::uint8_t>((i * 5 + i / 13) % entries));
    const Bytes png = WritePng(13, 5, PNG_FORMAT_RGB_COLORMAP, picture.pixels, colormap);
    ASSERT_GT(png.size(), 26u);
    const int depth = png[24];
    EXPECT_EQ(depth, entries == 2 ? 1 : entries == 4 ? 2 : entries == 16 ? 4 : 8);
    EXPECT_EQ(png[25], 3) << "colour type 3";
    // The name does not matter: a PNG under a .gif name is read as a PNG.
    WriteBytes(dir / "edited.gif", png);
    const LoadedImage back = LoadIndexedImage(dir / "edited.gif");
    EXPECT_EQ(back.check, ImageCheck::kOk) << entries;
    EXPECT_EQ(back.bitmap, picture) << entries;
  }
  const IndexedBitmap picture = Pattern(29, 11);
  const Bytes interlaced = WriteInterlacedPalettePng(picture);
  ASSERT_GT(interlaced.size(), 28u);
  EXPECT_EQ(interlaced[28], 1) << "Adam7";
  WriteBytes(dir / "adam7.png", interlaced);
  const LoadedImage back = LoadIndexedImage(dir / "adam7.png");
  EXPECT_EQ(back.check, ImageCheck::kOk);
  EXPECT_EQ(back.bitmap, picture);
}

TEST(ImageFile, OtherPicturesAreNot256ColourAndTheRestNotImages) {
  TempDir dir;
  std::vector<std::uint8_t> rgb(8 * 6 * 3), rgba(8 * 6 * 4), grey(8 * 6);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 3);
  WriteBytes(dir / "rgb.gif", WritePng(8, 6, PNG_FORMAT_RGB, rgb));
  WriteBytes(dir / "rgba.png", WritePng(8, 6, PNG_FORMAT_RGBA, rgba));
  WriteBytes(dir / "grey.png", WritePng(8, 6, PNG_FORMAT_GRAY, grey));
  WriteBytes(dir / "picture.bmp", WriteBmp24(5, 3));
  WriteBytes(dir / "photo.gif", TinyJpeg());
  const std::string text = "This is not a picture.\n";
  WriteBytes(dir / "notes.gif", Bytes(text.begin(), text.end()));
  WriteBytes(dir / "empty.gif", Bytes{});
  WriteBytes(dir / "bm.txt", Bytes{'B', 'M', 'W', ' ', 'c', 'a', 'r', 's'});

  for (const char* name : {"rgb.gif", "rgba.png", "grey.png", "picture.bmp", "photo.gif"}) {
    EXPECT_EQ(LoadIndexedImage(dir / name).check, ImageCheck::kNot256) << name;
  }
  for (const char* name : {"notes.gif", "empty.gif", "bm.txt", "missing.gif"}) {
    EXPECT_EQ(LoadIndexedImage(dir / name).check, ImageCheck::kNotImage) << name;
  }
}

TEST(ImageFile, DamagedGifAndPngFilesAreNotImages) {
  TempDir dir;
  const IndexedBitmap picture = Pattern(21, 17);
  ASSERT_EQ(SaveObjectImage(picture, SomePalette(), dir / "good.gif"), "");
  const Bytes gif = test::read_file(dir / "good.gif");
  std::vector<std::uint8_t> colormap;
  for (int i = 0; i < 256; ++i) colormap.insert(colormap.end(), {static_cast<std::uint8_t>(i), 1, 2});
  const Bytes png = WritePng(21, 17, PNG_FORMAT_RGB_COLORMAP, picture.pixels, colormap);
  const Bytes rgb_png = WritePng(4, 4, PNG_FORMAT_RGB, std::vector<std::uint8_t>(48, 9));

  for (const Bytes* file : {&gif, &png}) {
    int whole = 0;
    for (std::size_t n = 0; n < file->size(); ++n) {
      WriteBytes(dir / "cut", Bytes(file->begin(), file->begin() + static_cast<std::ptrdiff_t>(n)));
      const LoadedImage got = LoadIndexedImage(dir / "cut");
      if (got.check == ImageCheck::kOk) {
        // Only the closing bytes after the pixel data may be missing.
        EXPECT_EQ(got.bitmap, picture) << n;
        EXPECT_GE(n + 16, file->size()) << n;
        ++whole;
      } else {
        EXPECT_EQ(got.check, ImageCheck::kNotImage) << n;
      }
    }
    EXPECT_LE(whole, 16);
  }
  for (std::size_t n = 8; n < rgb_png.size() - 12; ++n) {
    WriteBytes(dir / "cut", Bytes(rgb_png.begin(), rgb_png.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_EQ(LoadIndexedImage(dir / "cut").check, ImageCheck::kNotImage) << n;
  }

  // Random flips: never a crash; what loads has the screen's size.
  std::mt19937 rng(7);
  for (int round = 0; round < 600; ++round) {
    Bytes bad = round % 2 ? gif : png;
    for (int f = 0; f < 3; ++f) bad[6 + rng() % (bad.size() - 6)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    WriteBytes(dir / "flipped", bad);
    const LoadedImage got = LoadIndexedImage(dir / "flipped");
    if (got.check == ImageCheck::kOk) {
      EXPECT_EQ(got.bitmap.pixels.size(), static_cast<std::size_t>(got.bitmap.width) * got.bitmap.height);
    }
  }
}

TEST(ImageFile, CheckMessagesInBothLanguages) {
  const fs::path p = "/w/VELD/Images/00000/DS1/0001.gif";
  set_language(Language::kEnglish);
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kOk, p), "");
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kNotImage, p), p.string() + "\r\nnot support image file! ");
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kNot256, p), p.string() + "\r\nMust be 256 color ! ");
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kSizeMismatch, p),
            p.string() + "\r\nImage size mismatch with button's size ! ");
  set_language(Language::kChinese);
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kNotImage, p), p.string() + "\r\n不支持的图片格式 ! ");
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kNot256, p), p.string() + "\r\n不是256色图片 ! ");
  EXPECT_EQ(ImageCheckMessage(ImageCheck::kSizeMismatch, p), p.string() + "\r\n图片尺寸和按钮大小不一致 ! ");
  reset_language();
}

// ---------------------------------------------------------------------------------------------------
// Every object of every generated disc: object data -> pixels -> GIF -> pixels, and an edited picture
// back to object data.

struct Segment {
  std::uint8_t type = 0;
  ByteSpan body;
};

// The display sets of a segment file ("IG", PTS, DTS, type, length, body), each ended by END (0x80).
std::vector<std::vector<Segment>> ReadDisplaySets(const Bytes& file) {
  std::vector<std::vector<Segment>> sets(1);
  std::size_t pos = 0;
  while (pos < file.size()) {
    if (pos + 13 > file.size()) throw std::runtime_error("short segment header");
    const std::size_t length = load_be16(&file[pos + 11]);
    if (pos + 13 + length > file.size()) throw std::runtime_error("short segment body");
    sets.back().push_back({file[pos + 10], ByteSpan(file).subspan(pos + 13, length)});
    if (file[pos + 10] == 0x80) sets.emplace_back();
    pos += 13 + length;
  }
  sets.pop_back();
  return sets;
}

// The joined ODS fragments of one object in a display set.
Bytes JoinObject(const std::vector<Segment>& set, int object_id) {
  Bytes data;
  for (const Segment& s : set) {
    if (s.type != 0x15 || s.body.size() < 4 || load_be16(s.body.data()) != object_id) continue;
    data.insert(data.end(), s.body.begin() + 4, s.body.end());
  }
  return data;
}

TEST(ImageFileOnDiscs, EveryObjectSurvivesGifAndEditing) {
  const fs::path discs = test::test_discs_dir();
  TempDir dir;
  int objects = 0, variants = 0;
  for (const auto& entry : fs::directory_iterator(discs)) {
    if (!fs::exists(entry.path() / "truth.json")) continue;
    ++variants;
    const Bytes truth_text = test::read_file(entry.path() / "truth.json");
    const auto truth = nlohmann::json::parse(truth_text.begin(), truth_text.end());
    for (const auto& [clip, clip_truth] : truth.at("clips").items()) {
      if (!clip_truth.contains("ig")) continue;
      for (const auto& [pid, ig] : clip_truth.at("ig").items()) {
        const Bytes stream = test::read_file(entry.path() / ig.at("segment_file").get<std::string>());
        const auto sets = ReadDisplaySets(stream);
        const auto& ds_truth = ig.at("display_sets");
        ASSERT_EQ(sets.size(), ds_truth.size()) << entry.path() << " " << pid;
        for (std::size_t d = 0; d < sets.size(); ++d) {
          for (const auto& obj : ds_truth[d].at("objects")) {
            const int id = obj.at("id");
            const std::string where = fmt::format("{} {} DS{} object {}", entry.path().filename().string(), pid, d + 1, id);
            const Bytes object_data = JoinObject(sets[d], id);
            const auto bitmap = DecodeObjectData(object_data);
            ASSERT_TRUE(bitmap) << where;
            // The generator codes every run in its shortest form and splits nothing below 16,384 pixels,
            // as this encoder does: coding the pixels again gives the disc's bytes.
            EXPECT_EQ(EncodeBitmap(*bitmap), object_data) << where;
            EXPECT_EQ(bitmap->width, obj.at("width").get<int>()) << where;
            EXPECT_EQ(bitmap->height, obj.at("height").get<int>()) << where;
            EXPECT_EQ(test::sha256_hex(bitmap->pixels), obj.at("pixels_sha256").get<std::string>()) << where;

            std::vector<SPaletteEntry> entries;
            for (const auto& e : obj.at("palette")) {
              entries.push_back({e[0].get<std::uint8_t>(), e[1].get<std::uint8_t>(), e[2].get<std::uint8_t>(),
                                 e[3].get<std::uint8_t>(), e[4].get<std::uint8_t>()});
            }
            const ArgbPalette argb = PaletteToArgb(entries);
            const fs::path gif_path = ImageFileName(dir.path(), id);
            ASSERT_EQ(SaveObjectImage(*bitmap, argb, gif_path), "") << where;
            const GifContents gif = ReadGifWithGiflib(gif_path);
            EXPECT_EQ(test::sha256_hex(gif.pixels), obj.at("pixels_sha256").get<std::string>()) << where;
            EXPECT_EQ(gif.rgb, RgbOf(argb)) << where;
            const LoadedImage back = LoadIndexedImage(gif_path);
            ASSERT_EQ(back.check, ImageCheck::kOk) << where;
            EXPECT_EQ(back.bitmap, *bitmap) << where;

            // An edit that keeps the palette: a frame and a diagonal in colours the palette defines,
            // saved by an independent writer; the import gives the edited pixels, and so does the
            // object data coded from them.
            IndexedBitmap edited = *bitmap;
            const std::uint8_t ink = entries.empty() ? 1 : entries.back().id;
            const std::uint8_t paper = entries.empty() ? 0 : entries.front().id;
            for (int y = 0; y < edited.height; ++y) {
              for (int x = 0; x < edited.width; ++x) {
                auto& px = edited.pixels[static_cast<std::size_t>(y) * edited.width + x];
                if (y == 0 || x == 0 || y == edited.height - 1 || x == edited.width - 1) px = ink;
                else if ((x + y) % 11 == 0) px = paper;
              }
            }
            const fs::path edited_path = dir / "edited.gif";
            WriteBytes(edited_path, WriteGifByHand(edited.width, edited.height, RgbOf(argb),
                                                   {GifFrame{0, 0, edited.width, edited.height, d % 2 == 1, -1, edited.pixels}}));
            const LoadedImage imported = LoadIndexedImage(edited_path);
            ASSERT_EQ(imported.check, ImageCheck::kOk) << where;
            EXPECT_EQ(imported.bitmap, edited) << where;
            const auto recoded = DecodeObjectData(EncodeBitmap(imported.bitmap));
            ASSERT_TRUE(recoded) << where;
            EXPECT_EQ(*recoded, edited) << where;
            ++objects;
          }
        }
      }
    }
  }
  EXPECT_GE(variants, 4);
  EXPECT_GT(objects, 0);
  std::printf("checked %d objects of %d discs\n", objects, variants);
}

}  // namespace
}  // namespace veld
