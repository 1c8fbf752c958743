// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/replace.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "veld/base/file.h"
#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/clip_length.h"
#include "veld/graphics/ig_track.h"
#include "veld/clip/rip_index.h"
#include "veld/disc/bd_disc.h"
#include "veld/graphics/button_images.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/segment_file.h"
#include "veld/pipeline/disc_warnings.h"
#include "veld/pipeline/remux.h"
#include "veld/pipeline/remux_inplace.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

bool MakeFolder(const fs::path& folder, Messenger& messenger) {
  if (EnsureFolder(folder, nullptr)) return true;
  messenger.show(MessageKind::kError, format_message(kMsgCannotCreate, folder.string()));
  return false;
}

bool HasIgStream(const CClpiObject& clip) {
  const auto& streams = clip.data.streams();
  return std::any_of(streams.begin(), streams.end(), [](const STREAM_INFO& s) {
    return s.StreamCodingInfo.CodingType == coding_type::kInteractiveGraphics;
  });
}

std::array<char, 3> language_array(const std::string& code) {
  std::array<char, 3> a{};
  for (std::size_t i = 0; i < 3 && i < code.size(); ++i) a[i] = code[i];
  return a;
}

// What one clip's rebuilding produced for its remultiplexing.
struct SClipMenus {
  bool changed = false;
  bool refused = false;  // an edit was refused: nothing of the run may stay
  std::map<std::uint16_t, std::int64_t> time_shift;  // by IG PID
  // The in-place route's scan of the clip, made by the pass that reads its menus.
  std::unique_ptr<CInPlaceScan> scan;
  // The in-place route's copy of the clip, made while its menus are read (it is of use when the rebuilt
  // menus keep their packet count).
  std::unique_ptr<CFileCopyAhead> ahead;
};

// A file of the rebuilt clip in the stream folder: "<clip>.m2ts" or "<clip>.clpi".
fs::path RebuiltClipFile(const SOutputNames& names, const fs::path& work, int clip, const char* extension) {
  return names.stream_folder(work) / fmt::format("{:05d}.{}", clip, extension);
}

// How the run finds and takes edits.
struct SEditContext {
  const CEditRule& rule;
  SEditReport& report;
  bool dry_run = false;
};

int RebuildClipMenus(CClpiObject& clip, const SOutputNames& names, const fs::path& work, SEditContext& edits,
                     Progress& progress, Messenger& messenger, SClipMenus& menus, ReplaceStats& stats) {
  File stream;
  if (!stream.open(clip.stream_path, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, stream.error());
    return kResultFailed;
  }
  const std::string title = clip.stream_path.stem().string();
  const fs::path clip_folder = names.image_folder(work) / title;
  std::error_code ec;
  if (!fs::is_directory(clip_folder, ec)) return kResultOk;  // nothing of this clip was extracted
  std::vector<SClipIgStream> streams;
  const int r = LoadClipIgStreams(stream, streams, progress, messenger, {}, menus.scan.get());
  if (r != kResultOk) return r;
  for (SClipIgStream& s : streams) {
    const fs::path stream_folder = clip_folder / std::to_string(s.pid);
    if (!fs::is_directory(stream_folder, ec)) continue;
    // What the extraction warns about this stream, the replacement says too.
    ShowDiscWarnings(UndecodableObjectWarnings(s.data, fmt::format("{}, PID {}", clip.stream_path.string(), s.pid)),
                     messenger);
    if (!ImportStreamImages(s.data, names, names.image_folder(work), title + "/" + std::to_string(s.pid), edits.rule,
                            menus.changed, messenger, edits.report)) {
      menus.refused = true;
      return kResultFailed;
    }
    // Once a stream of the clip changed, this one and every later one are written: each then replaces
    // its old stream in the new clip.
    if (!menus.changed) continue;
    if (edits.dry_run) {
      stats.dry_run.push_back(format_message(kMsgDryRunStream, s.pid, title));
      menus.time_shift[s.pid] = s.time_shift;
      ++stats.ig_streams;
      continue;
    }
    const fs::path ig = names.raw_ig_path(work, clip.stream_path, s.pid);
    std::string error;
    if (!WriteGraphicsStream(ig, s.data, &error)) {
      messenger.show(MessageKind::kError, error);
      return kResultFailed;
    }
    menus.time_shift[s.pid] = s.time_shift;
    ++stats.ig_streams;
  }
  return kResultOk;
}

