// SPDX-License-Identifier: GPL-3.0-or-later
// Taking an edited button image back into the menu.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "veld/base/messenger.h"
#include "veld/graphics/colour_match.h"
#include "veld/graphics/display_set.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/palette.h"

namespace veld {

// Reads the picture at path and makes its pixels the new object data of the object (entry ids of the
// menu's own palette). The picture may be indexed (GIF, PNG) or a true-colour PNG. Its colours become
// entries as MatchColours (colour_match.h) says: an unchanged palette index for index, colours of the
// palette exactly (the ambiguity rule deciding between entries of one RGB, with the object's old pixels
// placed in a picture of another size as the anchor places the button: top-left or centred, the
// nearest old pixel beyond them), other colours by
// options.colours (the nearest entry with a warning that counts them, or a refusal). A picture of another
// size is placed by options.anchor when PlanResize (object_resize.h) allows it; the object's size is then
// rewritten, and moved buttons are told as information. Each refusal is shown through messenger as an
// error naming the file, the numbers and what helps; false after a refusal, the display set unchanged.
bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger, const SImportOptions& options = {});

// The name of the GIMP palette file of a palette id that the extraction writes beside the pictures.
std::string GimpPaletteName(int palette_id);

// Image editors often re-order or trim the colour table when they save, so that an index stands for
// another colour than the menu's entry of that id. When the picture's colours equal the menu palette's
// at every index it uses, its indices are taken as they are. Otherwise each used colour is mapped to the
// menu's entry of the same colour (the same index when that one matches, else the first matching entry,
// opaque entries first for an opaque GIF colour). Colours compare by RGB; a PNG's alpha must match too,
// and a GIF's transparent colour matches only fully transparent entries. false when a used colour has
// no entry: *foreign then names it ("#RRGGBB", or "#RRGGBBAA" for PNG) and *x, *y give its first pixel.
bool MatchPicturePalette(LoadedImage& image, const ArgbPalette& menu, std::string* foreign, int* x, int* y);

}  // namespace veld
