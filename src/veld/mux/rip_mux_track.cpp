// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/rip_mux_track.h"

#include <fmt/format.h>

#include <limits>

#include "veld/base/messages.h"

namespace veld {

CRipMuxTrack::CRipMuxTrack(const SRipTrack& track, CClipPacketSource& source, std::int64_t time_offset)
    : track_(track), source_(source), replay_(track, source), offset_(time_offset) {
  primary = track.primary;
  pid = track.pid;
  stream_index = track.index;
}

std::string CRipMuxTrack::describe() const {
  const std::uint8_t ct = track_.coding_type();
  std::string text = fmt::format("0x{:04X}, coding type 0x{:02X}", track_.pid, ct);
  const std::string lang = track_.stream_info.StreamCodingInfo.language();
  if (!is_video_coding_type(ct) && !lang.empty()) text += ", " + lang;
  return text;
}

bool CRipMuxTrack::reset(std::string* error) {
  replay_.prepare(0, std::numeric_limits<std::int64_t>::max(), offset_, pid, has_ep_map);
  const std::uint8_t ct = track_.coding_type();
  told_ = 0;
  if (is_video_coding_type(ct)) {
    // Profile and level of the first access unit when both were found, else a default for standard
    // definition formats (480i, 576i, 480p, 576p); otherwise the model keeps its own default.
    if (replay_.profile() != 0 && replay_.level() != 0) {
      told_ = ct == coding_type::kMpeg2Video ? replay_.profile() * 16 + replay_.level() : replay_.level();
    } else {
      const std::uint8_t format = track_.stream_info.StreamCodingInfo.VideoFormat;
      if (format == 1 || format == 2 || format == 3 || format == 7)
        told_ = ct == coding_type::kMpeg2Video ? 72 : ct == coding_type::kAvcVideo ? 30 : 2;
    }
  }
  set_models(MakeStreamModels(ct, told_, primary));
  ended = false;
  if (!next_access_unit()) {
    if (error) *error = error_;
    return false;
  }
  return true;
}

bool CRipMuxTrack::next_access_unit() {
  const std::size_t points = replay_.key_points().size();
  if (!replay_.advance()) {
    ended = true;
    if (replay_.failed()) {
      error_ = format_message(kMsgShortClip, source_.path().string(), track_.pid);
      return false;
    }
    return true;
  }
  const SRipAu& u = *replay_.current();
  au_ = SMuxAu{};
  au_.dts = u.DTS;
  au_.pts = u.PTS;
  au_.size = au_.bytes_left = u.size();
  au_.extension = is_audio_coding_type(track_.coding_type()) && (u.KeyInfo & kKeyInfoExtensionUnit) != 0;
  if (replay_.key_points().size() > points) au_.entry_point = static_cast<std::int64_t>(points);
  register_unit(au_);
  return true;
}

int CRipMuxTrack::make_packet(std::uint8_t* out) {
  std::int64_t left = static_cast<std::int64_t>(au_.bytes_left);
  int payload = 0;
  if (!replay_.next_packet(out, &payload, &left)) return -1;
  au_.bytes_left = static_cast<std::uint64_t>(left);
  return payload;
}

std::uint32_t CRipMuxTrack::frame_duration() const {
  if (!is_video_coding_type(track_.coding_type())) return 0;
  return frame_duration_ticks(track_.stream_info.StreamCodingInfo.FrameRate);
}

SEsInfo CRipMuxTrack::pmt_entry() const {
  if (std::optional<SEsInfo> es = replay_.pmt_entry()) return *es;
  // The old PMT did not list the stream: a plain entry with its type and language.
  SEsInfo es;
  es.StreamType = track_.coding_type();
  es.ElementaryPid = pid;
  const std::string lang = track_.stream_info.StreamCodingInfo.language();
  if (!is_video_coding_type(es.StreamType) && lang.size() == 3)
    es.LanguageDescriptor = SIso639LanguageDescriptor{{lang[0], lang[1], lang[2]}, 0};
  return es;
}

KEY_POINT_INFO* CRipMuxTrack::key_point(std::int64_t index) {
  CKpiFolder& points = replay_.key_points();
  if (index < 0 || index >= static_cast<std::int64_t>(points.size())) return nullptr;
  return &points[static_cast<std::size_t>(index)];
}

std::optional<STREAM_PID_ENTRY> CRipMuxTrack::finish_ep_map() {
  if (!has_ep_map) return std::nullopt;
  STREAM_PID_ENTRY e = replay_.hand_over_key_points(pid);
  if (e.KeyPoints.empty()) return std::nullopt;
  e.EpStreamType = ep_stream_type;
  return e;
}

}  // namespace veld
