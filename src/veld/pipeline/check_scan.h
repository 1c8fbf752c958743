// SPDX-License-Identifier: GPL-3.0-or-later
// The per-packet part of the stream check: one scan over the source packets of a clip in file order,
// against its clip information. The scan is fed by whoever reads the packets (a pass of its own over the
// file, another pass that shows it every packet, or the multiplexer while it writes them).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"
#include "veld/mux/buffer_model.h"
#include "veld/pipeline/check.h"
#include "veld/pipeline/check_stream.h"
#include "veld/ts/psi.h"

namespace veld {

inline constexpr std::size_t kKeyBytes = 4096;  // bytes of an access unit looked at for a random access point

// Findings of one stream file; the same check on the same PID is listed kMaxFindingsPerCheck times and
// then only counted.
class CFindingList {
 public:
  CFindingList(std::string file, std::vector<SCheckFinding>& out) : file_(std::move(file)), out_(out) {}
  void add(const char* kind, int pid, std::int64_t packet, std::string text) {
    Count* c = nullptr;
    for (Count& k : counts_)
      if (k.kind == kind && k.pid == pid) c = &k;
    if (!c) c = &counts_.emplace_back(Count{kind, pid, 0});
    if (++c->n > kMaxFindingsPerCheck) return;
    out_.push_back({file_, kind, pid, packet, std::move(text)});
  }
  // The counts of what was not listed.
  void finish();

 private:
  struct Count {
    const char* kind;
    int pid;
    int n;
  };
  std::string file_;
  std::vector<SCheckFinding>& out_;
  std::vector<Count> counts_;
};

// One entry of the entry-point map, in the order of its packet.
struct SEpCheck {
  std::uint32_t spn = 0;
  std::uint16_t pid = 0;
  int number = 0;  // within its PID's list, from 0
  std::uint64_t pts = 0;
};

// A PES packet that starts on a stream with entry points, noted while the entry-point map is not known
// yet (the scan of a clip as it is written).
struct SPesStart {
  std::uint32_t spn = 0;
  std::uint16_t pid = 0;
  bool has_pts = false;
  bool random_access = false;
  std::uint64_t pts = 0;  // without its low 9 bits, as the entry-point map keeps it
};

// The state of one elementary-stream PID of the clip information.
struct SPidCheck {
  std::uint16_t pid = 0;
  std::uint8_t type = 0;
  std::optional<SStreamModels> models;
  bool reported_buffer[6] = {};
  // The PES packet being read.
  bool open = false;
  bool timed = false;
  bool second = false;  // its units go to the second model
  std::uint64_t decode = 0;
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::uint64_t last_system = 0;
  bool last_timed = false;
  // An entry point at the PES packet being read: its index in the entry list, and the access unit's
  // first bytes.
  int ep = -1;
  int ep_next = -1;  // an entry point at the packet that starts the next PES packet
  std::size_t key_len = 0;
  std::array<std::uint8_t, kKeyBytes> key{};
  // Without the entry-point map: every PES packet that starts is noted, and the note of the one being
  // read.
  bool note_starts = false;
  int note = -1;
};

class CStreamScan {
 public:
  // The scan takes the streams, the PMT PID and the PCR PID from clip, which must outlive it.
  CStreamScan(const SClpiData& clip, CFindingList& out, const SCheckScope& scope);

  void prepare_entry_points(std::uint64_t packets);
  void first_block(ByteSpan block);
  void scan(ByteSpan block);
  void finish();

  // For a clip whose information is written after its packets: the scan starts from information that
  // holds only the streams, the PMT PID and the PCR PID, and notes every PES packet that starts on one
  // of `pids`. settle() then takes the written information: false (nothing more is checked) when it
  // names other streams or PIDs; otherwise its entry points are held against the notes and finish() runs
  // against it, which must outlive the scan.
  void defer_entry_points(const std::vector<std::uint16_t>& pids);
  bool settle(const SClpiData& clip);

  std::int64_t spn() const { return spn_; }
  bool clock_known() const { return clock_; }

 private:
  void packet(const std::uint8_t* sp);
  void psi(const std::uint8_t* p, std::uint16_t pid, int off);
  void pcr(const std::uint8_t* p);
  void entry_point(const std::uint8_t* p, std::uint16_t pid);
  void stream_packet(SPidCheck& s, const std::uint8_t* p, int off);
  void start_pes(SPidCheck& s, const std::uint8_t* p, int off, std::uint32_t& es_bytes);
  void close_pes(SPidCheck& s);
  void check_key(SPidCheck& s);
  void buffers(SPidCheck& s, std::uint32_t es_bytes);
  void compare_program();
  void sequence_checks();
  void check_noted_entry_points();

  const SClpiData* clip_;
  CFindingList& out_;
  std::array<std::int16_t, 8192> index_{};
  std::vector<std::unique_ptr<SPidCheck>> pids_;
  std::array<bool, 8192> foreign_{};  // PIDs already reported as not in the clip information
  std::uint16_t pmt_pid_ = kPidPmt;
  std::uint16_t pcr_pid_ = kPidPcr;
  std::vector<SEpCheck> eps_;
  std::size_t ep_next_ = 0;
  std::vector<SPesStart> notes_;
  std::uint64_t packets_ = 0;
  // Arrival clock, unwrapped, and the system clock offset of the latest PCR.
  std::int64_t spn_ = 0;
  std::uint64_t ats_ = 0;
  std::uint32_t prev_raw_ = 0;
  bool any_ = false;
  bool clock_ = false;
  std::uint64_t offset_ = 0;
  std::uint64_t pcr_count_ = 0;
  // PSI.
  std::optional<SPat> pat_;
  std::optional<SPmt> pmt_;
  std::int64_t pat_spn_ = -1, pmt_spn_ = -1;
  CPmtAssembler pmt_assembler_;
  std::int64_t pmt_start_spn_ = -1;
  // Presentation times of the video streams (90 kHz).
  std::uint64_t min_pts_ = ~std::uint64_t{0};
  std::uint64_t max_pts_ = 0;
};

}  // namespace veld
