// SPDX-License-Identifier: GPL-3.0-or-later
// A new track read from a raw stream file: here a graphics stream in its segment file (the rebuilt IG
// stream of a clip). The file is analysed once into an index of its segments (one access unit each);
// the analysis is kept in a stream-information cache file beside it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/file.h"
#include "veld/base/progress.h"
#include "veld/graphics/gs_parser.h"
#include "veld/mux/mux_track.h"
#include "veld/mux/packetiser.h"

namespace veld {

// Where a new track's stream comes from.
struct CSource {
  std::filesystem::path path;
  std::array<char, 3> language{'z', 'h', 'o'};  // ISO 639-2 code written into the PMT and clip information
};

// Time offset of new tracks (90 kHz): the segment index already moves record times by 131,070, so a
// record time r lands at r + 54,000,000, the 600-second origin of the new clip.
inline constexpr std::uint32_t kRawTrackTimeOffset = 53868930;

// ---- stream-information cache ---------------------------------------------------------------------------

// The analysis of a graphics segment file as kept in "<file>.rsif".
struct SStreamInfoCache {
  std::uint8_t stream_type = 0;
  SGsTrackInfo info;
  std::vector<SGsIndexRecord> index;
  std::uint64_t file_size = 0;
  std::int64_t file_time = 0;  // last-write time of the stream file, nanoseconds since the epoch
};

// The cache file's path: the stream file's full name plus ".rsif".
std::filesystem::path StreamInfoCachePath(const std::filesystem::path& stream_file);
Bytes WriteStreamInfoCache(const SStreamInfoCache& cache);
// Reads a cache; nothing when it is short, malformed, or holds no unit.
std::optional<SStreamInfoCache> ReadStreamInfoCache(ByteSpan data, std::string* error = nullptr);
// The cache of a stream file when one exists (beside the file, else in the temporary folder) and is
// still valid for the file: same size and last-write time.
std::optional<SStreamInfoCache> LoadStreamInfoCache(const std::filesystem::path& stream_file);
// Writes the cache beside the stream file, or in the temporary folder when that fails. false when
// neither could be written (the cache is an optimisation: the caller goes on).
bool SaveStreamInfoCache(const std::filesystem::path& stream_file, const SStreamInfoCache& cache);

// ---- the track ----------------------------------------------------------------------------------------

class SRawTrack : public SMuxTrack {
 public:
  // Analyses the source (or takes its valid cache) and opens a track on it. nullptr with the reason in
  // *error when the file cannot be read or is not a graphics segment file.
  static std::unique_ptr<SRawTrack> Open(const CSource& source, Progress* progress, std::string* error);

  std::string describe() const override;
  bool reset(std::string* error) override;
  void close() override;
  const SMuxAu* current() const override { return ended ? nullptr : &au_; }
  bool next_access_unit() override;
  int make_packet(std::uint8_t* out) override;
  std::uint8_t stream_type() const override { return stream_type_; }
  std::uint32_t frame_duration() const override { return 0; }
  STREAM_INFO clip_stream_entry() const override;
  SEsInfo pmt_entry() const override;
  std::uint64_t data_size() const override { return info_.TotalBytes; }
  KEY_POINT_INFO* key_point(std::int64_t index) override;
  std::optional<STREAM_PID_ENTRY> finish_ep_map() override;

  const CSource& source() const { return source_; }
  const std::vector<SGsIndexRecord>& index() const { return index_; }
  // The track's own offset (90 kHz), added to kRawTrackTimeOffset; 0 unless the caller moves the stream.
  std::int64_t own_offset = 0;

 private:
  SRawTrack() = default;

  CSource source_;
  std::uint8_t stream_type_ = 0;
  SGsTrackInfo info_;
  std::vector<SGsIndexRecord> index_;
  File file_;
  std::int64_t unit_ = -1;
  SMuxAu au_;
  Bytes bytes_;  // the current unit
  std::size_t sent_ = 0;
  bool pts_and_dts_ = false;
  CPacketiser packetiser_{0, 0};
  CKpiFolder key_points_;
};

}  // namespace veld
