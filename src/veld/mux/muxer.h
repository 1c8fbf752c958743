// SPDX-License-Identifier: GPL-3.0-or-later
// The transport-stream multiplexer: writes one new clip stream file (192-byte source packets at a fixed
// 48 Mbit/s) from a list of tracks, and then its clip information file.
//
// Time inside the multiplexer is the 27 MHz arrival clock of the new file. One 188-byte packet takes
// 846 ticks at 48 Mbit/s; every packet lies on the 846-tick grid that starts at the first one. The
// multiplexer decides the order of the packets, stamps each with its arrival time, inserts PAT, PMT, SIT
// and PCR at fixed intervals, keeps every track inside its decoder buffer model, and pads the file to a
// whole number of 6144-byte aligned units with null packets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/demux.h"
#include "veld/mux/background_writer.h"
#include "veld/mux/mux_track.h"
#include "veld/ts/psi.h"

namespace veld {

inline constexpr std::uint64_t kMuxRate = 48000000;         // bit/s
inline constexpr std::uint64_t kPacketTicks = 846;          // 188 bytes at kMuxRate, 27 MHz
inline constexpr std::uint64_t kStcMargin = 67;             // system time is taken this much early
inline constexpr std::uint64_t kPcrOffset = 0x3C000002D;    // first PCR = its arrival time + this (596.52 s)
// A unit's first packet is due this long before its decoding time in the arrival clock; with kPcrOffset
// the packet arrives 24,299,955 ticks (0.9 s) of system time ahead of decoding.
inline constexpr std::uint64_t kUnitLead = 0x3C172C9E0;
inline constexpr std::uint64_t kPatInterval = 2538000;      // 94 ms
inline constexpr std::uint64_t kPcrInterval = 2429712;      // 89.99 ms
inline constexpr int kSitEveryPatGroups = 9;
inline constexpr std::size_t kAlignedUnit = 6144;
// The output is written in pieces of 32 aligned units (192 KiB) by a second thread while the next pieces
// are filled: measured on Linux, the kernel copies pieces of this size into the page cache several times
// faster than pieces of megabytes, which no longer lie in the processor's cache when they are written.
inline constexpr std::size_t kMuxBufferSize = 32 * 6144;
inline constexpr int kMuxBufferPieces = 8;
inline constexpr std::uint64_t kProgressEvery = 0x1800000;  // track bytes between progress updates

// Where the multiplexer's bytes go. The file output is the normal case; tests put a failing writer here.
class CMuxOutput {
 public:
  virtual ~CMuxOutput() = default;
  // false on failure, with the system's text in error().
  virtual bool write(ByteSpan data) = 0;
  virtual std::uint64_t length() const = 0;
  virtual const std::filesystem::path& path() const = 0;
  virtual const std::string& error() const = 0;
};

// A new file for writing. An existing file of that name is removed first rather than truncated: it may
// be a hard link to a clip of a disc (the copy-back links clip streams into the BDMV folder).
class CFileOutput : public CMuxOutput {
 public:
  bool open(const std::filesystem::path& path);
  void close() { file_.close(); }
  bool write(ByteSpan data) override;
  std::uint64_t length() const override { return written_; }
  const std::filesystem::path& path() const override { return file_.path(); }
  const std::string& error() const override { return file_.error(); }

 private:
  File file_;
  std::uint64_t written_ = 0;
};

// ---- track ordering ---------------------------------------------------------------------------------------

// Puts the tracks into the seven groups of the PID plan (primary video, primary audio, presentation
// graphics, interactive graphics, other primary streams, secondary video, secondary audio), sorts each
// group by stream index (stable: kept tracks, which come first, before new ones of the same index),
// and numbers each group's tracks from its first PID. Returns the ordered list.
std::vector<SMuxTrack*> OrderTracks(const std::vector<SMuxTrack*>& kept, const std::vector<SMuxTrack*>& added);

// Marks which tracks get an entry-point map in the new clip information, and its EP stream type: every
// primary or secondary video track (type 1); without video, by application type the first track (type 3),
// the last secondary audio track (4), the first track when it is presentation (6) or interactive
// graphics (7).
void DesignateEntryPoints(const std::vector<SMuxTrack*>& tracks, std::uint8_t application_type);

// ---- the multiplexer --------------------------------------------------------------------------------------

class CMuxer {
 public:
  CMuxer();

  // A program descriptor (tag 0x89 of the old PMT) to repeat in the new PMT.
  void set_private_descriptor(std::optional<SPrivateDescriptor> descriptor) { private_ = std::move(descriptor); }

