// SPDX-License-Identifier: GPL-3.0-or-later
// The edits of a work folder as the window shows them before anything is written: which picture files
// count as edited (the rule replace uses: the manifest, else the marker's time), the pixels replace would
// put on the disc for each (the same import: colour mapping, size checks and resize) or the refusal it
// would give, the pages drawn with every edit in place, and the two ways the window changes a picture
// file: another picture put in its place, and the extracted original put back. No UI here.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/app/menu_model.h"
#include "veld/base/messenger.h"
#include "veld/graphics/bitmap.h"
#include "veld/graphics/colour_match.h"
#include "veld/graphics/gs_data.h"
#include "veld/graphics/palette.h"
#include "veld/pipeline/edits.h"

namespace veld {

// Where a picture file of the work folder belongs in the model.
struct SPictureRef {
  std::size_t clip = 0;
  std::size_t stream = 0;
  std::size_t display_set = 0;  // index into the stream's display sets (DS<index + 1>)
  std::uint16_t object_id = 0;
  std::string rel;  // below the image folder, '/' separated ("00000/5120/Epoch1/DS1/0002.gif")
};
// std::nullopt when the file is no object picture of the model's work folder.
std::optional<SPictureRef> FindPictureRef(const SMenuModel& model, const std::filesystem::path& file);

enum class EPictureEdit { kOriginal, kEdited, kRefused };

struct SPicturePreview {
  EPictureEdit state = EPictureEdit::kOriginal;
  std::string message;   // kRefused: the refusal replace gives; kEdited: its warnings (mapped colours, moves)
  IndexedBitmap bitmap;  // kEdited: the object's new entry ids
  ArgbPalette palette{};  // kEdited: the object's palette as a GIF extraction converts it
  RgbaImage image;       // kEdited: those pixels in the palette's colours (straight alpha)
  RgbaImage original;    // the object as the disc holds it, the same way (empty when it does not decode)
};

// The rule replace applies to the model's work folder, taking pictures in with import. false after a
// failure reported through messenger (a malformed manifest).
bool LoadEditRule(const SMenuModel& model, const SImportOptions& import, CEditRule& rule, Messenger& messenger);

// What replace makes of the object of one picture file (its ".gif" and ".png" files both, as replace reads
// them): not edited (also an unchanged re-save), the new pixels, or the refusal.
SPicturePreview PreviewPicture(const SMenuModel& model, const SPictureRef& ref, const CEditRule& rule);

// One IG stream with every edit of the work folder applied as replace applies them (an edit of one copy
// goes into every copy, moved buttons are moved).
struct SStreamEdits {
  bool refused = false;
  std::string refusal;  // the first refusal replace gives for this stream
  std::optional<CGsData> segments;  // set when some object changed
  std::vector<std::string> lines;   // "<picture>: 1 edit, applied to 6 copies in DS1-DS6"
};
SStreamEdits ApplyStreamEdits(const SMenuModel& model, std::size_t clip, std::size_t stream, const CEditRule& rule);

// DrawMenuPage (menu_model.h) over the segments of ApplyStreamEdits draws a page as the rebuilt disc shows it.

// The object of ref as the segments of ApplyStreamEdits hold it, when they changed it although its own
// picture files are not edited (a copy of an edited picture in another display set): kEdited with the
// new pixels; otherwise kOriginal.
SPicturePreview CopyPreview(const SMenuModel& model, const SPictureRef& ref, const CGsData& segments);

// Whether the picture file differs from what the extraction wrote (by the rule; a missing file too).
bool PictureIsEdited(const SMenuModel& model, const SPictureRef& ref, const CEditRule& rule);

// Puts the picture file chosen (any GIF or PNG) in the work folder as the picture of ref: its bytes under
// the picture's own name (the content decides how replace reads it), through a temporary file renamed
// over it; a picture of the object under the other extension goes, so that no second edit is left
// beside it. Result 0, or 2 after a reported failure (not a picture, a failed write).
int PutPicture(const SMenuModel& model, const SPictureRef& ref, const std::filesystem::path& chosen,
               Messenger& messenger);

// Writes the picture of ref as the extraction wrote it, byte for byte: the object decoded again from the
// disc the model was read from, in the manifest's format, checked against the manifest's hashes; a picture
// of the other extension goes. Result 0, or 2 after a reported failure (the disc no longer holds that
// picture, a failed write).
int RevertPicture(const SMenuModel& model, const SPictureRef& ref, Messenger& messenger);

}  // namespace veld
