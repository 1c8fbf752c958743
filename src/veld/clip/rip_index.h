// SPDX-License-Identifier: GPL-3.0-or-later
// Indexing the kept elementary streams of a clip into access units, and replaying them packet by packet
// with a new PID and shifted time stamps.
//
// The index is compact (rip_index_data.h). Replay reads the
// clip through one sliding window shared by all tracks of the clip, so that each byte of the file is read
// about once however the tracks' packets interleave.
#pragma once

#include <array>
#include <filesystem>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/base/mapped_guard.h"
#include "veld/base/progress.h"
#include "veld/ts/ts_packet.h"
#include "veld/clip/rip_index_data.h"
#include "veld/clip/rip_track.h"
#include "veld/ts/transport.h"
#include "veld/ts/psi.h"

namespace veld {

// Key information of an access unit from the payload of its first packet, by coding type.
std::uint32_t access_unit_key_info(std::uint8_t coding_type, ByteSpan payload);

enum class IndexResult { kOk = 0, kCancelled = 1, kReadError = 2 };

// Indexes the kept tracks of a clip. Packet counts are gathered only when no track has one yet. The PMT
// is stored in tracks.pmt and each track takes the entry of its PID. Progress: title "Parsing",
// status the path, the percentage before each 30 MiB block. A cancellation empties the indexes (and the
// counts when they were counted here).
// The PMT is stored with the tracks.
// A clip of split_packets source packets or more is scanned in two halves on two threads (the result is
// the same as one scan's); tests lower the threshold.
inline constexpr std::uint64_t kIndexSplitPackets = 2 * (0x1E00000 / 192);
IndexResult index_kept_tracks(SRipTracks& tracks, File& file, Progress& progress, std::string* error = nullptr,
                              std::uint64_t split_packets = kIndexSplitPackets);

// The packets of a clip stream for the replay of all tracks of the clip: the file mapped into memory, so
// that a packet is copied once, from the page cache straight into the new file's buffer. Readers report
// how far they are; the pages that every reader has passed are let go again (they stay in the page cache
// but leave the process's resident memory), so that a long clip does not fill it.
class CClipPacketSource {
 public:
  explicit CClipPacketSource(File& file);
  ~CClipPacketSource();
  CClipPacketSource(const CClipPacketSource&) = delete;
  CClipPacketSource& operator=(const CClipPacketSource&) = delete;

  // false when the file could not be mapped (error() says why).
  bool ok() const { return data_ != nullptr || size_ == 0; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }
  // The 192-byte source packet number spn, or null when the file ends before it.
  const std::uint8_t* packet(std::uint64_t spn);
  // Asks for the header of packet spn ahead of its use (nothing when the file ends before it). Always
  // inlined, as a call that only prefetches is dropped by GCC.
  [[gnu::always_inline]] void prefetch(std::uint64_t spn) const {
    if (data_ && spn < packet_count()) __builtin_prefetch(data_ + spn * kSourcePacketSize);
  }
  std::uint64_t packet_count() const { return size_ / kSourcePacketSize; }
  // Copies the source packets of the ranges, in order, to out (192 bytes each). false when the file ends
  // before them or a range is malformed.
  bool copy_packets(std::span<const SPacketRange> ranges, std::uint8_t* out);
  // Bytes of packets handed out so far.
  std::uint64_t bytes_read() const { return bytes_read_; }
  // The file became shorter than the mapping while it was read (another program cut it): the packets
  // handed out since may hold zeros. Readers check this after each block and then fail with
  // shortened_error(), which names the file and both lengths.
  bool shortened() const { return guard_ && guard_->shortened(); }
  std::string shortened_error() const;

  // Maps the pages of packets [first, first + count) in one system call before they are read: a file in
  // the page cache then costs one call per block instead of a page fault per 64 KiB. Only a hint.
  void populate(std::uint64_t first, std::uint64_t count) const;
  // A reader says that it needs no packet before spn any more.
  int add_reader();
  void reader_at(int reader, std::uint64_t spn);

 private:
  void release();

