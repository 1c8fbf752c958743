// SPDX-License-Identifier: GPL-3.0-or-later
// Plain data types of a clip information file (CLIPINF/nnnnn.clpi).
//
// The records follow the byte layout of the file section by section; the codec is in clpi.h. Every
// record is a value type: copying an SClpiData copies all its lists, key points, extension data and
// tool stamp. Times named PTS are 45 kHz units (a 90 kHz value halved), except the key points of the
// entry-point map, which hold full 90 kHz time stamps (33 bits).
//
// Reserved bytes and bits, and the bytes a block's length leaves after what we interpret (its Tail),
// are carried so that write_clpi(parse_clpi(x)) == x; a default-constructed record holds none of them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"

namespace veld {

// ---------------------------------------------------------------------------------------------------
// Stream coding types (the stream_type values of the Blu-ray transport streams).
namespace coding_type {
inline constexpr std::uint8_t kMpeg2Video = 0x02;
inline constexpr std::uint8_t kAvcVideo = 0x1B;
inline constexpr std::uint8_t kVc1Video = 0xEA;
inline constexpr std::uint8_t kHevcVideo = 0x24;
inline constexpr std::uint8_t kLpcmAudio = 0x80;
inline constexpr std::uint8_t kAc3Audio = 0x81;
inline constexpr std::uint8_t kDtsAudio = 0x82;
inline constexpr std::uint8_t kTrueHdAudio = 0x83;
inline constexpr std::uint8_t kAc3PlusAudio = 0x84;
inline constexpr std::uint8_t kDtsHdAudio = 0x85;
inline constexpr std::uint8_t kDtsHdMasterAudio = 0x86;
inline constexpr std::uint8_t kAc3PlusSecondaryAudio = 0xA1;
inline constexpr std::uint8_t kDtsHdSecondaryAudio = 0xA2;
inline constexpr std::uint8_t kPresentationGraphics = 0x90;
inline constexpr std::uint8_t kInteractiveGraphics = 0x91;
inline constexpr std::uint8_t kTextSubtitle = 0x92;
}  // namespace coding_type

constexpr bool is_video_coding_type(std::uint8_t t) {
  return t == coding_type::kMpeg2Video || t == coding_type::kAvcVideo || t == coding_type::kVc1Video ||
         t == coding_type::kHevcVideo;
}
constexpr bool is_audio_coding_type(std::uint8_t t) {
  return (t >= 0x80 && t <= 0x86) || t == 0xA1 || t == 0xA2;
}
constexpr bool is_graphics_coding_type(std::uint8_t t) {
  return t == coding_type::kPresentationGraphics || t == coding_type::kInteractiveGraphics;
}
// Coding types whose StreamCodingInfo carries four attribute bytes before the ISRC.
constexpr bool has_coding_attributes(std::uint8_t t) {
  return is_video_coding_type(t) || is_audio_coding_type(t) || is_graphics_coding_type(t) ||
         t == coding_type::kTextSubtitle;
}

// Display text of an ApplicationType value.
constexpr std::string_view application_type_text(std::uint8_t v) {
  switch (v) {
    case 1: return "MainTS for a MainPath of Movie";
    case 2: return "MainTS for a MainPath of Timebased Slidershow";
    case 3: return "MainTS for a MainPath of Browsable Slidershow";
    case 4: return "SubTS for a SubPath of Browsable Slidershow";
    case 5: return "SubTS for a SubPath of Interactive Graphics menu";
    case 6: return "SubTS for a SubPath of Text subtitle";
    case 7: return "SubTS for a SubPath of one or more elementary streams path";
    default: return "Reserved";
  }
}

// Display text of an audio sampling frequency code.
constexpr std::string_view sampling_frequency_text(std::uint8_t v) {
  switch (v) {
    case 1: return "48K";
    case 4: return "96K";
    case 5: return "192K";
    case 12: return "48K/96K+192K";
    case 14: return "48K+96K";
    default: return "Reserved";
  }
}

// ---------------------------------------------------------------------------------------------------
// ClipInfo (file offset 40).

struct STsTypeInfoBlock {
  std::uint16_t Length = 30;  // as read; written as 30 plus the tail
  std::uint8_t ValidityFlags = 0x80;
  std::array<std::uint8_t, 4> FormatIdentifier{'H', 'D', 'M', 'V'};
  std::array<std::uint8_t, 9> NetworkInformation{};
  std::array<std::uint8_t, 16> StreamFormatName{};
  Bytes Tail;  // bytes the length leaves after the stream format name
  bool operator==(const STsTypeInfoBlock&) const = default;
};

// One ATC delta entry: the arrival-time jump into a following clip.
struct SAtcDeltaEntry {
  std::uint32_t ATCDelta = 0;
  std::string FollowingClipInformationFileName = "00000";  // 5 characters
  std::string ClipCodecIdentifier = "M2TS";                // 4 characters
  std::uint8_t reserved = 0;
  bool operator==(const SAtcDeltaEntry&) const = default;
};

struct SClipInfo {
  std::uint32_t Length = 176;  // bytes after the length field; as read, recomputed on writing
  std::uint8_t ClipStreamType = 1;
  std::uint8_t ApplicationType = 1;
  std::uint32_t TsRecordingRate = 6000000;  // bytes per second
  std::uint32_t NumberOfSourcePackets = 0;
  // Kept raw; holds the tool stamp ("WQTX" + extension-data block) when one is present.
  std::array<std::uint8_t, 128> Reserved{};
  STsTypeInfoBlock TsTypeInfoBlock;
  // Bytes the length leaves after the ATC delta entries (the font list of a text-subtitle clip, say).
  Bytes Tail;
  std::array<std::uint8_t, 2> reserved1{};
  std::uint32_t reserved2 = 0;  // the 31 bits before IsAtcDelta
  bool IsAtcDelta = false;
  // With IsAtcDelta: a reserved byte, the entry count, then the entries.
  std::uint8_t AtcDeltaReserved = 0;
  std::vector<SAtcDeltaEntry> AtcDeltaEntries;
  bool operator==(const SClipInfo&) const = default;
};

// ---------------------------------------------------------------------------------------------------
// SequenceInfo.

struct STC_INFO {
  std::uint16_t PcrPid = 0x1001;
  std::uint32_t SpnStcStart = 0;
  std::uint32_t StartPTS = 0;  // 45 kHz
  std::uint32_t EndPTS = 0;    // 45 kHz
  bool operator==(const STC_INFO&) const = default;
};

struct SAtcInfo {
  std::uint32_t SpnAtcStart = 0;
  std::uint8_t OffsetStcId = 0;
  std::vector<STC_INFO> StcInfo;  // NumberOfStsSequences is its size
  bool operator==(const SAtcInfo&) const = default;
};

struct SSequenceInfo {
  std::uint32_t Length = 0;  // as read; recomputed on writing
  std::uint8_t NumberOfAtcSequences = 1;  // kept; only the first ATC sequence is held
  SAtcInfo AtcInfo;  // written when NumberOfAtcSequences is not 0
  Bytes Tail;        // the further ATC sequences and any bytes the length leaves, as read
  std::uint8_t reserved = 0;
  bool operator==(const SSequenceInfo&) const = default;
};

// ---------------------------------------------------------------------------------------------------
// ProgramInfo.

// International Standard Recording Code of a stream, four raw byte strings.
struct SIsrc {
  std::array<std::uint8_t, 2> CountryCode{};
  std::array<std::uint8_t, 3> CopyrightHolder{};
  std::array<std::uint8_t, 2> RecordingYear{};
  std::array<std::uint8_t, 5> RecordingNumber{};
  bool operator==(const SIsrc&) const = default;
};

// StreamCodingInfo: the attribute fields meaningful for the coding type are set, the others stay 0.
struct SStreamCodingInfo {
  std::uint8_t Length = 21;  // as read; the writer writes Raw's size + 1 (21, or 17 for a new record
                             // of a type without attributes)
  std::uint8_t CodingType = 0;
  // Video (0x02, 0x1B, 0xEA, 0x24).
  std::uint8_t VideoFormat = 0;  // 1 480i, 2 576i, 3 480p, 4 1080i, 5 720p, 6 1080p, 7 576p
  std::uint8_t FrameRate = 0;    // 1 23.976, 2 24, 3 25, 4 29.97, 6 50, 7 59.94
  std::uint8_t AspectRatio = 0;  // 2 4:3, 3 16:9
  // Audio (0x80..0x86, 0xA1, 0xA2).
  std::uint8_t PresentationType = 0;
  std::uint8_t SamplingFrequency = 0;  // see sampling_frequency_text
  // Text subtitle (0x92).
  std::uint8_t CharacterCode = 0;
  // Audio, graphics and text subtitle: ISO 639-2 language code, three characters (zeros when none).
  std::array<char, 3> LanguageCode{};
  SIsrc Isrc;
  // The bytes after the coding type as read; the writer puts the fields above over them, so bytes no
  // field holds (HEVC's dynamic range and colour space, the byte after a graphics language code, the
  // reserved bytes after the ISRC) come back as read. Empty in a new record.
  Bytes Raw;

