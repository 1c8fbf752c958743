// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/stream_export.h"

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/gimp_palette.h"
#include "veld/graphics/png_file.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// "" when the folder exists or was made, otherwise the message naming it.
std::string MakeFolder(const fs::path& folder) {
  if (EnsureFolder(folder, nullptr)) return {};
  return format_message(kMsgCannotCreate, folder.string());
}

std::string SavePreview(const RgbaImage& image, const fs::path& path) {
  std::string error;
  const std::optional<Bytes> png = EncodeRgbaPng(image, &error);
  if (!png) return fmt::format("{}: {}", path.string(), error);
  return WritePictureFile(path, *png);
}

}  // namespace

ExtractStats& ExtractStats::operator+=(const ExtractStats& other) {
  clips += other.clips;
  ig_streams += other.ig_streams;
  display_sets += other.display_sets;
  images += other.images;
  skipped += other.skipped;
  previews += other.previews;
  warnings.insert(warnings.end(), other.warnings.begin(), other.warnings.end());
  manifest.insert(manifest.end(), other.manifest.begin(), other.manifest.end());
  return *this;
}

std::string PagePreviewName(int page_id) { return fmt::format("page{}.png", page_id); }

std::string EffectPreviewName(int page_id, bool in_effect, int number) {
  return fmt::format("page{}_{}{}.png", page_id, in_effect ? "in" : "out", number);
}

CStreamExporter::CStreamExporter(fs::path image_folder, fs::path preview_folder, const SOutputNames& names,
                                 ImageFormat format)
    : image_folder_(std::move(image_folder)),
      preview_folder_(std::move(preview_folder)),
      source_(image_folder_.string()),
      names_(names),
      format_(format) {}

std::string CStreamExporter::Add(const CDsData& ds, ExtractStats& stats) {
  ++ds_number_;
  if (!ds.IcsArray.empty()) {
    width_ = ds.IcsArray.front().Video.Width;
    height_ = ds.IcsArray.front().Video.Height;
  }
  const fs::path epoch_folder = names_.epoch_folder(image_folder_, 1);
  const fs::path ds_folder = names_.ds_folder(epoch_folder, ds_number_);
  if (std::string e = MakeFolder(ds_folder); !e.empty()) return e;
  EmptyFolder(ds_folder, false);
  ++stats.display_sets;
  if (std::string e = WritePictures(ds, ds_folder, stats); !e.empty()) return e;
  // The display set's palettes for painting with the menu's own colours, converted as its pictures are.
  const ColourMatrix matrix = format_ == ImageFormat::kGif ? ColourMatrix::kGif : ColourMatrixForHeight(height_);
  const std::string palette_name = fmt::format("DS{}", ds_number_);
  if (std::string e = SaveGimpPalettes(ds, ds_folder, matrix, palette_name); !e.empty()) return e;
  if (preview_folder_.empty()) return {};
  const fs::path preview_ds = names_.ds_folder(names_.epoch_folder(preview_folder_, 1), ds_number_);
  if (std::string e = MakeFolder(preview_ds); !e.empty()) return e;
  EmptyFolder(preview_ds, false);
  return WritePreviews(ds, preview_ds, stats);
}

CStreamExporter::SObjectOutcome CStreamExporter::WriteObject(const CDsData& ds, std::uint16_t id, std::uint8_t palette_id,
                                                              ColourMatrix matrix, const fs::path& folder) const {
  SObjectOutcome out;
  std::string why;
  const std::optional<SObjectBitmap> picture = DecodeObjectBitmap(ds, id, palette_id, matrix, &why);
  const fs::path path = ImageFileName(folder, id, format_);
  if (!picture) {
    // Nothing to edit. An object that no page shows is of no concern; one that a page shows is damaged,
    // and the user is told which.
    out.skipped = true;
    if (palette_id != kNoPalette)
      out.warning = format_message(kMsgObjectNoPicture, source_, ds_number_, id, path.filename().string(), why);
    return out;
  }
  out.error = SaveObjectImage(picture->bitmap, picture->palette, path, format_);
  if (!out.error.empty()) return out;
  // The picture below the image folder: <clip>/<PID>/Epoch1/DS<d>/<name>.
  const fs::path stream = image_folder_.has_filename() ? image_folder_ : image_folder_.parent_path();
  const fs::path relative = stream.parent_path().filename() / stream.filename() / folder.parent_path().filename() /
                            folder.filename() / path.filename();
  out.entry = {relative.generic_string(), id, 1, ds_number_, picture->bitmap.width, picture->bitmap.height,
               WrittenPictureHashes(picture->bitmap, picture->palette, format_)};
  out.written = true;
  return out;
}

