// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/bit_reader.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace veld {
namespace {

TEST(MemBitReader, ReadsAcrossBytesAndReturnsShortValuesAtTheEnd) {
  const Bytes data = test::hex_bytes("F0 0F");
  MemBitReader r(data);
  EXPECT_EQ(r.read(4), 0xFu);
  EXPECT_EQ(r.read(8), 0x00u);
  // 4 bits remain: a 12-bit read gives those 4 bits as a short value.
  EXPECT_EQ(r.read(12), 0xFu);
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.read(8), 0u);

  const Bytes four = test::hex_bytes("DE AD BE EF");
  MemBitReader full(four);
  EXPECT_EQ(full.read(32), 0xDEADBEEFu);
}

TEST(MemBitReader, StartCodeSearchRealignsFirst) {
  // A start code beginning at byte 0 is not found once the reader is inside that byte.
  const Bytes data = test::hex_bytes("00 00 01 B3 AA 00 00 01 B3 55");
  MemBitReader r(data);
  r.read(1);
  ASSERT_TRUE(r.find_start_code({0x00, 0x00, 0x01, 0xB3}));
  EXPECT_EQ(r.byte_pos(), 9u);
  EXPECT_EQ(r.read(8), 0x55u);
  EXPECT_FALSE(r.find_start_code({0x00, 0x00, 0x01, 0xB3}));
  EXPECT_TRUE(r.at_end());

  MemBitReader aligned(data);
  ASSERT_TRUE(aligned.find_start_code({0x00, 0x00, 0x01, 0xB3}));
  EXPECT_EQ(aligned.read(8), 0xAAu);
}

TEST(MemBitReader, SkipMovesByBitsAndStopsAtTheEnd) {
  const Bytes data = test::hex_bytes("12 34 56");
  MemBitReader r(data);
  r.skip(4);
  EXPECT_EQ(r.read(8), 0x23u);
  r.skip(3);
  EXPECT_EQ(r.read(9), 0x056u);
  r.skip(100);
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.read(8), 0u);
}

}  // namespace
}  // namespace veld
