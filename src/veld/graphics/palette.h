// Palettes of graphics objects: the Y, Cr, Cb, T entries of a PDS and the 256-entry ARGB table of a
// bitmap (placeholder until the palette module lands; same declarations).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace veld {

struct SPaletteEntry {
  std::uint8_t id, y, cr, cb, t;
};

using ArgbPalette = std::array<std::uint32_t, 256>;

ArgbPalette PaletteToArgb(std::span<const SPaletteEntry> entries);

}  // namespace veld
