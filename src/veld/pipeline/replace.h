// SPDX-License-Identifier: GPL-3.0-or-later
// The replacement pipeline: every button image edited since the extraction goes back into its menu; the
// clips whose menus changed are remultiplexed into the work folder's "Stream" folder with new clip
// information, and the playlists that use them are adjusted and written there too.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "veld/pipeline/output_names.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/disc/playlist.h"
#include "veld/graphics/colour_match.h"
#include "veld/graphics/gs_data.h"
#include "veld/pipeline/edits.h"
#include "veld/pipeline/playlist_adjust.h"

namespace veld {

struct ReplaceStats {
  int images = 0;       // pictures imported
  int ig_streams = 0;   // IG streams rebuilt (.ig files written)
  int clips = 0;        // clips remultiplexed
  int playlists = 0;    // playlists written
  int objects = 0;      // objects changed, copies included
  std::vector<std::string> edits;    // one line per edited object: "<picture>: 1 edit, applied to ..."
  std::vector<std::string> dry_run;  // what a dry run would rebuild, one line each
};

// How an edited clip is rebuilt: the rebuilt IG streams take the old ones' arrival slots and every other
// packet is copied (in place, falling back to full where they do not fit), or the whole clip is
// remultiplexed (full).
enum class RemuxRoute { kInPlace, kFull };

struct ReplaceOptions {
  // A three-letter code for every rebuilt IG stream; empty keeps the language of the stream it replaces.
  std::string ig_language;
  // For the replace command: copy the new files into the BDMV folder (true), leave them (false), or ask.
  std::optional<bool> copy_back;
  // How edited pictures are taken in: colours the menu's palette lacks (nearest entry or refusal), with
  // or without dithering, and what a button keeps when its picture changes size (colour_match.h).
  ColourMode colours = ColourMode::kNearest;
  bool dither = false;
  ButtonAnchor anchor = ButtonAnchor::kTopLeft;
  RemuxRoute remux = RemuxRoute::kInPlace;
  // List what counts as edited and what would be rebuilt; write nothing (no folder made or emptied).
  bool dry_run = false;
};

// Runs the whole replacement for the BDMV folder `source` and the work folder `work` (the "VELD" folder of
// an earlier extraction). files receives the new files in the order they were written; edited is set once
// a clip has been rebuilt. Result 0, 1 (cancelled) or 2 (reported through messenger). A failed or cancelled
// clip leaves no new clip stream or clip information file of its own; the files of earlier clips stay.
int ReplaceButtonImages(SReplacedFiles& files, bool& edited, const SOutputNames& names,
                        const std::filesystem::path& source, const std::filesystem::path& work,
                        const ReplaceOptions& options, Progress& progress, Messenger& messenger,
                        ReplaceStats* stats = nullptr);

// Imports every edited picture of one IG stream (edits.h) from image_folder/<clip>/<PID>/... into every
// copy of its object. changed is set when an object changed. false after a reported failure.
bool ImportStreamImages(CGsData& stream, const SOutputNames& names, const std::filesystem::path& image_folder,
                        const std::string& stream_rel, const CEditRule& rule, bool& changed, Messenger& messenger,
                        SEditReport& report);

// Adjusts a playlist to the rebuilt clips and, when it changed and still has a play item, writes it to
// path. Result 0 (written or nothing to write) or 2 (reported).
int WriteChangedPlaylist(CMplsObject& playlist, const std::filesystem::path& path, const CCofObject& clips,
                         const CRebuiltClips& rebuilt, Messenger& messenger, bool* written = nullptr);

}  // namespace veld
