// SPDX-License-Identifier: GPL-3.0-or-later
// The manifest of an extraction: one line per picture written, with what the picture held, so that the
// replacement finds an edit by its content instead of its time stamp.
//
// File "VELD.manifest" beside the marker "VELD.rip" in the image folder, UTF-8 text:
//   VELD manifest 1
//   <path> TAB <object id> TAB <epoch> TAB <display set> TAB <width> TAB <height> TAB <pixels> TAB <palette>
//   ...
// path: the picture relative to the image folder, '/' separated ("00000/5120/Epoch1/DS1/0001.gif");
// epoch and display set are counted from 1; pixels and palette are 16 hex digits each, the hashes of
// PictureHashes below. Lines starting with '#' and empty lines are ignored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/graphics/bitmap.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/palette.h"

namespace veld {

inline constexpr std::string_view kManifestName = "VELD.manifest";
inline constexpr std::string_view kManifestHeading = "VELD manifest 1";

// What a picture file holds as the reader gives it back: its pixel indices with its size, and its colour
// table. Two pictures whose hashes are equal hold the same indices and the same colours.
struct SPictureHashes {
  std::uint64_t pixels = 0;
  std::uint64_t palette = 0;
  friend bool operator==(const SPictureHashes&, const SPictureHashes&) = default;
};

// The hashes of a picture as read back (LoadIndexedImage; check kOk).
SPictureHashes PictureHashes(const LoadedImage& image);
// The hashes of the picture SaveObjectImage writes from bitmap and palette in format: what reading that
// file back gives, without reading it (a GIF keeps RGB only, its lowest fully transparent entry becomes
// its one transparent colour).
SPictureHashes WrittenPictureHashes(const IndexedBitmap& bitmap, const ArgbPalette& palette, ImageFormat format);
// The hash of pixel indices alone (with the size), as PictureHashes gives it.
std::uint64_t PixelHash(const IndexedBitmap& bitmap);

struct SManifestEntry {
  std::string path;  // relative to the image folder, '/' separated
  int object_id = 0;
  int epoch = 0;
  int display_set = 0;
  int width = 0;
  int height = 0;
  SPictureHashes hashes;
  friend bool operator==(const SManifestEntry&, const SManifestEntry&) = default;
};

// The manifest text of the entries, in the order given.
std::string ManifestText(const std::vector<SManifestEntry>& entries);

// Parses a manifest text. std::nullopt with *error ("line N: what is wrong") for a missing heading, a line
// without exactly eight fields, a number out of range, a hash that is not 16 hex digits, a path that is
// empty, absolute or climbs out of the image folder, or a path given twice.
std::optional<std::vector<SManifestEntry>> ParseManifest(std::string_view text, std::string* error);

// image_folder/VELD.manifest
std::filesystem::path ManifestPath(const std::filesystem::path& image_folder);

}  // namespace veld
