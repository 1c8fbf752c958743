// SPDX-License-Identifier: GPL-3.0-or-later
// CRC-32 of MPEG-2 PSI sections (ISO/IEC 13818-1 Annex A): polynomial 0x04C11DB7, initial value
// 0xFFFFFFFF, most significant bit first, no final inversion. A section followed by its CRC gives 0.
#pragma once

#include <cstdint>

#include "veld/base/bytes.h"

namespace veld {

std::uint32_t crc32_mpeg(ByteSpan data, std::uint32_t crc = 0xFFFFFFFFu);

}  // namespace veld
