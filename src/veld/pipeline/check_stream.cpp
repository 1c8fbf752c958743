// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/check_stream.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "veld/base/file.h"
#include "veld/clip/rip_index.h"
#include "veld/mux/buffer_model.h"
#include "veld/ts/psi.h"
#include "veld/ts/ts_packet.h"

namespace veld {
namespace {

constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;  // the system clock wraps with the PTS
constexpr std::uint64_t kPtsMask = (std::uint64_t{1} << 33) - 1;
constexpr std::uint32_t kAtsMask = (1u << 30) - 1;
constexpr std::size_t kKeyBytes = 4096;
// The buffer models leak whole bytes per packet, so they lag an exact leak by up to a byte per packet
// of a busy period; so much more than the size is not yet an overflow.
constexpr std::uint64_t kLeakSlack = 16;  // bytes of an access unit looked at for a random access point

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
  void finish() {
    for (const Count& k : counts_)
      if (k.n > kMaxFindingsPerCheck)
        out_.push_back({file_, k.kind, k.pid, -1, fmt::format("and {} more of the same", k.n - kMaxFindingsPerCheck)});
  }

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
};

std::string Hex(unsigned pid) { return fmt::format("0x{:04X}", pid); }

class CStreamScan {
 public:
  CStreamScan(const SClpiData& clip, CFindingList& out, const SCheckScope& scope) : clip_(clip), out_(out) {
    index_.fill(-1);
    for (const STREAM_INFO& s : clip.streams()) {
      if (index_[s.StreamPID & 0x1FFF] >= 0) continue;
      index_[s.StreamPID & 0x1FFF] = static_cast<std::int16_t>(pids_.size());
      SPidCheck& p = *pids_.emplace_back(std::make_unique<SPidCheck>());
      p.pid = s.StreamPID;
      p.type = s.StreamCodingInfo.CodingType;
      if (scope.models_buffers(p.pid)) p.models = MakeStreamModels(p.type);
    }
    pmt_pid_ = clip.ProgramInfo.ProgramSequenceInfo.ProgramMapPid;
    pcr_pid_ = clip.stc_info().empty() ? kPidPcr : clip.stc_info().front().PcrPid;
  }

  void prepare_entry_points(std::uint64_t packets);
  void first_block(ByteSpan block);
  void scan(ByteSpan block);
  void finish();

  std::int64_t spn() const { return spn_; }

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

