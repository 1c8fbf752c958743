// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/bit_reader.h"

#include <algorithm>
#include <cstring>

namespace veld {

std::uint32_t MemBitReader::read(unsigned n) {
  std::uint32_t v = 0;
  while (n > 0 && pos_ < data_.size()) {
    const unsigned take = std::min(n, left_);
    const unsigned shift = left_ - take;
    const std::uint32_t part = (data_[pos_] >> shift) & ((1u << take) - 1);
    v = (take == 32 ? 0 : (v << take)) | part;
    left_ -= take;
    n -= take;
    if (left_ == 0) {
      ++pos_;
      left_ = 8;
    }
  }
  return v;
}

bool MemBitReader::find_start_code(const std::array<std::uint8_t, 4>& code) {
  if (left_ != 8) {
    ++pos_;
    left_ = 8;
  }
  while (pos_ + 4 <= data_.size()) {
    if (std::memcmp(data_.data() + pos_, code.data(), 4) == 0) {
      pos_ += 4;
      return true;
    }
    ++pos_;
  }
  pos_ = data_.size();
  return false;
}

void MemBitReader::skip(std::size_t n) {
  if (n < left_) {
    left_ -= static_cast<unsigned>(n);
    return;
  }
  n -= left_;
  ++pos_;
  pos_ += n / 8;
  left_ = 8 - static_cast<unsigned>(n % 8);
  if (pos_ >= data_.size()) {
    pos_ = data_.size();
    left_ = 8;
  }
}

}  // namespace veld
