// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the core as Qt images.
#pragma once

#include <QImage>
#include <cstring>

#include "veld/graphics/bitmap.h"

namespace veld::gui {

// A deep copy of the picture (straight alpha, R, G, B, A bytes); a null image for an empty picture.
inline QImage ToQImage(const RgbaImage& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() != static_cast<std::size_t>(picture.width) * picture.height * 4) {
    return {};
  }
  QImage image(picture.width, picture.height, QImage::Format_RGBA8888);
  const std::size_t row = static_cast<std::size_t>(picture.width) * 4;
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(image.scanLine(y), picture.pixels.data() + row * static_cast<std::size_t>(y), row);
  }
  return image;
}

}  // namespace veld::gui