  const SClpiData& clip_;
  CFindingList& out_;
  std::array<std::int16_t, 8192> index_{};
  std::vector<std::unique_ptr<SPidCheck>> pids_;
  std::array<bool, 8192> foreign_{};  // PIDs already reported as not in the clip information
  std::uint16_t pmt_pid_ = kPidPmt;
  std::uint16_t pcr_pid_ = kPidPcr;
  std::vector<SEpCheck> eps_;
  std::size_t ep_next_ = 0;
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

void CStreamScan::prepare_entry_points(std::uint64_t packets) {
  packets_ = packets;
  for (const STREAM_PID_ENTRY& e : clip_.ep_map()) {
    if (e.StreamPid >= 0x2000 || index_[e.StreamPid] < 0) {
      out_.add(check_kind::kEpMap, e.StreamPid, -1, "the entry-point map names a PID the clip information lists no stream for");
      continue;
    }
    for (std::size_t i = 0; i < e.KeyPoints.size(); ++i) {
      const KEY_POINT_INFO& kp = e.KeyPoints[i];
      if (i > 0 && (kp.SpnStart <= e.KeyPoints[i - 1].SpnStart || kp.PTS <= e.KeyPoints[i - 1].PTS)) {
        out_.add(check_kind::kEpMap, e.StreamPid, kp.SpnStart,
                 fmt::format("entry {} does not rise above entry {} in packet number and PTS", i, i - 1));
      }
      if (kp.SpnStart >= packets) {
        out_.add(check_kind::kEpMap, e.StreamPid, kp.SpnStart,
                 fmt::format("entry {} points past the end of the stream file ({} source packets)", i, packets));
        continue;
      }
      eps_.push_back({kp.SpnStart, e.StreamPid, static_cast<int>(i), kp.PTS});
    }
  }
  std::stable_sort(eps_.begin(), eps_.end(), [](const SEpCheck& a, const SEpCheck& b) { return a.spn < b.spn; });
}

// The system clock before the first PCR is that of the first PCR: its offset is found in the first block.
void CStreamScan::first_block(ByteSpan block) {
  std::uint64_t ats = 0;
  std::uint32_t prev = 0;
  for (std::size_t i = 0; i + kSourcePacketSize <= block.size(); i += kSourcePacketSize) {
    const std::uint8_t* sp = block.data() + i;
    const std::uint32_t raw = load_be32(sp) & kAtsMask;
    ats = i == 0 ? raw : ats + ((raw - prev) & kAtsMask);
    prev = raw;
    const std::uint8_t* p = sp + 4;
    if (p[0] != kSyncByte || ts_pid(p) != pcr_pid_ || ((p[3] >> 4) & 2) == 0 || p[4] < 7 || (p[5] & 0x10) == 0) continue;
    const std::uint64_t base = (std::uint64_t{load_be32(p + 6)} << 1) | (p[10] >> 7);
    const std::uint64_t pcr = base * 300 + (((p[10] & 1u) << 8) | p[11]);
    offset_ = (pcr + kPcrWrap - ats % kPcrWrap) % kPcrWrap;
    clock_ = true;
    return;
  }
}

void CStreamScan::scan(ByteSpan block) {
  const std::size_t count = block.size() / kSourcePacketSize;
  for (std::size_t i = 0; i < count; ++i, ++spn_) {
    prefetch_ahead(block.data(), i, count);
    packet(block.data() + i * kSourcePacketSize);
  }
}

void CStreamScan::packet(const std::uint8_t* sp) {
  const std::uint32_t raw = load_be32(sp) & kAtsMask;
  if (!any_) {
    ats_ = raw;
    any_ = true;
  } else {
    const std::uint32_t d = (raw - prev_raw_) & kAtsMask;
    if (d >= (1u << 29)) {
      out_.add(check_kind::kTransport, -1, spn_, fmt::format("arrival time stamp goes back by {} ticks", (1u << 30) - d));
      ats_ -= (1u << 30) - d;
    } else {
      ats_ += d;
    }
  }
  prev_raw_ = raw;
  const std::uint8_t* p = sp + 4;
  if (p[0] != kSyncByte) {
    out_.add(check_kind::kTransport, -1, spn_, fmt::format("sync byte 0x{:02X} instead of 0x47", p[0]));
    return;
  }
  const std::uint16_t pid = ts_pid(p);
  const int afc = (p[3] >> 4) & 3;
  int off = afc == 1 ? 4 : afc == 3 ? 5 + p[4] : 188;
  if (off > 188) {
    out_.add(check_kind::kTransport, pid, spn_, "the adaptation field runs past the packet");
    return;
  }
  if (afc >= 2 && pid == pcr_pid_ && p[4] >= 7 && (p[5] & 0x10) != 0) pcr(p);
  if (ep_next_ < eps_.size() && eps_[ep_next_].spn == spn_) entry_point(p, pid);
  const std::int16_t s = index_[pid];
  if (s >= 0) {
    stream_packet(*pids_[static_cast<std::size_t>(s)], p, off);
  } else if (pid == kPidPat || pid == pmt_pid_) {
    psi(p, pid, off);
  } else if (pid != kPidSit && pid != kPidNull && pid != pcr_pid_ && !foreign_[pid]) {
    foreign_[pid] = true;
    out_.add(check_kind::kProgram, pid, spn_, "the PID carries packets but the clip information lists no stream on it");
  }
}

void CStreamScan::pcr(const std::uint8_t* p) {
  const std::uint64_t base = (std::uint64_t{load_be32(p + 6)} << 1) | (p[10] >> 7);
  const std::uint64_t value = base * 300 + (((p[10] & 1u) << 8) | p[11]);
  offset_ = (value + kPcrWrap - ats_ % kPcrWrap) % kPcrWrap;
  clock_ = true;
  ++pcr_count_;
}

void CStreamScan::psi(const std::uint8_t* p, std::uint16_t pid, int off) {
  if (off >= 188) return;
  const ByteSpan all(p, kTsPacketSize);
  if (pid == kPidPat) {
    if (pat_ || !ts_payload_unit_start(p)) return;
    const int start = off + 1 + p[off];
    SPat pat;
    if (start < 188 && pat.parse(all.subspan(static_cast<std::size_t>(start))) > 0) {
      pat_ = std::move(pat);
      pat_spn_ = spn_;
    }
    return;
  }
  if (pmt_) return;
  if (ts_payload_unit_start(p)) {
    const int start = off + 1 + p[off];
    if (start >= 188) return;
    pmt_assembler_.read_header(all.subspan(static_cast<std::size_t>(start)));
    pmt_start_spn_ = spn_;
  } else if (pmt_assembler_.active()) {
    pmt_assembler_.append(all.subspan(static_cast<std::size_t>(off)));
  }
  if (pmt_assembler_.complete()) {
    pmt_ = pmt_assembler_.take();
    pmt_spn_ = pmt_start_spn_;
    if (!pmt_) out_.add(check_kind::kProgram, pid, pmt_start_spn_, "the PMT section is malformed");
  }
}

void CStreamScan::entry_point(const std::uint8_t* p, std::uint16_t pid) {
  for (; ep_next_ < eps_.size() && eps_[ep_next_].spn == spn_; ++ep_next_) {
    const SEpCheck& e = eps_[ep_next_];
    if (pid != e.pid) {
      out_.add(check_kind::kEpMap, e.pid, spn_,
               fmt::format("entry {} points at a packet of PID {}", e.number, Hex(pid)));
    } else if (!ts_payload_unit_start(p)) {
      out_.add(check_kind::kEpMap, e.pid, spn_, fmt::format("entry {} points at a packet that starts no PES packet", e.number));
    } else {
      pids_[static_cast<std::size_t>(index_[pid])]->ep_next = static_cast<int>(ep_next_);
    }
  }
}

void CStreamScan::stream_packet(SPidCheck& s, const std::uint8_t* p, int off) {
  std::uint32_t es_bytes = static_cast<std::uint32_t>(188 - off);
  if (ts_payload_unit_start(p)) {
    close_pes(s);
    s.ep = s.ep_next;
    s.ep_next = -1;
    s.key_len = 0;
    if (off < 188) start_pes(s, p, off, es_bytes);
  }
  if (!s.open) return;
  if (s.ep >= 0 && es_bytes > 0) {
    const std::size_t n = std::min<std::size_t>(es_bytes, kKeyBytes - s.key_len);
    std::copy_n(p + 188 - es_bytes, n, s.key.begin() + static_cast<std::ptrdiff_t>(s.key_len));
    s.key_len += n;
    if (s.key_len == kKeyBytes) check_key(s);
  }
  s.last = spn_;
  s.last_timed = clock_;
  if (clock_) {
    s.last_system = (ats_ % kPcrWrap + offset_) % kPcrWrap;
    buffers(s, es_bytes);
  }
}

void CStreamScan::start_pes(SPidCheck& s, const std::uint8_t* p, int off, std::uint32_t& es_bytes) {
  s.open = true;
  s.first = spn_;
  SPesHeader h;
  const int size = h.parse(ByteSpan(p + off, static_cast<std::size_t>(188 - off)));
  s.timed = size > 0 && h.has_pts();
  es_bytes = size > 0 ? static_cast<std::uint32_t>(188 - off - size) : 0;
  if (size <= 0) return;  // a header longer than its packet: the PES packet is not timed
  s.decode = h.decode_time() & kPtsMask;
  if (h.has_pts() && is_video_coding_type(s.type)) {
    min_pts_ = std::min(min_pts_, h.PTS.value);
    max_pts_ = std::max(max_pts_, h.PTS.value);
  }
  s.second = s.models && s.models->second && h.StreamID == 0xFD && !h.PES_ExtensionField.empty() &&
             h.PES_ExtensionField[0] == 0x72;
  if (s.models && h.has_pts()) {
    SBufferModel& m = s.second ? *s.models->second : s.models->first;
    m.add_unit(static_cast<std::uint32_t>(s.decode), static_cast<std::uint32_t>(h.PTS.value));
  }
  if (s.ep >= 0) {
    const SEpCheck& e = eps_[static_cast<std::size_t>(s.ep)];
    if (!h.has_pts()) {
      out_.add(check_kind::kEpMap, s.pid, spn_, fmt::format("entry {}: the PES packet has no PTS", e.number));
      s.ep = -1;
    } else if ((h.PTS.value & kPtsMask & ~std::uint64_t{0x1FF}) != e.pts) {
      out_.add(check_kind::kEpMap, s.pid, spn_,
               fmt::format("entry {}: the PES packet's PTS is {}, the entry says {}", e.number, h.PTS.value, e.pts));
    }
  }
}

void CStreamScan::close_pes(SPidCheck& s) {
  if (!s.open) return;
  s.open = false;
  if (s.ep >= 0) check_key(s);
  if (!s.timed || !s.last_timed) return;
  std::uint64_t lead = (s.decode * 300 + kPcrWrap - s.last_system) % kPcrWrap;
  if (lead > kPcrWrap / 2) {
    lead = kPcrWrap - lead;
    out_.add(check_kind::kLate, s.pid, s.last,
             fmt::format("the PES packet starting at packet {} arrives {:.3f} ms after its decoding time {}", s.first,
                         static_cast<double>(lead) / 27000.0, s.decode));
  }
}

void CStreamScan::check_key(SPidCheck& s) {
  const SEpCheck& e = eps_[static_cast<std::size_t>(s.ep)];
  std::string why;
  if (!IsRandomAccessPoint(s.type, ByteSpan(s.key.data(), s.key_len), &why)) {
    out_.add(check_kind::kEpMap, s.pid, e.spn, fmt::format("entry {} is not on a random access point: {}", e.number, why));
  }
  s.ep = -1;
  s.key_len = 0;
}

void CStreamScan::buffers(SPidCheck& s, std::uint32_t es_bytes) {
  if (!s.models) return;
  SBufferModel& m = s.second ? *s.models->second : s.models->first;
  m.packet(ats_, s.last_system, es_bytes);
  const auto report = [&](int which, const char* name, std::uint64_t held, std::uint64_t size, std::uint64_t rate) {
    if (held <= size + kLeakSlack) return;
    const int slot = which + (s.second ? 3 : 0);
    if (s.reported_buffer[slot]) return;  // one finding per buffer: the rest follows from the first
    s.reported_buffer[slot] = true;
    const std::string leak = rate ? fmt::format(", leaking {} bit/s", rate) : std::string();
    out_.add(check_kind::kBuffer, s.pid, spn_,
             fmt::format("{} {} of {} bytes{} holds {} bytes", m.name, name, size, leak, held));
  };
  if (m.tb) report(0, "transport buffer", m.tb->fullness(), m.tb->size(), m.tb->rate());
  if (m.mb) report(1, "multiplexing buffer", m.mb->fullness(), m.mb->size(), m.mb->rate());
  // Elementary buffers are held to their size for graphics, whose units (segments) the model knows
  // exactly; an audio or video PES packet may carry several access units that leave at different times.
  if (m.counts_packets && m.eb.size() > 0 && is_graphics_coding_type(s.type)) {
    // The model fills the elementary buffer at arrival; the bytes still in the transport buffers ahead of
    // it have not reached it yet.
    const std::uint64_t ahead = (m.tb ? m.tb->fullness() : 0u) + (m.mb ? m.mb->fullness() : 0u);
    const std::uint64_t held = m.eb.occupancy() > ahead ? m.eb.occupancy() - ahead : 0;
    report(2, "elementary buffer", held, m.eb.size(), 0);
  }
}

void CStreamScan::finish() {
  for (auto& s : pids_) close_pes(*s);
  if (pcr_count_ == 0)
    out_.add(check_kind::kSequence, pcr_pid_, -1, "no PCR on the PCR PID of the sequence information; decoding times not checked");
  compare_program();
  sequence_checks();
}

void CStreamScan::compare_program() {
  if (!pat_) {
    out_.add(check_kind::kProgram, kPidPat, -1, "no PAT");
  } else {
    const auto& progs = pat_->programs;
    const bool ok = std::any_of(progs.begin(), progs.end(), [&](const SPatProgram& pr) {
      return pr.ProgramNumber != 0 && pr.PID == pmt_pid_;
    });
    if (!ok) out_.add(check_kind::kProgram, kPidPat, pat_spn_,
                      fmt::format("the PAT maps no program to the clip information's PMT PID {}", Hex(pmt_pid_)));
  }
  if (!pmt_) {
    out_.add(check_kind::kProgram, pmt_pid_, -1, "no complete PMT on the clip information's PMT PID");
    return;
  }
  if (pmt_->PcrPid != pcr_pid_)
    out_.add(check_kind::kProgram, pmt_pid_, pmt_spn_,
             fmt::format("the PMT's PCR PID is {}, the sequence information says {}", Hex(pmt_->PcrPid), Hex(pcr_pid_)));
  for (const STREAM_INFO& si : clip_.streams()) {
    const SEsInfo* es = pmt_->find(si.StreamPID);
    if (!es) {
      out_.add(check_kind::kProgram, si.StreamPID, pmt_spn_, "the clip information lists the stream, the PMT does not");
    } else if (es->StreamType != si.StreamCodingInfo.CodingType) {
      out_.add(check_kind::kProgram, si.StreamPID, pmt_spn_,
               fmt::format("the PMT gives stream type 0x{:02X}, the clip information coding type 0x{:02X}", es->StreamType,
                           si.StreamCodingInfo.CodingType));
    }
  }
  for (const SEsInfo& es : pmt_->streams) {
    if (index_[es.ElementaryPid & 0x1FFF] < 0)
      out_.add(check_kind::kProgram, es.ElementaryPid, pmt_spn_, "the PMT lists the stream, the clip information does not");
  }
}

void CStreamScan::sequence_checks() {
  const auto& seq = clip_.SequenceInfo.AtcInfo;
  if (seq.SpnAtcStart >= packets_ && packets_ > 0)
    out_.add(check_kind::kSequence, -1, seq.SpnAtcStart, "the ATC sequence starts past the end of the stream file");
  const auto& prog = clip_.ProgramInfo.ProgramSequenceInfo;
  if (prog.SpnProgramSequenceStart >= packets_ && packets_ > 0)
    out_.add(check_kind::kProgram, -1, prog.SpnProgramSequenceStart, "the program sequence starts past the end of the stream file");
  if (prog.NumberOfStreams != prog.Streams.size())
    out_.add(check_kind::kProgram, -1, -1,
             fmt::format("the program sequence counts {} streams but lists {}", prog.NumberOfStreams, prog.Streams.size()));
  for (const STC_INFO& stc : seq.StcInfo) {
    if (stc.SpnStcStart >= packets_ && packets_ > 0)
      out_.add(check_kind::kSequence, stc.PcrPid, stc.SpnStcStart, "the STC sequence starts past the end of the stream file");
  }
  if (seq.StcInfo.size() != 1 || min_pts_ > max_pts_) return;  // times are compared for a single STC sequence
  const STC_INFO& stc = seq.StcInfo.front();
  if (std::uint64_t{stc.StartPTS} * 2 > min_pts_ + 1)
    out_.add(check_kind::kSequence, -1, -1,
             fmt::format("the first video PTS {} lies before the sequence's start time {} (90 kHz)", min_pts_, std::uint64_t{stc.StartPTS} * 2));
  if (std::uint64_t{stc.EndPTS} * 2 + 1 < max_pts_)
    out_.add(check_kind::kSequence, -1, -1,
             fmt::format("the last video PTS {} lies after the sequence's end time {} (90 kHz)", max_pts_, std::uint64_t{stc.EndPTS} * 2));
}

// The file mapped into memory: the scan looks at the bytes it needs in the page cache instead of copying
// every byte out. false when cancelled; *done false when the file could not be mapped (ScanRead then
// reads it).
bool ScanMapped(File& file, CStreamScan& scan, CFindingList& out, std::uint64_t count, Progress& progress,
                bool* done) {
  CClipPacketSource mapped(file);
  *done = mapped.ok() && mapped.packet_count() > 0;
  if (!*done) return true;
  const int reader = mapped.add_reader();
  const std::uint64_t total = mapped.packet_count();
  constexpr std::uint64_t kBlockPackets = kCheckBlockSize / kSourcePacketSize;
  for (std::uint64_t first = 0; first < total; first += kBlockPackets) {
    const std::uint64_t n = std::min(kBlockPackets, total - first);
    mapped.populate(first, n);
    const ByteSpan block(mapped.packet(first), static_cast<std::size_t>(n) * kSourcePacketSize);
    if (first == 0) scan.first_block(block);
    scan.scan(block);
    if (mapped.shortened()) {  // cut short by another program while it was read
      out.add(check_kind::kClip, -1, scan.spn(), mapped.shortened_error());
      break;
    }
    mapped.reader_at(reader, first + n);
    if (count > 0 && !progress.set_position(static_cast<int>(100 * static_cast<std::uint64_t>(scan.spn()) / count)))
      return false;
  }
  return true;
}

// Reads the file in blocks. false when cancelled.
bool ScanRead(File& file, CStreamScan& scan, CFindingList& out, std::uint64_t count, Progress& progress) {
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCheckBlockSize]);
  for (bool first = true;; first = false) {
    const std::int64_t n = file.read_full(buffer.get(), kCheckBlockSize);
    if (n < 0) {
      out.add(check_kind::kClip, -1, scan.spn(), file.error());
      break;
    }
    const ByteSpan block(buffer.get(), static_cast<std::size_t>(n) / kSourcePacketSize * kSourcePacketSize);
    if (first) scan.first_block(block);
    scan.scan(block);
    if (count > 0 && !progress.set_position(static_cast<int>(100 * static_cast<std::uint64_t>(scan.spn()) / count)))
      return false;
    if (static_cast<std::size_t>(n) < kCheckBlockSize) break;
  }
  return true;
}

}  // namespace

