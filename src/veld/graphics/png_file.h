// SPDX-License-Identifier: GPL-3.0-or-later
// PNG encoding of the export pictures: indexed pictures whose palette carries each entry's alpha, and
// true-colour pictures with alpha for the page previews.
#pragma once

#include <optional>
#include <string>

#include "veld/base/bytes.h"
#include "veld/graphics/bitmap.h"
#include "veld/graphics/palette.h"

namespace veld {

// An 8-bit indexed PNG (colour type 3) of the bitmap: a PLTE chunk with all 256 colours of the palette and
// a tRNS chunk with each entry's alpha (cut after the last entry that is not opaque, none when all are),
// so that an editor shows semi-transparent entries as the player does. Pixel values are stored unchanged.
// std::nullopt with *error set when the bitmap is empty or inconsistent.
std::optional<Bytes> EncodeIndexedPng(const IndexedBitmap& bitmap, const ArgbPalette& palette, std::string* error);

// An 8-bit RGBA PNG (colour type 6, straight alpha) of the picture. std::nullopt with *error set when the
// picture is empty or inconsistent.
std::optional<Bytes> EncodeRgbaPng(const RgbaImage& image, std::string* error);

}  // namespace veld
