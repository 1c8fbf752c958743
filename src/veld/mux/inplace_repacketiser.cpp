// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_repacketiser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

#include "veld/base/bytes.h"
#include "veld/clip/clpi.h"
#include "veld/graphics/segment.h"
#include "veld/mux/range_copy.h"
#include "veld/ts/pmt_language.h"

namespace veld {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kSourcePacket = 192;
constexpr std::uint32_t kAtsMask = 0x3FFFFFFF;
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
  // 0 the slot takes a new packet, 1 the slot is left out, 2 a packet after spn, 3 the packet is patched
  std::uint8_t kind;
  std::uint32_t stream, packet;  // kind 3: packet indexes the patched packets
  std::uint64_t atc;
};

// What the new file holds in place of old packets: the rebuilt streams' packets and the patched packets.
struct SWritePlan {
  std::vector<const SPidScan*> scans;  // per rebuilt stream, the old one's
  const std::vector<SNewStream>* streams = nullptr;
  std::vector<std::array<std::uint8_t, kSourcePacket>> patched;  // whole source packets
  std::vector<SEvent> events;
};

std::vector<SEvent> collect_events(const std::vector<SPidSchedule>& plans, const std::vector<std::uint32_t>& patched) {
  std::vector<SEvent> ev;
  for (std::uint32_t s = 0; s < plans.size(); ++s) {
    for (std::uint32_t j = 0; j < plans[s].placements.size(); ++j) {
      const SPlacement& p = plans[s].placements[j];
      ev.push_back({p.spn, static_cast<std::uint8_t>(p.in_slot ? 0 : 2), s, j, p.atc});
    }
    for (std::uint32_t spn : plans[s].dropped) ev.push_back({spn, 1, s, 0, 0});
  }
  for (std::uint32_t i = 0; i < patched.size(); ++i) ev.push_back({patched[i], 3, 0, i, 0});
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

// Null packets after the last one, at the recording rate, complete the last aligned unit.
bool pad_to_unit(CRangeCopier& copier, int out, std::uint32_t last_header, std::uint64_t ticks, SInPlaceResult& res) {
  if (!copier.flush()) {
    res.reason = copier.error();
    return false;
  }
  std::uint64_t count = copier.size() / kSourcePacket;
  std::array<std::uint8_t, 4> h{};
  if (count > 0 && ::pread(out, h.data(), 4, static_cast<off_t>((count - 1) * kSourcePacket)) == 4) last_header = load_be32(h.data());
  std::array<std::uint8_t, kSourcePacket> sp{};
  std::uint32_t ats = last_header & kAtsMask;
  while (count % 32 != 0) {
    ats = static_cast<std::uint32_t>((ats + ticks) & kAtsMask);
    store_be32(sp.data(), (last_header & ~kAtsMask) | ats);
    const std::array<std::uint8_t, 4> null_header{0x47, 0x1F, 0xFF, 0x10};
    std::memcpy(sp.data() + 4, null_header.data(), 4);
    std::memset(sp.data() + 8, 0xFF, 184);
    if (!copier.write(sp.data(), sp.size())) break;
    res.written.push_back(static_cast<std::uint32_t>(count));
    ++count;
  }
  if (!copier.flush()) {
    res.reason = copier.error();
    return false;
  }
  res.packets = static_cast<std::uint32_t>(count);
  return true;
}

// The source packet an event writes, with the header it keeps or gets.
const std::uint8_t* event_packet(const SWritePlan& plan, const SEvent& e, std::array<std::uint8_t, kSourcePacket>& sp) {
  if (e.kind == 3) return plan.patched[e.packet].data();
  const SPidScan& s = *plan.scans[e.stream];
  const std::uint32_t header = e.kind == 0 ? slot_header(s, e.spn)
                                           : ((s.headers.front() & ~kAtsMask) | (static_cast<std::uint32_t>(e.atc) & kAtsMask));
  store_be32(sp.data(), header);
  std::memcpy(sp.data() + 4, (*plan.streams)[e.stream].ts[e.packet].data(), 188);
  return sp.data();
}

bool write_clip(int in, int out, const SWritePlan& plan, std::uint32_t packets, std::uint64_t ticks,
                SInPlaceResult& res, Progress& progress) {
  CRangeCopier copier(in, out);
  std::uint32_t cursor = 0;  // next old packet to copy
  std::array<std::uint8_t, kSourcePacket> sp{};
  std::uint32_t last_header = 0;
  std::size_t done = 0;
  for (const SEvent& e : plan.events) {
    const std::uint32_t run_end = e.kind == 2 ? e.spn + 1 : e.spn;
    if (run_end > cursor && !copier.copy(std::uint64_t{cursor} * kSourcePacket, std::uint64_t{run_end - cursor} * kSourcePacket)) {
      res.reason = copier.error();
      return false;
    }
    cursor = std::max(cursor, run_end);
    if (e.kind == 1) {
      res.shift.dropped.push_back(e.spn);
      cursor = e.spn + 1;
      continue;
    }
    const std::uint8_t* packet = event_packet(plan, e, sp);
    res.written.push_back(static_cast<std::uint32_t>(copier.size() / kSourcePacket));
    if (!copier.write(packet, kSourcePacket)) {
      res.reason = copier.error();
      return false;
    }
    if (e.kind != 2) cursor = e.spn + 1;
    if (e.kind == 2) res.shift.inserted_after.push_back(e.spn);
    last_header = load_be32(packet);
    if ((++done & 0xFFF) == 0 && progress.cancelled()) return false;
  }
  if (packets > cursor &&
      !copier.copy(std::uint64_t{cursor} * kSourcePacket, std::uint64_t{packets - cursor} * kSourcePacket)) {
    res.reason = copier.error();
    return false;
  }
  return pad_to_unit(copier, out, last_header, ticks, res);
}

// The program map packets with the renamed languages. false with res.reason when one cannot be renamed
// where it stands (a section over more than one packet): the clip then takes the full route.
bool patch_program_maps(int in, const CInPlaceScan& scan, const std::vector<SInPlaceStream>& streams,
                        SWritePlan& plan, std::vector<std::uint32_t>& spns, SInPlaceResult& res) {
  const bool renamed = std::any_of(streams.begin(), streams.end(), [](const SInPlaceStream& s) { return s.language; });
  if (!renamed) return true;
  for (const std::uint32_t spn : scan.program_map_packets()) {
    std::array<std::uint8_t, kSourcePacket> sp{};
    if (::pread(in, sp.data(), sp.size(), static_cast<off_t>(std::uint64_t{spn} * kSourcePacket)) != static_cast<ssize_t>(sp.size())) {
      res.reason = fmt::format("the program map table at packet {} cannot be read again", spn);
      return false;
    }
    for (const SInPlaceStream& s : streams) {
      if (!s.language) continue;
      if (SetPmtLanguage(std::span<std::uint8_t, 188>(sp.data() + 4, 188), s.pid, *s.language) == PmtLanguagePatch::kUnfit) {
        res.reason = fmt::format("the program map table at packet {} spans more than one packet", spn);
        return false;
      }
    }
    plan.patched.push_back(sp);
    spns.push_back(spn);
  }
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

namespace {

// The size class of a video entry point whose access unit ends at old packet `end`, after the shift.
void follow_size_class(SFineEntryAsRead& fine, const KEY_POINT_INFO& kp, std::uint32_t end, const SSpnShift& shift) {
  KEY_POINT_INFO old_unit = kp;
  old_unit.SpnEnd = end;
  if (i_end_position_offset(old_unit) != fine.IEndPositionOffset) return;  // measured some other way
  KEY_POINT_INFO new_unit = kp;
  new_unit.SpnStart = shift.map(kp.SpnStart);
  new_unit.SpnEnd = shift.map(end);
  fine.IEndPositionOffset = i_end_position_offset(new_unit);
}

}  // namespace

void ShiftClipInfo(SClpiData& clip, const SSpnShift& shift, std::uint32_t source_packets, const CInPlaceScan* scan) {
  clip.ClipInfo.NumberOfSourcePackets = source_packets;
  SAtcInfo& atc = clip.SequenceInfo.AtcInfo;
  atc.SpnAtcStart = shift.map(atc.SpnAtcStart);
  for (STC_INFO& stc : atc.StcInfo) stc.SpnStcStart = shift.map(stc.SpnStcStart);
  SProgramSequenceInfo& ps = clip.ProgramInfo.ProgramSequenceInfo;
  ps.SpnProgramSequenceStart = shift.map(ps.SpnProgramSequenceStart);
  for (STREAM_PID_ENTRY& e : clip.Cpi.EpMap) {
    const bool classes = scan && e.EpStreamType == 1 && e.FineEntriesAsRead.size() == e.KeyPoints.size();
    for (std::size_t i = 0; i < e.KeyPoints.size(); ++i) {
      KEY_POINT_INFO& kp = e.KeyPoints[i];
      if (classes)
        if (const auto end = scan->access_unit_end(e.StreamPid, kp.SpnStart))
          follow_size_class(e.FineEntriesAsRead[i], kp, *end, shift);
      kp.SpnStart = shift.map(kp.SpnStart);
      if (kp.SpnEnd != 0) kp.SpnEnd = shift.map(kp.SpnEnd);
    }
  }
}

namespace {

// Packetises each rebuilt stream and schedules it into the slots of the stream it replaces. false with
// res.reason set (and *no_schedule when no legal schedule exists) on failure.
bool schedule_streams(int in, const CInPlaceScan& scan, const std::vector<SInPlaceStream>& streams,
                      std::uint64_t ticks, std::vector<SNewStream>& built, std::vector<SPidSchedule>& plans,
                      SInPlaceResult& res, bool& no_schedule) {
  built.assign(streams.size(), SNewStream{});
  std::vector<std::uint32_t> taken;
  const PacketWalker walk = make_walker(in, scan.packets());
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const SPidScan& old = scan.pid(streams[i].pid);
    if (!packetise(*streams[i].track, streams[i].pid, old.first_cc, built[i], res.reason)) return false;
    SScheduleInput input{&old.slots, &old.ds_first, &built[i].meta, &scan.clock(), scan.packets(), ticks, &taken};
    plans.push_back(ScheduleInPlace(input, walk));
    if (plans.back().failure != ScheduleFailure::kNone) {
      res.reason = failure_text(streams[i].pid, plans.back());
      no_schedule = true;
      return false;
    }
    for (const SPlacement& p : plans.back().placements)
      if (!p.in_slot) taken.push_back(p.spn);
    std::sort(taken.begin(), taken.end());
  }
  return true;
}

// Whether the new file is the old one with some packets overwritten: no packet enters or leaves, and
// the old file ends on a whole aligned unit (nothing to pad).
bool slots_only(const SWritePlan& plan, std::uint32_t packets) {
  return packets % 32 == 0 &&
         std::all_of(plan.events.begin(), plan.events.end(), [](const SEvent& e) { return e.kind == 0 || e.kind == 3; });
}

// Writes the plan's packets over their slots in a whole copy of the old file; runs of neighbouring
// packets go in one write.
bool overwrite_slots(const fs::path& path, const SWritePlan& plan, std::uint32_t packets, SInPlaceResult& res) {
  CFd out(path, O_WRONLY);
  struct stat st {};
  if (out.get() < 0 || ::fstat(out.get(), &st) != 0) {
    res.reason = errno_text(path);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) != std::uint64_t{packets} * kSourcePacket) {
    res.reason = fmt::format("{}: the copy of the old clip has {} bytes, not {}", path.string(), st.st_size,
                             std::uint64_t{packets} * kSourcePacket);
    return false;
  }
  std::vector<std::uint8_t> run;
  std::uint64_t run_at = 0;
  const auto put_run = [&] {
    for (std::size_t done = 0; done < run.size();) {
      const ssize_t n = ::pwrite(out.get(), run.data() + done, run.size() - done, static_cast<off_t>(run_at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        res.reason = errno_text(path);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    run.clear();
    return true;
  };
  std::array<std::uint8_t, kSourcePacket> sp{};
  for (const SEvent& e : plan.events) {
    const std::uint64_t at = std::uint64_t{e.spn} * kSourcePacket;
    if (at != run_at + run.size() && !put_run()) return false;
    if (run.empty()) run_at = at;
    const std::uint8_t* packet = event_packet(plan, e, sp);
    run.insert(run.end(), packet, packet + kSourcePacket);
    res.written.push_back(e.spn);
  }
  if (!put_run()) return false;
  res.packets = packets;
  return true;
}

// With a copy of the old file made ahead and a plan that only overwrites slots, the packets go into that
// copy: the status then. nullopt when the copy is of no use (abandoned; the file is written by runs).
std::optional<SInPlaceResult::Status> finish_in_copy(CFileCopyAhead* ahead, const fs::path& out_path,
                                                     const SWritePlan& plan, std::uint32_t packets,
                                                     SInPlaceResult& res, Progress& progress) {
  if (!ahead) return std::nullopt;
  if (ahead->started() && slots_only(plan, packets) && ahead->target() == out_path) {
    std::string error;
    if (ahead->Adopt(progress, 50, 99, &error)) {
      if (!overwrite_slots(out_path, plan, packets, res)) return SInPlaceResult::Status::kFailed;
      progress.set_position(100);
      return SInPlaceResult::Status::kDone;
    }
    if (progress.cancelled()) return SInPlaceResult::Status::kCancelled;
    // A copy that failed is made again by runs, where its error is reported.
  }
  ahead->Abandon();
  return std::nullopt;
}

}  // namespace

SInPlaceResult RepacketiseInPlace(const fs::path& in_path, const fs::path& out_path,
                                  const std::vector<SInPlaceStream>& streams, std::uint32_t recording_rate,
                                  const CInPlaceScan& scan, Progress& progress, CFileCopyAhead* ahead) {
  SInPlaceResult res;
  const auto finish = [&](SInPlaceResult::Status status) {
    res.status = status;
    if (ahead) ahead->Abandon();  // before anything else may write the file
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
  if (ec || scan.packets() != size / kSourcePacket) {
    res.reason = fmt::format("{}: {}", in_path.string(),
                             ec ? ec.message() : "the file changed since it was read (another program writes it?)");
    return finish(SInPlaceResult::Status::kFailed);
  }
  const std::uint64_t ticks = PacketTicks(recording_rate);
  std::vector<SNewStream> built;
  std::vector<SPidSchedule> plans;
  bool no_schedule = false;
  if (!schedule_streams(in.get(), scan, streams, ticks, built, plans, res, no_schedule))
    return finish(no_schedule ? SInPlaceResult::Status::kNoSchedule : SInPlaceResult::Status::kFailed);
  SWritePlan plan;
  for (const SInPlaceStream& s : streams) plan.scans.push_back(&scan.pid(s.pid));
  plan.streams = &built;
  std::vector<std::uint32_t> patched;
  if (!patch_program_maps(in.get(), scan, streams, plan, patched, res)) return finish(SInPlaceResult::Status::kNoSchedule);
  plan.events = collect_events(plans, patched);
  if (const auto status = finish_in_copy(ahead, out_path, plan, scan.packets(), res, progress)) return finish(*status);
  CFd out(out_path, O_RDWR | O_CREAT | O_TRUNC);
  if (out.get() < 0) {
    res.reason = errno_text(out_path);
    return finish(SInPlaceResult::Status::kFailed);
  }
  if (!write_clip(in.get(), out.get(), plan, scan.packets(), ticks, res, progress)) {
    if (progress.cancelled()) return finish(SInPlaceResult::Status::kCancelled);
    if (res.reason.empty()) res.reason = out_path.string();
    return finish(SInPlaceResult::Status::kFailed);
  }
  progress.set_position(100);
  return finish(SInPlaceResult::Status::kDone);
}

}  // namespace veld
