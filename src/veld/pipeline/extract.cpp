#include "veld/pipeline/extract.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "veld/base/file.h"
#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/ig_track.h"
#include "veld/disc/bd_disc.h"
#include "veld/pipeline/export_worker.h"

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

bool ExportStreamImages(const fs::path& stream_folder, const CGsData& stream, const SOutputNames& names,
                        Messenger& messenger, ExtractStats& stats, ImageFormat format,
                        const fs::path& preview_stream_folder) {
  CStreamExporter exporter(stream_folder, preview_stream_folder, names, format);
  for (const CEpochData& epoch : stream.Epochs) {
    for (const CDsData& ds : epoch.DisplaySets) {
      if (std::string error = exporter.Add(ds, stats); !error.empty()) {
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

// Extracts the IG streams of one clip stream file into image_folder/<title>/<PID>/... The display sets go
// to a worker thread as the scan finds them, so that writing pictures does not hold up reading the clip.
int ExtractClipMenus(const fs::path& clip_stream, const fs::path& image_folder, const SOutputNames& names,
                     Progress& progress, Messenger& messenger, ExtractStats& stats, const SExtractOptions& options) {
  const fs::path clip_folder = image_folder / clip_stream.stem();
  const fs::path preview_clip_folder =
      options.preview_folder.empty() ? fs::path() : options.preview_folder / clip_stream.stem();
  CExportWorker worker;
  std::map<std::uint16_t, std::size_t> stream_of_pid;
  const auto listener = [&](std::uint16_t pid, const CDsData& ds) {
    auto it = stream_of_pid.find(pid);
    if (it == stream_of_pid.end()) {
      const std::string folder = std::to_string(pid);
      auto exporter = std::make_unique<CStreamExporter>(
          clip_folder / folder, preview_clip_folder.empty() ? fs::path() : preview_clip_folder / folder, names,
          options.format);
      it = stream_of_pid.emplace(pid, worker.AddStream(std::move(exporter))).first;
    }
    worker.Post(it->second, ds);
  };
  std::vector<SClipIgStream> streams;
  const int r = LoadClipIgStreams(clip_stream, streams, progress, messenger, listener);
  if (r != kResultOk) {
    worker.Cancel();
    return r;
  }
  for (const SClipIgStream& s : streams) {
    const auto it = stream_of_pid.find(s.pid);
    if (it != stream_of_pid.end()) worker.Close(it->second);
  }
  ExtractStats done;
  const std::string error = worker.Finish(done);
  stats += done;
  if (!error.empty()) {
    messenger.show(MessageKind::kError, error);
    return kResultFailed;
  }
  // Every stream that parsed has its folder, even one whose display sets gave no picture.
  for (const SClipIgStream& s : streams) {
    if (!MakeFolder(clip_folder / std::to_string(s.pid), messenger)) return kResultFailed;
    ++stats.ig_streams;
  }
  ++stats.clips;
  return kResultOk;
}

int ExtractButtonImages(const SOutputNames& names, const fs::path& source, const fs::path& image_folder,
                        bool& found, Progress& progress, Messenger& messenger, ExtractStats* stats_out,
                        const SExtractOptions& options) {
  ExtractStats stats;
  CBDDisc disc;
  if (!disc.open(source, messenger)) return kResultFailed;

  EmptyFolder(image_folder, false);  // pictures of an earlier extraction go
  if (!options.preview_folder.empty()) {
    if (!MakeFolder(options.preview_folder, messenger)) return kResultFailed;
    EmptyFolder(options.preview_folder, false);  // so do its previews
  }

  const CCofObject& clips = *disc.clips();
  for (std::size_t i = 0; i < clips.size(); ++i) {
    const CClpiObject& clip = clips[i];
    if (!ClipHasIgStream(clip)) continue;
    const int r = ExtractClipMenus(clip.stream_path, image_folder, names, progress, messenger, stats, options);
    if (r != kResultOk) {
      if (stats_out) *stats_out = stats;
      return r;
    }
    found = true;
  }
  if (stats_out) *stats_out = stats;

  if (found) {
    // The marker's time tells the replacement which pictures were edited afterwards: without it every
    // picture would count as edited, so a marker that cannot be written fails the run.
    std::string error;
    if (!write_whole_file(image_folder / names[SOutputNames::kMarker], {}, &error)) {
      messenger.show(MessageKind::kError, error);
      return kResultFailed;
    }
  }
  return kResultOk;
}

}  // namespace veld
