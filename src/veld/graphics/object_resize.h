// SPDX-License-Identifier: GPL-3.0-or-later
// A graphics object that an edit gives another size: where its buttons and effects then draw it, and
// whether the display set still fits the video frame and the interactive graphics decoder.
//
// Decoder model:
// - The decoded objects of a display set live in the decoder's object buffer, kObjectBufferSize bytes
//   at one byte per pixel: the objects of the display set together must fit it.
// - An object takes ObjectDecodeTicks(width, height) 90 kHz ticks to decode: its pixels at the decoder's
//   pixel decoding rate of 64 Mbit/s, 8 bits a pixel (0.01125 ticks per pixel, rounded up; twice the
//   time the composition writer gives an effect window's area, which is copied at 128 Mbit/s).
//   Objects are decoded one after another in the order of their ODS, each not before the DTS of its
//   first ODS; all must be decoded by the PTS of the display set's ICS. A display set whose time stamps
//   already miss that deadline (some authoring programs give every segment one time) passes when the new
//   sizes make it finish no later than the old ones.
// Placement: every button state that shows the object draws it at the button's position; each must fit
// the video frame there. An effect's composition object must fit its window and must not be cropped.
// With ButtonAnchor::kCentre a button keeps the centre of its box, the largest width and the largest
// height of the objects it shows, so that a button whose states all grow alike moves once, by half the
// growth; an effect's composition object keeps the centre of the object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "veld/graphics/colour_match.h"
#include "veld/graphics/display_set.h"

namespace veld {

inline constexpr std::int64_t kObjectBufferSize = std::int64_t{16} * 1024 * 1024;
std::uint32_t ObjectDecodeTicks(int width, int height);

// When the objects of a display set are decoded (90 kHz ticks after the ICS's PTS, negative: before it),
// with the object object_id given the size width x height (the others as their ODS declare).
struct SDecodeTiming {
  std::int64_t finish = 0;   // the last object decoded, relative to the ICS's PTS
  std::int64_t buffer = 0;   // bytes of decoded objects
};
SDecodeTiming DecodeTiming(const CDsData& ds, std::uint16_t object_id, int width, int height);

// One element that is drawn at a new place.
struct SMove {
  bool button = true;  // false: a composition object of an effect
  int page = 0;
  int id = 0;          // button id, or the object id of the composition object
  int from_x = 0, from_y = 0;
  int to_x = 0, to_y = 0;
};

// The outcome of the checks: ok, or the refusal naming picture and the numbers.
struct SResizePlan {
  bool ok = false;
  std::string refusal;
  std::vector<SMove> moves;
};

// Checks that the object may take the size width x height in the display set (the object keeps its
// old size until ApplyResize). picture names the file in the refusal.
SResizePlan PlanResize(const CDsData& ds, std::uint16_t object_id, int width, int height, ButtonAnchor anchor,
                       const std::string& picture);

// Writes the moves into the composition (its ICS fragments keep their boundaries). false, with *error,
// when the composition does not write back as it was read, so that it cannot be changed safely.
bool ApplyMoves(CDsData& ds, const std::vector<SMove>& moves, std::string* error);

}  // namespace veld
