// SPDX-License-Identifier: GPL-3.0-or-later
// What the in-place route needs to know of the old clip stream file: the source packets of each IG
// stream (its arrival slots), where its display sets start, and the clip's clock (the PCRs). Gathered as
// a packet observer of the demultiplexing pass that reads the menus, so that the clip is read once; or by
// a pass of its own over the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/demux.h"
#include "veld/mux/inplace_schedule.h"

namespace veld {

// The old packets of one IG stream.
struct SPidScan {
  std::uint16_t pid = 0;
  std::vector<SIgSlot> slots;
  std::vector<std::uint32_t> headers;   // each slot's source packet header, kept as it was
  std::vector<std::uint32_t> ds_first;  // first slot of each display set
  std::uint8_t first_cc = 0;
  bool after_end = true;          // the next PES starts a display set
  std::size_t type_in_next = 0;   // the segment type is this many bytes into the next packet's payload (+1)
};

class CInPlaceScan final : public CPacketObserver {
 public:
  // Before the pass: the entry points of the map's video streams, whose access units' last packets the
  // pass then records (their size classes follow the packets that enter or leave them).
  void watch_entry_points(const CSpeFolder& ep_map);
  // Before the pass: the PID whose packets (the program map table) are listed.
  void watch_program_map(std::uint16_t pid) { pmt_pid_ = pid; }
  // Every packet of every IG PID (0x1400-0x141F) is recorded, and the PCRs of the first PID that carries one.
  void observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) override;
  // A pass of its own over the file; progress goes from 0 to 50 %. false with `error` set when the file
  // cannot be read, false without when cancelled.
  bool read(const std::filesystem::path& path, Progress& progress, std::string& error);

  // The scan of a PID (empty when the clip has no packet of it).
  const SPidScan& pid(std::uint16_t pid) const;
  const CClockMap& clock() const { return clock_; }
  // Source packets seen: the whole file once the pass is over.
  std::uint32_t packets() const { return packets_; }
  // The packets of the watched program map PID.
  const std::vector<std::uint32_t>& program_map_packets() const { return pmt_packets_; }
  // The packets that the check of a rebuilt stream needs besides the stream's own: the PAT, the watched
  // program map table and the PCRs the clock follows, ascending.
  const std::vector<std::uint32_t>& reference_packets() const { return reference_packets_; }
  // The last packet of the PES packet (the access unit) that starts at a watched entry point.
  std::optional<std::uint32_t> access_unit_end(std::uint16_t pid, std::uint32_t spn) const;

 private:
  struct SEntryWatch {
    std::uint16_t pid = 0;
    std::vector<std::uint32_t> starts;  // ascending
    std::vector<std::uint32_t> ends;    // per start; kNoEnd until its PES packet is over
    std::size_t next = 0;               // the next start not reached yet
    std::int64_t open = -1;             // the start whose PES packet is being read
    std::uint32_t last = 0;             // the PID's latest packet
  };
  static constexpr std::uint32_t kNoEnd = 0xFFFFFFFF;
  void entry_packet(SEntryWatch& w, const std::uint8_t* ts, std::uint32_t spn);

  bool read_open(int fd, std::uint64_t size, Progress& progress, std::string& error);
  SPidScan& pid_scan(std::uint16_t pid);
  void ig_packet(SPidScan& s, const std::uint8_t* sp, std::uint32_t spn);
  bool pcr(const std::uint8_t* ts);

  std::vector<SPidScan> pids_;
  std::vector<SEntryWatch> watches_;
  SPidScan none_;
  CClockMap clock_;
  std::uint32_t packets_ = 0;
  std::uint64_t atc_ = 0;
  std::uint32_t last_ats_ = 0;
  int pcr_pid_ = -1;
  int pmt_pid_ = -1;
  std::vector<std::uint32_t> pmt_packets_;
  std::vector<std::uint32_t> reference_packets_;
};

}  // namespace veld
