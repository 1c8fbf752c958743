// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/extract.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <system_error>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "veld/base/file.h"
#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/clip_length.h"
#include "veld/graphics/ig_track.h"
#include "veld/disc/bd_disc.h"
#include "veld/pipeline/disc_warnings.h"
#include "veld/pipeline/export_worker.h"
#include "veld/pipeline/edits.h"
#include "veld/pipeline/manifest.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// A folder of the output tree that must exist; reported when it cannot be made.
bool MakeFolder(const fs::path& folder, Messenger& messenger) {
  if (EnsureFolder(folder, nullptr)) return true;
  messenger.show(MessageKind::kError, format_message(kMsgCannotCreate, folder.string()));
  return false;
}

}  // namespace

bool ClipHasIgStream(const CClpiObject& clip) {
  const std::uint8_t app = clip.data.ClipInfo.ApplicationType;
  if (app != 1 && app != 5) return false;
  const auto& streams = clip.data.streams();
  return std::any_of(streams.begin(), streams.end(), [](const STREAM_INFO& s) {
    return s.StreamCodingInfo.CodingType == coding_type::kInteractiveGraphics;
  });
}

namespace {

// Shows the warnings gathered in stats and forgets them.
void ShowWarnings(ExtractStats& stats, Messenger& messenger) {
  for (const std::string& text : stats.warnings) messenger.show(MessageKind::kWarning, text);
  stats.warnings.clear();
}

}  // namespace

bool ExportStreamImages(const fs::path& stream_folder, const CGsData& stream, const SOutputNames& names,
                        Messenger& messenger, ExtractStats& stats, ImageFormat format,
                        const fs::path& preview_stream_folder) {
  CStreamExporter exporter(stream_folder, preview_stream_folder, names, format);
  for (const CEpochData& epoch : stream.Epochs) {
    for (const CDsData& ds : epoch.DisplaySets) {
      std::string error = exporter.Add(ds, stats);
      ShowWarnings(stats, messenger);
      if (!error.empty()) {
        messenger.show(MessageKind::kError, error);
        return false;
      }
    }
  }
  if (std::string error = exporter.Finish(stats); !error.empty()) {
    messenger.show(MessageKind::kError, error);
    return false;
  }
  return true;
}

namespace {

// Scans one clip stream file and hands each display set of its IG streams to the worker as soon as it is
// complete; the worker writes the pictures into image_folder/<title>/<PID>/... while the scan goes on.
// The streams' folders are made; the worker is not waited for.
int ScanClipMenus(const fs::path& clip_stream, const fs::path& image_folder, const SOutputNames& names,
                  Progress& progress, Messenger& messenger, ExtractStats& stats, const SExtractOptions& options,
                  CExportWorker& worker) {
  const fs::path clip_folder = image_folder / clip_stream.stem();
  const fs::path preview_clip_folder =
      options.preview_folder.empty() ? fs::path() : options.preview_folder / clip_stream.stem();
  std::map<std::uint16_t, std::size_t> stream_of_pid;
  const auto listener = [&](std::uint16_t pid, const CDsData& ds) {
    auto it = stream_of_pid.find(pid);
    if (it == stream_of_pid.end()) {
      const std::string folder = std::to_string(pid);
      auto exporter = std::make_unique<CStreamExporter>(
          clip_folder / folder, preview_clip_folder.empty() ? fs::path() : preview_clip_folder / folder, names,
          options.format);
      exporter->set_source(fmt::format("{}, PID {}", clip_stream.string(), pid));
      it = stream_of_pid.emplace(pid, worker.AddStream(std::move(exporter))).first;
    }
    worker.Post(it->second, ds);
  };
  std::vector<SClipIgStream> streams;
  const int r = LoadClipIgStreams(clip_stream, streams, progress, messenger, listener);
  if (r != kResultOk) return r;
  // Every stream that parsed has its folder, even one whose display sets gave no picture.
  for (const SClipIgStream& s : streams) {
    const auto it = stream_of_pid.find(s.pid);
    if (it != stream_of_pid.end()) worker.Close(it->second);
    if (!MakeFolder(clip_folder / std::to_string(s.pid), messenger)) return kResultFailed;
    ++stats.ig_streams;
  }
  ++stats.clips;
  return kResultOk;
}

// Waits for the worker; the objects it found damaged are shown as warnings, a picture it could not write
// as the error.
int FinishPictures(CExportWorker& worker, Messenger& messenger, ExtractStats& stats) {
  const std::string error = worker.Finish(stats);
  ShowWarnings(stats, messenger);
  if (error.empty()) return kResultOk;
  messenger.show(MessageKind::kError, error);
  return kResultFailed;
}

}  // namespace

