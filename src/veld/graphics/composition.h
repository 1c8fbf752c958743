// SPDX-License-Identifier: GPL-3.0-or-later
// The composition model of an IG display set: which objects it defines, which palette each object is
// shown with, the decoded bitmap of an object, and the exchange of an object's ODS segments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "veld/graphics/bitmap.h"
#include "veld/graphics/display_set.h"
#include "veld/graphics/ic_data.h"
#include "veld/graphics/palette.h"

namespace veld {

// The interactive composition of the display set; nothing when it has no ICS data or the composition
// is malformed (reason in *error).
std::optional<CIcData> ParseComposition(const CDsData& ds, std::string* error = nullptr);

// Ids of the objects the display set defines: one per ODS with the last flag, in array order (an object
// defined twice is listed twice).
std::vector<std::uint16_t> ListObjects(const CDsData& ds);

inline constexpr std::uint8_t kNoPalette = 255;
// The PaletteIdRef of the first page that shows the object through a button state or an effect;
// kNoPalette when no page does. 0xFFFF is an ordinary object id here.
std::uint8_t FindObjectPalette(const CIcData& composition, std::uint16_t object_id);

// An object's pixels and the ARGB table of the palette it is shown with.
struct SObjectBitmap {
  IndexedBitmap bitmap;
  ArgbPalette palette{};
};
// Decodes the object with the palette palette_id as the display set defines it (its last PDS with that
// id, a later PDS being an update of an earlier one); nothing when the object has no data, its data is
// malformed, or no PDS has that id (*why, when given, then says which). The palette's colours are
// converted with matrix (palette.h).
std::optional<SObjectBitmap> DecodeObjectBitmap(const CDsData& ds, std::uint16_t object_id, std::uint8_t palette_id,
                                                ColourMatrix matrix = ColourMatrix::kGif, std::string* why = nullptr);

// The ARGB table an object is shown with (and exported with): its palette in the display set as
// DecodeObjectBitmap takes it, its colours converted with matrix; nothing when no page uses the object or
// no PDS has the palette's id.
std::optional<ArgbPalette> ObjectPalette(const CDsData& ds, std::uint16_t object_id,
                                         ColourMatrix matrix = ColourMatrix::kGif);
// The matrix of the PNG pictures of a display set: by the video height of its first ICS (1080 lines when
// it has none).
ColourMatrix PictureMatrix(const CDsData& ds);

// Width and height of an object as its first fragment declares them; 0 x 0 when no ODS has the id.
struct SObjectSize {
  int width = 0;
  int height = 0;
};
SObjectSize ObjectSize(const CDsData& ds, std::uint16_t object_id);

// Replaces the object's pixels with bitmap (entry ids of the menu's own palette). false, and the display
// set unchanged, when the bitmap's size differs from the object's or no ODS carries the id.
bool ReplaceObjectFromBitmap(CDsData& ds, std::uint16_t object_id, const IndexedBitmap& bitmap);

// Removes every ODS of the object and inserts new_ods where its first ODS was, with that ODS's PTS and
// DTS and the object id. false when no ODS carries the id.
bool ReplaceObjectSegments(CDsData& ds, std::uint16_t object_id, std::vector<COds> new_ods);

}  // namespace veld
