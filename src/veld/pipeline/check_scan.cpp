// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/check_scan.h"

#include <fmt/format.h>

#include <algorithm>

#include "veld/ts/ts_packet.h"

namespace veld {
namespace {

constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;  // the system clock wraps with the PTS
constexpr std::uint64_t kPtsMask = (std::uint64_t{1} << 33) - 1;
constexpr std::uint32_t kAtsMask = (1u << 30) - 1;
// The buffer models leak whole bytes per packet, so they lag an exact leak by up to a byte per packet
// of a busy period; so much more than the size is not yet an overflow.
constexpr std::uint64_t kLeakSlack = 16;

std::string Hex(unsigned pid) { return fmt::format("0x{:04X}", pid); }

std::uint16_t PcrPidOf(const SClpiData& clip) { return clip.stc_info().empty() ? kPidPcr : clip.stc_info().front().PcrPid; }

}  // namespace

CStreamScan::CStreamScan(const SClpiData& clip, CFindingList& out, const SCheckScope& scope) : clip_(&clip), out_(out) {
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
  pcr_pid_ = PcrPidOf(clip);
}

void CFindingList::finish() {
  for (const Count& k : counts_)
    if (k.n > kMaxFindingsPerCheck)
      out_.push_back({file_, k.kind, k.pid, -1, fmt::format("and {} more of the same", k.n - kMaxFindingsPerCheck)});
}

void CStreamScan::prepare_entry_points(std::uint64_t packets) {
  packets_ = packets;
  for (const STREAM_PID_ENTRY& e : clip_->ep_map()) {
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

inline void CStreamScan::pcr(const std::uint8_t* p) {
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

inline void CStreamScan::entry_point(const std::uint8_t* p, std::uint16_t pid) {
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

inline void CStreamScan::stream_packet(SPidCheck& s, const std::uint8_t* p, int off) {
  std::uint32_t es_bytes = static_cast<std::uint32_t>(188 - off);
  if (ts_payload_unit_start(p)) {
    close_pes(s);
    s.ep = s.ep_next;
    s.ep_next = -1;
    s.key_len = 0;
    if (s.note_starts) {
      s.note = static_cast<int>(notes_.size());
      notes_.push_back({static_cast<std::uint32_t>(spn_), s.pid});
    }
    if (off < 188) start_pes(s, p, off, es_bytes);
  }
  if (!s.open) return;
  if ((s.ep >= 0 || s.note >= 0) && es_bytes > 0) {
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

inline void CStreamScan::start_pes(SPidCheck& s, const std::uint8_t* p, int off, std::uint32_t& es_bytes) {
  s.open = true;
  s.first = spn_;
  SPesHeader h;
  const int size = h.parse(ByteSpan(p + off, static_cast<std::size_t>(188 - off)));
  s.timed = size > 0 && h.has_pts();
  es_bytes = size > 0 ? static_cast<std::uint32_t>(188 - off - size) : 0;
  if (s.note >= 0) {
    SPesStart& n = notes_[static_cast<std::size_t>(s.note)];
    n.has_pts = s.timed;
    n.pts = h.PTS.value & kPtsMask & ~std::uint64_t{0x1FF};
    if (!n.has_pts) s.note = -1;
  }
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

inline void CStreamScan::close_pes(SPidCheck& s) {
  if (!s.open) return;
  s.open = false;
  if (s.ep >= 0 || s.note >= 0) check_key(s);
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
  const ByteSpan key(s.key.data(), s.key_len);
  if (s.note >= 0) {
    notes_[static_cast<std::size_t>(s.note)].random_access = IsRandomAccessPoint(s.type, key, nullptr);
    s.note = -1;
  }
  if (s.ep >= 0) {
    const SEpCheck& e = eps_[static_cast<std::size_t>(s.ep)];
    std::string why;
    if (!IsRandomAccessPoint(s.type, key, &why))
      out_.add(check_kind::kEpMap, s.pid, e.spn, fmt::format("entry {} is not on a random access point: {}", e.number, why));
  }
  s.ep = -1;
  s.key_len = 0;
}

inline void CStreamScan::buffers(SPidCheck& s, std::uint32_t es_bytes) {
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
  for (const STREAM_INFO& si : clip_->streams()) {
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
  const auto& seq = clip_->SequenceInfo.AtcInfo;
  if (seq.SpnAtcStart >= packets_ && packets_ > 0)
    out_.add(check_kind::kSequence, -1, seq.SpnAtcStart, "the ATC sequence starts past the end of the stream file");
  const auto& prog = clip_->ProgramInfo.ProgramSequenceInfo;
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

void CStreamScan::defer_entry_points(const std::vector<std::uint16_t>& pids) {
  for (const std::uint16_t pid : pids)
    if (pid < 0x2000 && index_[pid] >= 0) pids_[static_cast<std::size_t>(index_[pid])]->note_starts = true;
}

namespace {

// The streams of a clip information as the scan knows them: PID and coding type, by PID.
std::vector<std::pair<std::uint16_t, std::uint8_t>> StreamKeys(const SClpiData& clip) {
  std::vector<std::pair<std::uint16_t, std::uint8_t>> keys;
  for (const STREAM_INFO& s : clip.streams()) keys.emplace_back(s.StreamPID, s.StreamCodingInfo.CodingType);
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

bool CStreamScan::settle(const SClpiData& clip) {
  if (StreamKeys(clip) != StreamKeys(*clip_) || PcrPidOf(clip) != pcr_pid_ ||
      clip.ProgramInfo.ProgramSequenceInfo.ProgramMapPid != pmt_pid_)
    return false;
  clip_ = &clip;
  for (auto& s : pids_) close_pes(*s);  // the notes of the last PES packets are complete
  prepare_entry_points(static_cast<std::uint64_t>(spn_));
  check_noted_entry_points();
  finish();
  return true;
}

// Each entry point against the PES packet noted at its packet.
void CStreamScan::check_noted_entry_points() {
  for (const SEpCheck& e : eps_) {
    const auto it = std::lower_bound(notes_.begin(), notes_.end(), e.spn,
                                     [](const SPesStart& n, std::uint32_t spn) { return n.spn < spn; });
    if (it == notes_.end() || it->spn != e.spn || it->pid != e.pid) {
      out_.add(check_kind::kEpMap, e.pid, e.spn, fmt::format("entry {} points at no packet that starts a PES packet of its PID", e.number));
    } else if (!it->has_pts) {
      out_.add(check_kind::kEpMap, e.pid, e.spn, fmt::format("entry {}: the PES packet has no PTS", e.number));
    } else if (it->pts != e.pts) {
      out_.add(check_kind::kEpMap, e.pid, e.spn, fmt::format("entry {}: the PES packet's PTS differs from the entry's {}", e.number, e.pts));
    } else if (!it->random_access) {
      out_.add(check_kind::kEpMap, e.pid, e.spn, fmt::format("entry {} is not on a random access point", e.number));
    }
  }
}

}  // namespace veld
