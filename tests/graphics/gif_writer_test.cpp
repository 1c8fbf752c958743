// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF writer against giflib's encoder: for the same picture the files are the same bytes.
#include "veld/graphics/gif_writer.h"

#include <gif_lib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace veld {
namespace {

int Append(GifFileType* gif, const GifByteType* data, int size) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + size);
  return size;
}

// What giflib writes for the bitmap with these colours, line by line.
Bytes GiflibFile(const IndexedBitmap& bitmap, const SGifColours& colours) {
  Bytes out;
  int status = 0;
  GifFileType* gif = EGifOpen(&out, Append, &status);
  EXPECT_NE(gif, nullptr);
  GifColorType table[256];
  for (int i = 0; i < 256; ++i) table[i] = {colours.rgb[i][0], colours.rgb[i][1], colours.rgb[i][2]};
  ColorMapObject* map = GifMakeMapObject(256, table);
  EGifSetGifVersion(gif, true);
  EXPECT_EQ(EGifPutScreenDesc(gif, bitmap.width, bitmap.height, 8, colours.background, map), GIF_OK);
  if (colours.transparent >= 0) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.TransparentColor = colours.transparent;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), GIF_OK);
  }
  EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, bitmap.width, bitmap.height, false, nullptr), GIF_OK);
  std::vector<GifPixelType> line(static_cast<std::size_t>(bitmap.width));
  for (int y = 0; y < bitmap.height; ++y) {
    std::memcpy(line.data(), bitmap.pixels.data() + static_cast<std::size_t>(y) * bitmap.width, line.size());
    EXPECT_EQ(EGifPutLine(gif, line.data(), bitmap.width), GIF_OK);
  }
  EXPECT_EQ(EGifCloseFile(gif, &status), GIF_OK);
  GifFreeMapObject(map);
  return out;
}

// Runs of 1 to max_run pixels of `colours` random entries: few colours and long runs fill the string
// table slowly, many colours and short runs fill it (and clear it) many times.
IndexedBitmap Picture(int width, int height, int colours, int max_run, unsigned seed) {
  IndexedBitmap b{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height)};
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < b.pixels.size();) {
    const auto value = static_cast<std::uint8_t>(random() % static_cast<unsigned>(colours) * (256 / colours));
    for (std::size_t n = 1 + random() % static_cast<unsigned>(max_run); n > 0 && i < b.pixels.size(); --n)
      b.pixels[i++] = value;
  }
  return b;
}

TEST(GifWriter, SameBytesAsGiflib) {
  SGifColours colours;
  for (int i = 0; i < 256; ++i) colours.rgb[i][0] = colours.rgb[i][1] = colours.rgb[i][2] = static_cast<std::uint8_t>(i);
  struct Case {
    int width, height, colours, max_run, transparent;
  };
  // One pixel; a single colour; table clears on noise of every entry; long runs; a picture whose data
  // fills exactly whole sub-blocks is likely among the seeds of the larger ones.
  const Case cases[] = {{1, 1, 1, 1, -1},   {1, 1, 256, 1, 0},     {7, 3, 2, 3, 1},       {300, 200, 1, 1, 0},
                        {480, 96, 5, 40, 0}, {1200, 600, 8, 12, 3}, {640, 480, 256, 1, -1}, {97, 1031, 256, 4, 255},
                        {1920, 1080, 3, 2000, 0}};
  unsigned seed = 1;
  for (const Case& c : cases) {
    for (int k = 0; k < 3; ++k, ++seed) {
      const IndexedBitmap b = Picture(c.width, c.height, c.colours, c.max_run, seed);
      colours.transparent = c.transparent;
      colours.background = c.transparent >= 0 ? c.transparent : 0;
      EXPECT_EQ(WriteGifFile(b, colours), GiflibFile(b, colours))
          << c.width << " x " << c.height << ", " << c.colours << " colours, seed " << seed;
    }
  }
}

}  // namespace
}  // namespace veld
