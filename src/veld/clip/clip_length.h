// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a clip stream file is as long as its clip information says: a copy that failed part-way
// leaves a stream file that ends before the packets the clip information counts and points at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "veld/clip/clpi.h"

namespace veld {

// The source packets the clip information needs: its number of source packets, one past the last
// EP map entry, one past the start of the last ATC and STC sequence, whichever is greatest.
std::uint64_t ClipInfoPacketsNeeded(const SClpiData& info);

// The warning text (naming the clip stream, the clip information, the packets expected and found) when
// the stream file of stream_size bytes holds fewer whole 192-byte source packets than the clip
// information needs; nullopt when it is long enough.
std::optional<std::string> CheckClipStreamLength(const CClpiObject& clip, std::uint64_t stream_size);

// The same, taking the size of clip.stream_path from the file system (no warning when it cannot be
// read: opening the file reports that).
std::optional<std::string> CheckClipStreamLength(const CClpiObject& clip);

}  // namespace veld