  // The presentation start and end (90 kHz) that the clip information states, instead of the smallest
  // presentation time and the largest end the run sees: a remultiplexed clip keeps its old span moved by
  // the clip offset, whichever stream its ends belong to.
  void set_presentation_span(std::uint32_t start, std::uint32_t end) { span_ = {start, end}; }

  // Shows every piece of the stream file to observer once it is written, on the thread that writes it
  // (the check of the new clip rides on the writing); null: none.
  void set_observer(CPacketObserver* observer) { observer_ = observer; }

  // Prepares a run over the ordered tracks: entry-point designation, reset of every track, the PMT.
  // false with the reason in *error when a track cannot be reset or the PMT does not fit.
  bool start(std::vector<SMuxTrack*> tracks, std::uint8_t application_type, std::string* error);

  // Writes the clip stream file to m2ts and then the clip information file to clpi. Result 0, 1 when
  // cancelled, 2 after a failure shown through messenger (a track that cannot deliver, a failed write).
  int run(CMuxOutput& m2ts, CMuxOutput& clpi, Progress& progress, Messenger& messenger);

  // After a successful run: the smallest presentation time and the largest presentation end time
  // (90 kHz) of the new file (the span given to set_presentation_span when one was), and its clip
  // information.
  std::uint32_t smallest_pts() const { return smallest_pts_; }
  std::uint32_t largest_end() const { return largest_end_; }
  const SClpiData& clip_info() const { return clpi_; }
  std::uint64_t packets_written() const { return packets_; }
  const std::vector<SMuxTrack*>& tracks() const { return tracks_; }
  // The serialised PMT and the number of packets it takes.
  const Bytes& pmt_section() const { return pmt_bytes_; }
  int pmt_packets() const { return pmt_packets_; }

 private:
  // Per-packet work.
  // The next 192-byte slot of the output buffer, its header stamped with time; null when a full buffer
  // could not be written out. commit_packet() takes the slot's packet into the file.
  std::uint8_t* reserve_packet(std::uint64_t time);
  void commit_packet(std::uint64_t time);
  // A PSI or PCR packet written by fill into a slot pre-filled with 0xFF.
  template <typename Fill>
  bool write_psi(std::uint64_t time, Fill fill);
  bool write_pat(std::uint64_t t);
  bool write_pmt(std::uint64_t& t);
  bool write_sit(std::uint64_t t);
  bool write_pcr(std::uint64_t t);
  // The packets that open the file, from `time` on; a video track that opens it may send right after.
  bool write_opening(std::uint64_t time, bool video_opens);
  bool insert_due_psi();
  bool send_from(SMuxTrack& track, std::uint64_t& bytes_sent);
  bool write_track_packet(SMuxTrack& track);
  void compute_time(SMuxTrack& track) const;
  bool flush();
  bool finish_file();
  bool write_clip_info();
  std::uint64_t system_time() const { return pcr_value_ - kStcMargin + current_ - last_pcr_time_; }
  bool fail_write(const CMuxOutput& out);

  std::vector<SMuxTrack*> tracks_;
  std::uint8_t application_type_ = 1;
  std::optional<SPrivateDescriptor> private_;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> span_;
  CMuxOutput* m2ts_ = nullptr;
  CMuxOutput* clpi_out_ = nullptr;
  Messenger* messenger_ = nullptr;
  CPacketObserver* observer_ = nullptr;

  std::unique_ptr<CBackgroundWriter> writer_;  // during run()
  std::size_t cursor_ = 0;                     // in the writer's current piece
  SPsiPacketContext pat_ctx_;
  SPsiPacketContext pmt_ctx_;
  SPsiPacketContext sit_ctx_;
  SPsiPacketContext pcr_ctx_;
  Bytes pmt_bytes_;
  int pmt_packets_ = 0;

  std::uint64_t packets_ = 0;
  int psi_counter_ = 0;
  std::uint64_t pcr_value_ = 0;
  bool pcr_written_ = false;
  std::uint64_t last_pcr_time_ = 0;
  std::uint64_t current_ = 0;
  std::uint64_t last_packet_ = 0;
  std::uint64_t next_pat_ = 0;
  std::uint64_t next_pcr_ = 0;
  std::uint64_t limit_ = 0;
  std::uint32_t smallest_pts_ = 0xFFFFFFFF;
  std::uint32_t largest_end_ = 0;
  SClpiData clpi_;
};

}  // namespace veld