namespace {

// Hands the pieces of another pass over the file to the scan, which must see every packet in order.
class CScanObserver final : public CPacketObserver {
 public:
  explicit CScanObserver(CStreamScan& scan) : scan_(scan) {}
  void observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) override {
    if (broken_ || static_cast<std::int64_t>(first_spn) != scan_.spn()) {
      broken_ = true;
      return;
    }
    scan_.scan(ByteSpan(packets, count * kSourcePacketSize));
  }
  bool broken() const { return broken_; }

 private:
  CStreamScan& scan_;
  bool broken_ = false;
};

// The scan inside the other pass. false when it did not see the whole file in order (that pass failed
// early): its findings are then taken back. *cancelled when that pass was.
bool ScanInPass(File& file, const SClpiData& clip, CFindingList& out, const SCheckScope& scope, std::uint64_t count,
                const ClipPass& pass, std::int64_t* scanned, bool* cancelled) {
  CStreamScan scan(clip, out, scope);
  scan.prepare_entry_points(count);
  // The clock offset comes from the first block, before any packet is scanned.
  std::unique_ptr<std::uint8_t[]> first(new std::uint8_t[kCheckBlockSize]);
  const std::int64_t n = file.read_full(first.get(), kCheckBlockSize);
  if (n < 0) return false;
  scan.first_block(ByteSpan(first.get(), static_cast<std::size_t>(n) / kSourcePacketSize * kSourcePacketSize));
  CScanObserver observer(scan);
  *cancelled = !pass(observer);
  if (*cancelled || observer.broken() || static_cast<std::uint64_t>(scan.spn()) != count) return false;
  scan.finish();
  *scanned = scan.spn();
  return true;
}

}  // namespace

