// SPDX-License-Identifier: GPL-3.0-or-later
// An 8-bit indexed picture: the pixels of a graphics object as palette entry ids.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// A true-colour picture with straight (not premultiplied) alpha: rows top to bottom, 4 bytes per pixel in
// the order R, G, B, A, no padding; pixels.size() == 4 * width * height.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  RgbaImage() = default;
  // A fully transparent picture (every byte 0).
  RgbaImage(int w, int h)
      : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0) {}
  std::uint8_t* pixel(int x, int y) { return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4; }
  const std::uint8_t* pixel(int x, int y) const {
    return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
  }

  friend bool operator==(const RgbaImage&, const RgbaImage&) = default;
};

// The largest picture the decoders allocate (64 Mi pixels, 32 times a 1920 x 1080 graphics plane).
// Larger sizes can only come from damaged or hostile input and are refused before any allocation.
inline constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 26;

// The first pixel in [p, end) that differs from colour (end if none), eight pixels at a time: the run
// scan of the object and GIF encoders.
inline const std::uint8_t* RunEnd(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t colour) {
  const std::uint64_t pattern = colour * 0x0101010101010101ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t diff = word ^ pattern;
    if (diff != 0) {
      // The lowest differing byte in memory order (little-endian hosts), else a plain scan.
      if constexpr (std::endian::native == std::endian::little) return p + (std::countr_zero(diff) >> 3);
      break;
    }
    p += 8;
  }
  while (p < end && *p == colour) ++p;
  return p;
}

}  // namespace veld
