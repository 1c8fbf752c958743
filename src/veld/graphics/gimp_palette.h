// SPDX-License-Identifier: GPL-3.0-or-later
// GIMP palette files (.gpl) of a display set's palettes, so that an editor can paint with the menu's own
// colours. The text format: the line "GIMP Palette", "Name: <name>", "Columns: 16", a "#" comment line,
// then one line per defined entry "R G B<TAB>entry <id> alpha <T>" (decimal components, in entry order).
// GIMP keeps no alpha in a palette: the name of each colour tells its opacity.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "veld/graphics/display_set.h"
#include "veld/graphics/palette.h"

namespace veld {

// The text of one palette: its entries' colours converted with matrix.
std::string GimpPaletteText(std::span<const SPaletteEntry> entries, ColourMatrix matrix, const std::string& name);

// Writes "palette<id>.gpl" (GimpPaletteName) into folder for each palette id of the display set, as the
// display set defines it (its last PDS with that id). name_prefix starts each palette's name. "" on
// success, otherwise the error text naming the file.
std::string SaveGimpPalettes(const CDsData& ds, const std::filesystem::path& folder, ColourMatrix matrix,
                             const std::string& name_prefix);

}  // namespace veld
