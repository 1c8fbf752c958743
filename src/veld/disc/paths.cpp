// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/paths.h"

#include <fmt/format.h>

namespace veld {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> in_base(const fs::path& base, std::initializer_list<std::string_view> parts) {
  if (base.empty()) return std::nullopt;
  fs::path p = base;
  for (std::string_view part : parts) p /= fs::path(std::string(part));
  return p;
}

std::string file_name(int number, std::string_view ext) { return fmt::format("{:05d}.{}", number, ext); }

std::optional<fs::path> numbered(const fs::path& base, int number, std::string_view ext,
                                 std::initializer_list<std::string_view> folders) {
  if (base.empty() || number < 0 || number > kMaxDiscFileNumber) return std::nullopt;
  fs::path p = base;
  for (std::string_view f : folders) p /= fs::path(std::string(f));
  return p / file_name(number, ext);
}

}  // namespace

using namespace bdmv_names;

std::string five_digit_name(int number) {
  if (number < 0 || number > kMaxDiscFileNumber) return {};
  return fmt::format("{:05d}", number);
}

std::optional<fs::path> index_file_path(const fs::path& base) {
  return in_base(base, {fmt::format("{}.{}", kIndex, kExtBdmv)});
}

std::optional<fs::path> movie_object_file_path(const fs::path& base) {
  return in_base(base, {fmt::format("{}.{}", kMovieObject, kExtBdmv)});
}

std::optional<fs::path> backup_index_file_path(const fs::path& base) {
  return in_base(base, {kBackup, fmt::format("{}.{}", kIndex, kExtBdmv)});
}

std::optional<fs::path> backup_movie_object_file_path(const fs::path& base) {
  return in_base(base, {kBackup, fmt::format("{}.{}", kMovieObject, kExtBdmv)});
}

std::optional<fs::path> playlist_folder(const fs::path& base) { return in_base(base, {kPlaylist}); }

std::optional<fs::path> backup_playlist_folder(const fs::path& base) {
  return in_base(base, {kBackup, kPlaylist});
}

std::optional<fs::path> playlist_path(const fs::path& base, int number) {
  return numbered(base, number, kExtMpls, {kPlaylist});
}

std::optional<fs::path> backup_playlist_path(const fs::path& base, int number) {
  return numbered(base, number, kExtMpls, {kBackup, kPlaylist});
}

std::optional<fs::path> clip_info_path(const fs::path& base, int number) {
  return numbered(base, number, kExtClpi, {kClipInf});
}

std::optional<fs::path> backup_clip_info_path(const fs::path& base, int number) {
  return numbered(base, number, kExtClpi, {kBackup, kClipInf});
}

std::optional<fs::path> clip_stream_path(const fs::path& base, int number) {
  return numbered(base, number, kExtM2ts, {kStream});
}

int leading_number(std::string_view name) {
  int value = 0;
  std::size_t i = 0;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    value = value * 10 + (name[i] - '0');
    if (value > kMaxDiscFileNumber) return -1;
  }
  return i == 0 ? -1 : value;
}

}  // namespace veld