int ExtractClipMenus(const fs::path& clip_stream, const fs::path& image_folder, const SOutputNames& names,
                     Progress& progress, Messenger& messenger, ExtractStats& stats, const SExtractOptions& options) {
  CExportWorker worker;
  const int r = ScanClipMenus(clip_stream, image_folder, names, progress, messenger, stats, options, worker);
  if (r != kResultOk) {
    worker.Cancel();
    return r;
  }
  return FinishPictures(worker, messenger, stats);
}

namespace {

// The folder without a trailing separator, so that a suffix lands on its name.
fs::path without_trailing_separator(const fs::path& folder) {
  return folder.has_filename() ? folder : folder.parent_path();
}

fs::path with_suffix(const fs::path& folder, const char* suffix) {
  fs::path p = without_trailing_separator(folder);
  p += suffix;
  return p;
}

// "Can't create <folder> ! " followed by the system's reason.
void ShowCannotCreate(Messenger& messenger, const fs::path& folder, const fs::path& where, int err) {
  messenger.show(MessageKind::kError,
                 format_message(kMsgCannotCreate, folder.string()) + "\n" + system_error_text(where, err));
}

// Moves the complete staging folder into the place of image_folder: the earlier image folder is first
// renamed aside, the staging folder renamed in, and only then are the earlier pictures deleted. Both
// renames stay inside the work folder, so each is atomic. False after a reported failure, with
// image_folder as it was.
bool SwapInImages(const fs::path& staging, const fs::path& image_folder, Messenger& messenger) {
  const fs::path aside = AsideFolder(image_folder);
  std::error_code ec;
  const bool had_images = fs::exists(fs::symlink_status(image_folder, ec));
  if (had_images) {
    fs::remove_all(aside, ec);  // the remains of an earlier run whose deletion failed
    fs::rename(image_folder, aside, ec);
    if (ec) {
      ShowCannotCreate(messenger, image_folder, aside, ec.value());
      return false;
    }
  }
  fs::rename(staging, image_folder, ec);
  if (ec) {
    const int err = ec.value();
    if (had_images) fs::rename(aside, image_folder, ec);
    ShowCannotCreate(messenger, image_folder, image_folder, err);
    return false;
  }
  if (had_images) {
    // Deleted as they are: no mode is changed to force a deletion the system refuses.
    fs::remove_all(aside, ec);
    if (ec) {
      messenger.show(MessageKind::kWarning, format_message(kMsgOldImagesLeft, aside.string(),
                                                           system_error_text(aside, ec.value())));
    }
  }
  return true;
}

// Extracts every clip with an IG stream into folder and writes the marker last.
int ExtractDisc(const CBDDisc& disc, const SOutputNames& names, const fs::path& folder, bool& found,
                Progress& progress, Messenger& messenger, ExtractStats& stats, const SExtractOptions& options) {
  // One worker for the whole disc: the pictures of a clip are still being written while the next clip is
  // scanned.
  CExportWorker worker;
  const CCofObject& clips = *disc.clips();
  for (std::size_t i = 0; i < clips.size(); ++i) {
    const CClpiObject& clip = clips[i];
    if (!ClipHasIgStream(clip)) continue;
    if (const auto short_clip = CheckClipStreamLength(clip)) messenger.show(MessageKind::kWarning, *short_clip);
    const int r = ScanClipMenus(clip.stream_path, folder, names, progress, messenger, stats, options, worker);
    if (r != kResultOk) {
      worker.Cancel();
      return r;
    }
    found = true;
    if (worker.failed()) break;  // reported below; the other clips need not be read
  }
  if (const int r = FinishPictures(worker, messenger, stats); r != kResultOk) return r;
  if (found) {
    // The manifest tells the replacement which pictures were edited afterwards, by their content; the
    // marker's time is the rule of work folders without one. Without either every picture would count
    // as edited, so a manifest or marker that cannot be written fails the run.
    std::sort(stats.manifest.begin(), stats.manifest.end(),
              [](const SManifestEntry& a, const SManifestEntry& b) { return a.path < b.path; });
    const std::string manifest = ManifestText(stats.manifest);
    std::string error;
    if (!write_whole_file(ManifestPath(folder),
                          ByteSpan(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()), &error)) {
      messenger.show(MessageKind::kError, error);
      return kResultFailed;
    }
    if (!write_whole_file(folder / names[SOutputNames::kMarker], {}, &error)) {
      messenger.show(MessageKind::kError, error);
      return kResultFailed;
    }
  }
  return kResultOk;
}

}  // namespace

