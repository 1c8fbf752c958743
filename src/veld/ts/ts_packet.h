// SPDX-License-Identifier: GPL-3.0-or-later
// The packet layers of a clip stream file: 192-byte source packets, 188-byte MPEG-2 transport packets
// (ISO/IEC 13818-1 2.4.3), their adaptation field and the PES packet header (2.4.3.6), with the 5-byte
// time stamp layout shared by PTS, DTS and the splice DTS.
//
// Everything here decodes in place: parse functions look at bytes the caller owns, keep views (spans)
// into them for variable-length parts, and never allocate. Every parse is bounds-checked against the
// bytes it is given and reports a malformed structure as a result of 0 or less.
#pragma once

#include <cstddef>
#include <cstdint>

#include "veld/base/bytes.h"

namespace veld {

inline constexpr std::size_t kSourcePacketSize = 192;
inline constexpr std::size_t kTsPacketSize = 188;
inline constexpr std::uint8_t kSyncByte = 0x47;

// A pass that is the first to touch each packet of a mapped file asks for the header of the packet this
// many ahead while it looks at the current one: the processor's own prefetcher stops at every 4 KiB
// page, so the pass would otherwise wait on memory at every page.
inline constexpr std::size_t kPacketPrefetchAhead = 24;
// Prefetches the packet kPacketPrefetchAhead after packet i of `count` source packets at `packets`.
// Always inlined: GCC finds that a function whose only work is a prefetch has no effect and drops the
// call before it would inline it.
[[gnu::always_inline]] inline void prefetch_ahead(const std::uint8_t* packets, std::size_t i, std::size_t count) {
  if (i + kPacketPrefetchAhead < count) __builtin_prefetch(packets + (i + kPacketPrefetchAhead) * kSourcePacketSize);
}

inline constexpr std::uint16_t kPidPat = 0x0000;
inline constexpr std::uint16_t kPidSit = 0x001F;
inline constexpr std::uint16_t kPidPmt = 0x0100;
inline constexpr std::uint16_t kPidPcr = 0x1001;
inline constexpr std::uint16_t kPidNull = 0x1FFF;

// The 4-byte header that precedes every transport packet of a clip stream file.
struct SSourcePacketHeader {
  std::uint8_t CopyPermissionIndicator = 0;  // 2 bits
  std::uint32_t ArriveTimeStamp = 0;         // 30 bits, 27 MHz

  static SSourcePacketHeader parse(const std::uint8_t* p);  // 4 bytes
  void write(std::uint8_t* p) const;
};

// A 33-bit count of 90 kHz ticks in its 5-byte layout: 4-bit prefix, bits 32..30, marker, bits 29..15,
// marker, bits 14..0, marker. The prefix is kept so that a rewritten stamp keeps it.
struct STimeStamp {
  std::uint8_t prefix = 0;
  std::uint64_t value = 0;

  static STimeStamp parse(const std::uint8_t* p);  // 5 bytes
  // Marker bits are written as 1.
  void write(std::uint8_t* p) const;
  // Replaces the time bits of a stamp in place and keeps its prefix and marker bits as they are.
  static void rewrite_value(std::uint8_t* p, std::uint64_t value);
};

// Transport packet header (4 bytes).
struct STsHeader {
  std::uint8_t SyncByte = kSyncByte;
  bool TransportErrorIndicator = false;
  bool PayloadUnitStartIndicator = true;
  bool TransportPriority = false;
  std::uint16_t PID = kPidNull;
  std::uint8_t TransportScramblingControl = 0;  // 2 bits
  std::uint8_t AdapationFieldControl = 1;       // 2 bits: 1 payload, 2 field only, 3 both
  std::uint8_t ContinuityCounter = 0;           // 4 bits

  static STsHeader parse(const std::uint8_t* p);  // 4 bytes, never fails
  void write(std::uint8_t* p) const;
  bool has_adaptation_field() const { return AdapationFieldControl >= 2; }
};

// Fast accessors for the scan loops: they read only what they name from a 188-byte packet.
inline std::uint16_t ts_pid(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
}
inline bool ts_payload_unit_start(const std::uint8_t* p) { return (p[1] & 0x40) != 0; }
inline bool ts_priority(const std::uint8_t* p) { return (p[1] & 0x20) != 0; }
// Writes a new PID and keeps the three flag bits above it.
inline void ts_set_pid(std::uint8_t* p, std::uint16_t pid) {
  p[1] = static_cast<std::uint8_t>((p[1] & 0xE0) | ((pid >> 8) & 0x1F));
  p[2] = static_cast<std::uint8_t>(pid);
}

// Program clock reference: 33-bit base (90 kHz), 6 reserved bits, 9-bit extension (27 MHz remainder).
struct SPcr {
  std::uint64_t Base = 0;
  std::uint16_t Extension = 0;
  std::uint64_t ticks27() const { return Base * 300 + Extension; }
};

// ISO/IEC 13818-1 adaptation_field. Private data and unread extension bytes are views into the bytes
// parsed (or the bytes the writer's caller provides).
struct SAdaptationField {
  std::uint8_t AdaptationFieldLength = 0;
  // A field of length 0 (a single stuffing byte in the packet): no flags byte follows.
  bool Empty = false;
  bool DiscontinuityIndicator = false;
  bool RandomAccessIndicator = false;
  bool ElementaryStreamPriorityIndicator = false;
  bool PCR_Flag = false;
  bool OPCR_Flag = false;
  bool SplicingPointFlag = false;
  bool TransportPrivateDataFlag = false;
  bool AdaptationFieldExtensionFlag = false;
  SPcr PCR;
  SPcr OPCR;
  std::int8_t SpliceCountdown = 0;
  std::uint8_t PrivateDataLength = 0;
  ByteSpan PrivateDataByte;
  // Extension.
  std::uint8_t AdaptationFieldExtensionLength = 0;
  bool LtwFlag = false;
  bool PiecewiseRateFlag = false;
  bool SeamlessSpliceFlag = false;
  std::uint8_t ExtensionReserved = 0x1F;  // 5 bits after the three flags
  bool LtwValidFlag = false;
  std::uint16_t LtwOffset = 0;      // 15 bits
  std::uint32_t PiecewiseRate = 0;  // 22 bits
  std::uint8_t SpliceType = 0;      // 4 bits
  STimeStamp DTS_NextAU;            // prefix holds SpliceType
  ByteSpan ExtensionExtraBytes;     // bytes of the extension after the known fields
  std::size_t StuffingSize = 0;

