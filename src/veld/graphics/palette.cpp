#include "veld/graphics/palette.h"

#include <algorithm>

namespace veld {
namespace {

std::uint8_t ToComponent(long double v) {
  // Truncation toward zero first, then the clamp into one byte.
  const long long i = static_cast<long long>(v);
  return static_cast<std::uint8_t>(std::clamp<long long>(i, 0, 255));
}

}  // namespace

Rgb YCbCrToRgb(int y, int cr, int cb) {
  // Extended precision with exact long double constants; for every 8-bit input this truncates exactly as
  // a double computation does.
  const long double luma = (y - 16) * 1.164L;
  const long double r = luma + 1.596L * (cr - 128);
  const long double g = luma - 0.813L * (cr - 128) - 0.392L * (cb - 128);
  const long double b = luma + 2.017L * (cb - 128);
  return Rgb{ToComponent(r), ToComponent(g), ToComponent(b)};
}

ArgbPalette PaletteToArgb(std::span<const SPaletteEntry> entries) {
  ArgbPalette argb{};  // undefined ids: transparent black
  for (const SPaletteEntry& e : entries) {
    const Rgb c = YCbCrToRgb(e.y, e.cr, e.cb);
    argb[e.id] = (std::uint32_t{e.t} << 24) | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
  }
  return argb;
}

}  // namespace veld