// Indexes the tracks of a clip on a thread of its own while the clip's menu streams are read and rebuilt:
// both passes read the whole clip, and a single-threaded read of the menu streams would leave the second
// core idle. The tracks are not touched by anything else until Wait returns.
class CClipIndexer {
 public:
  CClipIndexer() = default;
  CClipIndexer(const CClipIndexer&) = delete;
  CClipIndexer& operator=(const CClipIndexer&) = delete;
  ~CClipIndexer() { Stop(); }

  void Start(SRipTracks& tracks, const fs::path& clip_stream) {
    started_ = true;
    thread_ = std::thread([this, &tracks, clip_stream] {
      File file;
      if (!file.open(clip_stream, File::Mode::kRead)) {
        result_ = IndexResult::kReadError;
        error_ = file.error();
        return;
      }
      result_ = index_kept_tracks(tracks, file, progress_, &error_);
    });
  }
  bool started() const { return started_; }
  // Waits for the index: kOk, kCancelled, or kReadError with the reason in *error.
  IndexResult Wait(std::string* error) {
    if (thread_.joinable()) thread_.join();
    if (error) *error = error_;
    return result_;
  }
  // Stops an index that is not needed after all (its tracks are then left without one).
  void Stop() {
    if (!thread_.joinable()) return;
    progress_.cancel();
    thread_.join();
  }

 private:
  Progress progress_;  // only its cancellation is used
  std::thread thread_;
  bool started_ = false;
  IndexResult result_ = IndexResult::kCancelled;
  std::string error_;
};

// The rebuilt IG streams of the clip (those with a stream file in the work folder), each taking the
// place of the old one: same stream index, same timing. false when one cannot be opened (reported).
bool OpenRebuiltTracks(CClpiObject& clip, const SOutputNames& names, const fs::path& work, const SClipMenus& menus,
                       const ReplaceOptions& options, std::vector<std::unique_ptr<SRawTrack>>& added,
                       std::vector<std::uint16_t>& replaced, SRebuiltClip& rebuilt, Messenger& messenger) {
  for (SRipTrack& t : clip.rip_tracks.tracks) {
    if (t.pid < 0x1400 || t.pid > 0x141F) continue;
    const fs::path ig = names.raw_ig_path(work, clip.stream_path, t.pid);
    std::error_code ec;
    if (!fs::exists(ig, ec)) continue;
    t.kept = false;
    CSource source{ig, language_array(options.ig_language.empty() ? t.stream_info.StreamCodingInfo.language()
                                                                   : options.ig_language)};
    std::string error;
    std::unique_ptr<SRawTrack> track = SRawTrack::Open(source, nullptr, &error);
    if (!track) {
      messenger.show(MessageKind::kError, error);
      return false;
    }
    track->stream_index = t.index;
    if (const auto it = menus.time_shift.find(t.pid); it != menus.time_shift.end())
      track->own_offset = NewTrackOwnOffset(clip, it->second);
    rebuilt.new_languages.push_back(source.language);
    replaced.push_back(t.pid);
    added.push_back(std::move(track));
  }
  return true;
}

// Whether a replaced stream gets another language than the clip information gives it.
bool LanguageChanged(const CClpiObject& clip, const std::vector<std::uint16_t>& replaced,
                     const std::vector<std::array<char, 3>>& languages) {
  for (const SRipTrack& t : clip.rip_tracks.tracks)
    for (std::size_t i = 0; i < replaced.size(); ++i)
      if (t.pid == replaced[i] &&
          t.stream_info.StreamCodingInfo.language() != std::string(languages[i].data(), strnlen(languages[i].data(), 3)))
        return true;
  return false;
}

