#include "veld/pipeline/extract.h"

#include <algorithm>
#include <string>
#include <vector>

#include "veld/base/file.h"
#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/clip/ig_track.h"
#include "veld/disc/bd_disc.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// A folder of the output tree that must exist; reported when it cannot be made.
bool MakeFolder(const fs::path& folder, Messenger& messenger) {
  if (EnsureFolder(folder, nullptr)) return true;
  messenger.show(MessageKind::kError, format_message(kMsgCannotCreate, folder.string()));
  return false;
}

bool HasIgStream(const CClpiObject& clip) {
  const std::uint8_t app = clip.data.ClipInfo.ApplicationType;
  if (app != 1 && app != 5) return false;
  const auto& streams = clip.data.streams();
  return std::any_of(streams.begin(), streams.end(), [](const STREAM_INFO& s) {
    return s.StreamCodingInfo.CodingType == coding_type::kInteractiveGraphics;
  });
}

// Writes the pictures of one display set into folder; false after a reported failure.
bool ExportDisplaySet(const CDsData& ds, const fs::path& folder, Messenger& messenger, ExtractStats& stats) {
  const std::optional<CIcData> composition = ParseComposition(ds);
  // An object defined twice in one display set is one picture.
  std::vector<std::uint16_t> ids = ListObjects(ds);
  std::vector<std::uint16_t> seen;
  for (std::uint16_t id : ids) {
    if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
    seen.push_back(id);
    const std::uint8_t palette_id = composition ? FindObjectPalette(*composition, id) : kNoPalette;
    const std::optional<SObjectBitmap> picture = DecodeObjectBitmap(ds, id, palette_id);
    if (!picture) {
      ++stats.skipped;  // no palette, or no usable object data: nothing to edit
      continue;
    }
    const std::string error = SaveObjectImage(picture->bitmap, picture->palette, ImageFileName(folder, id));
    if (!error.empty()) {
      messenger.show(MessageKind::kError, error);
      return false;
    }
    ++stats.images;
  }
  return true;
}

}  // namespace

// Writes every object of one IG stream below stream_folder (Epoch<e>/DS<d>/<id+1>.gif).
bool ExportStreamImages(const fs::path& stream_folder, const CGsData& stream, const SOutputNames& names,
                        Messenger& messenger, ExtractStats& stats) {
  int e = 0;
  for (const CEpochData& epoch : stream.Epochs) {
    const fs::path epoch_folder = names.epoch_folder(stream_folder, ++e);
    if (!MakeFolder(epoch_folder, messenger)) return false;
    int d = 0;
    for (const CDsData& ds : epoch.DisplaySets) {
      const fs::path ds_folder = names.ds_folder(epoch_folder, ++d);
      if (!MakeFolder(ds_folder, messenger)) return false;
      EmptyFolder(ds_folder, false);
      ++stats.display_sets;
      if (!ExportDisplaySet(ds, ds_folder, messenger, stats)) return false;
    }
  }
  return true;
}

// Extracts the IG streams of one clip stream file into image_folder/<title>/<PID>/...
int ExtractClipMenus(const fs::path& clip_stream, const fs::path& image_folder, const SOutputNames& names,
                     Progress& progress, Messenger& messenger, ExtractStats& stats) {
  const fs::path clip_folder = image_folder / clip_stream.stem();
  std::vector<SClipIgStream> streams;
  const int r = LoadClipIgStreams(clip_stream, streams, progress, messenger);
  if (r != kResultOk) return r;
  if (!MakeFolder(clip_folder, messenger)) return kResultFailed;
  for (const SClipIgStream& s : streams) {
    const fs::path stream_folder = clip_folder / std::to_string(s.pid);
    if (!MakeFolder(stream_folder, messenger)) return kResultFailed;
    if (!ExportStreamImages(stream_folder, s.data, names, messenger, stats)) return kResultFailed;
    ++stats.ig_streams;
  }
  ++stats.clips;
  return kResultOk;
}

int ExtractButtonImages(const SOutputNames& names, const fs::path& source, const fs::path& image_folder,
                        bool& found, Progress& progress, Messenger& messenger, ExtractStats* stats_out) {
  ExtractStats stats;
  CBDDisc disc;
  if (!disc.open(source, messenger)) return kResultFailed;

  EmptyFolder(image_folder, false);  // pictures of an earlier extraction go

  const CCofObject& clips = *disc.clips();
  for (std::size_t i = 0; i < clips.size(); ++i) {
    const CClpiObject& clip = clips[i];
    if (!HasIgStream(clip)) continue;
    const int r = ExtractClipMenus(clip.stream_path, image_folder, names, progress, messenger, stats);
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
