// SPDX-License-Identifier: GPL-3.0-or-later
// Page previews: the graphics plane of an IG menu page drawn as a player draws it.
//
// A player keeps the objects and palettes of an epoch as its display sets arrive (CDecodedGraphics) and
// draws a page into the graphics plane of the video's size: the plane is cleared, then every button
// overlap group shows its default button, the page's selected button in its selected state (activated
// when it acts on selection, an auto-action button) and every other one in its normal state. A state shows
// its first object (an animation starts there) at the button's position, with the page's palette. Object
// pixels replace the plane's pixels, transparent ones included, and keep their palette alpha. The effects
// of a page are drawn the same way, one plane per effect: its composition objects at their positions,
// cropped when they carry a cropping rectangle, with the effect's palette.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/graphics/bitmap.h"
#include "veld/graphics/display_set.h"
#include "veld/graphics/ic_data.h"
#include "veld/graphics/palette.h"

namespace veld {

// The objects and palettes a decoder holds after the display sets it has taken in.
class CDecodedGraphics {
 public:
  // Takes in the segments of the next display set of the stream. An Epoch Start display set first drops
  // everything held. An object defined again replaces the earlier definition; a palette defined again
  // replaces the earlier one, except in a Normal Case display set, where its entries update the entries
  // of the same ids and keep the others.
  void Add(const CDsData& ds);
  void Clear();

  // The object's pixels; nullptr when no display set defined it or its data is malformed.
  const IndexedBitmap* Object(std::uint16_t id) const;
  // The palette's entries; nullptr when no display set defined it.
  const std::vector<SPaletteEntry>* Palette(std::uint8_t id) const;

 private:
  struct SObject {
    Bytes data;  // joined fragments of its last complete definition
    mutable bool decoded = false;
    mutable std::optional<IndexedBitmap> bitmap;
  };
  std::map<std::uint16_t, SObject> objects_;
  std::map<std::uint8_t, std::vector<SPaletteEntry>> palettes_;
};

// The button a player selects when a page is shown: the page's default selected button when it exists and
// is the shown button of its overlap group, otherwise the shown button of the first group that has one;
// -1 when no group shows a button.
int InitialSelectedButton(const CPage& page);

// Which state each shown button (the default button of every overlap group) is drawn in: as a player first
// shows the page (see above), or all of them in one state.
enum class EPageButtons { kAsPlayer, kNormal, kSelected, kActivated };

// One button drawn in a state of its own while the others are drawn as the page's buttons value says. A
// button its overlap group does not show by default is drawn in place of that group's default button.
struct SButtonStateOverride {
  int button_id = -1;  // -1: none
  EPageButtons state = EPageButtons::kAsPlayer;
};

struct SPagePicture {
  RgbaImage image;
  int selected_button = -1;
  bool has_palette = false;  // false: the page's palette is not defined and nothing could be drawn
};

// The plane of the page as a player first draws it (see above), width x height; with another buttons
// value, every shown button in that state instead (selected_button is still the player's choice); the
// override's button, when the page has it, in the override's state.
SPagePicture RenderPage(const CPage& page, const CDecodedGraphics& graphics, int width, int height,
                        ColourMatrix matrix, EPageButtons buttons = EPageButtons::kAsPlayer,
                        SButtonStateOverride override_state = {});
// The plane of one effect: its composition objects, cropped, with its palette.
RgbaImage RenderEffect(const CEffect& effect, const CDecodedGraphics& graphics, int width, int height,
                       ColourMatrix matrix);

// The picture reduced by factor (>= 1) in both directions, each pixel the alpha-weighted average of its
// factor x factor block.
RgbaImage ShrinkImage(const RgbaImage& image, int factor);

// A contact sheet: the pictures of each row side by side, rows one below the other, each over a
// checkerboard that shows where they are transparent, on an opaque dark background.
RgbaImage ContactSheet(const std::vector<std::vector<RgbaImage>>& rows);

}  // namespace veld
