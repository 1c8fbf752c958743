// SPDX-License-Identifier: GPL-3.0-or-later
// Names and paths of the files of a BDMV folder.
//
// Every builder takes the BDMV folder as its base and returns nothing when the base is empty; the
// numbered ones also return nothing for numbers outside 0..99999, since the format names its files with
// exactly five decimal digits ("%05d"). A base with or without a trailing separator gives the same path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veld {

// The fixed words of a BDMV folder.
namespace bdmv_names {
inline constexpr std::string_view kBdmv = "BDMV";
inline constexpr std::string_view kStream = "STREAM";
inline constexpr std::string_view kClipInf = "CLIPINF";
inline constexpr std::string_view kPlaylist = "PLAYLIST";
inline constexpr std::string_view kBackup = "BACKUP";
inline constexpr std::string_view kIndex = "index";
inline constexpr std::string_view kMovieObject = "MovieObject";
inline constexpr std::string_view kExtBdmv = "bdmv";
inline constexpr std::string_view kExtMpls = "mpls";
inline constexpr std::string_view kExtClpi = "clpi";
inline constexpr std::string_view kExtM2ts = "m2ts";
// Present on discs, not used by this program.
inline constexpr std::string_view kCertificate = "CERTIFICATE";
inline constexpr std::string_view kAacs = "AACS";
inline constexpr std::string_view kBdjo = "BDJO";
inline constexpr std::string_view kJar = "JAR";
inline constexpr std::string_view kAuxData = "AUXDATA";
inline constexpr std::string_view kMeta = "META";
inline constexpr std::string_view kDuplicate = "DUPLICATE";
inline constexpr std::string_view kSound = "Sound";
inline constexpr std::string_view kExtOtf = "otf";
}  // namespace bdmv_names

inline constexpr int kMaxDiscFileNumber = 99999;

// "00001" for 1; empty for a number outside 0..99999.
std::string five_digit_name(int number);

// base/index.bdmv and base/MovieObject.bdmv.
std::optional<std::filesystem::path> index_file_path(const std::filesystem::path& base);
std::optional<std::filesystem::path> movie_object_file_path(const std::filesystem::path& base);
// Their copies: base/BACKUP/index.bdmv and base/BACKUP/MovieObject.bdmv.
std::optional<std::filesystem::path> backup_index_file_path(const std::filesystem::path& base);
std::optional<std::filesystem::path> backup_movie_object_file_path(const std::filesystem::path& base);
// The folders searched for playlists (*.mpls): base/PLAYLIST and base/BACKUP/PLAYLIST.
std::optional<std::filesystem::path> playlist_folder(const std::filesystem::path& base);
std::optional<std::filesystem::path> backup_playlist_folder(const std::filesystem::path& base);
// base/PLAYLIST/nnnnn.mpls and base/BACKUP/PLAYLIST/nnnnn.mpls.
std::optional<std::filesystem::path> playlist_path(const std::filesystem::path& base, int number);
std::optional<std::filesystem::path> backup_playlist_path(const std::filesystem::path& base, int number);
// base/CLIPINF/nnnnn.clpi and base/BACKUP/CLIPINF/nnnnn.clpi.
std::optional<std::filesystem::path> clip_info_path(const std::filesystem::path& base, int number);
std::optional<std::filesystem::path> backup_clip_info_path(const std::filesystem::path& base, int number);
// base/STREAM/nnnnn.m2ts.
std::optional<std::filesystem::path> clip_stream_path(const std::filesystem::path& base, int number);

// The decimal value of the leading digits of a name ("00012M2TS" -> 12, "00001" -> 1); -1 when the name
// does not start with a digit or the value exceeds 99999.
int leading_number(std::string_view name);

}  // namespace veld
