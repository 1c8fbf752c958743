// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction pipeline: every graphics object of every IG stream of a disc, as GIF (or PNG) files, and
// on request a preview of every menu page.
#pragma once

#include <filesystem>

#include "veld/pipeline/output_names.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/graphics/gs_data.h"
#include "veld/graphics/image_file.h"
#include "veld/pipeline/stream_export.h"

namespace veld {

struct SExtractOptions {
  ImageFormat format = ImageFormat::kGif;
  // Not empty: page previews are written below this folder, <clip>/<PID>/... (stream_export.h).
  std::filesystem::path preview_folder;
};

// Whether extraction visits the clip: application type 1 or 5 and an IG stream (coding type 0x91) in its
// program information.
bool ClipHasIgStream(const CClpiObject& clip);

// Opens the disc at source and writes <clip>/<PID>/Epoch<e>/DS<d>/<id+1>.gif (or .png) for every object,
// then the manifest (manifest.h) and the marker file, into the staging folder beside image_folder; when
// at least one clip had an IG stream (found), the complete staging folder takes the place of image_folder
// (which need not exist) and the earlier pictures are deleted. A failed or cancelled run, or a disc without IG stream, leaves
// image_folder exactly as it was and removes the staging folder. Previews, when asked for, are staged and
// swapped in the same way beside their own folder. The pictures of a clip are written by a worker thread
// while the clip is scanned.
// Result 0, 1 (cancelled) or 2 (failed, reported through messenger).
int ExtractButtonImages(const SOutputNames& names, const std::filesystem::path& source,
                        const std::filesystem::path& image_folder, bool& found, Progress& progress,
                        Messenger& messenger, ExtractStats* stats = nullptr, const SExtractOptions& options = {});

// Beside the image folder: the staging folder that receives a new extraction ("Images.new") and the
// place where the earlier pictures wait while the new ones are moved in ("Images.old").
std::filesystem::path StagingFolder(const std::filesystem::path& image_folder);
std::filesystem::path AsideFolder(const std::filesystem::path& image_folder);

// A run that ended between moving the earlier pictures aside and moving the new ones in left no image
// folder: the earlier one is put back. Nothing happens otherwise.
void RestoreInterruptedSwap(const std::filesystem::path& image_folder);

// The pictures (.gif, .png) in the image folder of the work folder that the replacement takes as edited:
// those that differ from the manifest, or without one those written after the marker (edits.h).
int CountEditedImages(const std::filesystem::path& work, const SOutputNames& names);

// Extracts the IG streams of one clip stream file into image_folder/<title>/<PID>/... (the pictures written
// by a worker thread while the clip is scanned, and waited for). Same results.
int ExtractClipMenus(const std::filesystem::path& clip_stream, const std::filesystem::path& image_folder,
                     const SOutputNames& names, Progress& progress, Messenger& messenger, ExtractStats& stats,
                     const SExtractOptions& options = {});

// Writes every object of one parsed IG stream below stream_folder as Epoch<e>/DS<d>/<id+1>.gif (and the
// previews below preview_stream_folder when it is not empty). Objects without a picture (no palette,
// unusable data) are counted as skipped; false after a reported failure (a folder that cannot be made, a
// picture that cannot be saved).
bool ExportStreamImages(const std::filesystem::path& stream_folder, const CGsData& stream,
                        const SOutputNames& names, Messenger& messenger, ExtractStats& stats,
                        ImageFormat format = ImageFormat::kGif,
                        const std::filesystem::path& preview_stream_folder = {});

}  // namespace veld
