// SPDX-License-Identifier: GPL-3.0-or-later
// Demultiplexing a clip stream file: finding its PMT, its time base, and pouring the payload of selected
// PIDs into track files. The file is read in 30 MiB blocks into one buffer per run; per source packet only
// the PID is looked at, and only packets of selected PIDs are decoded and copied.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/base/progress.h"
#include "veld/clip/track_file.h"
#include "veld/ts/psi.h"

namespace veld {

inline constexpr std::size_t kDemuxBlockSize = 0x1E00000;  // 30 MiB, 163,840 source packets
inline constexpr std::size_t kPmtSearchBlockSize = 19200;  // 100 source packets
// After the first block (which gives the time base), blocks are read in pieces of this size into the head
// of the block buffer, each scanned right after it is read, so that the data is still in the cache.
inline constexpr std::size_t kDemuxScanPiece = 1024 * 192;  // 192 KiB, 160 pieces per block
static_assert(kDemuxBlockSize % kDemuxScanPiece == 0);

// Number of whole source packets in a block; a partial packet at the end is ignored.
inline std::size_t whole_packets(std::size_t bytes) { return bytes / kSourcePacketSize; }

// The first complete PMT on PID 0x0100, read from the file's current position; the position is restored.
std::optional<SPmt> find_pmt(File& file);
// The PCR base of the first packet on PID 0x1001 whose adaptation field carries one.
std::optional<std::uint64_t> find_first_pcr(ByteSpan block);

struct SFirstTimeStamp {
  std::uint64_t pts = 0;
  std::uint16_t pid = 0;
};
// The PTS and PID of the first elementary-stream packet that starts a PES packet with a PTS.
std::optional<SFirstTimeStamp> find_first_pes_pts(ByteSpan block);
// The time base of a clip from its first block: the first elementary-stream PTS, or, when that is on a
// graphics or text PID, the first PCR; 0 without either.
std::uint64_t find_time_base(ByteSpan block);

struct STrackInfo {
  std::uint8_t coding_type = 0;
  // Receives the packets with TransportPriority 1 (or all packets without a second file).
  std::unique_ptr<STrackFile> track;
  // When present, receives the packets with TransportPriority 0.
  std::unique_ptr<STrackFile> low_priority_track;
};

// PID -> STrackInfo, in insertion order, with a constant-time lookup for the scan.
class CTrackInfoMap {
 public:
  CTrackInfoMap() { index_.fill(-1); }
  // Adds (or replaces) the entry of a PID.
  STrackInfo& add(std::uint16_t pid, STrackInfo info);
  STrackInfo* find(std::uint16_t pid) {
    const int i = index_[pid & 0x1FFF];
    return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
  }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  std::vector<std::pair<std::uint16_t, STrackInfo>>& entries() { return entries_; }

 private:
  std::array<std::int16_t, 8192> index_;
  std::vector<std::pair<std::uint16_t, STrackInfo>> entries_;
};

enum class DemuxResult { kOk = 0, kCancelled = 1, kReadError = 2 };

// Sees every source packet of a demultiplexing pass, in file order and in pieces small enough to still be
// in the cache when the pass reads them, so that a later step needs no pass of its own over the clip.
class CPacketObserver {
 public:
  virtual ~CPacketObserver() = default;
  // `count` source packets (192 bytes each) from source packet number first_spn on.
  virtual void observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) = 0;
};

// Scans the whole file from its start and sends the payload of every mapped PID to its track file (with
// the PES header of packets that start one and the clip's time base). Progress: title "Demuxing", status
// the file's path, the percentage before each block. Track files are flushed at the end. *error receives
// the system's text on a read error.
// *time_base (when given) receives the clip's time base (90 kHz) that the graphics track files rebase to.
// observer (when given) sees every source packet of the file.
DemuxResult demux_to_track_files(CTrackInfoMap& map, File& file, Progress& progress, std::string* error = nullptr,
                                 std::uint64_t* time_base = nullptr, CPacketObserver* observer = nullptr);

}  // namespace veld
