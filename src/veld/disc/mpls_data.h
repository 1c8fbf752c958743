// SPDX-License-Identifier: GPL-3.0-or-later
// Plain data of a Blu-ray playlist file (PLAYLIST/nnnnn.mpls, type indicator "MPLS").
//
// Field names are the printable names of the format. Reserved bytes and bits, and the bytes a block's
// length leaves after the content we interpret (its Tail), are carried so that a read followed by a
// write gives back the same bytes. A default-constructed record holds none of them and is written with
// zeros there. The parser and the writer live in mpls.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"

namespace veld {

// The 64-bit user-operation mask, kept as its raw bytes (most significant bit of byte 0 first:
// MenuCallMask, TitleSearchMask, ChapterSearchMask, ...).
struct UO_MASK_TABLE {
  std::array<std::uint8_t, 8> bytes{};

  // Bit i counted from the most significant bit of the first byte.
  bool bit(unsigned i) const { return i < 64 && (bytes[i / 8] >> (7 - i % 8)) & 1; }
  void set_bit(unsigned i, bool on);
  // "MenuCallMask", ... for bit i; "reserved" for the reserved positions.
  static std::string_view bit_name(unsigned i);
  bool operator==(const UO_MASK_TABLE&) const = default;
};

enum class PlaylistPlaybackType : std::uint8_t { kSequential = 1, kRandom = 2, kShuffle = 3 };
std::string_view playback_type_name(std::uint8_t type);       // "Sequential", "Random", "Shuffle"
std::string_view connection_condition_name(std::uint8_t cc);  // "Non seamless (1)", ... "Reserved"
std::string_view still_mode_name(std::uint8_t mode);          // "No still", "Finite still", ...
std::string_view sub_path_type_name(std::uint8_t type);
std::string_view mark_type_name(std::uint8_t type);           // "Entry mark", "Link point"

// AppInfoPlayList, always at file offset 40.
struct APP_INFO_PLAYLIST {
  std::uint8_t reserved1 = 0;  // byte 4, carried
  std::uint8_t PlaylistPlaybackType = 1;
  std::uint16_t PlaybackCount = 0;
  UO_MASK_TABLE UoMaskTable;
  bool PlaylistRandomAccessFlag = false;
  bool AudioMixAppFlag = false;
  bool LosslessMayBypassMixerFlag = false;
  std::uint8_t FlagsReserved = 0;  // the low 5 bits of the flag byte, carried
  std::uint8_t reserved2 = 0;      // byte 17, carried
  Bytes Tail;                      // bytes the length leaves after byte 17
  bool operator==(const APP_INFO_PLAYLIST&) const = default;
};

// StreamEntry: where a stream of the STN table is found. Types 1 (main clip), 2 (sub-path clip) and 3
// (in-mux sub-path) have a 9-byte body; any other type is written back with the bytes it was read with.
struct STREAM_ENTRY {
  std::uint8_t Type = 1;
  std::uint16_t RefToStreamPID_OfMainClip = 0;  // types 1 and 3
  std::uint8_t RefToSubPathID = 0;              // types 2 and 3
  std::uint8_t RefToSubClipEntryID = 0;         // type 2
  std::uint16_t RefToStreamPID_OfSubClip = 0;   // type 2
  // The bytes after the type as read (8 for the known types); the bytes not taken by the fields of the
  // type are written back from here. Empty in a new entry: types 1..3 are then written with 8.
  Bytes raw;
  bool operator==(const STREAM_ENTRY&) const = default;
};

// StreamAttributes: coding type and the attributes that depend on it.
struct STREAM_ATTRIBUTES {
  std::uint8_t StreamCodingType = 0;
  std::uint8_t VideoFormat = 0;            // video
  std::uint8_t FrameRate = 0;              // video
  std::uint8_t AudioPresentationType = 0;  // audio
  std::uint8_t SamplingFrequency = 0;      // audio
  std::uint8_t CharacterCode = 0;          // text subtitle
  std::string Language;                    // audio, graphics and text subtitle: 3 characters
  // The bytes after the coding type as read (4 or more for the known classes, any number for other
  // types); the bytes that no field holds are written back from here. Empty in a new record: a known
  // class is then written with 4 bytes, another type with none.
  Bytes raw;
  std::uint8_t DynamicRangeType = 0;       // HEVC video (0x24): byte 3, high 4 bits
  std::uint8_t ColorSpace = 0;             // HEVC video (0x24): byte 3, low 4 bits
  bool operator==(const STREAM_ATTRIBUTES&) const = default;
};

enum class StreamClass { kVideo, kAudio, kGraphics, kTextSubtitle, kOther };
StreamClass stream_class(std::uint8_t coding_type);

// A reference list (NumberOfRefEntries, RefID...) of the secondary stream entries.
struct REF_LIST {
  std::uint8_t reserved = 0;  // the byte after the count, carried
  std::vector<std::uint8_t> RefID;
  bool operator==(const REF_LIST&) const = default;
};

// PRIMARY_STREAM_ENTRY, SECONDARD_AUDIO_STREAM_ENTRY and SECONDARD_VIDEO_STREAM_ENTRY share this shape;
// the reference lists exist only in the secondary kinds.
struct PRIMARY_STREAM_ENTRY {
  STREAM_ENTRY StreamEntry;
  STREAM_ATTRIBUTES StreamAttributes;
  bool operator==(const PRIMARY_STREAM_ENTRY&) const = default;
};
struct SECONDARD_AUDIO_STREAM_ENTRY {
  STREAM_ENTRY StreamEntry;
  STREAM_ATTRIBUTES StreamAttributes;
  REF_LIST SecondardAudioStreamCombInfo;  // primary audio streams it mixes with
  bool operator==(const SECONDARD_AUDIO_STREAM_ENTRY&) const = default;
};
struct SECONDARD_VIDEO_STREAM_ENTRY {
  STREAM_ENTRY StreamEntry;
  STREAM_ATTRIBUTES StreamAttributes;
  REF_LIST SecondardVideoSecondardAudioStreamCombInfo;
  REF_LIST SecondardVideoPiP_PG_TextST_StreamCombInfo;
  bool operator==(const SECONDARD_VIDEO_STREAM_ENTRY&) const = default;
};

using CPseFolder = std::vector<PRIMARY_STREAM_ENTRY>;
using CSaseFolder = std::vector<SECONDARD_AUDIO_STREAM_ENTRY>;
using CSvseFolder = std::vector<SECONDARD_VIDEO_STREAM_ENTRY>;

// StnTable: the streams a play item may present, in the file's group order. Byte 11 counts the Dolby
// Vision enhancement-layer entries, which follow the secondary video entries.
struct STN_TABLE {
  std::array<std::uint8_t, 2> reserved1{};  // bytes 2..3, carried
  std::array<std::uint8_t, 4> reserved2{};  // bytes 12..15, carried
  CPseFolder PrimaryVideoStreamEntries;
  CPseFolder PrimaryAudioStreamEntries;
  CPseFolder PrimaryPG_TextST_StreamEntries;
  CPseFolder PrimaryPiP_TextST_StreamEntries;
  CPseFolder InteractiveGraphicsStreamEntries;
  CSaseFolder SecondaryAudioStreamEntries;
  CSvseFolder SecondaryVideoStreamEntries;
  CPseFolder DolbyVisionStreamEntries;
  Bytes Tail;  // bytes the length leaves after the entries
  bool operator==(const STN_TABLE&) const = default;
};

// Calls f on each of the seven entry lists of an STN table (const or not), in the file's group order.
// The Dolby Vision enhancement-layer entries are not among them: they name no stream of their own to
// present.
template <typename Table, typename F>
void ForEachStnGroup(Table& t, F&& f) {
  f(t.PrimaryVideoStreamEntries);
  f(t.PrimaryAudioStreamEntries);
  f(t.PrimaryPG_TextST_StreamEntries);
  f(t.PrimaryPiP_TextST_StreamEntries);
  f(t.InteractiveGraphicsStreamEntries);
  f(t.SecondaryAudioStreamEntries);
  f(t.SecondaryVideoStreamEntries);
}

struct ANGLE_CLIP_ENTRY {
  std::string ClipInformationFileName = "00000";  // 5 characters
  std::string ClipCodecIdentifier = "M2TS";       // 4 characters
  std::uint8_t RefToSTC_ID = 0;
  bool operator==(const ANGLE_CLIP_ENTRY&) const = default;
};
using CAceFolder = std::vector<ANGLE_CLIP_ENTRY>;

struct PLAY_ITEM {
  std::string ClipInformationFileName = "00000";
  std::string ClipCodecIdentifier = "M2TS";
  bool IsMultiAngle = false;
  std::uint8_t ConnectionCondition = 1;
  std::uint8_t RefToSTC_ID = 0;
  std::uint32_t InTime = 0;   // 45 kHz
  std::uint32_t OutTime = 0;  // 45 kHz
  UO_MASK_TABLE UoMaskTable;
  bool PlayItemRandomAccessFlag = false;
  std::uint8_t StillMode = 0;
  std::uint16_t StillTime = 0;  // meaningful only when StillMode is 1; written back as read
  // Angle block (written when IsMultiAngle is set): the other angles' clips.
  bool IsDifferentAudios = false;
  bool SeamlessAngleChange = false;
  CAceFolder Angles;
  STN_TABLE StnTable;
  Bytes Tail;  // bytes the length leaves after the STN table
  std::uint8_t reserved1 = 0;      // byte 11, carried
  std::uint8_t FlagsReserved = 0;  // bits 7..5 of byte 12, carried
  std::uint8_t RandomAccessReserved = 0;  // the low 7 bits of byte 30, carried
  std::uint8_t AngleFlagsReserved = 0;  // bits 7..2 of the angle flag byte, carried
  bool operator==(const PLAY_ITEM&) const = default;
};
using CPlayItems = std::vector<PLAY_ITEM>;

struct SUB_PLAY_ITEM {
  std::string ClipInformationFileName = "00000";
  std::string ClipCodecIdentifier = "M2TS";
  std::uint8_t ConnectionCondition = 1;
  bool IsMultiClipEntries = false;
  std::uint8_t RefToSTC_ID = 0;
  std::uint32_t InTime = 0;
  std::uint32_t OutTime = 0;
  std::uint16_t SyncPlayItemID = 0;
  std::uint32_t SyncStartPTS_OfPlayItem = 0;
  // With IsMultiClipEntries: the bytes after the fixed fields (the entry count, a reserved byte and the
  // further clip entries), carried whole and written back. Without it, the bytes the length leaves
  // after the fixed fields.
  Bytes MultiClipEntries;
  std::array<std::uint8_t, 3> reserved{};  // bytes 11..13, carried
  std::uint8_t FlagsReserved = 0;          // bits 7..5 of byte 14, carried
  bool operator==(const SUB_PLAY_ITEM&) const = default;
};
using CSpiFolder = std::vector<SUB_PLAY_ITEM>;

struct SUB_PATH {
  std::uint8_t SubPathType = 2;
  bool IsRepeatSubPath = false;
  CSpiFolder SubPlayItems;
  Bytes Tail;  // bytes the length leaves after the sub-play items
  // Bytes 4 and 6, bits 7..1 of byte 7, and byte 8, carried.
  std::array<std::uint8_t, 4> reserved{};
  bool operator==(const SUB_PATH&) const = default;
};
using CSubPaths = std::vector<SUB_PATH>;

struct PLAY_MARK {
  std::uint8_t MarkType = 1;
  std::uint16_t RefToPlayItemID = 0;
  std::uint32_t MarkTimeStamp = 0;  // 45 kHz
  std::uint16_t EntryES_PID = 0xFFFF;
  std::uint32_t Duration = 0;
  std::uint8_t reserved = 0;  // byte 0, carried
  bool operator==(const PLAY_MARK&) const = default;
};
using CPlayMarks = std::vector<PLAY_MARK>;

// The whole playlist file. A default-constructed record is a new, empty playlist.
struct SMplsData {
  std::string TypeIndicator = "MPLS";  // 4 characters, written back as read
  std::string VersionNumber = "0200";  // 4 characters, written back as read
  // The start addresses as read (the writer computes its own).
  std::uint32_t PlayListStartAddress = 0;
  std::uint32_t PlayListMarkStartAddress = 0;
  std::uint32_t ExtensionDataStartAddress = 0;
  std::array<std::uint8_t, 20> reserved{};  // carried
  APP_INFO_PLAYLIST AppInfoPlayList;
  std::uint16_t PlayListReserved = 0;  // the 2 bytes after the PlayList length, carried
  CPlayItems PlayItems;
  CSubPaths SubPaths;
  Bytes PlayListTail;  // bytes the PlayList length leaves after the sub-paths
  CPlayMarks PlayListMarks;
  Bytes PlayListMarkTail;  // bytes the PlayListMark length leaves after the marks
  // Bytes between the end of one block and the start address of the next (alignment padding some
  // authoring programs leave), written back so that the start addresses come out as read.
  Bytes GapBeforePlayList;
  Bytes GapBeforeMarks;
  Bytes GapBeforeExtension;
  // Extension data in the layout shared with clip information files; its entries are carried as
  // opaque blocks.
  std::optional<SExtensionData> ExtensionData;
  bool operator==(const SMplsData&) const = default;
};

}  // namespace veld
