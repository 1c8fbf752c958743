// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/palette.h"

#include <algorithm>
#include <cmath>

namespace veld {
namespace {

std::uint8_t Clamp(long long v) { return static_cast<std::uint8_t>(std::clamp<long long>(v, 0, 255)); }

std::uint8_t Truncated(long double v) {
  // Truncation toward zero first, then the clamp into one byte.
  return Clamp(static_cast<long long>(v));
}

std::uint8_t Rounded(double v) { return Clamp(std::llround(v)); }

Rgb GifConversion(int y, int cr, int cb) {
  // Extended precision with exact long double constants; for every 8-bit input this truncates exactly as
  // a double computation does.
  const long double luma = (y - 16) * 1.164L;
  const long double r = luma + 1.596L * (cr - 128);
  const long double g = luma - 0.813L * (cr - 128) - 0.392L * (cb - 128);
  const long double b = luma + 2.017L * (cb - 128);
  return Rgb{Truncated(r), Truncated(g), Truncated(b)};
}

Rgb MatrixConversion(int y, int cr, int cb, double kr, double kb) {
  const double kg = 1.0 - kr - kb;
  const double luma = (y - 16) * (255.0 / 219.0);
  const double pr = (cr - 128) * (255.0 / 224.0);
  const double pb = (cb - 128) * (255.0 / 224.0);
  const double r = luma + 2.0 * (1.0 - kr) * pr;
  const double g = luma - 2.0 * kb * (1.0 - kb) / kg * pb - 2.0 * kr * (1.0 - kr) / kg * pr;
  const double b = luma + 2.0 * (1.0 - kb) * pb;
  return Rgb{Rounded(r), Rounded(g), Rounded(b)};
}

}  // namespace

ColourMatrix ColourMatrixForHeight(int video_height) {
  return video_height >= 720 ? ColourMatrix::kBt709 : ColourMatrix::kBt601;
}

Rgb YCbCrToRgb(int y, int cr, int cb, ColourMatrix matrix) {
  switch (matrix) {
    case ColourMatrix::kBt601:
      return MatrixConversion(y, cr, cb, 0.299, 0.114);
    case ColourMatrix::kBt709:
      return MatrixConversion(y, cr, cb, 0.2126, 0.0722);
    case ColourMatrix::kGif:
      break;
  }
  return GifConversion(y, cr, cb);
}

ArgbPalette PaletteToArgb(std::span<const SPaletteEntry> entries, ColourMatrix matrix) {
  ArgbPalette argb{};  // undefined ids: transparent black
  for (const SPaletteEntry& e : entries) {
    const Rgb c = YCbCrToRgb(e.y, e.cr, e.cb, matrix);
    argb[e.id] = (std::uint32_t{e.t} << 24) | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
  }
  return argb;
}

RgbaImage IndexedToRgba(const IndexedBitmap& bitmap, const ArgbPalette& palette) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height))
    return {};
  RgbaImage out(bitmap.width, bitmap.height);
  for (std::size_t i = 0; i < bitmap.pixels.size(); ++i) {
    const std::uint32_t argb = palette[bitmap.pixels[i]];
    std::uint8_t* p = out.pixels.data() + i * 4;
    p[0] = static_cast<std::uint8_t>(argb >> 16);
    p[1] = static_cast<std::uint8_t>(argb >> 8);
    p[2] = static_cast<std::uint8_t>(argb);
    p[3] = static_cast<std::uint8_t>(argb >> 24);
  }
  return out;
}

}  // namespace veld