// The full route: the clip remultiplexed with the rebuilt streams, on the index of its kept tracks when
// the indexer made one while the menus were rebuilt.
int RemuxClipFully(CClpiObject& clip, std::vector<std::unique_ptr<SRawTrack>>& added,
                   const std::vector<std::uint16_t>& replaced, const fs::path& m2ts, const fs::path& clpi,
                   SReplacedFiles& files, Progress& progress, Messenger& messenger, SRebuiltClip& rebuilt,
                   bool& written, CClipIndexer& indexer) {
  bool indexed = false;
  if (indexer.started()) {
    std::string error;
    switch (indexer.Wait(&error)) {
      case IndexResult::kOk:
        indexed = true;
        break;
      case IndexResult::kCancelled:
        break;  // indexed again below
      case IndexResult::kReadError:
        messenger.show(MessageKind::kError, error);
        return kResultFailed;
    }
  }
  SRemuxOutcome out = RemultiplexClip(clip, added, m2ts, clpi, progress, messenger, indexed);
  if (out.result != kResultOk) return out.result;
  for (SNewPid& n : out.order)
    if (n.stream_index < 0) n.old_pid = replaced[n.new_track];
  rebuilt.order = std::move(out.order);
  rebuilt.offset = out.time_offset;
  rebuilt.old_start = clip.start_time;
  rebuilt.old_end = clip.end_time;
  rebuilt.old_start_45k = clip.data.stc_info().empty() ? 0 : clip.data.stc_info().front().StartPTS;
  rebuilt.new_start = clip.new_start_time;
  rebuilt.new_end = clip.new_end_time;
  for (const SRipTrack& t : clip.rip_tracks.tracks) rebuilt.kept_any |= t.kept;
  files.clip_streams.push_back({clip.id, m2ts});
  files.clip_infos.push_back({clip.id, clpi});
  if (out.checked) files.checked.insert(clip.id);
  written = !rebuilt.order.empty();
  return kResultOk;
}

int RemuxClip(CClpiObject& clip, const SOutputNames& names, const fs::path& work, const SClipMenus& menus,
              const ReplaceOptions& options, SReplacedFiles& files, Progress& progress, Messenger& messenger,
              SRebuiltClip& rebuilt, bool& written, CClipIndexer& indexer) {
  const fs::path stream_folder = names.stream_folder(work);
  if (!MakeFolder(stream_folder, messenger)) return kResultFailed;
  std::vector<std::unique_ptr<SRawTrack>> added;
  std::vector<std::uint16_t> replaced;
  if (!OpenRebuiltTracks(clip, names, work, menus, options, added, replaced, rebuilt, messenger)) return kResultFailed;
  if (added.empty()) return kResultOk;
  const fs::path m2ts = RebuiltClipFile(names, work, clip.id, "m2ts");
  const fs::path clpi = RebuiltClipFile(names, work, clip.id, "clpi");
  if (options.remux == RemuxRoute::kInPlace) {
    SInPlaceClip checked{replaced, {}};
    const SInPlaceRequest request{&added,          &replaced, &menus.time_shift, m2ts, clpi, menus.scan.get(),
                                  menus.ahead.get(), &checked.check_packets};
    const InPlaceOutcome in_place = RepacketiseClip(clip, request, progress, messenger);
    if (in_place == InPlaceOutcome::kCancelled) return kResultCancelled;
    if (in_place == InPlaceOutcome::kFailed) return kResultFailed;
    if (in_place == InPlaceOutcome::kDone) {
      // The playlists keep every PID and time; they change only when the language was set on purpose.
      if (LanguageChanged(clip, replaced, rebuilt.new_languages))
        rebuilt = InPlaceRebuiltClip(clip, replaced, rebuilt.new_languages);
      files.clip_streams.push_back({clip.id, m2ts});
      files.in_place[clip.id] = std::move(checked);
      files.clip_infos.push_back({clip.id, clpi});
      written = true;
      return kResultOk;
    }
  }
  return RemuxClipFully(clip, added, replaced, m2ts, clpi, files, progress, messenger, rebuilt, written, indexer);
}

}  // namespace

