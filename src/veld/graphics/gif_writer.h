// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF file of an indexed bitmap, written without giflib's encoder: giflib looks every LZW string up
// in a hashed table through a function call per pixel, and that was most of the time of an extraction.
// The file is byte for byte the one giflib 5 writes for the same picture (header GIF89a, a 256-entry
// global colour table, a graphic control extension only when there is a transparent index, one frame
// that is not interlaced, LZW with 8-bit initial code size, a clear code when the table holds 4095
// codes, data in sub-blocks of 255 bytes); tests/graphics/gif_writer_test.cpp compares the two.
#pragma once

#include <cstdint>

#include "veld/base/bytes.h"
#include "veld/graphics/bitmap.h"

namespace veld {

// The colours of the global colour table (RGB of each entry), the background colour index and the
// transparent index (-1: none, no graphic control extension).
struct SGifColours {
  std::uint8_t rgb[256][3] = {};
  int background = 0;
  int transparent = -1;
};

// The whole file. bitmap must have 1 to 65535 columns and rows, pixels.size() == width * height.
Bytes WriteGifFile(const IndexedBitmap& bitmap, const SGifColours& colours);

// The image data of a frame as GIF stores it: the LZW minimum code size (8), the codes of pixels in
// sub-blocks and the empty block that ends them, appended to out.
void AppendGifImageData(const std::uint8_t* pixels, std::size_t count, Bytes& out);

}  // namespace veld
