// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/packetiser.h"

#include <cstring>

#include "veld/ts/ts_packet.h"

namespace veld {

SPesLayout PesLayoutFor(std::uint8_t type, bool extension_unit) {
  switch (type) {
    case 0x02:
    case 0x1B: return {0xE0, std::nullopt, false};
    case 0x80:
    case 0x90:
    case 0x91: return {0xBD, std::nullopt, false};
    case 0x92: return {0xBF, std::nullopt, false};
    case 0x81: return {0xFD, 0x71, true};
    case 0x84: return {0xFD, 0x72, false};
    case 0x83:
    case 0xA1: return {0xFD, 0x73, false};
    case 0x82:
    case 0x85:
    case 0x86:
    case 0xA2:
      if (extension_unit && type != 0x82) return {0xFD, 0x72, false};
      return {0xFD, 0x71, true};
    case 0xEA: return {0xFD, 0x55, false};
    default: return {0xBD, std::nullopt, false};
  }
}

void CPacketiser::reset() {
  continuity_ = 0;
  composition_number_ = 0;
}

int CPacketiser::next(const SPacketUnit& unit, std::size_t& sent, std::uint8_t* packet) {
  const bool first = sent == 0;
  const std::size_t left = unit.bytes.size() - sent;
  const SPesLayout layout = PesLayoutFor(stream_type_, unit.extension_unit);

  STsHeader ts;
  ts.PayloadUnitStartIndicator = first;
  ts.TransportPriority = layout.transport_priority;
  ts.PID = pid_;
  ts.ContinuityCounter = continuity_;
  continuity_ = static_cast<std::uint8_t>((continuity_ + 1) & 0x0F);

  SPesHeader pes;
  std::uint8_t extension_byte[1] = {0};
  std::size_t header = 0;
  if (first) {
    pes.StreamID = layout.stream_id;
    pes.PTS_DTS_Flag = unit.pts_and_dts ? 3 : 2;
    pes.PTS = {static_cast<std::uint8_t>(unit.pts_and_dts ? 3 : 2), unit.pts & 0x1FFFFFFFFull};
    pes.DTS = {1, unit.dts & 0x1FFFFFFFFull};
    if (layout.stream_id_extension) {
      extension_byte[0] = *layout.stream_id_extension;
      pes.PES_ExtensionFlag = true;
      pes.PES_ExtensionFlag2 = true;
      pes.PES_ExtensionFieldLength = 1;
      pes.PES_ExtensionField = ByteSpan(extension_byte, 1);
    }
    header = pes.written_size();
    const std::size_t length = unit.bytes.size() + unit.prefix.size() + header - 6;
    pes.PES_PacketLength = length > 65535 ? 0 : static_cast<std::uint16_t>(length);
  }

  // Payload room after the 4-byte header; a shorter rest is padded by adaptation-field stuffing.
  const std::size_t needed = header + (first ? unit.prefix.size() : 0) + left;
  const std::size_t room = kTsPacketSize - 4;
  std::size_t pos = 0;
  if (needed < room) {
    ts.AdapationFieldControl = 3;
    ts.write(packet);
    SAdaptationField af;
    const std::size_t field = room - needed;
    af.Empty = field == 1;
    af.StuffingSize = field >= 2 ? field - 2 : 0;
    pos = 4 + af.write(packet + 4, field);
  } else {
    ts.AdapationFieldControl = 1;
    ts.write(packet);
    pos = 4;
  }
  const std::size_t payload_start = pos;
  if (first) {
    pos += pes.write(packet + pos, kTsPacketSize - pos);
    if (!unit.prefix.empty()) {
      std::memcpy(packet + pos, unit.prefix.data(), unit.prefix.size());
      pos += unit.prefix.size();
    }
  }
  const std::size_t take = std::min(left, kTsPacketSize - pos);
  std::memcpy(packet + pos, unit.bytes.data() + sent, take);
  // Presentation graphics: every composition segment (PCS 0x16, ICS 0x18) carries a running
  // composition number at bytes 8 and 9 of the segment.
  if (first && stream_type_ == 0x90 && unit.bytes.size() >= 10 && (unit.bytes[0] == 0x16 || unit.bytes[0] == 0x18) &&
      take >= 10) {
    store_be16(packet + pos + 8, composition_number_);
    ++composition_number_;
  }
  pos += take;
  sent += take;
  return static_cast<int>(pos - payload_start);
}

}  // namespace veld
