// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/check.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/clpi.h"
#include "veld/graphics/ig_track.h"
#include "veld/disc/paths.h"
#include "veld/disc/playlist.h"
#include "veld/graphics/composition.h"
#include "veld/pipeline/check_stream.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// Collects what the IG loading says as findings of the clip instead of showing it.
class CFindingMessenger : public Messenger {
 public:
  CFindingMessenger(std::string file, std::vector<SCheckFinding>& out) : file_(std::move(file)), out_(out) {}
  void show(MessageKind kind, std::string_view text) override {
    if (kind == MessageKind::kInfo) return;
    out_.push_back({file_, check_kind::kGraphics, -1, -1, plain_text(text)});
  }
  Answer ask(std::string_view) override { return Answer::kNo; }

 private:
  std::string file_;
  std::vector<SCheckFinding>& out_;
};

// Every object that a page of a display set shows decodes with the palette the page gives it.
void CheckDisplaySet(const CDsData& ds, const std::string& file, std::uint16_t pid, int epoch, int number,
                     std::vector<SCheckFinding>& out) {
  std::string error;
  const std::optional<CIcData> composition = ParseComposition(ds, &error);
  const std::string where = fmt::format("epoch {}, display set {}", epoch, number);
  if (!composition) {
    if (!ds.IcsArray.empty())
      out.push_back({file, check_kind::kGraphics, pid, -1, fmt::format("{}: the composition does not parse: {}", where, error)});
    return;
  }
  std::set<std::uint16_t> seen;
  for (const std::uint16_t id : ListObjects(ds)) {
    if (!seen.insert(id).second) continue;
    const std::uint8_t palette = FindObjectPalette(*composition, id);
    if (palette == kNoPalette) continue;  // no page shows it
    std::string why;
    if (!DecodeObjectBitmap(ds, id, palette, ColourMatrix::kGif, &why))
      out.push_back({file, check_kind::kGraphics, pid, -1, fmt::format("{}: object {} does not decode: {}", where, id, why)});
  }
}

bool HasIgStream(const SClpiData& clip) {
  const auto& streams = clip.streams();
  return std::any_of(streams.begin(), streams.end(), [](const STREAM_INFO& s) {
    return s.StreamCodingInfo.CodingType == coding_type::kInteractiveGraphics;
  });
}

// The IG streams' display sets decode; the observer (when given) sees every packet of the pass that
// reads them. false when cancelled.
bool CheckIgStreams(const fs::path& m2ts, std::vector<SCheckFinding>& out, Progress& progress,
                    CPacketObserver* observer) {
  const std::string file = m2ts.string();
  CFindingMessenger messenger(file, out);
  std::vector<SClipIgStream> loaded;
  File clip_stream;
  if (!clip_stream.open(m2ts, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, clip_stream.error());
    return true;
  }
  if (LoadClipIgStreams(clip_stream, loaded, progress, messenger, {}, observer) == kResultCancelled) return false;
  for (const SClipIgStream& s : loaded) {
    int e = 0;
    for (const CEpochData& epoch : s.data.Epochs) {
      ++e;
      int d = 0;
      for (const CDsData& ds : epoch.DisplaySets) CheckDisplaySet(ds, file, s.pid, e, ++d, out);
    }
  }
  return true;
}

// The clips a playlist plays (play items, their angles, sub-play items), each with where it is named.
std::vector<std::pair<std::string, std::string>> PlaylistClips(const SMplsData& data) {
  std::vector<std::pair<std::string, std::string>> clips;
  for (std::size_t i = 0; i < data.PlayItems.size(); ++i) {
    const PLAY_ITEM& item = data.PlayItems[i];
    clips.emplace_back(item.ClipInformationFileName, fmt::format("play item {}", i));
    for (std::size_t a = 0; a < item.Angles.size(); ++a)
      clips.emplace_back(item.Angles[a].ClipInformationFileName, fmt::format("play item {}, angle {}", i, a + 1));
  }
  for (std::size_t p = 0; p < data.SubPaths.size(); ++p)
    for (std::size_t i = 0; i < data.SubPaths[p].SubPlayItems.size(); ++i)
      clips.emplace_back(data.SubPaths[p].SubPlayItems[i].ClipInformationFileName,
                         fmt::format("sub-path {}, item {}", p, i));
  return clips;
}

