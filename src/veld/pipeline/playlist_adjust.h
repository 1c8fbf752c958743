// SPDX-License-Identifier: GPL-3.0-or-later
// Bringing a playlist in line with the clips that the replacement remultiplexed: play-item and sub-play-
// item times move with the clip's new time base, stream tables name the new PIDs, marks and
// picture-in-picture metadata move along.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "veld/clip/clpi.h"
#include "veld/disc/mpls_data.h"
#include "veld/disc/playlist.h"
#include "veld/pipeline/remux.h"

namespace veld {

// What remultiplexing made of one clip.
struct SRebuiltClip {
  std::uint64_t old_start = 0;  // 90 kHz: presentation start and end of the old first STC sequence
  std::uint64_t old_end = 0;
  std::uint64_t new_start = 0;  // 90 kHz: of the new clip stream file
  std::uint64_t new_end = 0;
  std::uint32_t old_start_45k = 0;  // StartPTS of the old first STC sequence
  // 90 kHz: how far every time stamp of the clip moved (kept streams and rebuilt ones alike).
  std::int64_t offset = 0;
  bool kept_any = false;  // at least one stream of the old clip was carried over
  // Every stream of the new clip in the new track order; a new track's old_pid is the PID of the stream
  // it replaces (0 for none).
  std::vector<SNewPid> order;
  // The language of each new track, by its position in the new-track list.
  std::vector<std::array<char, 3>> new_languages;
};

// Rebuilt clips by clip number.
using CRebuiltClips = std::map<int, SRebuiltClip>;

// Adjusts the playlist to the rebuilt clips. Returns true when play items or sub-play items were removed
// or adjusted or angle entries removed; the stream tables are only rebuilt then. Marks of play items on
// rebuilt clips move by the clip's offset (marks past the new end go, and marks of play items whose clip
// is not in `clips` go), sub-paths without sub-play items are removed, and picture-in-picture metadata of
// rebuilt clips moves, whenever the playlist has a play item; these alone do not make the result true.
bool AdjustPlaylist(SMplsData& playlist, const CCofObject& clips, const CRebuiltClips& rebuilt);

// Moves every time stamp of the picture-in-picture metadata (the data of extension entry 1/1) by the
// delta (45 kHz) of the play item each block refers to. false when the metadata is malformed (it is then
// left as it was).
bool MovePipMetadata(Bytes& data, const std::vector<std::int64_t>& play_item_delta);

}  // namespace veld
