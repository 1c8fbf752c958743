// SPDX-License-Identifier: GPL-3.0-or-later
// Index file (BDMV/index.bdmv): first playback, top menu and the titles, each a reference to an HDMV
// movie object or a BD-J object. Read only: the program never writes this file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"

namespace veld {

// Object reference of first playback, top menu and a title (12 bytes).
struct SIndexObjectRef {
  std::uint8_t ObjectType = 1;       // 1: HDMV movie object; any other value: BD-J object
  std::uint8_t TitleAccessType = 0;  // byte 0 bits 5-4, held as read
  std::uint8_t PlaybackType = 0;     // HDMV_TitlePlaybackType or BDJ_TitlePlaybackType
  std::uint16_t MovieObject = 0xFFFF;  // for ObjectType 1
  std::string BDJO_FileName = "00000";  // otherwise (5 characters)
  bool is_hdmv() const { return ObjectType == 1; }
  bool operator==(const SIndexObjectRef&) const = default;
};

using CTiFolder = std::vector<SIndexObjectRef>;

struct SIndexData {
  std::array<char, 4> TypeIndicator{};
  std::array<char, 4> Version{};
  std::uint32_t IndexsStartAddress = 0;
  std::uint32_t ExtensionDataStartAddress = 0;  // 0 when there is none
  std::array<std::uint8_t, 24> Reserved{};
  std::uint32_t AppInfoBDMVLength = 0;
  std::uint16_t AppInfoFlags = 0;  // flags and video format / frame rate, as read
  std::array<std::uint8_t, 32> ContentProviderUserData{};
  std::uint32_t IndexesLength = 0;
  SIndexObjectRef FirstPlayback;
  SIndexObjectRef TopMenu;
  CTiFolder Titles;
  std::optional<SExtensionData> ExtensionData;
  bool operator==(const SIndexData&) const = default;
};

// Parses a whole index file into `out` (reset first). Returns the bytes accounted for (the Indexes block
// end, or the extension data's end when present); 0 when a structure runs past the buffer, with the
// reason in *error when given. Bytes of the Indexes block after its last title are noted in *unread
// (when given).
int parse_index(ByteSpan file, SIndexData& out, std::string* error = nullptr, CUnreadBytes* unread = nullptr);

class CIndexObject {
 public:
  std::string name;  // the file title
  std::filesystem::path path;
  SIndexData data;
  int parse(ByteSpan file, std::string* error = nullptr, CUnreadBytes* unread = nullptr) {
    return parse_index(file, data, error, unread);
  }
};

}  // namespace veld
