// The two most-significant-bit-first bit readers that the stream code uses to look into elementary
// streams. Unlike BitReader (bytes.h), which parses the fixed disc structures and throws at the end,
// these never raise errors: the memory reader returns short values at its end and the file reader sets
// its end-of-data flag and fails further reads, because elementary-stream scanning treats "ran out of
// data" as an ordinary outcome.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "veld/base/bytes.h"
#include "veld/base/file.h"

namespace veld {

class MemBitReader {
 public:
  explicit MemBitReader(ByteSpan data) : data_(data) {}

  // Up to 32 bits, most significant first, across byte boundaries. At the end of the data it stops
  // and returns the bits gathered so far (a short value).
  std::uint32_t read(unsigned n);
  // Realigns to the next byte boundary when not aligned, then finds the first occurrence of the four
  // bytes from there; true with the reader just after them, false (at the end) when absent.
  bool find_start_code(const std::array<std::uint8_t, 4>& code);
  // Skips n bits; stops at the end of the data.
  void skip(std::size_t n);

  bool at_end() const { return pos_ >= data_.size(); }
  std::size_t byte_pos() const { return pos_; }
  unsigned bits_left_in_byte() const { return left_; }

 private:
  ByteSpan data_;
  std::size_t pos_ = 0;  // current byte
  unsigned left_ = 8;    // bits still unread in the current byte
};

class FileBitReader {
 public:
  static constexpr std::size_t kBufferSize = 0x40000;  // 256 KiB

  // Reads from the file's current position. The file must outlive the reader.
  explicit FileBitReader(File& file);

  bool read_bit(std::uint32_t& bit);
  // n <= 32. Whole bytes are taken when aligned and n is a multiple of 8, otherwise bit by bit.
  bool read(unsigned n, std::uint32_t& value);
  bool skip(std::uint64_t n);
  // Reads 24 bits and restores the file position, the buffer and the reader state.
  bool peek24(std::uint32_t& value);
  // Skips to the next byte boundary, then reads bytes until count or the end of data.
  std::size_t read_bytes(std::uint8_t* out, std::size_t count);

  bool end_of_data() const { return eod_; }
  std::uint64_t bits_consumed() const { return consumed_; }

 private:
  bool refill();
  // Makes sure a byte is available at pos_; false at the end of data.
  bool ensure_byte();

  File& file_;
  std::unique_ptr<std::uint8_t[]> buf_;
  std::size_t count_ = 0;  // bytes in the buffer
  std::size_t pos_ = 0;    // current byte
  unsigned left_ = 8;      // bits still unread in the current byte
  std::uint64_t consumed_ = 0;
  bool eod_ = false;
  bool primed_ = false;  // the first buffer has been read
};

}  // namespace veld
