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

FileBitReader::FileBitReader(File& file) : file_(file), buf_(new std::uint8_t[kBufferSize]) {}

bool FileBitReader::refill() {
  auto got = file_.read_full(buf_.get(), kBufferSize);
  primed_ = true;
  pos_ = 0;
  left_ = 8;
  if (got <= 0) {
    count_ = 0;
    eod_ = true;
    return false;
  }
  count_ = static_cast<std::size_t>(got);
  return true;
}

bool FileBitReader::ensure_byte() {
  if (eod_) return false;
  if (!primed_) return refill();
  if (pos_ < count_) return true;
  // The buffer is used up: another one exists only if the last read filled the whole buffer.
  if (count_ < kBufferSize) {
    eod_ = true;
    return false;
  }
  return refill();
}

bool FileBitReader::read_bit(std::uint32_t& bit) {
  if (!ensure_byte()) return false;
  --left_;
  bit = (buf_[pos_] >> left_) & 1u;
  if (left_ == 0) {
    ++pos_;
    left_ = 8;
  }
  ++consumed_;
  return true;
}

bool FileBitReader::read(unsigned n, std::uint32_t& value) {
  if (n > 32) return false;
  std::uint32_t v = 0;
  if (left_ == 8 && n % 8 == 0) {
    for (unsigned i = 0; i < n / 8; ++i) {
      if (!ensure_byte()) return false;
      v = (v << 8) | buf_[pos_];
      ++pos_;
      consumed_ += 8;
    }
  } else {
    for (unsigned i = 0; i < n; ++i) {
      std::uint32_t b;
      if (!read_bit(b)) return false;
      v = (v << 1) | b;
    }
  }
  value = v;
  return true;
}

bool FileBitReader::skip(std::uint64_t n) {
  while (n > 0 && left_ != 8) {
    std::uint32_t b;
    if (!read_bit(b)) return false;
    --n;
  }
  while (n >= 8) {
    if (!ensure_byte()) return false;
    const std::uint64_t avail = count_ - pos_;
    const std::uint64_t take = std::min<std::uint64_t>(avail, n / 8);
    pos_ += static_cast<std::size_t>(take);
    consumed_ += take * 8;
    n -= take * 8;
  }
  while (n > 0) {
    std::uint32_t b;
    if (!read_bit(b)) return false;
    --n;
  }
  return true;
}

bool FileBitReader::peek24(std::uint32_t& value) {
  const std::int64_t file_pos = file_.position();
  std::unique_ptr<std::uint8_t[]> saved(new std::uint8_t[kBufferSize]);
  std::memcpy(saved.get(), buf_.get(), count_);
  const auto count = count_, pos = pos_;
  const auto left = left_;
  const auto consumed = consumed_;
  const bool eod = eod_, primed = primed_;

  const bool ok = read(24, value);

  if (file_.position() != file_pos) file_.seek(file_pos);
  std::memcpy(buf_.get(), saved.get(), count);
  count_ = count;
  pos_ = pos;
  left_ = left;
  consumed_ = consumed;
  eod_ = eod;
  primed_ = primed;
  return ok;
}

std::size_t FileBitReader::read_bytes(std::uint8_t* out, std::size_t count) {
  if (left_ != 8) {
    if (!skip(left_)) return 0;
  }
  std::size_t done = 0;
  while (done < count && ensure_byte()) {
    out[done++] = buf_[pos_++];
    consumed_ += 8;
  }
  return done;
}

}  // namespace veld
