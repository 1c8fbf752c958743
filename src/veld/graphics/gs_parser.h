// SPDX-License-Identifier: GPL-3.0-or-later
// Indexer of graphics segment files for the multiplexer: one access unit per segment, with its size,
// file offset, type word and time stamps, and the stream's attributes from its first ICS or PCS.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "veld/base/progress.h"

namespace veld {

// One 28-byte index record.
struct SGsIndexRecord {
  std::uint32_t Size = 0;      // access-unit size: SegmentLength + 3
  std::uint64_t Offset = 0;    // file offset of the segment's type byte
  std::uint32_t TypeWord = 0;  // SegmentType in bits 0-7; ICS and PCS: CompositionState in bits 8-9;
                               // a PCS without composition objects: bit 16
  std::uint32_t Dts = 0;       // DTS + kGsTimeOffset, 0 when the segment has no DTS
  std::uint32_t Pts = 0;       // PTS + kGsTimeOffset
  std::uint32_t Reserved = 0;
  bool operator==(const SGsIndexRecord&) const = default;
};

// Time stamps of the index are moved by two maximal PES packets' worth of 90 kHz ticks.
inline constexpr std::uint32_t kGsTimeOffset = 131070;
inline constexpr std::uint32_t kGsTypeNoObjects = 1u << 16;

// Decoder model parameters of the two graphics stream kinds.
inline constexpr std::size_t kGsModelBufferSize = 1048576;
inline constexpr int kIgModelParameter = 5000;
inline constexpr int kPgModelParameter = 128;

struct SGsTrackInfo {
  std::uint8_t StreamCodingType = 0x90;  // 0x91 once an ICS has been seen
  bool HasVideoDescriptor = false;
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  std::uint8_t FrameRate = 0;
  std::uint8_t FrameRateReserved = 0;
  bool StreamModel = false;  // from the first ICS
  std::uint64_t AccessUnits = 0;
  std::uint64_t TotalBytes = 0;
};

class CGsParser {
 public:
  enum Result : int {
    kEnd = 0,        // the whole file was indexed
    kStopped = 1,    // a partial tag at the end, or cancelled through the progress
    kBadTag = 2,     // not "IG" or "PG"
    kBadHeader = 8,  // a short segment header or body
    kOpenFailed = 9,
  };
  // Reports the position every kProgressStep bytes.
  static constexpr std::int64_t kProgressStep = 4194304;

  // Walks the segment file from its start; progress (optional) receives percentages and can cancel.
  int Parse(const std::filesystem::path& path, Progress* progress = nullptr);

  const std::vector<SGsIndexRecord>& Index() const { return index_; }
  const SGsTrackInfo& Info() const { return info_; }
  bool IsIg() const { return info_.StreamCodingType == 0x91; }
  const std::string& Error() const { return error_; }

 private:
  std::vector<SGsIndexRecord> index_;
  SGsTrackInfo info_;
  std::string error_;
};

}  // namespace veld
