// SPDX-License-Identifier: GPL-3.0-or-later
// The files of one elementary stream stored in several files, in playing order, and their archive form.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"

namespace veld {

struct CFileItem {
  std::filesystem::path path;
  std::uint32_t value = 0;
};

class CFileList {
 public:
  std::vector<CFileItem> items;
  std::uint32_t value = 0;

  // Sum of the sizes of the files as found on disk now; a file that cannot be read counts 0.
  std::uint64_t total_size() const;
  void copy_from(const CFileList& other) { *this = other; }

  // Archive form: a zero byte, the list's value (32-bit), the count (32-bit), then per item a 16-bit
  // zero, the path as a counted string and the item's value. A path is stored relative to the folder of
  // the archive file when such a relative path exists; loading combines it with that folder again.
  // Integers are little-endian, as in the archives the desktop framework writes.
  Bytes store(const std::filesystem::path& archive_file) const;
  // std::nullopt when the data is malformed.
  static std::optional<CFileList> load(ByteSpan data, const std::filesystem::path& archive_file);
};

// Counted strings of the archive format: a length byte below 0xFF, else 0xFF and a 16-bit length below
// 0xFFFF, else 0xFFFF and a 32-bit length (little-endian), then the bytes.
void write_counted_string(Bytes& out, const std::string& s);
std::string read_counted_string(ByteReader& r);

}  // namespace veld
