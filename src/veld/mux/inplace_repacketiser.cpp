// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_repacketiser.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "veld/base/bytes.h"
#include "veld/graphics/segment.h"
#include "veld/mux/range_copy.h"

namespace veld {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kSourcePacket = 192;
constexpr std::uint32_t kAtsMask = 0x3FFFFFFF;
constexpr std::size_t kScanBlock = kSourcePacket * 32768;  // 6 MiB: whole aligned units
constexpr std::size_t kWalkBlock = kSourcePacket * 341;    // about 64 KiB

// The file descriptor of one open file, closed on scope exit.
class CFd {
 public:
  CFd(const fs::path& path, int flags, mode_t mode = 0644) : fd_(::open(path.c_str(), flags | O_CLOEXEC, mode)) {}
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  ~CFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string errno_text(const fs::path& path) { return fmt::format("{}: {}", path.string(), std::strerror(errno)); }

std::uint16_t packet_pid(const std::uint8_t* ts) { return static_cast<std::uint16_t>(((ts[1] & 0x1F) << 8) | ts[2]); }

// Offset of the payload in a transport packet, or 188 when it has none.
std::size_t payload_offset(const std::uint8_t* ts) {
  const std::uint8_t afc = (ts[3] >> 4) & 3;
  if (!(afc & 1)) return 188;
  if (!(afc & 2)) return 4;
  return std::min<std::size_t>(188, 5 + std::size_t{ts[4]});
}

// What the scan gathers of one replaced stream.
struct SPidScan {
  std::uint16_t pid = 0;
  std::vector<SIgSlot> slots;
  std::vector<std::uint32_t> headers;   // each slot's source packet header, kept as it was
  std::vector<std::uint32_t> ds_first;  // first slot of each display set
  std::uint8_t first_cc = 0;
  bool after_end = true;          // the next PES starts a display set
  std::size_t type_in_next = 0;   // the segment type is this many bytes into the next packet's payload (+1)
};

struct SScan {
  std::vector<SPidScan> pids;
  CClockMap clock;
  std::uint32_t packets = 0;
  int pcr_pid = -1;
};

void note_segment_type(SPidScan& s, std::uint8_t type) {
  if (type == kSegmentEnd) s.after_end = true;
}

void scan_ig_packet(SPidScan& s, const std::uint8_t* sp, std::uint32_t spn, std::uint64_t atc) {
  const std::uint8_t* ts = sp + 4;
  if (s.slots.empty()) s.first_cc = ts[3] & 0x0F;
  const std::size_t p = payload_offset(ts);
  if (s.type_in_next != 0 && p < 188) {
    const std::size_t at = p + s.type_in_next - 1;
    if (at < 188) note_segment_type(s, ts[at]);
    s.type_in_next = 0;
  }
  if ((ts[1] & 0x40) && p + 9 <= 188 && ts[p] == 0 && ts[p + 1] == 0 && ts[p + 2] == 1) {
    if (s.after_end) {
      s.ds_first.push_back(static_cast<std::uint32_t>(s.slots.size()));
      s.after_end = false;
    }
    const std::size_t type_at = p + 9 + std::size_t{ts[p + 8]};
    if (type_at < 188) {
      note_segment_type(s, ts[type_at]);
    } else {
      s.type_in_next = type_at - 188 + 1;
    }
  }
  s.slots.push_back({spn, atc});
  s.headers.push_back(load_be32(sp));
}

void scan_pcr(SScan& scan, const std::uint8_t* ts, std::uint64_t atc) {
  if (!(ts[3] & 0x20) || ts[4] < 7 || !(ts[5] & 0x10)) return;
  const std::uint16_t pid = packet_pid(ts);
  if (scan.pcr_pid < 0) scan.pcr_pid = pid;
  if (pid != scan.pcr_pid) return;
  const std::uint64_t base = (std::uint64_t{load_be32(ts + 6)} << 1) | (ts[10] >> 7);
  const std::uint64_t ext = ((std::uint64_t{ts[10]} & 1) << 8) | ts[11];
  scan.clock.add(atc, base * 300 + ext);
}

// Reads the whole old file once: the replaced streams' packets and display sets, and the PCRs.
bool scan_clip(int fd, std::uint64_t size, SScan& scan, Progress& progress, std::string& error) {
  std::vector<std::uint8_t> block(kScanBlock);
  std::uint64_t atc = 0;
  std::uint32_t last_ats = 0, spn = 0;
  const std::uint64_t total = size / kSourcePacket;
  std::uint64_t offset = 0;
  while (spn < total) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kScanBlock, (total - spn) * kSourcePacket));
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::pread(fd, block.data() + got, want - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? std::strerror(errno) : "the file ends early";
        return false;
      }
      got += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i < want; i += kSourcePacket, ++spn) {
      const std::uint8_t* sp = block.data() + i;
      const std::uint32_t ats = load_be32(sp) & kAtsMask;
      atc = spn == 0 ? ats : atc + ((ats - last_ats) & kAtsMask);
      last_ats = ats;
      const std::uint8_t* ts = sp + 4;
      const std::uint16_t pid = packet_pid(ts);
      for (SPidScan& s : scan.pids)
        if (s.pid == pid) scan_ig_packet(s, sp, spn, atc);
      scan_pcr(scan, ts, atc);
    }
    offset += want;
    if (progress.cancelled() || !progress.set_position(static_cast<int>(offset * 50 / std::max<std::uint64_t>(size, 1))))
      return false;
  }
  scan.packets = spn;
  return true;
}

