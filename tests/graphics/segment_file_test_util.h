// SPDX-License-Identifier: GPL-3.0-or-later
// Builders of framed segments for the graphics tests.
#pragma once

#include <cstdint>
#include <string_view>

#include "veld/base/bytes.h"

namespace veld::test {

// One framed segment: tag, PTS, DTS, type, length, body.
inline Bytes Frame(std::string_view tag, std::uint32_t pts, std::uint32_t dts, std::uint8_t type, ByteSpan body) {
  Bytes out;
  ByteWriter w(out);
  w.text(tag);
  w.u32(pts);
  w.u32(dts);
  w.u8(type);
  w.u16(static_cast<std::uint16_t>(body.size()));
  w.bytes(body);
  return out;
}

inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace veld::test
