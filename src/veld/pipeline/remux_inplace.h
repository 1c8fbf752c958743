// SPDX-License-Identifier: GPL-3.0-or-later
// The in-place route of a clip's rebuilding: the rebuilt IG streams take the arrival slots of the old
// ones (mux/inplace_repacketiser.h); the new clip information is the old one with the source packet
// numbers moved (and the IG language when it is set on purpose). When the rebuilt streams do not fit,
// the caller takes the full route.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/mux/copy_ahead.h"
#include "veld/mux/inplace_scan.h"
#include "veld/mux/raw_track.h"
#include "veld/pipeline/playlist_adjust.h"

namespace veld {

enum class InPlaceOutcome { kDone, kFallback, kCancelled, kFailed };

struct SInPlaceRequest {
  std::vector<std::unique_ptr<SRawTrack>>* tracks = nullptr;  // the rebuilt streams, opened
  const std::vector<std::uint16_t>* replaced = nullptr;       // the PID each one replaces
  const std::map<std::uint16_t, std::int64_t>* time_shift = nullptr;  // by PID (SClipIgStream::time_shift)
  std::filesystem::path m2ts, clpi;
  // The old clip's scan from the pass that read its menus (its entry points watched); without one, or
  // when the file changed size since, the clip is scanned again.
  const CInPlaceScan* scan = nullptr;
  // A copy of the old clip stream file into m2ts, started while the menus were read: used when the
  // rebuilt streams keep the packet count, abandoned otherwise.
  CFileCopyAhead* ahead = nullptr;
  // Set when done: the packets of the new file that the check of the rebuilt streams reads (their own,
  // the PAT, the program map table and the PCRs), ascending.
  std::vector<std::uint32_t>* check_packets = nullptr;
};

// What the scan of a clip to be rebuilt in place watches: the entry points' access units and the program
// map table.
void WatchForInPlace(CInPlaceScan& scan, const SClpiData& clip);

// Writes the request's two files. kFallback: one line naming the clip went to the messenger, nothing is
// left behind, and the tracks are as they were. kFailed: reported; kCancelled: nothing reported.
InPlaceOutcome RepacketiseClip(const CClpiObject& clip, const SInPlaceRequest& request, Progress& progress,
                               Messenger& messenger);

// What the playlists need of a clip rebuilt in place whose IG language changed: every stream keeps its
// PID and every time stays (AdjustPlaylist then only renames the replaced streams' languages).
SRebuiltClip InPlaceRebuiltClip(const CClpiObject& clip, const std::vector<std::uint16_t>& replaced,
                                const std::vector<std::array<char, 3>>& languages);

}  // namespace veld
