// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/remux_inplace.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/graphics/gs_parser.h"
#include "veld/mux/inplace_repacketiser.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// A record time r of a segment file is the stream's time minus time_shift, moved by the index offset;
// the track adds kRawTrackTimeOffset and its own offset: this own offset gives back the old stamps.
std::int64_t OldStampOffset(std::int64_t time_shift) {
  return time_shift - std::int64_t{kRawTrackTimeOffset} - std::int64_t{kGsTimeOffset};
}

bool WriteClipInfo(const CClpiObject& clip, const SInPlaceResult& r, const SInPlaceRequest& req,
                   const CInPlaceScan& scan, Messenger& messenger) {
  SClpiData data = clip.data;
  ShiftClipInfo(data, r.shift, r.packets, &scan);
  for (std::size_t i = 0; i < req.replaced->size(); ++i) {
    const std::array<char, 3>& lang = (*req.tracks)[i]->source().language;
    for (STREAM_INFO& s : data.streams())
      if (s.StreamPID == (*req.replaced)[i]) s.StreamCodingInfo.set_language(std::string_view(lang.data(), 3));
  }
  File out;
  const Bytes bytes = write_clpi(data);
  if (!out.open(req.clpi, File::Mode::kCreate) || !out.write(bytes)) {
    messenger.show(MessageKind::kError, out.error());
    return false;
  }
  return true;
}

// The language a rebuilt stream gets where it differs from the one the clip information gives it.
std::optional<std::array<char, 3>> RenamedLanguage(const SClpiData& clip, std::uint16_t pid,
                                                   const std::array<char, 3>& language) {
  for (const STREAM_INFO& s : clip.streams()) {
    if (s.StreamPID != pid) continue;
    const std::string old = s.StreamCodingInfo.language();
    if (old == std::string_view(language.data(), strnlen(language.data(), 3))) return std::nullopt;
  }
  return language;
}

// The scan of the old clip: the one made while its menus were read, while the file keeps the size it had
// then; otherwise a pass of its own into `own`. nullptr when that pass failed (reported) or was cancelled.
const CInPlaceScan* ScanOfClip(const CClpiObject& clip, const SInPlaceRequest& req, CInPlaceScan& own,
                               Progress& progress, Messenger& messenger) {
  std::error_code ec;
  if (req.scan && req.scan->packets() == fs::file_size(clip.stream_path, ec) / 192) return req.scan;
  WatchForInPlace(own, clip.data);
  std::string error;
  if (own.read(clip.stream_path, progress, error)) return &own;
  if (!progress.cancelled()) messenger.show(MessageKind::kError, fmt::format("{}: {}", clip.stream_path.string(), error));
  return nullptr;
}

// The rebuilt tracks carry the old stream's time stamps while they are scheduled in place, and their
// own offsets again afterwards.
class COldStamps {
 public:
  COldStamps(const SClpiData& clip, const SInPlaceRequest& req, std::vector<SInPlaceStream>& streams)
      : tracks_(*req.tracks) {
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
      SRawTrack& t = *tracks_[i];
      const std::uint16_t pid = (*req.replaced)[i];
      saved_.push_back(t.own_offset);
      const auto shift = req.time_shift->find(pid);
      t.own_offset = OldStampOffset(shift == req.time_shift->end() ? 0 : shift->second);
      streams.push_back({pid, &t, RenamedLanguage(clip, pid, t.source().language)});
    }
  }
  ~COldStamps() {
    for (std::size_t i = 0; i < saved_.size(); ++i) tracks_[i]->own_offset = saved_[i];
  }
  COldStamps(const COldStamps&) = delete;
  COldStamps& operator=(const COldStamps&) = delete;

 private:
  std::vector<std::unique_ptr<SRawTrack>>& tracks_;
  std::vector<std::int64_t> saved_;
};

}  // namespace

void WatchForInPlace(CInPlaceScan& scan, const SClpiData& clip) {
  scan.watch_entry_points(clip.Cpi.EpMap);
  scan.watch_program_map(clip.ProgramInfo.ProgramSequenceInfo.ProgramMapPid);
}

InPlaceOutcome RepacketiseClip(const CClpiObject& clip, const SInPlaceRequest& req, Progress& progress,
                               Messenger& messenger) {
  CInPlaceScan own;
  const CInPlaceScan* scan = ScanOfClip(clip, req, own, progress, messenger);
  if (!scan) return progress.cancelled() ? InPlaceOutcome::kCancelled : InPlaceOutcome::kFailed;
  SInPlaceResult r;
  {
    std::vector<SInPlaceStream> streams;
    const COldStamps stamps(clip.data, req, streams);
    r = RepacketiseInPlace(clip.stream_path, req.m2ts, streams, clip.data.ClipInfo.TsRecordingRate, *scan, progress,
                           req.ahead);
  }
  switch (r.status) {
    case SInPlaceResult::Status::kDone:
      break;
    case SInPlaceResult::Status::kNoSchedule:
      messenger.show(MessageKind::kInfo, format_message(kMsgInPlaceFallback, clip.stream_path.filename().string(), r.reason));
      return InPlaceOutcome::kFallback;
    case SInPlaceResult::Status::kCancelled:
      return InPlaceOutcome::kCancelled;
    case SInPlaceResult::Status::kFailed:
      messenger.show(MessageKind::kError, r.reason);
      return InPlaceOutcome::kFailed;
  }
  if (req.check_packets) {
    std::vector<std::uint32_t>& packets = *req.check_packets;
    packets = r.written;
    for (const std::uint32_t spn : scan->reference_packets()) packets.push_back(r.shift.map(spn));
    // The menu streams that were kept are checked too: a menu stream decodes as a whole.
    for (const STREAM_INFO& s : clip.data.streams()) {
      if (s.StreamCodingInfo.CodingType != coding_type::kInteractiveGraphics) continue;
      if (std::find(req.replaced->begin(), req.replaced->end(), s.StreamPID) != req.replaced->end()) continue;
      for (const SIgSlot& slot : scan->pid(s.StreamPID).slots) packets.push_back(r.shift.map(slot.spn));
    }
    std::sort(packets.begin(), packets.end());
    packets.erase(std::unique(packets.begin(), packets.end()), packets.end());
  }
  if (!WriteClipInfo(clip, r, req, *scan, messenger)) {
    std::error_code ec;
    fs::remove(req.m2ts, ec);
    fs::remove(req.clpi, ec);
    return InPlaceOutcome::kFailed;
  }
  return InPlaceOutcome::kDone;
}

SRebuiltClip InPlaceRebuiltClip(const CClpiObject& clip, const std::vector<std::uint16_t>& replaced,
                                const std::vector<std::array<char, 3>>& languages) {
  SRebuiltClip c;
  c.old_start = c.new_start = clip.start_time;
  c.old_end = c.new_end = clip.end_time;
  c.offset = 0;
  // Marks move by 27,000,000 less this (45 kHz): not at all.
  c.old_start_45k = 27000000;
  c.kept_any = true;
  c.new_languages = languages;
  const CSiFolder& streams = clip.data.streams();
  for (std::size_t i = 0; i < streams.size(); ++i) {
    SNewPid n;
    n.old_pid = n.pid = streams[i].StreamPID;
    n.stream_type = streams[i].StreamCodingInfo.CodingType;
    const auto it = std::find(replaced.begin(), replaced.end(), n.pid);
    if (it != replaced.end()) {
      n.new_track = static_cast<std::size_t>(it - replaced.begin());
    } else {
      n.stream_index = static_cast<int>(i);
    }
    c.order.push_back(n);
  }
  return c;
}

}  // namespace veld
