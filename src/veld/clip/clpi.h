// SPDX-License-Identifier: GPL-3.0-or-later
// Clip information file codec (CLIPINF/nnnnn.clpi): parse a whole file from memory into SClpiData,
// write SClpiData into a new file image, and the clip objects that own the parsed records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/rip_track.h"

namespace veld {

// Parses a whole clip information file. Returns the number of bytes accounted for (the extension data's
// end, or the ClipMark's end when there is none); 0 or less when a structure runs past the end of the
// buffer, with the reason in *error when given. `out` is reset first; on failure its content is
// unspecified. Neither the type indicator nor the version is checked. Bytes that the lengths of the
// SequenceInfo and ProgramInfo blocks leave after their content are noted in *unread (when given).
int parse_clpi(ByteSpan file, SClpiData& out, std::string* error = nullptr, CUnreadBytes* unread = nullptr);

// Writes a whole clip information file (one writer per block, in clpi_write.cpp). Every length, count
// and start address is recomputed; everything else the parser kept is written back, so that
// write_clpi(parse) of a file gives its bytes. In a CPI the multiplexer made (Length 0), EP-map
// entries without key points are left out. A list or count that does not fit its field (more than 255
// streams, STC sequences or EP-map entries, 2^18 - 1 fine or 2^16 - 1 coarse entries) is a
// std::length_error naming the element; nothing is cut. The buffer grows with the record.
Bytes write_clpi(const SClpiData& data);

// A fresh record as the multiplexer starts from: default values plus this build's tool stamp.
SClpiData new_clpi_data();

// ---------------------------------------------------------------------------------------------------
// Parts of the codec, exposed for the playlist codec (same extension-data layout) and for tests.

// Extension-data block; its addresses are relative to the span's first byte. Returns the block size
// (length + 4); throws ParseError when it runs past the span.
std::size_t parse_ext_data(ByteSpan block, SExtensionData& out);
// The extension data of a whole file (clip information, index, movie objects) at its start address:
// nothing when the address is 0, otherwise the block is parsed into out. Returns the end of the
// block in the file, or consumed unchanged when there is none; throws ParseError when the address or
// the block lies beyond the file.
std::size_t parse_file_ext_data(ByteSpan file, std::uint32_t start, std::optional<SExtensionData>& out,
                                std::size_t consumed);
// Appends the block (12-byte header, entries, 4-byte aligned data) and returns its size. With
// entries empty only the 4-byte zero length is written.
std::size_t write_ext_data(const SExtensionData& ext, Bytes& out);
// Size write_ext_data would write.
std::size_t ext_data_size(const SExtensionData& ext);

// EP map class of the distance between an entry point's first and last packet (1..7).
std::uint8_t i_end_position_offset(const KEY_POINT_INFO& kp);

// Number of coarse entries the writer makes for these key points.
std::size_t coarse_entry_count(const CKpiFolder& key_points);

// The tool stamp held by ClipInfo reserved bytes: none without the tag or when the block does not fit.
std::optional<SToolStamp> parse_tool_stamp(const SClipInfo& clip_info);

// The maker named in this program's tool stamp.
inline constexpr std::string_view kToolMaker = "VELD";

// The tool text scrambling (byte i XOR byte i mod 4 of "QFKM"); applying it twice gives the input.
std::string wqtx_scramble(std::string_view text);
// Serialised tool text: length byte, scrambled company, length byte, scrambled descriptor.
Bytes serialise_tool_data(const SWqtxToolData& tool);
// Reads a serialised tool text; std::nullopt when it runs past the bytes.
std::optional<SWqtxToolData> parse_tool_data(ByteSpan bytes);
// "Company: ...\nDescriptor: ...\n", each line prefixed by indent.
std::string print_tool_data(const SWqtxToolData& tool, std::string_view indent = "");

// Builds a tool stamp for application `name` at `version`: maker kToolMaker, descriptor "name version"
// ("VELD 0.1.0"); the descriptor is cut so that the stamp fits the 124 bytes after the tag.
SToolStamp make_tool_stamp(std::string_view name, std::string_view version);
// The tool text of a stamp, when it holds one (entry ID1 0x1000, ID2 1).
std::optional<SWqtxToolData> tool_data_of(const SToolStamp& stamp);
// Size of the tool stamp (tag + block) when written.
std::size_t tool_stamp_size(const SToolStamp& stamp);

// Room for the tool stamp inside the ClipInfo reserved bytes (128, of which the tag takes 4).
inline constexpr std::size_t kToolStampRoom = 128;

// ---------------------------------------------------------------------------------------------------
// Clip objects.

// One clip of the disc: its number, files and parsed clip information.
class CClpiObject {
 public:
  int id = -1;  // the clip number (the five digits of the file names)
  std::string name;
  std::filesystem::path clpi_path;
  std::filesystem::path stream_path;  // the .m2ts
  SClpiData data;
  // One track per stream of the program information, rebuilt by parse().
  SRipTracks rip_tracks;
  // First STC sequence's StartPTS and EndPTS doubled (90 kHz), stored by parse().
  std::uint64_t start_time = 0;
  std::uint64_t end_time = 0;
  // Set after the clip has been remultiplexed (90 kHz).
  std::uint64_t new_start_time = 0;
  std::uint64_t new_end_time = 0;

  // Parses the file's bytes into data, builds the rip tracks and stores the start and end time; result as
  // parse_clpi. On failure the tracks are empty and the times 0.
  int parse(ByteSpan file, std::string* error = nullptr, CUnreadBytes* unread = nullptr);
};

// The clips of a disc, in ascending clip number.
class CCofObject {
 public:
  // Appends a clip named "Clip#<id>" with an id one higher than the last clip's (0 for the first).
  CClpiObject& add_clip();
  // Inserts a clip keeping the ascending order of ids.
  CClpiObject& insert(std::unique_ptr<CClpiObject> clip);
  CClpiObject* find(int id);
  const CClpiObject* find(int id) const;
  std::size_t size() const { return clips_.size(); }
  CClpiObject& operator[](std::size_t i) { return *clips_[i]; }
  const CClpiObject& operator[](std::size_t i) const { return *clips_[i]; }
  void clear() { clips_.clear(); }

 private:
  std::vector<std::unique_ptr<CClpiObject>> clips_;
};

}  // namespace veld
