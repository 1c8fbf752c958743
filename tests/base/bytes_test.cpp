// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/bytes.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace veld {
namespace {

TEST(ByteReader, ReadsBigEndianAndRefusesToReadPastTheEnd) {
  const Bytes data = test::hex_bytes("01 02 03 04 05 06 07 08 09 0A");
  ByteReader r(data, "sample");
  EXPECT_EQ(r.u8(), 0x01);
  EXPECT_EQ(r.u16(), 0x0203);
  EXPECT_EQ(r.u24(), 0x040506u);
  EXPECT_EQ(r.u32(), 0x0708090Au);
  EXPECT_TRUE(r.at_end());
  try {
    r.u8();
    FAIL() << "read past the end";
  } catch (const ParseError& e) {
    EXPECT_EQ(e.element(), "sample");
    EXPECT_EQ(e.offset(), 10u);
  }
}

TEST(ByteReader, SubReaderIsBoundedAndReportsAbsoluteOffsets) {
  const Bytes data = test::hex_bytes("AA 00 03 11 22 33 BB");
  ByteReader r(data, "file");
  r.u8();
  ByteReader sub = r.sub(r.u16(), "element");
  EXPECT_EQ(r.u8(), 0xBB);  // the parent moved past the element
  EXPECT_EQ(sub.u16(), 0x1122);
  EXPECT_EQ(sub.absolute_pos(), 5u);
  EXPECT_THROW(sub.u16(), ParseError);  // one byte left, not two
  EXPECT_EQ(sub.u8(), 0x33);
  ByteReader again(data);
  EXPECT_THROW(again.sub(8, "too long"), ParseError);
  EXPECT_THROW(again.seek(8), ParseError);
}

TEST(ByteWriter, MirrorsTheReaderAndBackPatches) {
  ByteWriter w;
  w.u16(0);  // length, patched below
  w.u8(0xAB);
  w.u24(0x123456);
  w.u32(0xDEADBEEF);
  w.u64(0x0102030405060708ull);
  w.patch_u16(0, static_cast<std::uint16_t>(w.pos() - 2));
  w.pad_to(20);
  const Bytes out = w.take();
  EXPECT_EQ(out, test::hex_bytes("00 10 AB 12 34 56 DE AD BE EF 01 02 03 04 05 06 07 08 00 00"));
  ByteReader r(out);
  EXPECT_EQ(r.u16(), 16);
  EXPECT_EQ(r.u8(), 0xAB);
  EXPECT_EQ(r.u24(), 0x123456u);
  EXPECT_EQ(r.u32(), 0xDEADBEEFu);
  EXPECT_EQ(r.u64(), 0x0102030405060708ull);
  ByteWriter w2;
  EXPECT_THROW(w2.patch_u16(0, 1), std::out_of_range);
}

TEST(BitReader, FieldsAcrossBytesAndEnd) {
  const Bytes data = test::hex_bytes("A5 F0 0F");
  BitReader r(data, "bits");
  EXPECT_EQ(r.bits(3), 0b101u);
  EXPECT_EQ(r.bits(9), 0b001011111u);
  EXPECT_EQ(r.bits(4), 0u);
  EXPECT_TRUE(r.aligned());
  EXPECT_EQ(r.bits(4), 0u);
  EXPECT_EQ(r.bits_left(), 4u);
  EXPECT_THROW(r.bits(5), ParseError);
  EXPECT_EQ(r.bits(4), 0xFu);

  const Bytes wide = test::hex_bytes("12 34 56 78 9A BC DE F0 11");
  BitReader w(wide);
  w.skip_bits(4);
  EXPECT_EQ(w.bits64(64), 0x23456789ABCDEF01ull);
}

TEST(BitWriter, RoundTripsWithBitReader) {
  Bytes out;
  BitWriter w(out);
  w.bits(2, 0b10);
  w.bits(13, 0x1ABC);
  w.flag(true);
  w.bits(33, 0x1FFFFFFFFull);
  w.align_zero();
  ASSERT_EQ(out.size(), 7u);
  BitReader r(out);
  EXPECT_EQ(r.bits(2), 0b10u);
  EXPECT_EQ(r.bits(13), 0x1ABCu);
  EXPECT_TRUE(r.flag());
  EXPECT_EQ(r.bits64(33), 0x1FFFFFFFFull);
  EXPECT_EQ(r.bits(7), 0u);
}

}  // namespace
}  // namespace veld