bool ImportStreamImages(CGsData& stream, const SOutputNames& names, const fs::path& image_folder,
                        const std::string& stream_rel, const CEditRule& rule, bool& changed, Messenger& messenger,
                        SEditReport& report) {
  return ImportStreamEdits(stream, names, image_folder, stream_rel, rule, changed, messenger, report);
}

int WriteChangedPlaylist(CMplsObject& playlist, const fs::path& path, const CCofObject& clips,
                         const CRebuiltClips& rebuilt, Messenger& messenger, bool* written) {
  if (written) *written = false;
  if (!AdjustPlaylist(playlist.data, clips, rebuilt) || playlist.data.PlayItems.empty()) return kResultOk;
  std::error_code ec;
  fs::remove(path, ec);  // never write through an earlier file: it may be linked into a disc
  const Result r = write_playlist_file(playlist, path, messenger);
  if (r == kResultOk && written) *written = true;
  return r;
}

namespace {

// What one run of replace shares between its clips.
struct SReplaceRun {
  const SOutputNames& names;
  const fs::path& work;
  const ReplaceOptions& options;
  SEditContext& edits;
  SReplacedFiles& files;
  ReplaceStats& stats;
  CRebuiltClips& rebuilt;
  bool& edited;
  // The in-place route's copies of the clips whose pictures look edited, by clip: all started before
  // the first clip is read, one after another on one lane (the lane outlives them).
  CCopyLane lane;
  std::map<int, std::unique_ptr<CFileCopyAhead>> aheads;
};

// Starts the copy of every clip that the in-place route will probably write: one with a menu and a
// picture whose file time is after the extraction. Reading the menus of the clips before it (their
// pictures are compared with the manifest) then no longer holds its copy up.
void StartCopiesAhead(CCofObject& clips, SReplaceRun& run) {
  if (run.options.dry_run || run.options.remux != RemuxRoute::kInPlace) return;
  const fs::path images = run.names.image_folder(run.work);
  for (std::size_t i = 0; i < clips.size(); ++i) {
    CClpiObject& clip = clips[i];
    if (!HasIgStream(clip) || !HasTouchedPicture(images, clip.stream_path.stem().string(), run.edits.rule)) continue;
    auto ahead = std::make_unique<CFileCopyAhead>();
    ahead->Start(clip.stream_path, RebuiltClipFile(run.names, run.work, clip.id, "m2ts"), &run.lane);
    run.aheads[clip.id] = std::move(ahead);
  }
}

// What runs while the menus of a clip are rebuilt: on the full route the index of its kept tracks, when a
// picture of the clip looks edited; on the in-place route the copy of the clip (started with the run by
// StartCopiesAhead), handed to the menus.
void StartBesideMenus(CClpiObject& clip, SReplaceRun& run, SClipMenus& menus, CClipIndexer& indexer) {
  if (!run.options.dry_run && run.options.remux == RemuxRoute::kFull &&
      HasEditedPicture(run.names.image_folder(run.work), clip.stream_path.stem().string(), run.edits.rule))
    indexer.Start(clip.rip_tracks, clip.stream_path);
  if (const auto it = run.aheads.find(clip.id); it != run.aheads.end()) menus.ahead = std::move(it->second);
}

// Rebuilds the menus of one clip and, when they changed, writes the clip. kResultOk also when the clip
// has no menu or no edit; *refused: an edit was refused (the run leaves nothing).
int ReplaceClip(CClpiObject& clip, SReplaceRun& run, Progress& progress, Messenger& messenger, bool* refused) {
  if (!HasIgStream(clip)) return kResultOk;
  if (const auto short_clip = CheckClipStreamLength(clip)) messenger.show(MessageKind::kWarning, *short_clip);
  const ReplaceOptions& options = run.options;
  SClipMenus menus;
  if (!options.dry_run && options.remux == RemuxRoute::kInPlace) {
    menus.scan = std::make_unique<CInPlaceScan>();
    WatchForInPlace(*menus.scan, clip.data);
  }
  CClipIndexer indexer;
  StartBesideMenus(clip, run, menus, indexer);
  int r = RebuildClipMenus(clip, run.names, run.work, run.edits, progress, messenger, menus, run.stats);
  *refused = menus.refused;
  if (menus.refused || r != kResultOk || !menus.changed) return r;
  if (options.dry_run) {
    run.stats.dry_run.push_back(format_message(kMsgDryRunClip, clip.stream_path.filename().string()));
    ++run.stats.clips;
    run.edited = true;
    return kResultOk;
  }
  SRebuiltClip result;
  bool written = false;
  r = RemuxClip(clip, run.names, run.work, menus, options, run.files, progress, messenger, result, written, indexer);
  if (r != kResultOk) return r;
  if (written) {
    if (!result.order.empty()) run.rebuilt[clip.id] = std::move(result);
    ++run.stats.clips;
    run.edited = true;
  }
  return kResultOk;
}

// The playlists that name a rebuilt clip, written anew where they change.
int WritePlaylists(CBDDisc& disc, SReplaceRun& run, Messenger& messenger) {
  CPofObject& playlists = *disc.playlists();
  for (std::size_t i = 0; i < playlists.size(); ++i) {
    CMplsObject& playlist = playlists[i];
    const fs::path path = run.names.stream_folder(run.work) / fmt::format("{:05d}.mpls", playlist.id);
    bool written = false;
    const int r = WriteChangedPlaylist(playlist, path, *disc.clips(), run.rebuilt, messenger, &written);
    if (r != kResultOk) return r;
    if (written) {
      run.files.playlists.push_back({playlist.id, path});
      ++run.stats.playlists;
    }
  }
  return kResultOk;
}

}  // namespace

