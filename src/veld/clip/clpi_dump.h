// SPDX-License-Identifier: GPL-3.0-or-later
// Text dump of a clip information record: one "Field: value" line per field, nested elements indented,
// field names as the format names them. Used by the disc report and as a golden form in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "veld/clip/clpi_data.h"

namespace veld {

// Short name of a stream coding type ("H.264", "IG", ...); "Unknown" for a type outside the table.
std::string_view coding_type_name(std::uint8_t coding_type);

// The attributes of one stream as text, e.g. "1080p, 29.97, 16:9" or "eng, 48K".
std::string describe_stream(const STREAM_INFO& stream);

std::string dump_clpi(const SClpiData& data);

}  // namespace veld