  std::string language() const {
    std::string s(LanguageCode.begin(), LanguageCode.end());
    return s.substr(0, s.find('\0'));
  }
  void set_language(std::string_view code) {
    LanguageCode = {};
    for (std::size_t i = 0; i < LanguageCode.size() && i < code.size(); ++i) LanguageCode[i] = code[i];
  }
  bool operator==(const SStreamCodingInfo&) const = default;
};

struct STREAM_INFO {
  std::uint16_t StreamPID = 0;
  SStreamCodingInfo StreamCodingInfo;
  bool operator==(const STREAM_INFO&) const = default;
};

using CSiFolder = std::vector<STREAM_INFO>;

struct SProgramSequenceInfo {
  std::uint32_t SpnProgramSequenceStart = 0;
  std::uint16_t ProgramMapPid = 0x0100;
  std::uint8_t NumberOfStreams = 0;  // as read; the writer writes the size of Streams
  CSiFolder Streams;
  std::uint8_t NumberOfStreamGroups = 0;  // the byte after the count, carried
  bool operator==(const SProgramSequenceInfo&) const = default;
};

struct SProgramInfo {
  std::uint32_t Length = 0;  // as read; recomputed on writing
  std::uint8_t NumberOfProgramSequence = 1;  // as read; only the first sequence is held
  SProgramSequenceInfo ProgramSequenceInfo;  // written when NumberOfProgramSequence is not 0
  Bytes Tail;  // the further program sequences and any bytes the length leaves, as read
  std::uint8_t reserved = 0;
  bool operator==(const SProgramInfo&) const = default;
};

// ---------------------------------------------------------------------------------------------------
// CPI and the entry-point map.

// One entry point (an access unit where decoding may start), printed as "KeyPoint".
struct KEY_POINT_INFO {
  std::int32_t AuIndex = 0;       // access-unit index; 0 when read from a file
  std::uint64_t PTS = 0;          // 90 kHz, 33 bits
  std::uint32_t SpnStart = 0;     // source packet number of the access unit's first packet
  std::uint32_t SpnEnd = 0;       // number of its last packet; 0 when read from a file
  bool operator==(const KEY_POINT_INFO&) const = default;
};

using CKpiFolder = std::vector<KEY_POINT_INFO>;

// What a fine entry read from a file holds besides its key point.
struct SFineEntryAsRead {
  std::uint8_t IEndPositionOffset = 0;  // the size class an authoring program measured
  bool IsAngleChangePoint = false;
  bool CoarseStart = false;  // a coarse entry starts at this fine entry
  bool operator==(const SFineEntryAsRead&) const = default;
};

struct STREAM_PID_ENTRY {
  std::uint16_t StreamPid = 0;
  std::uint8_t EpStreamType = 1;              // 4 bits
  std::uint16_t NumberOfCoarseEntries = 0;    // as read; recomputed on writing
  std::uint32_t NumberOfFineEntries = 0;      // 18 bits; as read; recomputed on writing
  std::uint32_t EpMapForOneStreamStartAddress = 0;  // relative to the EpMap start; as read
  CKpiFolder KeyPoints;                       // one per fine entry, in order
  // One per key point when the map was read from a file: the writer then writes these classes and
  // starts a coarse entry where the file did (and wherever the coarse fields could not carry a key
  // point otherwise). Empty, or of another size than KeyPoints, for a map the multiplexer makes: the
  // classes are computed from SpnStart and SpnEnd and the coarse entries chosen anew.
  std::vector<SFineEntryAsRead> FineEntriesAsRead;
  std::uint16_t reserved = 0;                 // the 10 bits before EpStreamType
  bool operator==(const STREAM_PID_ENTRY&) const = default;
};

using CSpeFolder = std::vector<STREAM_PID_ENTRY>;

struct SCpi {
  // As read; 0 means no EpMap. The writer leaves the CPI empty (length 0) when the record has no
  // EP-map entry, or only entries without key points and Length 0 (a clip made without a map).
  std::uint32_t Length = 0;
  std::uint8_t CpiType = 1;    // 4 bits
  CSpeFolder EpMap;
  Bytes Tail;  // bytes the length leaves after the last stream's map
  std::uint16_t reserved = 0;  // the 12 bits before CpiType
  std::uint8_t EpMapReserved = 0;  // the byte before the EP-map entry count
  bool operator==(const SCpi&) const = default;
};

struct SClipMark {
  std::uint32_t Length = 0;  // as read; written as the size of Data
  Bytes Data;                // the block's content, carried
  bool operator==(const SClipMark&) const = default;
};

// Bytes between the end of one block and the start address of the next, as read (alignment padding
// some authoring programs leave), written back so the start addresses come out as they were.
struct SClpiGaps {
  Bytes SequenceInfo, ProgramInfo, Cpi, ClipMark, ExtensionData;
  bool operator==(const SClpiGaps&) const = default;
};

// ---------------------------------------------------------------------------------------------------
// Extension data (also the shape of the tool stamp block).

struct SExtDataEntry {
  std::uint16_t ExtDataEntry_ID1 = 0;
  std::uint16_t ExtDataEntry_ID2 = 0;
  std::uint32_t ExtDataStartAddress = 0;  // relative to the block start; recomputed on writing
  std::uint32_t ExtDataLength = 0;        // size of Data
  std::vector<std::uint8_t> Data;
  bool operator==(const SExtDataEntry&) const = default;
};

using CEdeFolder = std::vector<SExtDataEntry>;

struct SExtensionData {
  std::uint32_t Length = 0;  // as read; recomputed on writing
  std::uint32_t DataBlockStartAddress = 0;
  std::uint8_t NumberOfExtDataEntries = 0;  // as read; the writer writes the size of Entries
  CEdeFolder Entries;
  bool operator==(const SExtensionData&) const = default;
};

// IDs of the typed extension-data payloads.
inline constexpr std::uint16_t kExtIdPipMetaData1 = 1, kExtIdPipMetaData2 = 1;
inline constexpr std::uint16_t kExtIdToolData1 = 0x1000, kExtIdToolData2 = 1;

// Tool stamp: the tag "WQTX" and an extension-data block inside the ClipInfo reserved bytes.
struct SToolStamp {
  std::array<char, 4> Tag{'W', 'Q', 'T', 'X'};
  SExtensionData Block;
  bool operator==(const SToolStamp&) const = default;
};

// Typed payload of the tool stamp entry (ID1 0x1000, ID2 1): the texts, not scrambled.
struct SWqtxToolData {
  std::string Company;
  std::string Descriptor;
  bool operator==(const SWqtxToolData&) const = default;
};

// ---------------------------------------------------------------------------------------------------
// The whole file.

struct SClpiData {
  std::array<char, 4> TypeIndicator{'H', 'D', 'M', 'V'};
  std::array<char, 4> VersionNumber{'0', '2', '0', '0'};
  std::uint32_t SequenceInfoStartAddress = 0;
  std::uint32_t ProgramInfoStartAddress = 0;
  std::uint32_t CpiStartAddress = 0;
  std::uint32_t ClipMarkStartAddress = 0;
  std::uint32_t ExtensionDataStartAddress = 0;  // 0: no extension data
  std::array<std::uint8_t, 12> Reserved{};  // carried
  SClipInfo ClipInfo;
  SSequenceInfo SequenceInfo;
  SProgramInfo ProgramInfo;
  SCpi Cpi;
  SClipMark ClipMark;
  std::optional<SExtensionData> ExtensionData;
  SClpiGaps Gaps;
  // Default construction leaves it empty; new_clpi_data() (clpi.h) adds this build's stamp. The parser
  // sets it from the ClipInfo reserved bytes; the writer writes it there only when it differs from what
  // those bytes hold (a parsed file comes back unchanged).
  std::optional<SToolStamp> ToolStamp;

  // Convenience accessors of the first (and only held) sequences.
  const CSiFolder& streams() const { return ProgramInfo.ProgramSequenceInfo.Streams; }
  CSiFolder& streams() { return ProgramInfo.ProgramSequenceInfo.Streams; }
  const std::vector<STC_INFO>& stc_info() const { return SequenceInfo.AtcInfo.StcInfo; }
  std::vector<STC_INFO>& stc_info() { return SequenceInfo.AtcInfo.StcInfo; }
  const CSpeFolder& ep_map() const { return Cpi.EpMap; }
  CSpeFolder& ep_map() { return Cpi.EpMap; }

  bool operator==(const SClpiData&) const = default;
};

}  // namespace veld