bool CheckClipStream(const std::filesystem::path& m2ts, const SClpiData& clip, std::vector<SCheckFinding>& findings,
                     Progress& progress, std::uint64_t* packets, const SCheckScope& scope, const ClipPass& pass) {
  CFindingList out(m2ts.string(), findings);
  File file;
  if (!file.open(m2ts, File::Mode::kRead)) {
    out.add(check_kind::kClip, -1, -1, file.error());
    out.finish();
    return true;
  }
  const std::int64_t length = file.length();
  const std::uint64_t count = length > 0 ? static_cast<std::uint64_t>(length) / kSourcePacketSize : 0;
  if (length % static_cast<std::int64_t>(kSourcePacketSize) != 0)
    out.add(check_kind::kPackets, -1, static_cast<std::int64_t>(count),
            fmt::format("the file ends in a partial source packet ({} bytes)", length % 192));
  if (count != clip.ClipInfo.NumberOfSourcePackets)
    out.add(check_kind::kPackets, -1, -1,
            fmt::format("the stream file holds {} source packets, the clip information says {}{}", count,
                        clip.ClipInfo.NumberOfSourcePackets,
                        count < clip.ClipInfo.NumberOfSourcePackets ? " (the file is cut short)" : ""));
  progress.set_status(m2ts.string());
  if (pass && count > 0) {
    // The scan's findings are kept apart from what the other pass finds until the scan is complete.
    std::vector<SCheckFinding> scanned_findings;
    CFindingList in_pass(m2ts.string(), scanned_findings);
    std::int64_t scanned = 0;
    bool cancelled = false;
    if (ScanInPass(file, clip, in_pass, scope, count, pass, &scanned, &cancelled)) {
      in_pass.finish();
      out.finish();
      findings.insert(findings.end(), scanned_findings.begin(), scanned_findings.end());
      if (packets) *packets += static_cast<std::uint64_t>(scanned);
      return true;
    }
    if (cancelled) return false;
    file.seek(0);  // the other pass ended early: the scan runs on its own
  }
  CStreamScan scan(clip, out, scope);
  scan.prepare_entry_points(count);
  bool mapped = false;
  if (!ScanMapped(file, scan, out, count, progress, &mapped)) return false;
  if (!mapped && !ScanRead(file, scan, out, count, progress)) return false;
  scan.finish();
  out.finish();
  if (packets) *packets += static_cast<std::uint64_t>(scan.spn());
  return true;
}

}  // namespace veld
