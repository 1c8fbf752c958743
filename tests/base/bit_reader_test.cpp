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

class FileBitReaderTest : public ::testing::Test {
 protected:
  // Bytes i = (i * 7 + 3) & 0xFF so every position is recognisable.
  void make(std::size_t size) {
    data.resize(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    test::write_file(dir / "es.bin", data);
    ASSERT_TRUE(file.open(dir / "es.bin", File::Mode::kRead));
  }
  test::TempDir dir;
  Bytes data;
  File file;
};

TEST_F(FileBitReaderTest, ReadsAcrossA256KiBRefill) {
  const std::size_t n = FileBitReader::kBufferSize;
  make(n + 100);
  FileBitReader r(file);
  ASSERT_TRUE(r.skip((n - 2) * 8));
  std::uint32_t v = 0;
  ASSERT_TRUE(r.read(32, v));  // two bytes from the first buffer, two from the second
  EXPECT_EQ(v, load_be32(&data[n - 2]));
  ASSERT_TRUE(r.read(4, v));
  EXPECT_EQ(v, static_cast<std::uint32_t>(data[n + 2] >> 4));
  ASSERT_TRUE(r.read(12, v));  // bit by bit across a byte boundary
  EXPECT_EQ(v, ((data[n + 2] & 0xFu) << 8) | data[n + 3]);
  EXPECT_EQ(r.bits_consumed(), (n + 4) * 8);
}

TEST_F(FileBitReaderTest, EndOfDataFailsFurtherReads) {
  make(5);
  FileBitReader r(file);
  std::uint32_t v = 0;
  ASSERT_TRUE(r.read(32, v));
  ASSERT_TRUE(r.read(8, v));
  EXPECT_FALSE(r.end_of_data());
  EXPECT_FALSE(r.read(1, v));
  EXPECT_TRUE(r.end_of_data());
  EXPECT_FALSE(r.read(8, v));
}

TEST_F(FileBitReaderTest, PeekRestoresStateEvenAcrossARefill) {
  const std::size_t n = FileBitReader::kBufferSize;
  make(n + 10);
  FileBitReader r(file);
  ASSERT_TRUE(r.skip((n - 1) * 8 + 4));
  std::uint32_t peeked = 0, read = 0;
  ASSERT_TRUE(r.peek24(peeked));
  EXPECT_EQ(r.bits_consumed(), (n - 1) * 8 + 4);
  ASSERT_TRUE(r.read(24, read));
  EXPECT_EQ(peeked, read);
  const std::uint32_t expect =
      ((data[n - 1] & 0xFu) << 20) | (std::uint32_t{data[n]} << 12) | (data[n + 1] << 4) | (data[n + 2] >> 4);
  EXPECT_EQ(read, expect);
}

TEST_F(FileBitReaderTest, ReadBytesAlignsFirstAndStopsAtTheEnd) {
  make(6);
  FileBitReader r(file);
  std::uint32_t v = 0;
  ASSERT_TRUE(r.read(3, v));
  std::uint8_t out[10] = {};
  EXPECT_EQ(r.read_bytes(out, 10), 5u);
  EXPECT_EQ(out[0], data[1]);
  EXPECT_EQ(out[4], data[5]);
  EXPECT_TRUE(r.end_of_data());
}

}  // namespace
}  // namespace veld
