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
#include "veld/pipeline/check_written.h"

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

namespace {

// Opens the old clip stream file and indexes its kept tracks (unless that is done). kResultOk, or the
// result after the error was reported.
int OpenAndIndex(CClpiObject& clip, File& old_stream, bool any_kept, bool tracks_indexed, Progress& progress,
                 Messenger& messenger) {
  if (!old_stream.open(clip.stream_path, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, old_stream.error());
    return kResultFailed;
  }
  if (clip.data.stc_info().empty()) {
    messenger.show(MessageKind::kError, format_message(kMsgNoStcSequence, clip.clpi_path.string()));
    return kResultFailed;
  }
  if (!any_kept || tracks_indexed) return kResultOk;
  std::string error;
  switch (index_kept_tracks(clip.rip_tracks, old_stream, progress, &error)) {
    case IndexResult::kOk:
      return kResultOk;
    case IndexResult::kCancelled:
      return kResultCancelled;
    case IndexResult::kReadError:
      break;
  }
  messenger.show(MessageKind::kError, error);
  return kResultFailed;
}

// The old entry-point map goes to the kept track of its PID; entries of replaced streams are dropped.
void HandOverEntryPoints(CClpiObject& clip) {
  for (SRipTrack& t : clip.rip_tracks.tracks) {
    t.old_ep_entry.reset();
    if (!t.kept) continue;
    for (const STREAM_PID_ENTRY& e : clip.data.ep_map())
      if (e.StreamPid == t.pid) t.old_ep_entry = e;
  }
}

// Where each stream of the new clip came from, in the multiplexer's order.
std::vector<SNewPid> NewPidOrder(const std::vector<SMuxTrack*>& ordered,
                                 const std::vector<std::unique_ptr<CRipMuxTrack>>& kept_tracks,
                                 const std::vector<std::unique_ptr<SRawTrack>>& new_tracks) {
  std::vector<SNewPid> order;
  for (const SMuxTrack* t : ordered) {
    SNewPid n;
    n.pid = t->pid;
    n.stream_type = t->stream_type();
    n.primary = t->primary;
    for (const auto& k : kept_tracks) {
      if (k.get() != t) continue;
      n.stream_index = k->rip_track().index;
      n.old_pid = k->rip_track().pid;
    }
    for (std::size_t i = 0; i < new_tracks.size(); ++i)
      if (new_tracks[i].get() == t) n.new_track = i;
    order.push_back(n);
  }
  return order;
}

// The kept tracks (replayed from source, into kept_tracks) with the new ones, in the multiplexer's order.
std::vector<SMuxTrack*> MuxTracks(const SRipTracks& rip, CClipPacketSource& source, std::int64_t time_offset,
                                  const std::vector<std::unique_ptr<SRawTrack>>& new_tracks,
                                  std::vector<std::unique_ptr<CRipMuxTrack>>& kept_tracks) {
  std::vector<SMuxTrack*> kept, added;
  for (const SRipTrack& t : rip.tracks) {
    if (!t.kept) continue;
    kept_tracks.push_back(std::make_unique<CRipMuxTrack>(t, source, time_offset));
    kept.push_back(kept_tracks.back().get());
  }
  for (const auto& t : new_tracks) added.push_back(t.get());
  return OrderTracks(kept, added);
}

// The check that rides on the writing of the new clip, for the streams the multiplexer will list.
std::unique_ptr<CWrittenClipCheck> WrittenCheck(const std::filesystem::path& m2ts, const std::vector<SMuxTrack*>& ordered,
                                                const std::vector<std::unique_ptr<SRawTrack>>& new_tracks) {
  std::vector<STREAM_INFO> streams;
  std::vector<std::uint16_t> ep_pids, rebuilt;
  for (const SMuxTrack* t : ordered) {
    streams.push_back(t->clip_stream_entry());
    if (t->has_ep_map) ep_pids.push_back(t->pid);
  }
  for (const auto& t : new_tracks) rebuilt.push_back(t->pid);
  return std::make_unique<CWrittenClipCheck>(m2ts, streams, ep_pids, std::move(rebuilt));
}

// Both output files, removed again unless kept.
class COutputPair {
 public:
  COutputPair(const fs::path& m2ts, const fs::path& clpi) : m2ts_path_(m2ts), clpi_path_(clpi) {}
  ~COutputPair() {
    if (!kept_) remove();
  }
  COutputPair(const COutputPair&) = delete;
  COutputPair& operator=(const COutputPair&) = delete;
  // false after the error was reported.
  bool open(Messenger& messenger) {
    if (m2ts.open(m2ts_path_) && clpi.open(clpi_path_)) return true;
    messenger.show(MessageKind::kError, m2ts.error().empty() ? clpi.error() : m2ts.error());
    return false;
  }
  void keep() { kept_ = true; }

