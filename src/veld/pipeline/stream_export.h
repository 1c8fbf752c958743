// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of one IG stream, display set by display set: every object as an image file for the user
// to edit, and, when asked for, a preview of every page as a player draws it.
//
//   <image stream folder>/Epoch1/DS<d>/<id+1>.gif (or .png)
//   <preview stream folder>/Epoch1/DS<d>/page<page id>.png        the page (page_render.h)
//   <preview stream folder>/Epoch1/DS<d>/page<p>_in<k>.png        its k-th in-effect (and _out<k>)
//   <preview stream folder>/contact_sheet.png                    every page small, a row per display set
// All display sets of a stream are one epoch (folder Epoch1), in stream order.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "veld/base/task_pool.h"
#include "veld/pipeline/output_names.h"
#include "veld/graphics/bitmap.h"
#include "veld/graphics/display_set.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/page_render.h"
#include "veld/pipeline/manifest.h"

namespace veld {

struct ExtractStats {
  int clips = 0;         // clips whose IG streams were extracted
  int ig_streams = 0;
  int display_sets = 0;
  int images = 0;        // picture files written
  int skipped = 0;       // objects that gave no picture (no palette, malformed data)
  int previews = 0;      // page and effect previews written
  // Objects that a page shows but that do not decode, one text each, for the caller to show as warnings.
  std::vector<std::string> warnings;
  // One entry per picture written, for the manifest (paths relative to the image folder).
  std::vector<SManifestEntry> manifest;

  ExtractStats& operator+=(const ExtractStats& other);
};

// The file name of the preview of a page ("page0.png") and of an effect ("page0_in1.png", "page0_out2.png").
std::string PagePreviewName(int page_id);
std::string EffectPreviewName(int page_id, bool in_effect, int number);
inline constexpr const char* kContactSheetName = "contact_sheet.png";
// Thumbnails of the contact sheet are the previews reduced by this factor.
inline constexpr int kContactSheetShrink = 4;

class CStreamExporter {
 public:
  // preview_folder empty: no previews.
  CStreamExporter(std::filesystem::path image_folder, std::filesystem::path preview_folder, const SOutputNames& names,
                  ImageFormat format);

  // Names the stream in warnings (clip and PID); the image folder until it is set.
  void set_source(std::string source) { source_ = std::move(source); }
  // The threads that encode the objects of a display set in parallel (none: one after the other).
  void set_pool(CTaskPool* pool) { pool_ = pool; }

  // Writes the pictures (and previews) of the stream's next display set. "" on success, otherwise the
  // error text (a folder that cannot be made, a file that cannot be written) for the caller to report.
  std::string Add(const CDsData& ds, ExtractStats& stats);
  // Writes the contact sheet after the last display set (previews only). "" or the error text.
  std::string Finish(ExtractStats& stats);

  // Video size and colour matrix of the pictures: those of the latest display set with an ICS so far
  // (1920 x 1080 before the first).
  int video_width() const { return width_; }
  int video_height() const { return height_; }

 private:
  // What one object of a display set gave.
  struct SObjectOutcome {
    bool written = false, skipped = false;
    std::string warning, error;
    SManifestEntry entry;
  };
  SObjectOutcome WriteObject(const CDsData& ds, std::uint16_t id, std::uint8_t palette_id, ColourMatrix matrix,
                             const std::filesystem::path& folder) const;
  std::string WritePictures(const CDsData& ds, const std::filesystem::path& folder, ExtractStats& stats);
  std::string WritePreviews(const CDsData& ds, const std::filesystem::path& folder, ExtractStats& stats);

  std::filesystem::path image_folder_;
  std::filesystem::path preview_folder_;
  std::string source_;
  SOutputNames names_;
  ImageFormat format_;
  int ds_number_ = 0;
  int width_ = 1920;
  int height_ = 1080;
  CDecodedGraphics graphics_;
  CTaskPool* pool_ = nullptr;
  std::vector<std::vector<RgbaImage>> thumbnails_;  // per display set, its pages
};

}  // namespace veld
