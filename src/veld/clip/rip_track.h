// SPDX-License-Identifier: GPL-3.0-or-later
// Tracks kept from an old clip: one per elementary stream of a clip's program information, or of the
// stream list a playlist derives from its first play item.
//
// The disc model builds the record (stream index, PID, a copy of the stream's STREAM_INFO, primary
// flag); the demultiplexer adds what indexing finds: the PMT entry of the PID, the packet count and the
// access-unit index (rip_index.h). Replay state lives in CTrackReplay.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "veld/clip/clpi_data.h"
#include "veld/clip/rip_index_data.h"
#include "veld/ts/psi.h"

namespace veld {

struct SRipTrack {
  int index = 0;  // position of the stream in the list it was built from
  std::uint16_t pid = 0;
  STREAM_INFO stream_info;
  // 1 for a primary stream; 0 for secondary audio (PIDs 0x1A00..0x1A1F) and secondary video
  // (0x1B00..0x1B1F).
  bool primary = true;
  // Cleared by the replacement for a stream that is replaced; only kept tracks are indexed.
  bool kept = true;
  // Transport packets of the PID in the clip, counted on the first indexing.
  std::uint64_t packet_count = 0;
  // The PMT's entry for the PID (descriptors included), from the last indexing.
  std::optional<SEsInfo> pmt_entry;
  // The access units of the PID, in stream order.
  CAuIndex access_units;
  // The clip's old entry-point map entry for the PID, when it had one.
  std::optional<STREAM_PID_ENTRY> old_ep_entry;

  std::uint8_t coding_type() const { return stream_info.StreamCodingInfo.CodingType; }
  // Bytes of the stream in the clip: packet count x 192.
  std::uint64_t byte_count() const { return packet_count * 192; }
  bool operator==(const SRipTrack&) const = default;
};

// True for the PIDs of the primary set (every PID except those of secondary audio and video).
constexpr bool is_primary_pid(std::uint16_t pid) {
  return !((pid >= 0x1A00 && pid <= 0x1A1F) || (pid >= 0x1B00 && pid <= 0x1B1F));
}

// The tracks of one clip (or playlist), in the order of the stream list.
struct SRipTracks {
  std::vector<SRipTrack> tracks;
  // The PMT found in the clip stream by the last indexing.
  std::optional<SPmt> pmt;

  // Clears the list and makes one track per stream: index i, its PID, a copy of the STREAM_INFO.
  void build(const CSiFolder& streams);
  std::size_t size() const { return tracks.size(); }
  bool empty() const { return tracks.empty(); }
  const SRipTrack* find_pid(std::uint16_t pid) const;
};

}  // namespace veld
