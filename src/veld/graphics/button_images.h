// Taking an edited button image back into the menu.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "veld/base/messenger.h"
#include "veld/graphics/display_set.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/palette.h"

namespace veld {

// Reads the picture at path and makes its pixels the new object data of the object (entry ids of the
// menu's own palette). The checks, each shown through messenger as an error naming the file:
//   0 the file is not a picture, 1 it is not 8-bit indexed, 2 its size differs from the object's
//   (the object's segments are then unchanged), and a colour that the object's palette lacks (see
//   MatchPicturePalette). false after a failed check.
bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger);

// Image editors often re-order or trim the colour table when they save, so that an index stands for
// another colour than the menu's entry of that id. When the picture's colours equal the menu palette's
// at every index it uses, its indices are taken as they are. Otherwise each used colour is mapped to the
// menu's entry of the same colour (the same index when that one matches, else the first matching entry,
// opaque entries first for an opaque GIF colour). Colours compare by RGB; a PNG's alpha must match too,
// and a GIF's transparent colour matches only fully transparent entries. false when a used colour has
// no entry: *foreign then names it ("#RRGGBB", or "#RRGGBBAA" for PNG) and *x, *y give its first pixel.
bool MatchPicturePalette(LoadedImage& image, const ArgbPalette& menu, std::string* foreign, int* x, int* y);

}  // namespace veld
