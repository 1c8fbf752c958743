// SPDX-License-Identifier: GPL-3.0-or-later
// Renaming a stream's language in a program map table where it stands: the ISO 639 language descriptor
// of the stream's entry gets the new code and the section a new CRC; every other byte of the packet stays.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace veld {

enum class PmtLanguagePatch {
  kDone,        // the code was set (or already was the one asked for)
  kNoLanguage,  // the stream's entry has no language descriptor: nothing to rename
  kNoStream,    // the section lists no such stream
  kUnfit,       // not a whole PMT section in this one packet, or malformed: it cannot be renamed here
};

// packet: one 188-byte transport packet of the PMT PID.
PmtLanguagePatch SetPmtLanguage(std::span<std::uint8_t, 188> packet, std::uint16_t es_pid,
                                const std::array<char, 3>& language);

}  // namespace veld
