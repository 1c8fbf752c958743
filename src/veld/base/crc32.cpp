// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/crc32.h"

#include <array>

namespace veld {
namespace {

constexpr std::array<std::uint32_t, 256> make_table() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    t[i] = c;
  }
  return t;
}
constexpr auto kTable = make_table();

}  // namespace

std::uint32_t crc32_mpeg(ByteSpan data, std::uint32_t crc) {
  for (std::uint8_t b : data) crc = (crc << 8) ^ kTable[((crc >> 24) ^ b) & 0xFF];
  return crc;
}

}  // namespace veld
