// SPDX-License-Identifier: GPL-3.0-or-later
// Remultiplexing one clip: its kept streams are carried over packet by packet from the old clip stream
// file, its new streams (rebuilt IG streams) come from their segment files, and the multiplexer writes
// the new clip stream file and clip information file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/mux/raw_track.h"

namespace veld {

// The new PID of a stream, by where it came from.
struct SNewPid {
  int stream_index = -1;  // the kept stream's index in the old clip's stream list; -1 for a new track
  std::size_t new_track = 0;  // for a new track: its position in the list given to RemultiplexClip
  std::uint16_t old_pid = 0;  // a kept stream's PID in the old clip
  std::uint16_t pid = 0;      // its PID in the new clip
  std::uint8_t stream_type = 0;
  bool primary = true;
};

struct SRemuxOutcome {
  int result = 0;
  // Every stream of the new clip in the new track order.
  std::vector<SNewPid> order;
  std::int64_t time_offset = 0;  // 90 kHz, added to the time stamps of the kept streams
  // The new clip passed every check of the disc check while it was written (CWrittenClipCheck): it
  // need not be read back before its copy-back.
  bool checked = false;
};

// The clip-wide time offset (90 kHz) that moves the old presentation start to 600 seconds.
std::int64_t ClipTimeOffset(const CClpiObject& clip);

// The own offset (90 kHz) of a new track made from a segment file whose times are the stream's minus
// time_shift (SClipIgStream::time_shift): it puts the rebuilt stream exactly where the old one was
// relative to the kept streams, which move by ClipTimeOffset.
std::int64_t NewTrackOwnOffset(const CClpiObject& clip, std::int64_t time_shift);

// Writes m2ts_path and clpi_path for the clip from its source tracks whose keep flag is set and from
// new_tracks (each with the stream index it should sort by; a rebuilt stream takes the index of the
// one it replaces). Indexes the kept tracks of the old clip stream file first, unless tracks_indexed says
// that the caller has (index_kept_tracks). On success the clip's
// new_start_time and new_end_time hold the new file's presentation start and end (90 kHz). Result 0,
// 1 (cancelled) or 2 (reported through messenger); on 1 and 2 both output files are deleted.
SRemuxOutcome RemultiplexClip(CClpiObject& clip, std::vector<std::unique_ptr<SRawTrack>>& new_tracks,
                              const std::filesystem::path& m2ts_path, const std::filesystem::path& clpi_path,
                              Progress& progress, Messenger& messenger, bool tracks_indexed = false);

}  // namespace veld
