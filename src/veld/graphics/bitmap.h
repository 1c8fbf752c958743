// An 8-bit indexed picture: the pixels of a graphics object as palette entry ids.
#pragma once

#include <cstdint>
#include <vector>

namespace veld {

// Rows top to bottom, each `width` bytes with no padding; pixels.size() == width * height. Each byte is
// a palette entry id; the colours belong to a separate palette (ArgbPalette or the segments' entries).
struct IndexedBitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  friend bool operator==(const IndexedBitmap&, const IndexedBitmap&) = default;
};

// The largest picture the decoders allocate (64 Mi pixels, 32 times a 1920 x 1080 graphics plane).
// Larger sizes can only come from damaged or hostile input and are refused before any allocation.
inline constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 26;

}  // namespace veld
