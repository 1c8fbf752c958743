// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/bytes.h"

#include <fmt/format.h>

namespace veld {

ParseError::ParseError(std::string element, std::size_t offset, const std::string& what)
    : std::runtime_error(fmt::format("{} at offset {}: {}", element, offset, what)),
      element_(std::move(element)),
      offset_(offset) {}

void ByteReader::need(std::size_t n) const {
  if (n > remaining()) {
    fail(fmt::format("unexpected end of data (need {} bytes, {} left)", n, remaining()));
  }
}

void ByteReader::fail(const std::string& what) const { throw ParseError(element_, absolute_pos(), what); }

std::uint8_t ByteReader::u8() {
  need(1);
  return data_[pos_++];
}
std::uint16_t ByteReader::u16() {
  need(2);
  auto v = load_be16(data_.data() + pos_);
  pos_ += 2;
  return v;
}
std::uint32_t ByteReader::u24() {
  need(3);
  auto v = load_be24(data_.data() + pos_);
  pos_ += 3;
  return v;
}
std::uint32_t ByteReader::u32() {
  need(4);
  auto v = load_be32(data_.data() + pos_);
  pos_ += 4;
  return v;
}
std::uint64_t ByteReader::u64() {
  need(8);
  auto v = load_be64(data_.data() + pos_);
  pos_ += 8;
  return v;
}
ByteSpan ByteReader::bytes(std::size_t n) {
  need(n);
  auto s = data_.subspan(pos_, n);
  pos_ += n;
  return s;
}
std::string ByteReader::text(std::size_t n) {
  auto s = bytes(n);
  return std::string(s.begin(), s.end());
}
void ByteReader::skip(std::size_t n) {
  need(n);
  pos_ += n;
}
void ByteReader::seek(std::size_t pos) {
  if (pos > data_.size()) {
    fail(fmt::format("position {} beyond the end ({} bytes)", pos, data_.size()));
  }
  pos_ = pos;
}
ByteReader ByteReader::sub(std::size_t n, std::string_view element) {
  need(n);
  ByteReader r(data_.subspan(pos_, n), element, absolute_pos());
  pos_ += n;
  return r;
}

void NoteUnread(const ByteReader& block, CUnreadBytes* unread) {
  if (unread && !block.at_end()) unread->push_back({block.element(), block.absolute_pos(), block.remaining()});
}

void ByteWriter::u16(std::uint16_t v) {
  std::uint8_t b[2];
  store_be16(b, v);
  bytes(b);
}
void ByteWriter::u24(std::uint32_t v) {
  std::uint8_t b[3];
  store_be24(b, v);
  bytes(b);
}
void ByteWriter::u32(std::uint32_t v) {
  std::uint8_t b[4];
  store_be32(b, v);
  bytes(b);
}
void ByteWriter::u64(std::uint64_t v) {
  std::uint8_t b[8];
  store_be64(b, v);
  bytes(b);
}
void ByteWriter::pad_to(std::size_t pos) {
  if (pos > this->pos()) zeros(pos - this->pos());
}
void ByteWriter::patch_u8(std::size_t at, std::uint8_t v) { buf().at(at) = v; }
void ByteWriter::patch_u16(std::size_t at, std::uint16_t v) {
  if (at + 2 > pos()) throw std::out_of_range("patch_u16 beyond the written data");
  store_be16(buf().data() + at, v);
}
void ByteWriter::patch_u32(std::size_t at, std::uint32_t v) {
  if (at + 4 > pos()) throw std::out_of_range("patch_u32 beyond the written data");
  store_be32(buf().data() + at, v);
}

std::uint32_t BitReader::bits(unsigned n) { return static_cast<std::uint32_t>(bits64(n)); }

std::uint64_t BitReader::bits64(unsigned n) {
  if (n > 64) throw std::invalid_argument("BitReader::bits64: more than 64 bits");
  if (n > bits_left()) {
    throw ParseError(element_, byte_pos(),
                     fmt::format("unexpected end of data (need {} bits, {} left)", n, bits_left()));
  }
  std::uint64_t v = 0;
  while (n > 0) {
    const unsigned in_byte = 8 - static_cast<unsigned>(bit_pos_ & 7);
    const unsigned take = n < in_byte ? n : in_byte;
    const std::uint8_t byte = data_[bit_pos_ >> 3];
    const unsigned shift = in_byte - take;
    v = (v << take) | ((byte >> shift) & ((1u << take) - 1));
    bit_pos_ += take;
    n -= take;
  }
  return v;
}

void BitReader::skip_bits(std::size_t n) {
  if (n > bits_left()) {
    throw ParseError(element_, byte_pos(), fmt::format("cannot skip {} bits, {} left", n, bits_left()));
  }
  bit_pos_ += n;
}

void BitReader::align() { bit_pos_ = (bit_pos_ + 7) & ~std::size_t{7}; }

void BitWriter::bits(unsigned n, std::uint64_t v) {
  if (n > 64) throw std::invalid_argument("BitWriter::bits: more than 64 bits");
  while (n > 0) {
    const unsigned room = 8 - fill_;
    const unsigned take = n < room ? n : room;
    const auto part = static_cast<std::uint8_t>((v >> (n - take)) & ((1u << take) - 1));
    cur_ = static_cast<std::uint8_t>(cur_ | (part << (room - take)));
    fill_ += take;
    n -= take;
    if (fill_ == 8) {
      out_.push_back(cur_);
      cur_ = 0;
      fill_ = 0;
    }
  }
}

void BitWriter::align_zero() {
  if (fill_ != 0) bits(8 - fill_, 0);
}

}  // namespace veld
