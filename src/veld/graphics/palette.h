// SPDX-License-Identifier: GPL-3.0-or-later
// Palettes of graphics objects: the YCbCr entries of a palette definition segment and the 256-entry
// ARGB table of the indexed bitmaps written as image files.
//
// Colour semantics:
// - An entry's Y, Cr, Cb are studio-range values (Y 16..235, Cr/Cb 16..240 centred on 128). Which matrix
//   turns them into RGB depends on the picture being written (ColourMatrix):
//   * kGif, the conversion of the GIF pictures: the BT.601 matrix with its coefficients rounded to three
//     decimals, R = 1.164 (Y-16) + 1.596 (Cr-128), G = 1.164 (Y-16) - 0.813 (Cr-128) - 0.392 (Cb-128),
//     B = 1.164 (Y-16) + 2.017 (Cb-128); each result truncated toward zero.
//   * kBt601 and kBt709, the conversion of the PNG pictures and the page previews: the exact ITU-R BT.601
//     (Kr 0.299, Kb 0.114) or BT.709 (Kr 0.2126, Kb 0.0722) matrix with studio-range scaling (luma 255/219,
//     chroma 255/224), R = Ys + 2 (1-Kr) Crs, G = Ys - 2 Kb (1-Kb)/Kg Cbs - 2 Kr (1-Kr)/Kg Crs,
//     B = Ys + 2 (1-Kb) Cbs with Kg = 1 - Kr - Kb; each result rounded to the nearest integer. HD menus
//     (video height 720 or more) use BT.709, SD menus BT.601 (ColourMatrixForHeight).
//   Every result is clamped to 0..255 (full-range 8-bit components, no gamma change).
// - T is the entry's opacity: 0 fully transparent, 255 opaque. It becomes the ARGB alpha unchanged, and it
//   is straight (not premultiplied) alpha: the colour components keep their full value whatever T is.
// - An ARGB value is 0xAARRGGBB. Entry ids that the palette does not define are 0x00000000 (transparent
//   black).
// These conversions are for export only: the menu's palettes and the pictures' indices are never changed.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "veld/graphics/bitmap.h"

namespace veld {

// One palette entry as carried by a palette definition segment: entry id, Y, Cr, Cb, T (opacity).
struct SPaletteEntry {
  std::uint8_t id = 0;
  std::uint8_t y = 0;
  std::uint8_t cr = 0;
  std::uint8_t cb = 0;
  std::uint8_t t = 0;

  friend bool operator==(const SPaletteEntry&, const SPaletteEntry&) = default;
};

// ARGB colours indexed by palette entry id (0xAARRGGBB, straight alpha).
using ArgbPalette = std::array<std::uint32_t, 256>;

// An indexed picture in its palette's colours (straight alpha); empty for a malformed bitmap.
RgbaImage IndexedToRgba(const IndexedBitmap& bitmap, const ArgbPalette& palette);

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;

  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// How a palette's YCbCr becomes RGB (see above).
enum class ColourMatrix { kGif, kBt601, kBt709 };

// BT.709 for a video height of 720 lines or more, BT.601 below.
ColourMatrix ColourMatrixForHeight(int video_height);

// Studio-range YCbCr to 8-bit RGB with the given conversion (see above). Inputs outside the studio range
// give components outside 0..255 before clamping; they are clamped, never wrapped.
Rgb YCbCrToRgb(int y, int cr, int cb, ColourMatrix matrix = ColourMatrix::kGif);

// The 256-entry ARGB table of a palette: entry i is the colour of entry id i with alpha = T; ids that no
// entry defines are 0x00000000; when an id appears twice the later entry wins.
ArgbPalette PaletteToArgb(std::span<const SPaletteEntry> entries, ColourMatrix matrix = ColourMatrix::kGif);

}  // namespace veld
