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

#include "veld/app/output_names.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/disc/playlist.h"
#include "veld/graphics/gs_data.h"
#include "veld/pipeline/playlist_adjust.h"

namespace veld {

struct ReplaceStats {
  int images = 0;       // pictures imported
  int ig_streams = 0;   // IG streams rebuilt (.ig files written)
  int clips = 0;        // clips remultiplexed
  int playlists = 0;    // playlists written
};

// How an edited clip is rebuilt: its IG packets re-packetised in the old clip's arrival slots, or the
// whole clip remultiplexed.
enum class RemuxRoute { kInPlace, kFull };

struct ReplaceOptions {
  // A three-letter code for every rebuilt IG stream; empty keeps the language of the stream it replaces.
  std::string ig_language;
  // For the replace command: copy the new files into the BDMV folder (true), leave them (false), or ask.
  std::optional<bool> copy_back;
  RemuxRoute remux = RemuxRoute::kInPlace;
};

// Runs the whole replacement for the BDMV folder `source` and the work folder `work` (the "VELD" folder of
// an earlier extraction). files receives the new files in the order they were written; edited is set once
// a clip has been rebuilt. Result 0, 1 (cancelled) or 2 (reported through messenger). A failed or cancelled
// clip leaves no new clip stream or clip information file of its own; the files of earlier clips stay.
int ReplaceButtonImages(SReplacedFiles& files, bool& edited, const SOutputNames& names,
                        const std::filesystem::path& source, const std::filesystem::path& work,
                        const ReplaceOptions& options, Progress& progress, Messenger& messenger,
                        ReplaceStats* stats = nullptr);

// The reference time of the extraction: the marker's last-write time in whole seconds, or nothing when
// it cannot be read (then every picture counts as edited).
std::optional<std::int64_t> ExtractionTime(const SOutputNames& names, const std::filesystem::path& work);
// Whether the picture at path was edited after the reference time (whole seconds, strictly later; a
// picture whose time cannot be read counts as edited).
bool EditedSince(const std::filesystem::path& picture, std::optional<std::int64_t> reference);

// Imports every edited picture of one IG stream from stream_folder/Epoch<e>/DS<d>/<id+1>.gif (or .png).
// changed is set when one was imported. false after a reported failure.
bool ImportStreamImages(CGsData& stream, const SOutputNames& names, const std::filesystem::path& stream_folder,
                        std::optional<std::int64_t> reference, bool& changed, Messenger& messenger,
                        int* imported = nullptr);

// Adjusts a playlist to the rebuilt clips and, when it changed and still has a play item, writes it to
// path. Result 0 (written or nothing to write) or 2 (reported).
int WriteChangedPlaylist(CMplsObject& playlist, const std::filesystem::path& path, const CCofObject& clips,
                         const CRebuiltClips& rebuilt, Messenger& messenger, bool* written = nullptr);

}  // namespace veld
