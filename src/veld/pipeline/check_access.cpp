// SPDX-License-Identifier: GPL-3.0-or-later
// Random access points of the entry-point map: what the access unit an entry points at must begin with.
#include <cstdint>
#include <string>

#include "veld/pipeline/check_stream.h"

namespace veld {
namespace {

// Position of the byte after the next start code (00 00 01) at or after `from`; data.size() when none.
std::size_t next_start_code(ByteSpan data, std::size_t from) {
  for (std::size_t i = from; i + 3 <= data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
  }
  return data.size();
}

// An Exp-Golomb code (ue(v)) from a slice header, emulation prevention bytes not removed: the first two
// codes of a slice header sit in its first bytes, before any 00 00 03 can occur.
class CUeReader {
 public:
  explicit CUeReader(ByteSpan data) : data_(data) {}
  bool ue(std::uint32_t& value) {
    int zeros = 0;
    for (;;) {
      int bit = 0;
      if (!bit_at(bit)) return false;
      if (bit) break;
      if (++zeros > 31) return false;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < zeros; ++i) {
      int bit = 0;
      if (!bit_at(bit)) return false;
      v = (v << 1) | static_cast<std::uint32_t>(bit);
    }
    value = (1u << zeros) - 1 + v;
    return true;
  }

 private:
  bool bit_at(int& bit) {
    if (pos_ / 8 >= data_.size()) return false;
    bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return true;
  }
  ByteSpan data_;
  std::size_t pos_ = 0;
};

bool AvcRandomAccess(ByteSpan es, std::string* why) {
  bool sps = false;
  for (std::size_t at = next_start_code(es, 0); at < es.size(); at = next_start_code(es, at)) {
    const int type = es[at] & 0x1F;
    if (type == 7) sps = true;
    if (type != 1 && type != 5) continue;
    if (!sps) {
      if (why) *why = "no sequence parameter set before the first slice";
      return false;
    }
    if (type == 5) return true;
    CUeReader r(es.subspan(at + 1));
    std::uint32_t first_mb = 0, slice_type = 0;
    if (!r.ue(first_mb) || !r.ue(slice_type)) {
      if (why) *why = "the first slice header is cut off";
      return false;
    }
    if (slice_type % 5 == 2 || slice_type % 5 == 4) return true;
    if (why) *why = "the first slice is neither an IDR nor an I slice";
    return false;
  }
  if (why) *why = sps ? "no slice in the access unit's first bytes" : "no sequence parameter set";
  return false;
}

bool Mpeg2RandomAccess(ByteSpan es, std::string* why) {
  bool sequence = false;
  for (std::size_t at = next_start_code(es, 0); at < es.size(); at = next_start_code(es, at)) {
    if (es[at] == 0xB3) sequence = true;
    if (es[at] != 0x00) continue;
    if (!sequence) {
      if (why) *why = "no sequence header before the first picture";
      return false;
    }
    if (at + 3 > es.size()) break;
    const int coding_type = (es[at + 2] >> 3) & 7;  // after the 10-bit temporal reference
    if (coding_type == 1) return true;
    if (why) *why = "the first picture is not an I picture";
    return false;
  }
  if (why) *why = sequence ? "no picture in the access unit's first bytes" : "no sequence header";
  return false;
}

bool Vc1RandomAccess(ByteSpan es, std::string* why) {
  for (std::size_t at = next_start_code(es, 0); at < es.size(); at = next_start_code(es, at)) {
    if (es[at] == 0x0F) return true;
  }
  if (why) *why = "no sequence header";
  return false;
}

// A composition segment: type, 2-byte length, video descriptor (5 bytes), composition number (2 bytes),
// then the composition state in the top two bits.
bool GraphicsRandomAccess(ByteSpan es, std::string* why) {
  if (es.size() < 11 || (es[0] != 0x16 && es[0] != 0x18)) {
    if (why) *why = "the PES packet holds no composition segment";
    return false;
  }
  if ((es[10] >> 6) == 0) {
    if (why) *why = "its composition state is \"normal case\"";
    return false;
  }
  return true;
}

}  // namespace

bool IsRandomAccessPoint(std::uint8_t coding_type, ByteSpan es, std::string* why) {
  switch (coding_type) {
    case coding_type::kAvcVideo: return AvcRandomAccess(es, why);
    case coding_type::kMpeg2Video: return Mpeg2RandomAccess(es, why);
    case coding_type::kVc1Video: return Vc1RandomAccess(es, why);
    case coding_type::kPresentationGraphics:
    case coding_type::kInteractiveGraphics: return GraphicsRandomAccess(es, why);
    default: return true;
  }
}

}  // namespace veld