std::vector<fs::path> PlaylistFiles(const fs::path& bdmv) {
  std::vector<fs::path> found;
  const auto dir = playlist_folder(bdmv);
  if (!dir) return found;
  std::error_code ec;
  for (fs::directory_iterator it(*dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".mpls" && leading_number(p.stem().string()) >= 0) found.push_back(p);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The clip numbers the playlists name whose files exist; a missing file is a finding of the playlist.
std::set<int> CollectClips(const std::vector<fs::path>& playlists, const fs::path& bdmv, SCheckReport& report) {
  std::set<int> clips;
  for (const fs::path& path : playlists) {
    std::string error;
    CMplsObject playlist;
    const std::optional<Bytes> bytes = read_whole_file(path, &error);
    if (!bytes || playlist.parse(*bytes, &error) <= 0) {
      report.findings.push_back({path.string(), check_kind::kClip, -1, -1, "the playlist cannot be read: " + error});
      continue;
    }
    ++report.playlists;
    for (const auto& [name, where] : PlaylistClips(playlist.data)) {
      const int number = leading_number(name);
      const auto info = clip_info_path(bdmv, number);
      const auto stream = clip_stream_path(bdmv, number);
      std::error_code ec;
      if (!info || !stream) {
        report.findings.push_back({path.string(), check_kind::kClip, -1, -1,
                                   fmt::format("{} names clip \"{}\", which is no clip number", where, name)});
        continue;
      }
      bool ok = true;
      for (const fs::path& f : {*info, *stream}) {
        if (fs::is_regular_file(f, ec)) continue;
        ok = false;
        report.findings.push_back({path.string(), check_kind::kClip, -1, -1,
                                   fmt::format("{} names clip {}, but {} is missing", where, name, f.string())});
      }
      if (ok) clips.insert(number);
    }
  }
  return clips;
}

// The kind and PID of a finding: one check.
std::pair<std::string, int> CheckOf(const SCheckFinding& f) { return {f.kind, f.pid}; }

}  // namespace

std::string SCheckFinding::describe() const {
  std::string s = file;
  if (pid >= 0) s += fmt::format(": PID 0x{:04X}", pid);
  if (packet >= 0) s += fmt::format("{} packet {}", pid >= 0 ? "," : ":", packet);
  return s + ": " + text;
}

bool SCheckScope::models_buffers(std::uint16_t pid) const {
  return all_buffers || std::find(buffer_pids.begin(), buffer_pids.end(), pid) != buffer_pids.end();
}

bool CheckClip(const fs::path& m2ts, const fs::path& clpi_path, const SClpiData& clip,
               std::vector<SCheckFinding>& findings, Progress& progress, std::uint64_t* packets,
               const SCheckScope& scope) {
  (void)clpi_path;
  if (!HasIgStream(clip)) return CheckClipStream(m2ts, clip, findings, progress, packets, scope);
  // One pass over the file: the stream checks ride on the one that reads the IG streams.
  bool ig_checked = false, ig_cancelled = false;
  const ClipPass pass = [&](CPacketObserver& observer) {
    ig_checked = true;
    ig_cancelled = !CheckIgStreams(m2ts, findings, progress, &observer);
    return !ig_cancelled;
  };
  if (!CheckClipStream(m2ts, clip, findings, progress, packets, scope, pass)) return false;
  if (ig_cancelled) return false;
  return ig_checked || CheckIgStreams(m2ts, findings, progress, nullptr);
}

bool CheckClipFiles(const fs::path& m2ts, const fs::path& clpi, std::vector<SCheckFinding>& findings,
                    Progress& progress, std::uint64_t* packets, const SCheckScope& scope) {
  std::string error;
  const std::optional<Bytes> bytes = read_whole_file(clpi, &error);
  CClpiObject clip;
  if (!bytes || clip.parse(*bytes, &error) < 1) {
    findings.push_back({clpi.string(), check_kind::kClip, -1, -1, "the clip information cannot be read: " + error});
    return true;
  }
  return CheckClip(m2ts, clpi, clip.data, findings, progress, packets, scope);
}

int CheckDisc(const fs::path& bdmv, SCheckReport& report, Progress& progress, Messenger& messenger) {
  report = {};
  report.source = bdmv;
  const std::vector<fs::path> playlists = PlaylistFiles(bdmv);
  if (playlists.empty()) {
    messenger.show(MessageKind::kError, message_text(kMsgNoPlaylist));
    return kResultFailed;
  }
  const std::set<int> clips = CollectClips(playlists, bdmv, report);
  progress.set_title(message_text(kStrCheckTitle));
  for (const int number : clips) {
    ++report.clips;
    if (!CheckClipFiles(*clip_stream_path(bdmv, number), *clip_info_path(bdmv, number), report.findings, progress,
                        &report.packets))
      return kResultCancelled;
  }
  return kResultOk;
}

bool CheckRebuiltClip(const fs::path& original_m2ts, const fs::path& original_clpi, const fs::path& new_m2ts,
                      const fs::path& new_clpi, Progress& progress, Messenger& messenger, const SCheckScope& scope) {
  std::vector<SCheckFinding> rebuilt;
  if (!CheckClipFiles(new_m2ts, new_clpi, rebuilt, progress, nullptr, scope)) return false;
  if (rebuilt.empty()) return true;
  std::vector<SCheckFinding> original;
  if (!CheckClipFiles(original_m2ts, original_clpi, original, progress, nullptr, scope)) return false;
  std::set<std::pair<std::string, int>> failed;
  for (const SCheckFinding& f : original) failed.insert(CheckOf(f));
  for (const SCheckFinding& f : rebuilt) {
    if (failed.count(CheckOf(f))) continue;
    messenger.show(MessageKind::kError,
                   format_message(kMsgRebuiltClipFails, new_m2ts.stem().string(), f.describe(), f.kind));
    return false;
  }
  return true;
}

}  // namespace veld
