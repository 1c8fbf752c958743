// SPDX-License-Identifier: GPL-3.0-or-later
// The access-unit index of a kept elementary stream: compact records, one per PES packet, whose packet
// ranges live in one array per track. A feature holds millions of access units, so a unit is 20 bytes
// plus 8 bytes per range of consecutive packets.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "veld/ts/ts_packet.h"

namespace veld {

// Consecutive source packets of one PID, first and last source packet number, both inclusive.
struct SPacketRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t count() const { return last - first + 1; }
  bool operator==(const SPacketRange&) const = default;
};

// An audio unit carried with PES stream id extension 0x72: the extension part of a DTS-HD stream, the
// MLP frames of TrueHD, the dependent frames of DD+. Decoders of the core alone skip these units.
inline constexpr std::uint32_t kKeyInfoExtensionUnit = 1u << 24;

// One access unit (one PES packet) of a kept track.
struct SRipAu {
  // Video: 1 when the unit starts with a sequence header. Graphics: segment type in bits 0..7,
  // composition state in bits 8..15, bit 16 set when the composition holds no objects. Audio:
  // kKeyInfoExtensionUnit for a unit of the extension part (DTS-HD, TrueHD, DD+ dependent frames).
  std::uint32_t KeyInfo = 0;
  std::uint32_t DTS = 0;  // low 32 bits of the 90 kHz value; the PTS when the PES header has no DTS
  std::uint32_t PTS = 0;
  std::uint32_t PacketCount = 0;
  std::uint32_t FirstRange = 0;  // index of its first range in the track's range array

  std::uint64_t size() const { return std::uint64_t{PacketCount} * kSourcePacketSize; }
  bool operator==(const SRipAu&) const = default;
};

// The access units of one track and their packet ranges.
class CAuIndex {
 public:
  std::size_t size() const { return units_.size(); }
  bool empty() const { return units_.empty(); }
  const SRipAu& operator[](std::size_t i) const { return units_[i]; }
  std::span<const SRipAu> units() const { return units_; }
  std::span<const SPacketRange> ranges(std::size_t i) const;
  std::size_t range_count() const { return ranges_.size(); }

  void clear();
  // Releases spare capacity after indexing.
  void shrink();
  // Bytes held by the index (capacity of both arrays).
  std::size_t memory_bytes() const;

  // Building: open a unit, add its packets in increasing order, close it (a unit without packets is
  // discarded). Opening closes the unit left open.
  void open(std::uint32_t pts, std::uint32_t dts, std::uint32_t key_info);
  void add_packet(std::uint32_t spn);
  void close();
  bool is_open() const { return open_; }
  // Appends the closed units of another index (of later packets).
  void append(const CAuIndex& other);
  SRipAu& open_unit() { return current_; }

  bool operator==(const CAuIndex&) const = default;

 private:
  std::vector<SRipAu> units_;
  std::vector<SPacketRange> ranges_;
  SRipAu current_;
  bool open_ = false;
};

}  // namespace veld
