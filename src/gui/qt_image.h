// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the core as Qt images.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>
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

// Draws the image scaled into target over a grey checkerboard, so that its transparent parts show.
inline void DrawOnCheckerboard(QPainter& painter, const QRectF& target, const QImage& image) {
  const QRect area = target.toAlignedRect();
  painter.fillRect(area, QColor(102, 102, 102));
  for (int y = area.top(); y <= area.bottom(); y += 8)
    for (int x = area.left() + ((y - area.top()) / 8 % 2) * 8; x <= area.right(); x += 16)
      painter.fillRect(QRect(x, y, 8, 8).intersected(area), QColor(153, 153, 153));
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image);
}

}  // namespace veld::gui