  // data starts at the length byte. Returns the bytes taken (1 + AdaptationFieldLength), or 0 or less
  // when the field runs past data or its parts do not fit its length.
  int parse(ByteSpan data);
  // Size the field takes when written (including the length byte).
  std::size_t written_size() const;
  // Writes the field (length recomputed from the parts and StuffingSize; stuffing is 0xFF) and returns
  // its size; 0 when it does not fit in cap bytes or exceeds the 183 bytes a packet allows.
  std::size_t write(std::uint8_t* out, std::size_t cap) const;
};

// ISO/IEC 13818-1 PES_packet header up to the end of its stuffing.
struct SPesHeader {
  std::uint32_t PacketStartCodePrefix = 0x000001;
  std::uint8_t StreamID = 0;
  std::uint16_t PES_PacketLength = 0;
  // The header ends after the first six bytes (stream ids 0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xFF).
  bool ShortHeader = false;
  std::uint8_t PES_ScramblingControl = 0;
  bool PES_Priority = false;
  bool DataAlignmentIndicator = false;
  bool Copyright = false;
  bool OriginalOrCopy = false;
  std::uint8_t PTS_DTS_Flag = 0;  // 2: PTS only; 3: PTS and DTS
  bool ESCR_Flag = false;
  bool ES_RateFlag = false;
  bool DSM_TrickModeFlag = false;
  bool AdditionalCopyInfoFlag = false;
  bool PES_CRC_Flag = false;
  bool PES_ExtensionFlag = false;
  std::uint8_t PES_HeaderDataLength = 0;
  STimeStamp PTS;
  STimeStamp DTS;
  std::uint64_t ESCR = 0;  // the 48 bits as stored
  std::uint32_t ES_Rate = 0;  // 22 bits
  std::uint8_t TrickModeControl = 0;  // 3 bits
  std::uint8_t FieldID = 0;
  bool IntraSliceRefresh = false;
  std::uint8_t FrequencyTruncation = 0;
  std::uint8_t FieldRepCntrl = 0;
  std::uint8_t TrickModeReserved = 0;  // low bits of the trick-mode byte of the other modes
  std::uint8_t AdditionalCopyInfo = 0;  // 7 bits
  std::uint16_t PreviousPES_PacketCRC = 0;
  // Extension.
  bool PES_PrivateDataFlag = false;
  bool PackHeaderFieldFlag = false;
  bool ProgramPacketSequenceCounterFlag = false;
  bool P_STD_BufferFlag = false;
  bool PES_ExtensionFlag2 = false;
  ByteSpan PES_PrivateData;  // 16 bytes
  std::uint8_t PackFieldLength = 0;
  ByteSpan PackHeader;
  std::uint8_t ProgramPacketSequenceCounter = 0;  // 7 bits
  bool MPEG1_MPEG2_Identifier = false;
  std::uint8_t OrigianlStuffLength = 0;  // 6 bits
  bool P_STD_BufferScale = false;
  std::uint16_t P_STD_BufferSize = 0;  // 13 bits
  std::uint8_t PES_ExtensionFieldLength = 0;  // 7 bits
  ByteSpan PES_ExtensionField;  // for stream id 0xFD its first byte is the stream id extension
  std::size_t StuffingSize = 0;

  bool has_pts() const { return !ShortHeader && PTS_DTS_Flag >= 2; }
  bool has_dts() const { return !ShortHeader && PTS_DTS_Flag == 3; }
  // The DTS when present, otherwise the PTS.
  std::uint64_t decode_time() const { return has_dts() ? DTS.value : PTS.value; }
  // Bytes of the header: 6 for the short form, otherwise 9 + PES_HeaderDataLength.
  std::size_t header_size() const { return ShortHeader ? 6 : 9 + std::size_t{PES_HeaderDataLength}; }

  static bool short_form(std::uint8_t stream_id);
  // data starts at the start code. Returns the header size, or 0 or less when data does not start with
  // a start code, the header runs past data, or the flagged fields do not fit PES_HeaderDataLength.
  int parse(ByteSpan data);
  std::size_t written_size() const;
  // Writes the header with PES_HeaderDataLength recomputed (stuffing 0xFF) and returns its size; 0 when
  // it does not fit in cap bytes. PES_PacketLength is written as held.
  std::size_t write(std::uint8_t* out, std::size_t cap) const;
};

// Offset of the payload (after the adaptation field) of a 188-byte packet: 4, or 5 + the field length.
// 0 when the sync byte is wrong, the packet carries no payload or the adaptation field overruns it.
int ts_payload_offset(const std::uint8_t* packet);

}  // namespace veld
