// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_scan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "veld/base/bytes.h"
#include "veld/graphics/segment.h"

namespace veld {
namespace {

constexpr std::size_t kSourcePacket = 192;
constexpr std::uint32_t kAtsMask = 0x3FFFFFFF;
constexpr std::size_t kReadBlock = kSourcePacket * 32768;  // 6 MiB: whole aligned units

std::uint16_t packet_pid(const std::uint8_t* ts) { return static_cast<std::uint16_t>(((ts[1] & 0x1F) << 8) | ts[2]); }

// Offset of the payload in a transport packet, or 188 when it has none.
std::size_t payload_offset(const std::uint8_t* ts) {
  const std::uint8_t afc = (ts[3] >> 4) & 3;
  if (!(afc & 1)) return 188;
  if (!(afc & 2)) return 4;
  return std::min<std::size_t>(188, 5 + std::size_t{ts[4]});
}

void note_segment_type(SPidScan& s, std::uint8_t type) {
  if (type == kSegmentEnd) s.after_end = true;
}

}  // namespace

SPidScan& CInPlaceScan::pid_scan(std::uint16_t pid) {
  for (SPidScan& s : pids_)
    if (s.pid == pid) return s;
  pids_.push_back(SPidScan{});
  pids_.back().pid = pid;
  return pids_.back();
}

const SPidScan& CInPlaceScan::pid(std::uint16_t pid) const {
  for (const SPidScan& s : pids_)
    if (s.pid == pid) return s;
  return none_;
}

void CInPlaceScan::ig_packet(SPidScan& s, const std::uint8_t* sp, std::uint32_t spn) {
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
  s.slots.push_back({spn, atc_});
  s.headers.push_back(load_be32(sp));
}

// Whether the packet carries a PCR that the clock follows.
bool CInPlaceScan::pcr(const std::uint8_t* ts) {
  if (!(ts[3] & 0x20) || ts[4] < 7 || !(ts[5] & 0x10)) return false;
  const std::uint16_t pid = packet_pid(ts);
  if (pcr_pid_ < 0) pcr_pid_ = pid;
  if (pid != pcr_pid_) return false;
  const std::uint64_t base = (std::uint64_t{load_be32(ts + 6)} << 1) | (ts[10] >> 7);
  const std::uint64_t ext = ((std::uint64_t{ts[10]} & 1) << 8) | ts[11];
  clock_.add(atc_, base * 300 + ext);
  return true;
}

void CInPlaceScan::watch_entry_points(const CSpeFolder& ep_map) {
  for (const STREAM_PID_ENTRY& e : ep_map) {
    if (e.EpStreamType != 1 || e.KeyPoints.empty()) continue;
    SEntryWatch w;
    w.pid = e.StreamPid;
    for (const KEY_POINT_INFO& kp : e.KeyPoints) w.starts.push_back(kp.SpnStart);
    std::sort(w.starts.begin(), w.starts.end());
    w.ends.assign(w.starts.size(), kNoEnd);
    watches_.push_back(std::move(w));
  }
}

void CInPlaceScan::entry_packet(SEntryWatch& w, const std::uint8_t* ts, std::uint32_t spn) {
  if (ts[1] & 0x40) {  // a PES packet starts: the one before it is over
    if (w.open >= 0) w.ends[static_cast<std::size_t>(w.open)] = w.last;
    w.open = -1;
    while (w.next < w.starts.size() && w.starts[w.next] < spn) ++w.next;
    if (w.next < w.starts.size() && w.starts[w.next] == spn) w.open = static_cast<std::int64_t>(w.next++);
  }
  w.last = spn;
}

std::optional<std::uint32_t> CInPlaceScan::access_unit_end(std::uint16_t pid, std::uint32_t spn) const {
  for (const SEntryWatch& w : watches_) {
    if (w.pid != pid) continue;
    const auto it = std::lower_bound(w.starts.begin(), w.starts.end(), spn);
    if (it == w.starts.end() || *it != spn) return std::nullopt;
    const auto i = static_cast<std::size_t>(it - w.starts.begin());
    if (w.ends[i] != kNoEnd) return w.ends[i];
    if (static_cast<std::int64_t>(i) == w.open) return w.last;  // the file ends inside it
    return std::nullopt;
  }
  return std::nullopt;
}

void CInPlaceScan::observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) {
  // The pass sees the file in order; arrival times are unwrapped across every packet.
  auto spn = static_cast<std::uint32_t>(first_spn);
  for (std::size_t i = 0; i < count; ++i, ++spn) {
    const std::uint8_t* sp = packets + i * kSourcePacket;
    prefetch_ahead(packets, i, count);
    const std::uint32_t ats = load_be32(sp) & kAtsMask;
    atc_ = spn == 0 ? ats : atc_ + ((ats - last_ats_) & kAtsMask);
    last_ats_ = ats;
    const std::uint8_t* ts = sp + 4;
    const std::uint16_t pid = packet_pid(ts);
    if (pid >= 0x1400 && pid <= 0x141F) ig_packet(pid_scan(pid), sp, spn);
    for (SEntryWatch& w : watches_)
      if (w.pid == pid) entry_packet(w, ts, spn);
    if (pid == pmt_pid_) pmt_packets_.push_back(spn);
    if (pcr(ts) || pid == 0 || pid == pmt_pid_) reference_packets_.push_back(spn);
  }
  packets_ = spn;
}

bool CInPlaceScan::read(const std::filesystem::path& path, Progress& progress, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::error_code ec;
  const std::uint64_t size = fd < 0 ? 0 : std::filesystem::file_size(path, ec);
  if (fd < 0 || ec) {
    error = fd < 0 ? std::strerror(errno) : ec.message();
    if (fd >= 0) ::close(fd);
    return false;
  }
  const bool ok = read_open(fd, size, progress, error);
  ::close(fd);
  return ok;
}

bool CInPlaceScan::read_open(int fd, std::uint64_t size, Progress& progress, std::string& error) {
  std::vector<std::uint8_t> block(kReadBlock);
  const std::uint64_t total = size / kSourcePacket;
  std::uint64_t offset = 0;
  for (std::uint64_t spn = 0; spn < total;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, (total - spn) * kSourcePacket));
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
    observe(spn, block.data(), want / kSourcePacket);
    spn += want / kSourcePacket;
    offset += want;
    if (progress.cancelled() || !progress.set_position(static_cast<int>(offset * 50 / std::max<std::uint64_t>(size, 1))))
      return false;
  }
  packets_ = static_cast<std::uint32_t>(total);
  return true;
}

}  // namespace veld
