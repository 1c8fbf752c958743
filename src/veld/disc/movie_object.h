// SPDX-License-Identifier: GPL-3.0-or-later
// Movie-object file (BDMV/MovieObject.bdmv): the HDMV programs that titles run, each a list of 12-byte
// navigation commands. Read only: the program never writes this file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"
#include "veld/disc/nav_cmd.h"

namespace veld {

struct CMovieObject {
  bool ResumeIntentionFlag = false;
  bool MenuCallMask = false;
  bool TitleSearchMask = false;
  CNavCmds NavCmds;
  bool operator==(const CMovieObject&) const = default;
};

struct SMovieObjectData {
  std::array<char, 4> TypeIndicator{};
  std::array<char, 4> Version{};
  std::uint32_t ExtensionDataStartAddress = 0;  // 0 when there is none
  std::array<std::uint8_t, 28> Reserved{};
  std::uint32_t MovieObjectsLength = 0;
  std::vector<CMovieObject> MovieObjects;  // MOVIE_OBJECTS
  std::optional<SExtensionData> ExtensionData;
  bool operator==(const SMovieObjectData&) const = default;
};

// Parses a whole movie-object file into `out` (reset first). Returns the bytes accounted for (the
// MovieObjects block end, or the extension data's end when present); 0 when a structure runs past the
// buffer, with the reason in *error when given. Bytes of the MovieObjects block after its last object
// are noted in *unread (when given).
int parse_movie_objects(ByteSpan file, SMovieObjectData& out, std::string* error = nullptr,
                        CUnreadBytes* unread = nullptr);

class CMoObject {
 public:
  std::string name;  // the file title
  std::filesystem::path path;
  SMovieObjectData data;
  int parse(ByteSpan file, std::string* error = nullptr, CUnreadBytes* unread = nullptr) {
    return parse_movie_objects(file, data, error, unread);
  }
};

}  // namespace veld
