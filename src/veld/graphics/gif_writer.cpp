// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gif_writer.h"

#include <algorithm>
#include <iterator>

namespace veld {
namespace {

constexpr std::uint8_t kMinCodeSize = 8;
constexpr unsigned kClearCode = 1u << kMinCodeSize;
constexpr unsigned kEndCode = kClearCode + 1;
constexpr unsigned kFirstFreeCode = kClearCode + 2;
// When the next free code reaches this, a clear code is sent instead of a new entry (so codes stay
// within 12 bits).
constexpr unsigned kLastCode = 4095;

// The string table, hashed: 8192 slots (32 KiB, within the first-level cache) for at most 3837 strings,
// each slot the key "string's code << 8 | pixel" above the code of that string, or empty (all ones).
class CLzwTable {
 public:
  CLzwTable() { clear(); }
  // The code of key, or 0 when absent (new codes start at kFirstFreeCode).
  unsigned find(std::uint32_t key) const {
    for (std::uint32_t slot = Hash(key);; slot = (slot + 1) & kMask) {
      const std::uint32_t entry = slots_[slot];
      if (entry == kEmpty) return 0;
      if (entry >> 12 == key) return entry & 0xFFF;
    }
  }
  void insert(std::uint32_t key, unsigned code) {
    std::uint32_t slot = Hash(key);
    while (slots_[slot] != kEmpty) slot = (slot + 1) & kMask;
    slots_[slot] = key << 12 | code;
  }
  void clear() { std::fill(std::begin(slots_), std::end(slots_), kEmpty); }

 private:
  static constexpr std::uint32_t kSize = 8192, kMask = kSize - 1, kEmpty = 0xFFFFFFFFu;
  static std::uint32_t Hash(std::uint32_t key) { return ((key >> 12) ^ key) * 2654435761u >> 19 & kMask; }
  std::uint32_t slots_[kSize];
};

// Codes, least significant bit first, into sub-blocks of at most 255 bytes, each block's length byte
// filled in when the block is closed. A full block is closed when the next byte comes.
class CCodeWriter {
 public:
  explicit CCodeWriter(Bytes& out) : out_(out) { Open(); }
  void Put(unsigned code, int bits) {
    bits_ |= std::uint64_t{code} << count_;
    count_ += bits;
    while (count_ >= 8) {
      Byte(static_cast<std::uint8_t>(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  // The last bits in a byte of their own, the last block, and the empty block that ends the data.
  void Finish() {
    if (count_ > 0) Byte(static_cast<std::uint8_t>(bits_));
    out_[block_] = static_cast<std::uint8_t>(length_);
    out_.push_back(0);
  }

 private:
  void Open() {
    block_ = out_.size();
    out_.push_back(0);
    length_ = 0;
  }
  void Byte(std::uint8_t b) {
    if (length_ == 255) {
      out_[block_] = 255;
      Open();
    }
    out_.push_back(b);
    ++length_;
  }

  Bytes& out_;
  std::uint64_t bits_ = 0;
  int count_ = 0;
  std::size_t block_ = 0;
  unsigned length_ = 0;
};

void Put16(Bytes& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

void AppendGifImageData(const std::uint8_t* pixels, std::size_t count, Bytes& out) {
  CLzwTable table;
  out.push_back(kMinCodeSize);
  CCodeWriter writer(out);
  unsigned next = kFirstFreeCode;
  int bits = kMinCodeSize + 1;
  unsigned limit = 1u << bits;
  // The code width grows after the code that is sent once the next free code no longer fits.
  const auto put = [&](unsigned code) {
    writer.Put(code, bits);
    if (next >= limit) limit = 1u << ++bits;
  };
  put(kClearCode);
  if (count > 0) {
    unsigned string = pixels[0];
    for (std::size_t i = 1; i < count; ++i) {
      const unsigned pixel = pixels[i];
      const std::uint32_t key = string << 8 | pixel;
      if (const unsigned code = table.find(key)) {
        string = code;
        continue;
      }
      put(string);
      string = pixel;
      if (next >= kLastCode) {
        put(kClearCode);
        next = kFirstFreeCode;
        bits = kMinCodeSize + 1;
        limit = 1u << bits;
        table.clear();
      } else {
        table.insert(key, next++);
      }
    }
    put(string);
  }
  put(kEndCode);
  writer.Finish();
}

Bytes WriteGifFile(const IndexedBitmap& bitmap, const SGifColours& colours) {
  Bytes out;
  out.reserve(1024 + bitmap.pixels.size() / 2);
  for (const char c : {'G', 'I', 'F', '8', '9', 'a'}) out.push_back(static_cast<std::uint8_t>(c));
  // Logical screen: a global colour table of 256 entries, 8 bits of colour resolution, not sorted.
  Put16(out, bitmap.width);
  Put16(out, bitmap.height);
  out.push_back(0xF7);
  out.push_back(static_cast<std::uint8_t>(colours.background));
  out.push_back(0);  // pixel aspect ratio: none given
  for (const auto& rgb : colours.rgb) out.insert(out.end(), rgb, rgb + 3);
  if (colours.transparent >= 0) {
    // Graphic control extension: no disposal, no user input, no delay, the transparent index.
    for (const std::uint8_t b : {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00}) out.push_back(b);
    out.push_back(static_cast<std::uint8_t>(colours.transparent));
    out.push_back(0);
  }
  // Image descriptor: the whole screen, no local colour table, not interlaced.
  out.push_back(0x2C);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, bitmap.width);
  Put16(out, bitmap.height);
  out.push_back(0);
  AppendGifImageData(bitmap.pixels.data(), bitmap.pixels.size(), out);
  out.push_back(0x3B);
  return out;
}

}  // namespace veld
