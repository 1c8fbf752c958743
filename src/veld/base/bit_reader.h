// SPDX-License-Identifier: GPL-3.0-or-later
// The most-significant-bit-first bit reader that the stream code uses to look into elementary streams.
// Unlike BitReader (bytes.h), which parses the fixed disc structures and throws at the end, it never
// raises errors: it returns short values at its end, because elementary-stream scanning treats "ran
// out of data" as an ordinary outcome.
#pragma once

#include <array>
#include <cstdint>

#include "veld/base/bytes.h"

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

}  // namespace veld
