// The extraction pipeline: every graphics object of every IG stream of a disc, as GIF files.
#pragma once

#include <filesystem>

#include "veld/app/output_names.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/graphics/gs_data.h"

namespace veld {

struct ExtractStats {
  int clips = 0;         // clips whose IG streams were extracted
  int ig_streams = 0;
  int display_sets = 0;
  int images = 0;        // GIF files written
  int skipped = 0;       // objects that gave no picture (no palette, malformed data)
};

// Opens the disc at source and writes <clip>/<PID>/Epoch<e>/DS<d>/<id+1>.gif for every object, then the
// marker file, into the staging folder beside image_folder; when at least one clip had an IG stream
// (found), the complete staging folder takes the place of image_folder (which need not exist) and the
// earlier pictures are deleted. A failed or cancelled run, or a disc without IG stream, leaves
// image_folder exactly as it was and removes the staging folder.
// Result 0, 1 (cancelled) or 2 (failed, reported through messenger).
int ExtractButtonImages(const SOutputNames& names, const std::filesystem::path& source,
                        const std::filesystem::path& image_folder, bool& found, Progress& progress,
                        Messenger& messenger, ExtractStats* stats = nullptr);

// Beside the image folder: the staging folder that receives a new extraction ("Images.new") and the
// place where the earlier pictures wait while the new ones are moved in ("Images.old").
std::filesystem::path StagingFolder(const std::filesystem::path& image_folder);
std::filesystem::path AsideFolder(const std::filesystem::path& image_folder);

// A run that ended between moving the earlier pictures aside and moving the new ones in left no image
// folder: the earlier one is put back. Nothing happens otherwise.
void RestoreInterruptedSwap(const std::filesystem::path& image_folder);

// The pictures (.gif, .png) in the image folder of the work folder that the replacement takes as edited:
// written after the marker (EditedSince); every picture counts when there is no marker.
int CountEditedImages(const std::filesystem::path& work, const SOutputNames& names);

// Extracts the IG streams of one clip stream file into image_folder/<title>/<PID>/... Same results.
int ExtractClipMenus(const std::filesystem::path& clip_stream, const std::filesystem::path& image_folder,
                     const SOutputNames& names, Progress& progress, Messenger& messenger, ExtractStats& stats);

// Writes every object of one IG stream below stream_folder as Epoch<e>/DS<d>/<id+1>.gif. Objects without
// a picture (no palette, unusable data) are counted as skipped; false after a reported failure (a folder
// that cannot be made, a picture that cannot be saved).
bool ExportStreamImages(const std::filesystem::path& stream_folder, const CGsData& stream,
                        const SOutputNames& names, Messenger& messenger, ExtractStats& stats);

}  // namespace veld