  std::filesystem::path path_;
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::string error_;
  std::uint64_t bytes_read_ = 0;
  std::vector<std::uint64_t> readers_;  // the first packet each reader still needs
  std::uint64_t released_ = 0;          // bytes before this are let go
  std::uint64_t next_check_ = 0;        // packet number at which the readers are looked at again
  std::unique_ptr<CMappingGuard> guard_;
};

// Frame duration in 90 kHz ticks of a STREAM_INFO frame-rate code (1: 1001/24 ms ... 7: 1001/60 ms,
// truncated); 0 for codes 0, 5, 8 and the reserved codes 9 to 15.
std::uint32_t frame_duration_ticks(std::uint8_t frame_rate_code);

// Replay of one indexed track.
class CTrackReplay {
 public:
  CTrackReplay(const SRipTrack& track, CClipPacketSource& source);

  // Clamps [first, last] to the index, sets the clip-wide time offset (added to PTS and DTS) and the new
  // PID, and looks for the video profile and level in the first access unit.
  void prepare(std::int64_t first, std::int64_t last, std::int64_t time_offset, std::uint16_t new_pid,
               bool gather_key_points = false);
  // The current access unit with shifted times, or null before the first advance and when finished.
  const SRipAu* current() const { return finished_ || index_ < first_ ? nullptr : &current_; }
  // Moves to the next access unit and reads its packets. false when finished or on a read failure.
  bool advance();
  bool finished() const { return finished_; }
  bool failed() const { return failed_; }

  // Writes the next transport packet (188 bytes) of the current access unit, with its new PID and
  // shifted time stamps, to out; false when the unit has no more. *pes_bytes receives the PES bytes in
  // the packet and *remaining (when given) is reduced by 192.
  bool next_packet(std::uint8_t* out, int* pes_bytes, std::int64_t* remaining = nullptr);
  // The same into a buffer of the replay's own: the packet, or null when the unit has no more.
  std::uint8_t* next_packet(int* pes_bytes, std::int64_t* remaining = nullptr);

  std::int64_t current_index() const { return index_; }
  std::uint16_t new_pid() const { return pid_; }
  // The stream's STREAM_INFO and PMT entry under its new PID, for the new clip's information and PMT.
  STREAM_INFO stream_info() const;
  std::optional<SEsInfo> pmt_entry() const;
  std::uint8_t profile() const { return profile_; }
  std::uint8_t level() const { return level_; }
  // Key points gathered so far: AuIndex relative to the first replayed unit and the shifted PTS; the
  // multiplexer fills in SpnStart and SpnEnd.
  CKpiFolder& key_points() { return key_points_; }
  // The entry-point map entry of the replayed stream under new_pid: with an old entry, its key points
  // matched against the new ones (unmatched old points are dropped); without, the new key points.
  STREAM_PID_ENTRY hand_over_key_points(std::uint16_t new_pid) const;

 private:
  void find_profile_level(const std::uint8_t* packet);
  void gather_key_point();

  const SRipTrack& track_;
  CClipPacketSource& source_;
  CTsPacketReader reader_;
  std::int64_t first_ = 0;
  std::int64_t last_ = -1;
  std::int64_t index_ = -1;
  std::int64_t offset_ = 0;
  std::uint16_t pid_ = 0;
  bool finished_ = false;
  bool failed_ = false;
  bool gather_ = false;
  SRipAu current_;
  std::span<const SPacketRange> ranges_;  // of the current unit
  std::size_t range_ = 0;                 // the range of the next packet
  std::uint64_t spn_ = 0;                 // the next packet
  int source_reader_ = -1;  // this replay's place among the source's readers
  std::array<std::uint8_t, kTsPacketSize> scratch_{};
  std::uint8_t profile_ = 0;
  std::uint8_t level_ = 0;
  bool have_audio_key_ = false;
  std::uint32_t last_audio_key_pts_ = 0;
  CKpiFolder key_points_;
};

// Matches old key points (PTS values of an old entry-point map) against the new ones gathered during
// replay: for each old point, a forward search from the last match for a new point whose
// (PTS - offset) >> 9 equals the old PTS >> 9, stopping at the first greater one. Returns for each old
// point the index of its match in new_points, or -1 (the caller drops unmatched old points).
std::vector<int> match_key_points(std::span<const std::uint32_t> old_pts, std::span<const KEY_POINT_INFO> new_points,
                                  std::int64_t offset);

}  // namespace veld