fs::path StagingFolder(const fs::path& image_folder) { return with_suffix(image_folder, ".new"); }
fs::path AsideFolder(const fs::path& image_folder) { return with_suffix(image_folder, ".old"); }

void RestoreInterruptedSwap(const fs::path& image_folder) {
  const fs::path images = without_trailing_separator(image_folder);
  const fs::path aside = AsideFolder(images);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(images, ec)) && fs::is_directory(fs::symlink_status(aside, ec))) {
    fs::rename(aside, images, ec);
  }
}

int CountEditedImages(const fs::path& work, const SOutputNames& names) { return CountEditedPictures(names, work); }

int ExtractButtonImages(const SOutputNames& names, const fs::path& source, const fs::path& image_folder,
                        bool& found, Progress& progress, Messenger& messenger, ExtractStats* stats_out,
                        const SExtractOptions& options) {
  ExtractStats stats;
  CBDDisc disc;
  if (!disc.open(source, messenger)) return kResultFailed;
  ShowDiscWarnings(BackupDifferenceWarnings(source), messenger);

  // The new pictures go into a staging folder beside the image folder; the earlier pictures stay
  // untouched until the new ones are complete.
  RestoreInterruptedSwap(image_folder);
  const fs::path staging = StagingFolder(image_folder);
  std::error_code ec;
  fs::remove_all(staging, ec);  // left by a run that was killed
  // The previews, when asked for, are staged and swapped in the same way, after the pictures.
  SExtractOptions staged = options;
  const bool previews = !options.preview_folder.empty();
  if (previews) {
    RestoreInterruptedSwap(options.preview_folder);
    staged.preview_folder = StagingFolder(options.preview_folder);
    fs::remove_all(staged.preview_folder, ec);
  }
  int r = kResultFailed;
  if (MakeFolder(staging, messenger) && (!previews || MakeFolder(staged.preview_folder, messenger))) {
    r = ExtractDisc(disc, names, staging, found, progress, messenger, stats, staged);
    if (r == kResultOk && found && !SwapInImages(staging, image_folder, messenger)) r = kResultFailed;
    if (r == kResultOk && found && previews && !SwapInImages(staged.preview_folder, options.preview_folder, messenger)) {
      r = kResultFailed;
    }
  }
  if (stats_out) *stats_out = stats;
  fs::remove_all(staging, ec);  // what is left of it after a failure, or the empty folder of a disc
                                // without IG stream
  if (previews) fs::remove_all(staged.preview_folder, ec);
  return r;
}

}  // namespace veld
