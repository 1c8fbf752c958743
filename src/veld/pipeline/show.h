// SPDX-License-Identifier: GPL-3.0-or-later
// The menu report of a disc ("veld show"): for every clip with IG streams, the playlists that play it and
// each IG stream with its display sets, pages, button overlap groups, buttons (with their commands) and
// objects, together with where extraction puts each object's picture. The model is built by the core;
// the text and JSON forms are written here too, so every front end shows the same content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/graphics/gs_data.h"
#include "veld/graphics/ic_data.h"

namespace veld {

// Where a playlist plays a clip.
struct SShowPlaylistUse {
  enum class Kind { kPlayItem, kAngle, kSubPath };
  int playlist = 0;  // the five-digit number
  Kind kind = Kind::kPlayItem;
  int item = 0;      // play item index, or sub-play item index within the sub-path
  int angle = 0;     // kAngle: the angle (1 = the first extra angle)
  int sub_path = 0;  // kSubPath: the sub-path index
};

// One use of an object: a button state or an effect of a page.
struct SShowObjectUse {
  int page_id = 0;
  int button_id = -1;            // a button state: the button
  const char* state = nullptr;   // "normal", "selected", "activated"; or "in_effect", "out_effect"
  int effect = 0;                // an effect: its number in the sequence, from 1
};

struct SShowObject {
  std::uint16_t id = 0;
  int width = 0;
  int height = 0;
  int fragments = 0;                   // ODS segments carrying it
  int palette_id = 255;                // the palette its picture is written with (255: no page uses it)
  std::vector<SShowObjectUse> used_by;
  std::string picture;                 // path of its picture below the VELD work folder; "" when none is made
  // Copies (the same id, size and pixels in other display sets of the stream, edited as one picture):
  // on the first, the display sets of all of them ("DS1-DS6"); on the others, the first's picture.
  std::string copies;
  std::string copy_of;
};

struct SShowPalette {
  int id = 0;
  int version = 0;
  int entries = 0;
};

struct SShowSize {
  int width = 0;
  int height = 0;
};

struct SShowDisplaySet {
  int number = 0;  // from 1 within the epoch
  int composition_number = 0;
  int composition_state = 0;
  std::uint32_t pts = 0;  // of its first ICS (segment-file time, 90 kHz)
  std::uint32_t dts = 0;
  std::optional<CIcData> composition;  // nothing when the display set has no (valid) interactive composition
  std::string composition_error;
  std::vector<SShowPalette> palettes;
  std::vector<SShowObject> objects;
  // The size of every object a decoder holds at this display set (those of the epoch so far), by id: a
  // button's size is that of its normal state's first object.
  std::map<int, SShowSize> object_sizes;

  // Size of a button as drawn: its normal state's first object (0 x 0 when that object is unknown).
  SShowSize ButtonSize(const CBdButton& button) const;
};

struct SShowStream {
  std::uint16_t pid = 0;
  std::string language;
  bool popup = false;        // UserInterfaceModel of its first composition
  bool preloaded = false;    // StreamModel of its first composition (true: preloaded, false: multiplexed)
  int width = 0;
  int height = 0;
  int frame_rate = 0;        // frame-rate code of the video descriptor
  std::vector<std::vector<SShowDisplaySet>> epochs;
};

struct SShowClip {
  int id = 0;
  std::string name;  // "00000"
  std::filesystem::path stream_path;
  std::vector<SShowPlaylistUse> playlists;
  std::vector<SShowStream> streams;
};

struct SMenuReport {
  std::filesystem::path source;
  std::vector<SShowClip> clips;
};

// Opens the disc and reads every IG stream of every clip that has one (the clips extraction visits).
// Result 0, 1 (cancelled) or 2 (failed, reported through messenger). With segments, the streams' display
// sets are handed back too, segments[c][s] for report.clips[c].streams[s] (for drawing their pages).
int BuildMenuReport(const std::filesystem::path& source, SMenuReport& report, Progress& progress,
                    Messenger& messenger, std::vector<std::vector<CGsData>>* segments = nullptr);

// The report as indented text (headings in the user's language, fields by their format names).
std::string MenuReportText(const SMenuReport& report);
// The report as JSON; the schema is docs/show-schema.md.
std::string MenuReportJson(const SMenuReport& report);
// Version of the JSON layout, written as "version".
inline constexpr int kMenuReportJsonVersion = 1;

}  // namespace veld
