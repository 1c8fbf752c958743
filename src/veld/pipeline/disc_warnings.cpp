// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/disc_warnings.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/disc/paths.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"

namespace veld {
namespace fs = std::filesystem;

std::vector<std::string> UndecodableObjectWarnings(const CGsData& stream, const std::string& source) {
  std::vector<std::string> warnings;
  int ds_number = 0;
  for (const CEpochData& epoch : stream.Epochs) {
    for (const CDsData& ds : epoch.DisplaySets) {
      ++ds_number;
      const std::optional<CIcData> composition = ParseComposition(ds);
      if (!composition) continue;
      std::vector<std::uint16_t> seen;
      for (const std::uint16_t id : ListObjects(ds)) {
        if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
        seen.push_back(id);
        const std::uint8_t palette_id = FindObjectPalette(*composition, id);
        if (palette_id == kNoPalette) continue;  // no page shows it
        std::string why;
        if (DecodeObjectBitmap(ds, id, palette_id, ColourMatrix::kGif, &why)) continue;
        warnings.push_back(format_message(kMsgObjectNoPicture, source, ds_number, id,
                                          ImageFileName(fs::path(), id).filename().string(), why));
      }
    }
  }
  return warnings;
}

namespace {

// The offset of the first byte where a and b differ; nullopt when they are equal.
std::optional<std::size_t> FirstDifference(ByteSpan a, ByteSpan b) {
  const std::size_t n = std::min(a.size(), b.size());
  const auto mismatch = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
  const std::size_t at = static_cast<std::size_t>(mismatch.first - a.begin());
  if (at < n || a.size() != b.size()) return at;
  return std::nullopt;
}

void CompareWithBackup(const std::optional<fs::path>& file, const std::optional<fs::path>& backup,
                       std::vector<std::string>& warnings) {
  std::error_code ec;
  if (!file || !backup || !fs::is_regular_file(*file, ec) || !fs::is_regular_file(*backup, ec)) return;
  const std::optional<Bytes> a = read_whole_file(*file, nullptr);
  const std::optional<Bytes> b = read_whole_file(*backup, nullptr);
  if (!a || !b) return;  // reading the disc reports an unreadable file
  if (const std::optional<std::size_t> at = FirstDifference(*a, *b)) {
    warnings.push_back(
        format_message(kMsgBackupDiffers, file->string(), backup->string(), fmt::format("{}", *at)));
  }
}

// The numbers of the files with extension ext in folder, ascending.
std::vector<int> NumberedFiles(const std::optional<fs::path>& folder, std::string_view ext) {
  std::vector<int> numbers;
  std::error_code ec;
  if (!folder) return numbers;
  for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string e = it->path().extension().string();
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const int n = leading_number(it->path().stem().string());
    if (e.size() == ext.size() + 1 && e.substr(1) == ext && n >= 0) numbers.push_back(n);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace

std::vector<std::string> BackupDifferenceWarnings(const fs::path& bdmv) {
  std::vector<std::string> warnings;
  CompareWithBackup(index_file_path(bdmv), backup_index_file_path(bdmv), warnings);
  CompareWithBackup(movie_object_file_path(bdmv), backup_movie_object_file_path(bdmv), warnings);
  for (const int n : NumberedFiles(playlist_folder(bdmv), bdmv_names::kExtMpls))
    CompareWithBackup(playlist_path(bdmv, n), backup_playlist_path(bdmv, n), warnings);
  const std::optional<fs::path> clip_info = clip_info_path(bdmv, 0);
  const std::optional<fs::path> clip_info_folder =
      clip_info ? std::optional<fs::path>(clip_info->parent_path()) : std::nullopt;
  for (const int n : NumberedFiles(clip_info_folder, bdmv_names::kExtClpi))
    CompareWithBackup(clip_info_path(bdmv, n), backup_clip_info_path(bdmv, n), warnings);
  return warnings;
}

void ShowDiscWarnings(const std::vector<std::string>& warnings, Messenger& messenger) {
  for (const std::string& text : warnings) messenger.show(MessageKind::kWarning, text);
}

}  // namespace veld
