// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gif_writer.h"

#include <algorithm>
#include <array>
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

// The strings of the table as runs: a string, then the same string followed by one, two, ... more of its
// last pixel, form a chain (a string one pixel longer enters the table only once the one before it is
// there, so a chain has no gaps and grows only at its end). Each chain's codes lie in order in a pool;
// a full chain moves to the pool's end with twice the room. A chain of n codes takes less than 4n
// entries over its life and the table holds at most 4093 codes, so 16384 entries are enough.
class CRunChains {
 public:
  void clear() {
    used_ = 0;
    count_ = 0;
    for (unsigned pixel = 0; pixel < 256; ++pixel) start(pixel);
  }
  // A string that is one pixel, or that ends in a pixel other than its prefix's last.
  void start(unsigned code) {
    SChain& c = chains_[count_];
    c = {static_cast<std::uint16_t>(used_), 0, kFirstRoom};
    used_ += kFirstRoom;
    Append(count_++, code);
  }
  // code: the last string of the chain of `last` followed by one more of its last pixel.
  void extend(unsigned last, unsigned code) { Append(chain_of_[last], code); }
  // The number of codes after `code` in its chain, and the one n after it.
  std::size_t after(unsigned code) const { return chains_[chain_of_[code]].length - 1u - place_[code]; }
  unsigned along(unsigned code, std::size_t n) const {
    return pool_[chains_[chain_of_[code]].first + place_[code] + n];
  }

 private:
  struct SChain {
    std::uint16_t first, length, room;
  };
  static constexpr std::uint16_t kFirstRoom = 4;
  void Append(unsigned chain, unsigned code) {
    SChain& c = chains_[chain];
    if (c.length == c.room) {
      std::copy_n(pool_.begin() + c.first, c.length, pool_.begin() + used_);
      c.first = static_cast<std::uint16_t>(used_);
      c.room = static_cast<std::uint16_t>(c.room * 2);
      used_ += c.room;
    }
    pool_[c.first + c.length] = static_cast<std::uint16_t>(code);
    chain_of_[code] = static_cast<std::uint16_t>(chain);
    place_[code] = c.length++;
  }

  std::array<std::uint16_t, 16384> pool_;
  std::array<SChain, 4096> chains_;
  std::array<std::uint16_t, 4096> chain_of_, place_;
  std::size_t used_ = 0;
  unsigned count_ = 0;
};

// LZW of one frame. Menu pictures are flat: most pixels repeat the one before, and a string followed by
// a run of its last pixel grows over the whole run (or to the end of its chain) in one step instead of
// one table look-up per pixel. Only strings whose last two pixels differ are looked up in the hashed
// table, so only those are put there. The codes sent are the ones a look-up per pixel gives.
class CLzwEncoder {
 public:
  explicit CLzwEncoder(CCodeWriter& writer) : writer_(writer) { chains_.clear(); }

  void Encode(const std::uint8_t* pixels, std::size_t count) {
    Put(kClearCode);
    if (count > 0) {
      string_ = pixels[0];
      for (std::size_t i = 1; i < count;) {
        if (pixels[i] == pixels[i - 1]) {
          i = ContinueRun(pixels, count, i);
        } else {
          Step(pixels[i]);
          ++i;
        }
      }
      Put(string_);
    }
    Put(kEndCode);
  }

 private:
  // The code width grows after the code that is sent once the next free code no longer fits.
  void Put(unsigned code) {
    writer_.Put(code, bits_);
    if (next_ >= limit_) limit_ = 1u << ++bits_;
  }
  // The string followed by a pixel other than its last.
  void Step(unsigned pixel) {
    const std::uint32_t key = string_ << 8 | pixel;
    if (const unsigned code = table_.find(key)) {
      string_ = code;
      return;
    }
    Put(string_);
    string_ = pixel;
    if (Full()) return;
    table_.insert(key, next_);
    chains_.start(next_++);
  }
  // pixels[at] repeats the string's last pixel: the string takes the whole run, or grows to the end of
  // its chain, and the pixel after that is one the table has no string for: the string's code is sent,
  // and the string one pixel longer gets the next code. Returns the index of the next pixel.
  std::size_t ContinueRun(const std::uint8_t* pixels, std::size_t count, std::size_t at) {
    if (at >= run_end_) run_end_ = static_cast<std::size_t>(RunEnd(pixels + at + 1, pixels + count, pixels[at]) - pixels);
    const std::size_t ahead = run_end_ - at;
    const std::size_t room = chains_.after(string_);
    if (ahead <= room) {
      string_ = chains_.along(string_, ahead);
      return run_end_;
    }
    const unsigned longest = chains_.along(string_, room);
    Put(longest);
    string_ = pixels[at];
    if (!Full()) chains_.extend(longest, next_++);
    return at + room + 1;
  }
  // When the table is full: a clear code, and the table starts again.
  bool Full() {
    if (next_ < kLastCode) return false;
    Put(kClearCode);
    next_ = kFirstFreeCode;
    bits_ = kMinCodeSize + 1;
    limit_ = 1u << bits_;
    table_.clear();
    chains_.clear();
    return true;
  }

  CCodeWriter& writer_;
  CLzwTable table_;
  CRunChains chains_;
  unsigned next_ = kFirstFreeCode;
  int bits_ = kMinCodeSize + 1;
  unsigned limit_ = 1u << (kMinCodeSize + 1);
  unsigned string_ = 0;
  // Where the run of equal pixels last measured ends: every pixel from the one it was measured from to
  // there is the same.
  std::size_t run_end_ = 0;
};

void Put16(Bytes& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

void AppendGifImageData(const std::uint8_t* pixels, std::size_t count, Bytes& out) {
  out.push_back(kMinCodeSize);
  CCodeWriter writer(out);
  CLzwEncoder encoder(writer);
  encoder.Encode(pixels, count);
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
