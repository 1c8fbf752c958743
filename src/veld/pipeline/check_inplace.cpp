// SPDX-License-Identifier: GPL-3.0-or-later
// The gate of a clip rebuilt in place, reading only what can differ from the original. Every packet of
// the new file that the writer did not write itself is a copy of an old one, with the old arrival time,
// so every check of the streams it kept comes out as on the original; what can differ is what the
// rebuilt streams' packets make (their timing, buffers, decoding, the PMT when renamed) and where the
// clip information's source packet numbers point. The first is checked on a clip of its own made of
// those packets with the PAT, PMT and PCRs around them; the second by comparing each pointed-at packet
// with the one the old number named.
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <system_error>

#include "veld/base/file.h"
#include "veld/clip/clpi.h"
#include "veld/pipeline/check.h"

namespace veld {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kSourcePacket = 192;
using Packet = std::array<std::uint8_t, kSourcePacket>;

std::optional<SClpiData> ReadClipInfo(const fs::path& path) {
  const std::optional<Bytes> bytes = read_whole_file(path, nullptr);
  SClpiData data;
  if (!bytes || parse_clpi(*bytes, data) <= 0) return std::nullopt;
  return data;
}

// One descriptor, closed on scope exit.
class CReadFd {
 public:
  explicit CReadFd(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  CReadFd(const CReadFd&) = delete;
  CReadFd& operator=(const CReadFd&) = delete;
  ~CReadFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool read(std::uint32_t spn, std::uint8_t* out, std::size_t count = 1) const {
    const std::size_t n = count * kSourcePacket;
    return fd_ >= 0 && ::pread(fd_, out, n, static_cast<off_t>(std::uint64_t{spn} * kSourcePacket)) == static_cast<ssize_t>(n);
  }

 private:
  int fd_;
};

std::uint16_t PacketPid(const Packet& p) { return static_cast<std::uint16_t>(((p[5] & 0x1F) << 8) | p[6]); }

// Every source packet number of the new clip information names the packet the old one named: the very
// same bytes, or, for a packet of a replaced stream, one of that stream with the same arrival time that
// starts a PES packet alike (its first 7 bytes: arrival stamp, sync byte, unit start and PID).
bool ReferencesHold(const CReadFd& old_file, const CReadFd& new_file, const SClpiData& was, const SClpiData& now,
                    const std::vector<std::uint16_t>& pids) {
  const auto same = [&](std::uint32_t old_spn, std::uint32_t new_spn) {
    Packet a{}, b{};
    if (!old_file.read(old_spn, a.data()) || !new_file.read(new_spn, b.data())) return false;
    const bool replaced = std::find(pids.begin(), pids.end(), PacketPid(a)) != pids.end();
    return std::equal(a.begin(), replaced ? a.begin() + 7 : a.end(), b.begin());
  };
  if (was.ep_map().size() != now.ep_map().size()) return false;
  for (std::size_t e = 0; e < was.ep_map().size(); ++e) {
    const auto& old_points = was.ep_map()[e].KeyPoints;
    const auto& new_points = now.ep_map()[e].KeyPoints;
    if (old_points.size() != new_points.size()) return false;
    for (std::size_t k = 0; k < old_points.size(); ++k)
      if (!same(old_points[k].SpnStart, new_points[k].SpnStart)) return false;
  }
  const SAtcInfo& old_atc = was.SequenceInfo.AtcInfo;
  const SAtcInfo& new_atc = now.SequenceInfo.AtcInfo;
  if (old_atc.StcInfo.size() != new_atc.StcInfo.size() || !same(old_atc.SpnAtcStart, new_atc.SpnAtcStart)) return false;
  for (std::size_t i = 0; i < old_atc.StcInfo.size(); ++i)
    if (!same(old_atc.StcInfo[i].SpnStcStart, new_atc.StcInfo[i].SpnStcStart)) return false;
  return same(was.ProgramInfo.ProgramSequenceInfo.SpnProgramSequenceStart,
              now.ProgramInfo.ProgramSequenceInfo.SpnProgramSequenceStart);
}

// The packets, read in runs of neighbours. Empty when one cannot be read.
Bytes ReadPackets(const CReadFd& file, const std::vector<std::uint32_t>& spns) {
  Bytes out(spns.size() * kSourcePacket);
  for (std::size_t i = 0; i < spns.size();) {
    std::size_t n = 1;
    while (i + n < spns.size() && spns[i + n] == spns[i] + n) ++n;
    if (!file.read(spns[i], out.data() + i * kSourcePacket, n)) return {};
    i += n;
  }
  return out;
}

// The clip information of the clip made of the listed packets: its source packet numbers counted in
// that clip, the entry points of the streams it holds no packets of left out. nullopt when an entry point
// of a replaced stream is not among the packets.
std::optional<SClpiData> SubClipInfo(SClpiData info, const std::vector<std::uint32_t>& spns,
                                     const std::vector<std::uint16_t>& pids) {
  const auto index = [&](std::uint32_t spn) {
    const auto it = std::lower_bound(spns.begin(), spns.end(), spn);
    return static_cast<std::uint32_t>(std::min<std::ptrdiff_t>(it - spns.begin(), static_cast<std::ptrdiff_t>(spns.size()) - 1));
  };
  info.ClipInfo.NumberOfSourcePackets = static_cast<std::uint32_t>(spns.size());
  SAtcInfo& atc = info.SequenceInfo.AtcInfo;
  atc.SpnAtcStart = index(atc.SpnAtcStart);
  for (STC_INFO& stc : atc.StcInfo) stc.SpnStcStart = index(stc.SpnStcStart);
  SProgramSequenceInfo& ps = info.ProgramInfo.ProgramSequenceInfo;
  ps.SpnProgramSequenceStart = index(ps.SpnProgramSequenceStart);
  auto& map = info.Cpi.EpMap;
  map.erase(std::remove_if(map.begin(), map.end(),
                           [&](const STREAM_PID_ENTRY& e) {
                             return std::find(pids.begin(), pids.end(), e.StreamPid) == pids.end();
                           }),
            map.end());
  for (STREAM_PID_ENTRY& e : map) {
    for (KEY_POINT_INFO& kp : e.KeyPoints) {
      if (!std::binary_search(spns.begin(), spns.end(), kp.SpnStart)) return std::nullopt;
      kp.SpnStart = index(kp.SpnStart);
      kp.SpnEnd = 0;
    }
  }
  return info;
}

// A file of the run's own, removed on scope exit.
class CScratchFile {
 public:
  explicit CScratchFile(fs::path path) : path_(std::move(path)) {}
  CScratchFile(const CScratchFile&) = delete;
  CScratchFile& operator=(const CScratchFile&) = delete;
  ~CScratchFile() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

bool InPlaceClipPasses(const fs::path& original_m2ts, const fs::path& original_clpi, const fs::path& new_m2ts,
                       const fs::path& new_clpi, const SInPlaceClip& clip, Progress& progress, bool* cancelled,
                       std::string* error) {
  *cancelled = false;
  error->clear();
  const std::optional<SClpiData> was = ReadClipInfo(original_clpi);
  const std::optional<SClpiData> now = ReadClipInfo(new_clpi);
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(new_m2ts, ec);
  if (!was || !now || ec || clip.check_packets.empty() || size % kSourcePacket != 0 ||
      size / kSourcePacket != now->ClipInfo.NumberOfSourcePackets || clip.check_packets.back() >= size / kSourcePacket)
    return false;
  const CReadFd old_file(original_m2ts), new_file(new_m2ts);
  if (!ReferencesHold(old_file, new_file, *was, *now, clip.pids)) return false;
  const Bytes packets = ReadPackets(new_file, clip.check_packets);
  if (packets.empty()) return false;
  return SubClipPasses(new_m2ts, new_clpi, *now, packets, clip.check_packets, clip.pids, progress, cancelled, error);
}

bool SubClipPasses(const fs::path& new_m2ts, const fs::path& new_clpi, const SClpiData& now, ByteSpan packets,
                   const std::vector<std::uint32_t>& spns, const std::vector<std::uint16_t>& pids, Progress& progress,
                   bool* cancelled, std::string* error) {
  const std::optional<SClpiData> sub_info = SubClipInfo(now, spns, pids);
  if (!sub_info || packets.size() != spns.size() * kSourcePacket) return false;
  const CScratchFile sub(new_m2ts.parent_path() / (new_m2ts.stem().string() + ".gate"));
  if (!write_whole_file(sub.path(), packets, error)) return false;
  SCheckScope scope;
  scope.all_buffers = false;
  scope.buffer_pids = pids;
  std::vector<SCheckFinding> findings;
  if (!CheckClip(sub.path(), new_clpi, *sub_info, findings, progress, nullptr, scope)) {
    *cancelled = true;
    return false;
  }
  return findings.empty();
}

}  // namespace veld
