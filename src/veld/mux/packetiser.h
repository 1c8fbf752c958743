// SPDX-License-Identifier: GPL-3.0-or-later
// Turning the access units of a new stream into transport packets: one PES packet per unit, the PES
// header in the first transport packet, and adaptation-field stuffing so that the PES packet ends exactly
// at the end of its last transport packet.
#pragma once

#include <cstdint>
#include <optional>

#include "veld/base/bytes.h"

namespace veld {

// The PES stream id of a stream type, and for stream id 0xFD the stream id extension and the transport
// priority of its units. extension_unit: the unit belongs to the extension part of a DTS-HD stream.
struct SPesLayout {
  std::uint8_t stream_id = 0xBD;
  std::optional<std::uint8_t> stream_id_extension;
  bool transport_priority = false;
};
SPesLayout PesLayoutFor(std::uint8_t stream_type, bool extension_unit = false);

// One access unit as the packetiser sees it.
struct SPacketUnit {
  ByteSpan bytes;                 // the unit's elementary-stream bytes
  std::uint64_t pts = 0;          // 90 kHz, 33 bits
  std::uint64_t dts = 0;
  bool pts_and_dts = false;       // the PES header carries both stamps
  bool extension_unit = false;
  ByteSpan prefix;                // bytes between the PES header and the unit (the LPCM audio data header)
};

class CPacketiser {
 public:
  CPacketiser(std::uint16_t pid, std::uint8_t stream_type) : pid_(pid), stream_type_(stream_type) {}

  void set_pid(std::uint16_t pid) { pid_ = pid; }
  std::uint16_t pid() const { return pid_; }
  // Rewinds the continuity counter and the composition counter for a new run.
  void reset();

  // Writes the next transport packet (188 bytes) of the unit, of which `sent` bytes have gone out in
  // earlier packets, and advances `sent`. Returns the PES bytes in the packet (header included).
  int next(const SPacketUnit& unit, std::size_t& sent, std::uint8_t* packet);

 private:
  std::uint16_t pid_;
  std::uint8_t stream_type_;
  std::uint8_t continuity_ = 0;
  std::uint16_t composition_number_ = 0;  // running number of presentation graphics compositions
};

}  // namespace veld
