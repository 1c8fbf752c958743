// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/remux.h"

#include <fmt/format.h>

#include <system_error>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/rip_index.h"
#include "veld/mux/muxer.h"
#include "veld/mux/rip_mux_track.h"

namespace veld {
namespace fs = std::filesystem;

std::int64_t ClipTimeOffset(const CClpiObject& clip) {
  return 54000000 - static_cast<std::int64_t>(clip.start_time);
}

// A record time r becomes r + 54,000,000 + own offset (kRawTrackTimeOffset plus the index's 131,070);
// a kept time stamp p becomes p + 54,000,000 - start. With r = p - time_shift both agree when the own
// offset is time_shift - start.
std::int64_t NewTrackOwnOffset(const CClpiObject& clip, std::int64_t time_shift) {
  return time_shift - static_cast<std::int64_t>(clip.start_time);
}

SRemuxOutcome RemultiplexClip(CClpiObject& clip, std::vector<std::unique_ptr<SRawTrack>>& new_tracks,
                              const fs::path& m2ts_path, const fs::path& clpi_path, Progress& progress,
                              Messenger& messenger, bool tracks_indexed) {
  SRemuxOutcome out;
  SRipTracks& rip = clip.rip_tracks;
  bool any_kept = false;
  for (const SRipTrack& t : rip.tracks) any_kept |= t.kept;
  if (!any_kept && new_tracks.empty()) return out;

  File old_stream;
  if (!old_stream.open(clip.stream_path, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, old_stream.error());
    out.result = kResultFailed;
    return out;
  }
  if (clip.data.stc_info().empty()) {
    messenger.show(MessageKind::kError, format_message(kMsgNoStcSequence, clip.clpi_path.string()));
    out.result = kResultFailed;
    return out;
  }
  out.time_offset = ClipTimeOffset(clip);
  if (any_kept && !tracks_indexed) {
    std::string error;
    switch (index_kept_tracks(rip, old_stream, progress, &error)) {
      case IndexResult::kOk:
        break;
      case IndexResult::kCancelled:
        out.result = kResultCancelled;
        return out;
      case IndexResult::kReadError:
        messenger.show(MessageKind::kError, error);
        out.result = kResultFailed;
        return out;
    }
  }

  CFileOutput m2ts, clpi;
  if (!m2ts.open(m2ts_path)) {
    messenger.show(MessageKind::kError, m2ts.error());
    out.result = kResultFailed;
    return out;
  }
  const auto remove_outputs = [&] {
    m2ts.close();
    clpi.close();
    std::error_code ec;
    fs::remove(m2ts_path, ec);
    fs::remove(clpi_path, ec);
  };
  if (!clpi.open(clpi_path)) {
    const std::string error = clpi.error();
    remove_outputs();
    messenger.show(MessageKind::kError, error);
    out.result = kResultFailed;
    return out;
  }

  // The old entry-point map goes to the kept track of its PID; entries of replaced streams are dropped.
  for (SRipTrack& t : rip.tracks) {
    t.old_ep_entry.reset();
    if (!t.kept) continue;
    for (const STREAM_PID_ENTRY& e : clip.data.ep_map())
      if (e.StreamPid == t.pid) t.old_ep_entry = e;
  }

  CMuxer muxer;
  if (any_kept && rip.pmt && rip.pmt->PrivateDescriptor) muxer.set_private_descriptor(rip.pmt->PrivateDescriptor);

  CClipPacketSource source(old_stream);
  std::vector<std::unique_ptr<CRipMuxTrack>> kept_tracks;
  std::vector<SMuxTrack*> kept, added;
  for (const SRipTrack& t : rip.tracks) {
    if (!t.kept) continue;
    kept_tracks.push_back(std::make_unique<CRipMuxTrack>(t, source, out.time_offset));
    kept.push_back(kept_tracks.back().get());
  }
  for (const auto& t : new_tracks) added.push_back(t.get());
  const std::vector<SMuxTrack*> ordered = OrderTracks(kept, added);
  for (const SMuxTrack* t : ordered) {
    SNewPid n;
    n.pid = t->pid;
    n.stream_type = t->stream_type();
    n.primary = t->primary;
    for (std::size_t i = 0; i < kept_tracks.size(); ++i) {
      if (kept_tracks[i].get() != t) continue;
      n.stream_index = kept_tracks[i]->rip_track().index;
      n.old_pid = kept_tracks[i]->rip_track().pid;
    }
    for (std::size_t i = 0; i < new_tracks.size(); ++i)
      if (new_tracks[i].get() == t) n.new_track = i;
    out.order.push_back(n);
  }

  // The clip keeps its presentation span, moved as every time stamp moves.
  if (clip.end_time >= clip.start_time && clip.end_time - clip.start_time <= 0xFFFFFFFFu - 54000000u)
    muxer.set_presentation_span(54000000, static_cast<std::uint32_t>(clip.end_time + out.time_offset));
  std::string error;
  if (!muxer.start(ordered, clip.data.ClipInfo.ApplicationType, &error)) {
    remove_outputs();
    messenger.show(MessageKind::kError, error);
    out.result = kResultFailed;
    return out;
  }
  out.result = muxer.run(m2ts, clpi, progress, messenger);
  m2ts.close();
  clpi.close();
  if (source.shortened()) {  // the old clip was cut short while it was read: the new one holds zeros
    remove_outputs();
    messenger.show(MessageKind::kError, source.shortened_error());
    out.result = kResultFailed;
    return out;
  }
  if (out.result != kResultOk) {
    remove_outputs();
    return out;
  }
  clip.new_start_time = muxer.smallest_pts();
  clip.new_end_time = muxer.largest_end();
  return out;
}

}  // namespace veld
