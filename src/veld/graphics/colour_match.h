// SPDX-License-Identifier: GPL-3.0-or-later
// Mapping the colours of an edited picture onto the entries of the menu's palette.
//
// The measure (what "nearest" means):
// - A colour is converted from 8-bit sRGB to OKLab: each component c/255 is linearised with the sRGB
//   transfer function (c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055)^2.4), then turned into L, a, b
//   with the two OKLab matrices and the cube root between them. L runs from 0 (black) to 1 (white).
// - Alpha is straight alpha A/255 in 0..1. A picture pixel p (colour Lp ap bp, alpha Ap) and a palette
//   entry e differ by
//       d = sqrt( Ap * Ae * ((Lp-Le)^2 + (ap-ae)^2 + (bp-be)^2) + (Ap - Ae)^2 )
//   The colour part counts as much as both are opaque: a nearly transparent pixel's colour is nearly
//   invisible over the video. Two fully transparent colours are the same whatever their RGB.
// - A GIF carries no alpha except its one transparent colour. A GIF's transparent pixel is taken with
//   alpha 0 (d = Ae). Its other pixels have no known alpha: they are compared with the entries whose
//   alpha is not 0, by colour alone (d = the OKLab distance), so opaque and translucent entries of one
//   RGB are equally near (see the ambiguity rule).
// - A colour is in the palette when some entry is at distance 0; otherwise the nearest entry is taken
//   (exactly equal distances tie). Without dithering each pixel takes the nearest entry of its own
//   colour. With dithering (Floyd-Steinberg in the OKLab-and-alpha space) the pixels whose colour is not
//   in the palette take the entry nearest to their colour plus the error diffused from the pixels before
//   them, and pass their own error on (7/16 right, 3/16 down left, 5/16 down, 1/16 down right); pixels
//   whose colour is in the palette keep their entry and take no error.
// The ambiguity rule, for several entries at the same least distance: the entry of the original
// picture's pixel at the same place when it is one of them; otherwise the most opaque of them (the
// lowest id among equals). When the tied entries differ in alpha and the original pixel did not decide,
// the pixel is counted as ambiguous (a warning names the colour).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "veld/graphics/bitmap.h"
#include "veld/graphics/palette.h"

namespace veld {

enum class ColourMode { kNearest, kExact };
enum class ButtonAnchor { kTopLeft, kCentre };

// How an edited picture is taken into the menu.
struct SImportOptions {
  ColourMode colours = ColourMode::kNearest;  // kExact refuses a colour the palette lacks
  bool dither = false;                        // Floyd-Steinberg for the colours the palette lacks
  ButtonAnchor anchor = ButtonAnchor::kTopLeft;  // what a button keeps when its picture changes size
};

struct SOklab {
  double L = 0;
  double a = 0;
  double b = 0;
};
// OKLab of the RGB part of an ARGB value (see above).
SOklab ToOklab(std::uint32_t argb);

// The distance d above between a picture colour and a palette entry (both 0xAARRGGBB). alpha_known is
// false for a GIF's colours: then alpha 0 marks the transparent colour and any other alpha is unknown.
// Entries with alpha 0 are infinitely far from a GIF's non-transparent colour.
double ColourDistance(std::uint32_t picture, bool alpha_known, std::uint32_t entry);

// The ambiguity rule over tied entries (ids into menu). original is the original pixel's entry, or -1.
// *ambiguous is set when the tied entries differ in alpha and original was not one of them.
int ChooseTiedEntry(std::span<const int> tied, const ArgbPalette& menu, int original, bool* ambiguous);

// An edited picture as colours: one ARGB value per pixel (rows top to bottom). A pixel whose index lies
// past the file's colour table has no colour: its fixed index is taken as it is (-1 elsewhere).
struct SPictureColours {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
  std::vector<std::int16_t> fixed;  // empty when no pixel has a fixed index
  bool alpha_known = true;          // false for a GIF
};

struct SColourMatch {
  bool ok = false;      // false: kExact met a colour the palette lacks (the foreign_* fields tell)
  IndexedBitmap bitmap;  // the entry ids when ok
  int mapped = 0;        // pixels whose colour is not in the palette
  double largest = 0;    // the largest distance of a mapped pixel to its entry (without the diffused error)
  std::uint32_t largest_colour = 0;
  int largest_x = 0, largest_y = 0;
  int ambiguous = 0;     // pixels decided by the opacity, not by the original picture
  std::uint32_t ambiguous_colour = 0;
  int ambiguous_x = 0, ambiguous_y = 0;
  std::uint32_t foreign = 0;  // the first colour not in the palette (kExact)
  int foreign_x = 0, foreign_y = 0;
};

// Maps every pixel onto the defined entries of menu (defined[i] false: no PDS entry has id i; such ids
// are never chosen). original, when given and of the picture's size, holds the object's pixels before
// the edit, for the ambiguity rule.
SColourMatch MatchColours(const SPictureColours& picture, const ArgbPalette& menu, const std::array<bool, 256>& defined,
                          const IndexedBitmap* original, const SImportOptions& options);

}  // namespace veld