// The rebuilt stream's transport packets, with their scheduling facts, continuity counters from first_cc.
struct SNewStream {
  std::vector<std::array<std::uint8_t, 188>> ts;
  std::vector<SNewIgPacket> meta;
};

bool packetise(SRawTrack& track, std::uint16_t pid, std::uint8_t first_cc, SNewStream& out, std::string& error) {
  track.pid = pid;
  if (!track.reset(&error)) return false;
  std::uint32_t ds = 0;
  std::size_t unit = 0;
  std::array<std::uint8_t, 188> packet{};
  while (const SMuxAu* au = track.current()) {
    const SGsIndexRecord& rec = track.index()[unit];
    bool first = true;
    for (int n; (n = track.make_packet(packet.data())) >= 0; first = false) {
      packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | ((first_cc + out.ts.size()) & 0x0F));
      out.ts.push_back(packet);
      SNewIgPacket m;
      m.display_set = ds;
      m.payload = static_cast<std::uint32_t>(n);
      m.pts = au->pts;
      m.dts = rec.Dts != 0 ? au->dts : au->pts;
      m.deadline = m.dts;
      m.unit_start = first;
      out.meta.push_back(m);
    }
    if ((rec.TypeWord & 0xFF) == kSegmentEnd) ++ds;
    ++unit;
    if (!track.next_access_unit()) {
      error = track.error();
      return false;
    }
  }
  // A stream whose last display set has no END still counts that set.
  return true;
}

// Reads arrival times of the old file's packets for the scheduler.
PacketWalker make_walker(int fd, std::uint32_t total) {
  return [fd, total](std::uint32_t from, std::uint32_t to, std::uint64_t atc_from,
                     const std::function<bool(std::uint32_t, std::uint64_t)>& visit) {
    std::vector<std::uint8_t> block(kWalkBlock);
    to = std::min(to, total - 1);
    std::uint64_t atc = atc_from;
    std::uint32_t last = 0;
    bool started = false;
    for (std::uint32_t spn = from; spn <= to;) {
      const std::size_t count = std::min<std::size_t>(kWalkBlock / kSourcePacket, to - spn + 1);
      const ssize_t n = ::pread(fd, block.data(), count * kSourcePacket, static_cast<off_t>(spn) * kSourcePacket);
      if (n < static_cast<ssize_t>(count * kSourcePacket)) return false;
      for (std::size_t i = 0; i < count; ++i, ++spn) {
        const std::uint32_t ats = load_be32(block.data() + i * kSourcePacket) & kAtsMask;
        if (started) atc += (ats - last) & kAtsMask;
        started = true;
        last = ats;
        if (!visit(spn, atc)) return true;
      }
    }
    return true;
  };
}

struct SEvent {
  std::uint32_t spn;
  std::uint8_t kind;  // 0 the slot takes a new packet, 1 the slot is left out, 2 a packet after spn
  std::uint32_t stream, packet;
  std::uint64_t atc;
};

std::vector<SEvent> collect_events(const std::vector<SPidScan>& scans, const std::vector<SPidSchedule>& plans) {
  std::vector<SEvent> ev;
  for (std::uint32_t s = 0; s < plans.size(); ++s) {
    for (std::uint32_t j = 0; j < plans[s].placements.size(); ++j) {
      const SPlacement& p = plans[s].placements[j];
      ev.push_back({p.spn, static_cast<std::uint8_t>(p.in_slot ? 0 : 2), s, j, p.atc});
    }
    for (std::uint32_t spn : plans[s].dropped) ev.push_back({spn, 1, s, 0, 0});
  }
  (void)scans;
  std::stable_sort(ev.begin(), ev.end(), [](const SEvent& a, const SEvent& b) {
    if (a.spn != b.spn) return a.spn < b.spn;
    return (a.kind == 2) < (b.kind == 2);
  });
  return ev;
}

