// SPDX-License-Identifier: GPL-3.0-or-later
// Big-endian byte access and bounds-checked readers and writers for the disc formats.
//
// Every multi-byte integer of the Blu-ray formats is big-endian and every bit field is most significant
// bit first. Codecs assemble and split values byte by byte through these helpers and never depend on the
// host's byte order. Parsers read through ByteReader, which knows its end: a read past it throws
// ParseError with the element's name and the offset, never returns a silent zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veld {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

// Unchecked big-endian loads and stores on a pointer the caller has already bounds-checked.
constexpr std::uint16_t load_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
constexpr std::uint32_t load_be24(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}
constexpr std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
constexpr std::uint64_t load_be64(const std::uint8_t* p) {
  return (std::uint64_t{load_be32(p)} << 32) | load_be32(p + 4);
}
constexpr void store_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
constexpr void store_be24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 16);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v);
}
constexpr void store_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}
constexpr void store_be64(std::uint8_t* p, std::uint64_t v) {
  store_be32(p, static_cast<std::uint32_t>(v >> 32));
  store_be32(p + 4, static_cast<std::uint32_t>(v));
}

// A malformed structure: what was being read and where.
class ParseError : public std::runtime_error {
 public:
  ParseError(std::string element, std::size_t offset, const std::string& what);
  const std::string& element() const { return element_; }
  std::size_t offset() const { return offset_; }

 private:
  std::string element_;
  std::size_t offset_;
};

// Reads big-endian values from a byte range and refuses to read past its end.
class ByteReader {
 public:
  explicit ByteReader(ByteSpan data, std::string_view element = "data", std::size_t base_offset = 0)
      : data_(data), element_(element), base_(base_offset) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u24();
  std::uint32_t u32();
  std::uint64_t u64();
  // n bytes as a view into the underlying buffer.
  ByteSpan bytes(std::size_t n);
  std::string text(std::size_t n);  // n bytes taken as characters
  void skip(std::size_t n);
  void seek(std::size_t pos);  // absolute position within this reader

  // A reader bounded to the next n bytes; this reader advances past them.
  ByteReader sub(std::size_t n, std::string_view element);

  std::size_t pos() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool at_end() const { return pos_ >= data_.size(); }
  // Offset of the current position in the outermost buffer, for messages.
  std::size_t absolute_pos() const { return base_ + pos_; }
  ByteSpan data() const { return data_; }
  const std::string& element() const { return element_; }

  // Throws ParseError unless n more bytes are available.
  void need(std::size_t n) const;
  [[noreturn]] void fail(const std::string& what) const;

 private:
  ByteSpan data_;
  std::string element_;
  std::size_t base_ = 0;
  std::size_t pos_ = 0;
};

// Bytes of a length-bounded block that its parser left unread: the block's element name, the file offset
// of the first of them and how many there are. Parsers given a list note them there; the caller reports
// them (a block longer than what it holds may hide data the program does not see).
struct SUnreadBytes {
  std::string element;
  std::size_t offset = 0;
  std::size_t count = 0;
  bool operator==(const SUnreadBytes&) const = default;
};
using CUnreadBytes = std::vector<SUnreadBytes>;
// Notes what a reader bounded to a block has not read (nothing when it is at its end or unread is null).
void NoteUnread(const ByteReader& block, CUnreadBytes* unread);

// Runs element.Read(reader) over data: the bytes consumed, or -1 with the reason (element, offset) in
// *error when the element is malformed.
template <typename T>
long ParseWith(T& element, ByteSpan data, std::string_view name, std::string* error) {
  try {
    ByteReader r(data, name);
    element.Read(r);
    return static_cast<long>(r.pos());
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return -1;
  }
}

// Appends big-endian values to a growing buffer; lengths are back-patched with patch_*.
class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(Bytes& out) : out_(&out) {}

  void u8(std::uint8_t v) { buf().push_back(v); }
  void u16(std::uint16_t v);
  void u24(std::uint32_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void bytes(ByteSpan b) { buf().insert(buf().end(), b.begin(), b.end()); }
  void text(std::string_view s) { buf().insert(buf().end(), s.begin(), s.end()); }
  void zeros(std::size_t n) { buf().insert(buf().end(), n, 0); }
  // Pads with zeros up to the absolute size pos.
  void pad_to(std::size_t pos);

  void patch_u8(std::size_t at, std::uint8_t v);
  void patch_u16(std::size_t at, std::uint16_t v);
  void patch_u32(std::size_t at, std::uint32_t v);

  std::size_t pos() const { return out_ ? out_->size() : own_.size(); }
  const Bytes& data() const { return out_ ? *out_ : own_; }
  Bytes take() { return out_ ? *out_ : std::move(own_); }

 private:
  Bytes& buf() { return out_ ? *out_ : own_; }
  Bytes own_;
  Bytes* out_ = nullptr;
};

// Most-significant-bit-first bit field reader over a bounded byte range, for the bit-packed headers of
// the formats. Throws ParseError when a field runs past the end.
class BitReader {
 public:
  explicit BitReader(ByteSpan data, std::string_view element = "data") : data_(data), element_(element) {}
  std::uint32_t bits(unsigned n);  // n <= 32
  std::uint64_t bits64(unsigned n);  // n <= 64
  bool flag() { return bits(1) != 0; }
  void skip_bits(std::size_t n);
  void align();
  bool aligned() const { return (bit_pos_ & 7) == 0; }
  std::size_t bit_pos() const { return bit_pos_; }
  std::size_t byte_pos() const { return bit_pos_ >> 3; }
  std::size_t bits_left() const { return data_.size() * 8 - bit_pos_; }

 private:
  ByteSpan data_;
  std::string element_;
  std::size_t bit_pos_ = 0;
};

// Mirror of BitReader: packs fields most significant bit first, appending whole bytes to a buffer.
class BitWriter {
 public:
  explicit BitWriter(Bytes& out) : out_(out) {}
  void bits(unsigned n, std::uint64_t v);  // n <= 64
  void flag(bool v) { bits(1, v ? 1 : 0); }
  void align_zero();  // pad the current byte with zero bits
  bool aligned() const { return fill_ == 0; }

 private:
  Bytes& out_;
  std::uint8_t cur_ = 0;
  unsigned fill_ = 0;
};

}  // namespace veld