  CFileOutput m2ts, clpi;

 private:
  void remove() {
    m2ts.close();
    clpi.close();
    std::error_code ec;
    fs::remove(m2ts_path_, ec);
    fs::remove(clpi_path_, ec);
  }
  fs::path m2ts_path_, clpi_path_;
  bool kept_ = false;
};

}  // namespace

SRemuxOutcome RemultiplexClip(CClpiObject& clip, std::vector<std::unique_ptr<SRawTrack>>& new_tracks,
                              const fs::path& m2ts_path, const fs::path& clpi_path, Progress& progress,
                              Messenger& messenger, bool tracks_indexed) {
  SRemuxOutcome out;
  SRipTracks& rip = clip.rip_tracks;
  bool any_kept = false;
  for (const SRipTrack& t : rip.tracks) any_kept |= t.kept;
  if (!any_kept && new_tracks.empty()) return out;
  File old_stream;
  out.result = OpenAndIndex(clip, old_stream, any_kept, tracks_indexed, progress, messenger);
  if (out.result != kResultOk) return out;
  out.time_offset = ClipTimeOffset(clip);
  COutputPair files(m2ts_path, clpi_path);
  out.result = kResultFailed;
  if (!files.open(messenger)) return out;
  HandOverEntryPoints(clip);

  CMuxer muxer;
  if (any_kept && rip.pmt && rip.pmt->PrivateDescriptor) muxer.set_private_descriptor(rip.pmt->PrivateDescriptor);
  CClipPacketSource source(old_stream);
  std::vector<std::unique_ptr<CRipMuxTrack>> kept_tracks;
  const std::vector<SMuxTrack*> ordered = MuxTracks(rip, source, out.time_offset, new_tracks, kept_tracks);
  out.order = NewPidOrder(ordered, kept_tracks, new_tracks);

  // The clip keeps its presentation span, moved as every time stamp moves.
  if (clip.end_time >= clip.start_time && clip.end_time - clip.start_time <= 0xFFFFFFFFu - 54000000u)
    muxer.set_presentation_span(54000000, static_cast<std::uint32_t>(clip.end_time + out.time_offset));
  std::string error;
  if (!muxer.start(ordered, clip.data.ClipInfo.ApplicationType, &error)) {
    messenger.show(MessageKind::kError, error);
    return out;
  }
  const std::unique_ptr<CWrittenClipCheck> check = WrittenCheck(m2ts_path, ordered, new_tracks);
  muxer.set_observer(check.get());
  out.result = muxer.run(files.m2ts, files.clpi, progress, messenger);
  files.m2ts.close();
  files.clpi.close();
  if (source.shortened()) {  // the old clip was cut short while it was read: the new one holds zeros
    messenger.show(MessageKind::kError, source.shortened_error());
    out.result = kResultFailed;
    return out;
  }
  if (out.result != kResultOk) return out;
  bool cancelled = false;
  out.checked = check->passes(clpi_path, progress, &cancelled);
  if (cancelled) {
    out.result = kResultCancelled;
    return out;
  }
  files.keep();
  clip.new_start_time = muxer.smallest_pts();
  clip.new_end_time = muxer.largest_end();
  return out;
}

}  // namespace veld