// The header of a slot (by its spn) of a stream, from the scan.
std::uint32_t slot_header(const SPidScan& s, std::uint32_t spn) {
  const auto it = std::lower_bound(s.slots.begin(), s.slots.end(), spn,
                                   [](const SIgSlot& a, std::uint32_t v) { return a.spn < v; });
  return s.headers[static_cast<std::size_t>(it - s.slots.begin())];
}

bool write_clip(int in, int out, const SScan& scan, const std::vector<SNewStream>& streams,
                const std::vector<SEvent>& events, std::uint64_t ticks, SInPlaceResult& res, Progress& progress) {
  CRangeCopier copier(in, out);
  std::uint32_t cursor = 0;  // next old packet to copy
  std::array<std::uint8_t, kSourcePacket> sp{};
  std::uint32_t last_header = 0;
  std::size_t done = 0;
  for (const SEvent& e : events) {
    const std::uint32_t run_end = e.kind == 2 ? e.spn + 1 : e.spn;
    if (run_end > cursor && !copier.copy(std::uint64_t{cursor} * kSourcePacket, std::uint64_t{run_end - cursor} * kSourcePacket)) {
      res.reason = copier.error();
      return false;
    }
    cursor = std::max(cursor, run_end);
    const SPidScan& s = scan.pids[e.stream];
    if (e.kind == 1) {
      res.shift.dropped.push_back(e.spn);
      cursor = e.spn + 1;
      continue;
    }
    const std::uint32_t header = e.kind == 0 ? slot_header(s, e.spn)
                                             : ((s.headers.front() & ~kAtsMask) | (static_cast<std::uint32_t>(e.atc) & kAtsMask));
    store_be32(sp.data(), header);
    std::memcpy(sp.data() + 4, streams[e.stream].ts[e.packet].data(), 188);
    if (!copier.write(sp.data(), sp.size())) {
      res.reason = copier.error();
      return false;
    }
    if (e.kind == 0) cursor = e.spn + 1;
    if (e.kind == 2) res.shift.inserted_after.push_back(e.spn);
    last_header = header;
    if ((++done & 0xFFF) == 0 && progress.cancelled()) return false;
  }
  if (scan.packets > cursor &&
      !copier.copy(std::uint64_t{cursor} * kSourcePacket, std::uint64_t{scan.packets - cursor} * kSourcePacket)) {
    res.reason = copier.error();
    return false;
  }
  if (!copier.flush()) {
    res.reason = copier.error();
    return false;
  }
  std::uint64_t count = copier.size() / kSourcePacket;
  // The arrival time of the last packet, for the null packets that complete the last aligned unit.
  std::array<std::uint8_t, 4> h{};
  if (count > 0 && ::pread(out, h.data(), 4, static_cast<off_t>((count - 1) * kSourcePacket)) == 4) last_header = load_be32(h.data());
  std::uint32_t ats = last_header & kAtsMask;
  while (count % 32 != 0) {
    ats = static_cast<std::uint32_t>((ats + ticks) & kAtsMask);
    store_be32(sp.data(), (last_header & ~kAtsMask) | ats);
    const std::array<std::uint8_t, 4> null_header{0x47, 0x1F, 0xFF, 0x10};
    std::memcpy(sp.data() + 4, null_header.data(), 4);
    std::memset(sp.data() + 8, 0xFF, 184);
    if (!copier.write(sp.data(), sp.size())) break;
    ++count;
  }
  if (!copier.flush()) {
    res.reason = copier.error();
    return false;
  }
  res.packets = static_cast<std::uint32_t>(count);
  return true;
}

std::string failure_text(std::uint16_t pid, const SPidSchedule& plan) {
  const char* why = "";
  switch (plan.failure) {
    case ScheduleFailure::kDisplaySets: why = "the display sets do not match the old stream's"; break;
    case ScheduleFailure::kNoRoom: why = "no free arrival time for a grown display set"; break;
    case ScheduleFailure::kLate: why = "a packet would arrive after its decoding time"; break;
    case ScheduleFailure::kRead: why = "the clip could not be read again"; break;
    case ScheduleFailure::kNone: break;
  }
  return fmt::format("PID 0x{:04X}: {}{}{}", pid, why, plan.where.empty() ? "" : " (", plan.where.empty() ? "" : plan.where + ")");
}

}  // namespace

