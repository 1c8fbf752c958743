// SPDX-License-Identifier: GPL-3.0-or-later
// Picture import: an edited picture read back by content (GIF or indexed PNG), its colours matched to
// the menu palette of its object, and its pixels coded as the object's new data.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/graphics/button_images.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/rle.h"

using namespace veld;

namespace {

// A menu palette made from the picture's own colours: shuffled (an editor that re-ordered the table),
// and with some colours left out (a picture that uses a colour the menu lacks), decided by the input.
ArgbPalette MenuPalette(const LoadedImage& image, const std::uint8_t* data, std::size_t size) {
  std::uint32_t seed = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
  ArgbPalette menu{};
  std::array<int, 256> order{};
  for (int i = 0; i < 256; ++i) order[static_cast<std::size_t>(i)] = i;
  for (int i = 255; i > 0; --i) {
    seed = seed * 1103515245u + 12345u;
    std::swap(order[static_cast<std::size_t>(i)], order[(seed >> 8) % static_cast<std::uint32_t>(i + 1)]);
  }
  const bool keep_order = (seed & 0x300) == 0;
  for (int i = 0; i < image.palette_size && i < 256; ++i) {
    seed = seed * 1103515245u + 12345u;
    if ((seed >> 16) % 16 == 0) continue;  // a colour the menu does not have
    const std::size_t to = keep_order ? static_cast<std::size_t>(i) : static_cast<std::size_t>(order[static_cast<std::size_t>(i)]);
    menu[to] = image.palette[static_cast<std::size_t>(i)];
  }
  return menu;
}

}  // namespace

VELD_FUZZ_TARGET(picture) {
  const std::filesystem::path path = fuzz::WriteScratchFile("picture", ByteSpan(data, size));
  LoadedImage image = LoadIndexedImage(path);
  if (image.check != ImageCheck::kOk) {
    (void)ImageCheckMessage(image.check, path);
    return 0;
  }
  VELD_FUZZ_CHECK(image.bitmap.width > 0 && image.bitmap.height > 0);
  VELD_FUZZ_CHECK(image.bitmap.pixels.size() ==
                  static_cast<std::size_t>(image.bitmap.width) * static_cast<std::size_t>(image.bitmap.height));
  const ArgbPalette menu = MenuPalette(image, data, size);
  std::string foreign;
  int x = -1, y = -1;
  if (!MatchPicturePalette(image, menu, &foreign, &x, &y)) {
    VELD_FUZZ_CHECK(x >= 0 && y >= 0 && x < image.bitmap.width && y < image.bitmap.height);
    return 0;
  }
  const Bytes code = EncodeBitmap(image.bitmap);
  if (!code.empty()) VELD_FUZZ_CHECK(DecodeObjectData(code) == image.bitmap);
  return 0;
}
