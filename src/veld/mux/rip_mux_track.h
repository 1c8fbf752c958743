// SPDX-License-Identifier: GPL-3.0-or-later
// A kept stream of the old clip as a multiplexer track: its indexed access units are replayed from the
// old clip stream file, each packet under the new PID with PTS and DTS moved by the clip-wide offset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "veld/clip/rip_index.h"
#include "veld/clip/rip_track.h"
#include "veld/mux/mux_track.h"

namespace veld {

class CRipMuxTrack : public SMuxTrack {
 public:
  // track must be indexed; source reads the old clip stream file (shared by the kept tracks of a clip).
  CRipMuxTrack(const SRipTrack& track, CClipPacketSource& source, std::int64_t time_offset);

  std::string describe() const override;
  bool reset(std::string* error) override;
  const SMuxAu* current() const override { return ended ? nullptr : &au_; }
  bool next_access_unit() override;
  int make_packet(std::uint8_t* out) override;
  std::uint8_t stream_type() const override { return track_.coding_type(); }
  std::uint32_t frame_duration() const override;
  STREAM_INFO clip_stream_entry() const override { return replay_.stream_info(); }
  SEsInfo pmt_entry() const override;
  std::uint64_t data_size() const override { return track_.byte_count(); }
  KEY_POINT_INFO* key_point(std::int64_t index) override;
  std::optional<STREAM_PID_ENTRY> finish_ep_map() override;

  const SRipTrack& rip_track() const { return track_; }
  // What the video model was told: profile x 16 + level (MPEG-2), the level (AVC, VC-1), or 0.
  int video_told() const { return told_; }

 private:
  const SRipTrack& track_;
  CClipPacketSource& source_;
  CTrackReplay replay_;
  std::int64_t offset_;
  SMuxAu au_;
  int told_ = 0;
};

}  // namespace veld
