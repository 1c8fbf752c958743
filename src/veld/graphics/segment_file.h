// SPDX-License-Identifier: GPL-3.0-or-later
// Segment files: the exchange format of one graphics stream between the demultiplexer, the menu code and
// the multiplexer. Each segment is framed as
//   tag "IG" or "PG" (2) | PTS (4) | DTS (4) | SegmentType (1) | SegmentLength (2) | body
// with nothing before the first segment and nothing after the last. Tags are read in any case and
// written upper case; a display set is the run of segments up to and including an END.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "veld/base/bytes.h"
#include "veld/graphics/gs_data.h"

namespace veld {

inline constexpr std::size_t kSegmentFrameHeader = 13;  // tag, PTS, DTS, type, length

enum ReadDisplaySetResult : int {
  kDisplaySetComplete = 0,  // an END closed the display set
  kDisplaySetFileEnded = 1,  // the file ended before a tag
  kDisplaySetError = 2,
};

// Names a position of the segment file in an error text. Without one, positions are "offset N" of the
// segment file; the reader of a clip's IG stream names the byte of the clip file instead.
using SegmentOffsetNamer = std::function<std::string(std::uint64_t offset)>;

// Reads one segment (after its tag) into ds; false with the reason in *error on a short header or
// body, an unknown type, a second PCS, WDS or END, or a malformed body. *type receives the type.
bool ReadSegment(ByteReader& in, CDsData& ds, std::uint8_t* type, std::string* error = nullptr,
                 const SegmentOffsetNamer* namer = nullptr);
// Reads the segments of one display set, up to and including its END.
int ReadDisplaySet(ByteReader& in, CDsData& ds, std::string* error = nullptr,
                   const SegmentOffsetNamer* namer = nullptr);

// The segments after the last complete display set of a stream that ended before their END: where they
// start, how many whole segments there are, and whether the stream ends inside one more.
struct SIncompleteDisplaySet {
  std::uint64_t offset = 0;
  std::size_t segments = 0;
  bool cut_segment = false;
};
// Reads a segment file as its bytes arrive, in pieces of any size: every display set is parsed as soon as
// its END has arrived and is appended to one epoch (and handed to the listener, when there is one). The
// result is the one ReadGraphicsStream gives for the whole file: the same display sets with the same file
// offsets, the same errors, and segments after the last END dropped (incomplete() tells about them).
class CGraphicsStreamReader {
 public:
  using Listener = std::function<void(const CDsData&)>;
  explicit CGraphicsStreamReader(Listener listener = {}) : listener_(std::move(listener)) {}

  // Positions in error texts are named by namer from now on.
  void set_offset_namer(SegmentOffsetNamer namer) { namer_ = std::move(namer); }

  // Takes the next bytes of the file; false once the data is malformed (error() tells why).
  bool Feed(ByteSpan data);
  // The file has ended: checks the bytes after the last complete display set and moves the display sets
  // read into stream (cleared first; summary taken). Whole segments after the last END, and a last
  // segment the file cuts off, are an incomplete display set that is left out. false on malformed data
  // or when no display set was complete; stream is then empty.
  bool Finish(CGsData& stream);
  const std::string& error() const { return error_; }
  std::size_t display_sets() const { return epoch_.DisplaySets.size(); }
  // After Finish: the display set that the file ended inside, if any.
  const std::optional<SIncompleteDisplaySet>& incomplete() const { return incomplete_; }

 private:
  // Parses every display set that ends within data (which starts at file offset base); returns the bytes
  // they took.
  std::size_t ParseComplete(ByteSpan data, std::uint64_t base);

  std::string where(std::uint64_t offset) const;

  Listener listener_;
  SegmentOffsetNamer namer_;
  std::optional<SIncompleteDisplaySet> incomplete_;
  Bytes pending_;            // bytes after the last complete display set
  std::uint64_t offset_ = 0;  // file offset of pending_[0]
  CEpochData epoch_;
  std::string error_;
  bool failed_ = false;
};

// Reads a whole segment file into one epoch of stream (which is cleared first). Succeeds when the data
// ended after at least one complete display set; segments after the last END are dropped. On failure
// nothing of the stream survives.
bool ReadGraphicsStream(ByteSpan data, CGsData& stream, std::string* error = nullptr);
bool ReadGraphicsStream(const std::filesystem::path& path, CGsData& stream, std::string* error = nullptr);

// Appends one display set in the writer's order: PCS (with the display set's state), ICS, WDS, PDS,
// ODS, END. false when a segment cannot be written (a WDS of more than two windows, a body over
// 65,535 bytes); out is then unchanged.
bool WriteDisplaySet(Bytes& out, CDsData& ds, std::string* error = nullptr);
// Checks every display set of each epoch, then writes them in order. false on the first failure.
bool WriteGraphicsStream(Bytes& out, CGsData& stream, std::string* error = nullptr);
// Writes the stream to a file; the file is only created when the whole stream could be composed.
bool WriteGraphicsStream(const std::filesystem::path& path, CGsData& stream, std::string* error = nullptr);

}  // namespace veld