int ReplaceButtonImages(SReplacedFiles& files, bool& edited, const SOutputNames& names, const fs::path& source,
                        const fs::path& work, const ReplaceOptions& options, Progress& progress,
                        Messenger& messenger, ReplaceStats* stats_out) {
  ReplaceStats stats;
  SEditReport report;
  const auto finish = [&](int r) {
    stats.images = report.pictures;
    stats.objects = report.objects;
    stats.edits = report.lines;
    if (stats_out) *stats_out = stats;
    return r;
  };
  // A refused edit leaves nothing of the run: the files of the clips before it go too.
  const auto refuse = [&] {
    if (!options.dry_run) {
      for (const fs::path& folder : {names.stream_folder(work), names.ig_folder(work)}) EmptyFolder(folder, false);
    }
    files = SReplacedFiles{};
    edited = false;
    return finish(kResultFailed);
  };
  CBDDisc disc;
  if (!disc.open(source, messenger)) return finish(kResultFailed);
  ShowDiscWarnings(BackupDifferenceWarnings(source), messenger);
  CEditRule rule;
  if (!rule.Load(names, work, messenger)) return finish(kResultFailed);
  rule.set_import(SImportOptions{options.colours, options.dither, options.anchor});
  SEditContext edits{rule, report, options.dry_run};

  for (const fs::path& folder : {names.stream_folder(work), names.ig_folder(work)}) {
    if (options.dry_run) break;
    if (!MakeFolder(folder, messenger)) return finish(kResultFailed);
    EmptyFolder(folder, false);  // the files of an earlier run go
  }

  CRebuiltClips rebuilt;
  SReplaceRun run{names, work, options, edits, files, stats, rebuilt, edited, {}, {}};
  CCofObject& clips = *disc.clips();
  StartCopiesAhead(clips, run);
  for (std::size_t i = 0; i < clips.size(); ++i) {
    bool refused = false;
    const int r = ReplaceClip(clips[i], run, progress, messenger, &refused);
    if (refused) return refuse();
    if (r != kResultOk) return finish(r);
  }
  if (!CheckEditsFoundTheirObjects(names.image_folder(work), rule, report, messenger)) return refuse();
  if (options.dry_run) return finish(kResultOk);
  return finish(WritePlaylists(disc, run, messenger));
}

}  // namespace veld