std::uint32_t SSpnShift::map(std::uint32_t spn) const {
  const auto ins = std::lower_bound(inserted_after.begin(), inserted_after.end(), spn) - inserted_after.begin();
  const auto drop = std::lower_bound(dropped.begin(), dropped.end(), spn) - dropped.begin();
  return static_cast<std::uint32_t>(std::int64_t{spn} + ins - drop);
}

void ShiftClipInfo(SClpiData& clip, const SSpnShift& shift, std::uint32_t source_packets) {
  clip.ClipInfo.NumberOfSourcePackets = source_packets;
  SAtcInfo& atc = clip.SequenceInfo.AtcInfo;
  atc.SpnAtcStart = shift.map(atc.SpnAtcStart);
  for (STC_INFO& stc : atc.StcInfo) stc.SpnStcStart = shift.map(stc.SpnStcStart);
  SProgramSequenceInfo& ps = clip.ProgramInfo.ProgramSequenceInfo;
  ps.SpnProgramSequenceStart = shift.map(ps.SpnProgramSequenceStart);
  for (STREAM_PID_ENTRY& e : clip.Cpi.EpMap) {
    for (KEY_POINT_INFO& kp : e.KeyPoints) {
      kp.SpnStart = shift.map(kp.SpnStart);
      if (kp.SpnEnd != 0) kp.SpnEnd = shift.map(kp.SpnEnd);
    }
  }
}

SInPlaceResult RepacketiseInPlace(const fs::path& in_path, const fs::path& out_path,
                                  const std::vector<SInPlaceStream>& streams, std::uint32_t recording_rate,
                                  Progress& progress) {
  SInPlaceResult res;
  const auto finish = [&](SInPlaceResult::Status status) {
    res.status = status;
    if (status != SInPlaceResult::Status::kDone) {
      std::error_code ec;
      fs::remove(out_path, ec);
    }
    return res;
  };
  CFd in(in_path, O_RDONLY);
  if (in.get() < 0) {
    res.reason = errno_text(in_path);
    return finish(SInPlaceResult::Status::kFailed);
  }
  std::error_code ec;
  const std::uint64_t size = fs::file_size(in_path, ec);
  SScan scan;
  for (const SInPlaceStream& s : streams) scan.pids.push_back(SPidScan{s.pid, {}, {}, {}, 0, true, 0});
  std::string error;
  if (ec || !scan_clip(in.get(), size, scan, progress, error)) {
    if (progress.cancelled()) return finish(SInPlaceResult::Status::kCancelled);
    res.reason = fmt::format("{}: {}", in_path.string(), ec ? ec.message() : error);
    return finish(SInPlaceResult::Status::kFailed);
  }
  const std::uint64_t ticks = PacketTicks(recording_rate);
  std::vector<SNewStream> built(streams.size());
  std::vector<SPidSchedule> plans;
  std::vector<std::uint32_t> taken;
  const PacketWalker walk = make_walker(in.get(), scan.packets);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (!packetise(*streams[i].track, streams[i].pid, scan.pids[i].first_cc, built[i], error)) {
      res.reason = error;
      return finish(SInPlaceResult::Status::kFailed);
    }
    SScheduleInput input{&scan.pids[i].slots, &scan.pids[i].ds_first, &built[i].meta, &scan.clock,
                         scan.packets, ticks, &taken};
    plans.push_back(ScheduleInPlace(input, walk));
    if (plans.back().failure != ScheduleFailure::kNone) {
      res.reason = failure_text(streams[i].pid, plans.back());
      return finish(SInPlaceResult::Status::kNoSchedule);
    }
    for (const SPlacement& p : plans.back().placements)
      if (!p.in_slot) taken.push_back(p.spn);
    std::sort(taken.begin(), taken.end());
  }
  CFd out(out_path, O_RDWR | O_CREAT | O_TRUNC);
  if (out.get() < 0) {
    res.reason = errno_text(out_path);
    return finish(SInPlaceResult::Status::kFailed);
  }
  const std::vector<SEvent> events = collect_events(scan.pids, plans);
  if (!write_clip(in.get(), out.get(), scan, built, events, ticks, res, progress)) {
    if (progress.cancelled()) return finish(SInPlaceResult::Status::kCancelled);
    if (res.reason.empty()) res.reason = out_path.string();
    return finish(SInPlaceResult::Status::kFailed);
  }
  progress.set_position(100);
  return finish(SInPlaceResult::Status::kDone);
}

}  // namespace veld
