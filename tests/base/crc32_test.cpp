// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/crc32.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace veld {
namespace {

TEST(Crc32, MatchesKnownSections) {
  // The check value of CRC-32/MPEG-2 for "123456789".
  const std::string check = "123456789";
  EXPECT_EQ(crc32_mpeg({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0x0376E6E7u);
  // A PAT section (program 1 on PMT PID 0x0100, network PID 0x001F) and its CRC.
  const Bytes pat = test::hex_bytes("00 B0 11 00 00 C1 00 00 00 00 E0 1F 00 01 E1 00");
  const std::uint32_t crc = crc32_mpeg(pat);
  Bytes with_crc = pat;
  with_crc.push_back(static_cast<std::uint8_t>(crc >> 24));
  with_crc.push_back(static_cast<std::uint8_t>(crc >> 16));
  with_crc.push_back(static_cast<std::uint8_t>(crc >> 8));
  with_crc.push_back(static_cast<std::uint8_t>(crc));
  // A section followed by its own CRC checks to zero.
  EXPECT_EQ(crc32_mpeg(with_crc), 0u);
  with_crc[5] ^= 1;
  EXPECT_NE(crc32_mpeg(with_crc), 0u);
}

}  // namespace
}  // namespace veld
