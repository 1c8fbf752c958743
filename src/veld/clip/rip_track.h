// Tracks kept from an old clip: one per elementary stream of a clip's program information, or of the
// stream list a playlist derives from its first play item.
//
// This is the record as the disc model builds it (stream index, PID, a copy of the stream's
// STREAM_INFO, primary flag); the access-unit index and the replay state are added by the
// demultiplexer.
#pragma once

#include <cstdint>
#include <vector>

#include "veld/clip/clpi_data.h"

namespace veld {

struct SRipTrack {
  int index = 0;  // position of the stream in the list it was built from
  std::uint16_t pid = 0;
  STREAM_INFO stream_info;
  // 1 for a primary stream; 0 for secondary audio (PIDs 0x1A00..0x1A1F) and secondary video
  // (0x1B00..0x1B1F).
  bool primary = true;
  bool operator==(const SRipTrack&) const = default;
};

// True for the PIDs of the primary set (every PID except those of secondary audio and video).
constexpr bool is_primary_pid(std::uint16_t pid) {
  return !((pid >= 0x1A00 && pid <= 0x1A1F) || (pid >= 0x1B00 && pid <= 0x1B1F));
}

// The tracks of one clip (or playlist), in the order of the stream list.
struct SRipTracks {
  std::vector<SRipTrack> tracks;

  // Clears the list and makes one track per stream: index i, its PID, a copy of the STREAM_INFO.
  void build(const CSiFolder& streams);
  std::size_t size() const { return tracks.size(); }
  bool empty() const { return tracks.empty(); }
  const SRipTrack* find_pid(std::uint16_t pid) const;
};

}  // namespace veld