std::string CStreamExporter::WritePictures(const CDsData& ds, const fs::path& folder, ExtractStats& stats) {
  const std::optional<CIcData> composition = ParseComposition(ds);
  const ColourMatrix matrix = format_ == ImageFormat::kGif ? ColourMatrix::kGif : ColourMatrixForHeight(height_);
  // An object defined twice in one display set is one picture.
  std::vector<std::uint16_t> ids;
  for (std::uint16_t id : ListObjects(ds))
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  // The objects are decoded and encoded in parallel, and their outcomes taken in order.
  std::vector<SObjectOutcome> outcomes(ids.size());
  const auto one = [&](std::size_t i) {
    const std::uint8_t palette_id = composition ? FindObjectPalette(*composition, ids[i]) : kNoPalette;
    outcomes[i] = WriteObject(ds, ids[i], palette_id, matrix, folder);
  };
  if (pool_) {
    pool_->ForEach(ids.size(), one);
  } else {
    for (std::size_t i = 0; i < ids.size(); ++i) one(i);
  }
  for (SObjectOutcome& o : outcomes) {
    if (!o.error.empty()) return o.error;
    if (o.skipped) ++stats.skipped;
    if (!o.warning.empty()) stats.warnings.push_back(std::move(o.warning));
    if (!o.written) continue;
    ++stats.images;
    stats.manifest.push_back(std::move(o.entry));
  }
  return {};
}

std::string CStreamExporter::WritePreviews(const CDsData& ds, const fs::path& folder, ExtractStats& stats) {
  graphics_.Add(ds);
  std::vector<RgbaImage>& row = thumbnails_.emplace_back();
  const std::optional<CIcData> composition = ParseComposition(ds);
  if (!composition) return {};
  const ColourMatrix matrix = ColourMatrixForHeight(height_);
  for (const CPage& page : composition->Pages) {
    const SPagePicture picture = RenderPage(page, graphics_, width_, height_, matrix);
    if (std::string e = SavePreview(picture.image, folder / PagePreviewName(page.PageId)); !e.empty()) return e;
    ++stats.previews;
    row.push_back(ShrinkImage(picture.image, kContactSheetShrink));
    for (const bool in : {true, false}) {
      const CEffectSequence& sequence = in ? page.InEffects : page.OutEffects;
      int number = 0;
      for (const CEffect& effect : sequence.Effects) {
        const RgbaImage plane = RenderEffect(effect, graphics_, width_, height_, matrix);
        const fs::path path = folder / EffectPreviewName(page.PageId, in, ++number);
        if (std::string e = SavePreview(plane, path); !e.empty()) return e;
        ++stats.previews;
      }
    }
  }
  return {};
}

std::string CStreamExporter::Finish(ExtractStats& stats) {
  if (preview_folder_.empty() || thumbnails_.empty()) return {};
  if (std::string e = MakeFolder(preview_folder_); !e.empty()) return e;
  // Display sets without pages leave no row.
  std::vector<std::vector<RgbaImage>> rows;
  for (auto& row : thumbnails_) {
    if (!row.empty()) rows.push_back(std::move(row));
  }
  thumbnails_.clear();
  if (rows.empty()) return {};
  if (std::string e = SavePreview(ContactSheet(rows), preview_folder_ / kContactSheetName); !e.empty()) return e;
  ++stats.previews;
  return {};
}

}  // namespace veld
