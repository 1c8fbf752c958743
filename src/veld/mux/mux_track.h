// SPDX-License-Identifier: GPL-3.0-or-later
// The tracks the multiplexer pulls its data from. A track delivers one elementary stream access unit by
// access unit, makes the transport packets of the current unit on request, knows its stream type, PID and
// timing, fills its own PMT and clip-information entries, gathers the entry points of the new file, and
// runs the decoder buffer model that tells the multiplexer when its next packet may be sent.
//
// Two kinds exist: a kept stream of the old clip, replayed from the old clip stream file (rip_mux_track.h),
// and a new stream read from a raw stream file, here the rebuilt IG stream in its segment file
// (raw_track.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "veld/clip/clpi_data.h"
#include "veld/mux/buffer_model.h"
#include "veld/ts/psi.h"

namespace veld {

// The access unit a track is sending.
struct SMuxAu {
  std::uint32_t dts = 0;  // 90 kHz with the track's offset; the PTS for units without a DTS
  std::uint32_t pts = 0;
  std::uint64_t size = 0;        // bytes to send, in the track's own measure (see bytes_left)
  std::uint64_t bytes_left = 0;  // lowered by each packet made
  // The unit's entry-point record in the track's key points, or -1 when it is no entry point.
  std::int64_t entry_point = -1;
  // A unit of the extension part of an audio stream (DTS-HD, TrueHD, DD+): only the second buffer
  // model sees it.
  bool extension = false;

  bool started() const { return bytes_left != size; }
};

class SMuxTrack {
 public:
  virtual ~SMuxTrack() = default;

  // A text naming the stream (file or PID, coding type, language).
  virtual std::string describe() const = 0;
  // Recreates the buffer models, rewinds to the first unit, clears the end flag and moves to the first
  // unit. false with the reason in *error when the source cannot be read.
  virtual bool reset(std::string* error) = 0;
  // Releases what the run needed (readers, buffers).
  virtual void close() {}
  // The current unit; null after the last one.
  virtual const SMuxAu* current() const = 0;
  // Moves to the next unit (registering it with the buffer models); sets the end flag when none is left.
  // false when the source failed (the track is then ended too; see error()).
  virtual bool next_access_unit() = 0;
  // Writes the next transport packet (188 bytes) of the current unit to out and returns the PES bytes in
  // it (header included); -1 when the unit has none left. The unit's bytes_left drops.
  virtual int make_packet(std::uint8_t* out) = 0;

  virtual std::uint8_t stream_type() const = 0;
  // Frame duration in 90 kHz ticks (video), else 0.
  virtual std::uint32_t frame_duration() const = 0;
  // The new clip information's stream entry and the PMT's entry, under the track's current PID.
  virtual STREAM_INFO clip_stream_entry() const = 0;
  virtual SEsInfo pmt_entry() const = 0;
  // Bytes of the whole stream in the track's own measure, for the progress percentage.
  virtual std::uint64_t data_size() const = 0;
  // The entry points gathered; the multiplexer fills in SpnStart and SpnEnd.
  virtual KEY_POINT_INFO* key_point(std::int64_t index) = 0;
  // The entry-point map entry of the new clip information for this track (PID = current PID); nothing
  // when no entry point was gathered.
  virtual std::optional<STREAM_PID_ENTRY> finish_ep_map() = 0;
  // The reason of a failed reset or read.
  const std::string& error() const { return error_; }

  // ---- decoder buffer model (the models are made by reset) ----
  std::uint64_t admission_time() const;
  void packet_sent(std::uint64_t t, std::uint64_t s, std::uint32_t payload_bytes);

  // ---- state the multiplexer reads and sets ----
  bool primary = true;
  std::uint16_t pid = 0;  // renumbered by the track ordering
  int stream_index = 0;   // position in the old clip's stream list; 0 for a new track
  bool ended = false;
  std::uint64_t time = 0;  // 27 MHz, the multiplexer's scheduling time
  // Entry-point designation: the track gets an entry-point map of this EP stream type.
  bool has_ep_map = false;
  std::uint8_t ep_stream_type = 0;

 protected:
  // Registers a new unit with the models it goes to.
  void register_unit(const SMuxAu& au);
  void set_models(std::optional<SStreamModels> models) { models_ = std::move(models); }

  std::string error_;

 private:
  std::optional<SStreamModels> models_;
  bool extension_ = false;  // the current unit goes to the second model only
};

// Stream kinds of the track ordering and tie-breaking.
constexpr int KindRank(std::uint8_t stream_type) {
  if (is_video_coding_type(stream_type)) return 0;
  if (is_audio_coding_type(stream_type)) return 1;
  if (stream_type == coding_type::kPresentationGraphics) return 2;
  if (stream_type == coding_type::kInteractiveGraphics) return 3;
  return 4;
}

}  // namespace veld
