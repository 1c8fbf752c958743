// SPDX-License-Identifier: GPL-3.0-or-later
// The transport packet reader: decodes one 188-byte packet in place (header, adaptation field, PES header
// of a packet that starts one) and assembles the PAT, SIT and PMT carried on their PIDs. It also holds the
// PID plan of the disc format.
#pragma once

#include <cstdint>
#include <optional>

#include "veld/ts/ts_packet.h"
#include "veld/ts/psi.h"

namespace veld {

// PidCategory of the disc format's fixed PID ranges.
enum class PidCategory : int {
  kNone = -1,
  kPrimaryVideo = 0,        // 0x1011
  kPrimaryAudio = 1,        // 0x1100..0x111F
  kPresentationGraphics = 2,  // 0x1200..0x121F
  kInteractiveGraphics = 3,   // 0x1400..0x141F
  kTextSubtitle = 4,        // 0x1800
  kSecondaryAudio = 5,      // 0x1A00..0x1A1F
  kSecondaryVideo = 6,      // 0x1B00..0x1B1F
};

PidCategory pid_category(std::uint16_t pid);
// The elementary-stream PIDs are exactly those of categories 0 to 6.
inline bool is_elementary_pid(std::uint16_t pid) { return pid_category(pid) != PidCategory::kNone; }

class CTsPacketReader {
 public:
  // Decodes a 188-byte packet and returns the offset of its payload: 4, plus the adaptation field, plus
  // for the PAT and SIT PIDs the pointer field (when a section starts), plus for an elementary-stream
  // packet that starts a PES packet its header (with the 0x06 item that may follow it). For the PMT PID
  // the bytes go to the PMT assembler and the result is 188. 0 when the sync byte is wrong or a structure
  // overruns the packet.
  int read(const std::uint8_t* packet);

  // Writes the decoded structures back: header, adaptation field when flagged, the PAT or SIT section
  // after a zero pointer field, or the PES header. Returns the bytes written, 0 when they do not fit.
  std::size_t write(std::uint8_t* packet) const;

  const STsHeader& header() const { return header_; }
  const SAdaptationField* adaptation_field() const { return has_field_ ? &field_ : nullptr; }
  // The PES header of the last packet when it started a PES packet, otherwise null.
  const SPesHeader* pes_header() const { return has_pes_ ? &pes_ : nullptr; }
  // Offset of the PES header within the last packet (valid with pes_header()).
  int pes_offset() const { return pes_offset_; }

  const std::optional<SPat>& pat() const { return pat_; }
  const std::optional<SSit>& sit() const { return sit_; }
  // A PMT completed by the last packet; it is dropped by the next read.
  const std::optional<SPmt>& pmt() const { return pmt_; }

 private:
  STsHeader header_;
  SAdaptationField field_;
  bool has_field_ = false;
  SPesHeader pes_;
  bool has_pes_ = false;
  int pes_offset_ = 0;
  std::optional<SPat> pat_;
  std::optional<SSit> sit_;
  std::optional<SPmt> pmt_;
  CPmtAssembler pmt_assembler_;
};

}  // namespace veld
