// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/demux.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "veld/base/messages.h"
#include "veld/clip/rip_index.h"
#include "veld/ts/transport.h"

namespace veld {

namespace {

// The block buffer: 2 MiB aligned and backed by huge pages where the system allows it, so that filling
// it costs a handful of page faults rather than one per 4 KiB page (7,680 for a 30 MiB block).
class CBlockBuffer {
 public:
  explicit CBlockBuffer(std::size_t size) : mapped_(size + kHuge) {
    void* p = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    base_ = static_cast<std::uint8_t*>(p);
    const auto at = reinterpret_cast<std::uintptr_t>(base_);
    data_ = base_ + ((kHuge - at % kHuge) % kHuge);
#ifdef MADV_HUGEPAGE
    ::madvise(data_, size, MADV_HUGEPAGE);
#endif
  }
  ~CBlockBuffer() { ::munmap(base_, mapped_); }
  CBlockBuffer(const CBlockBuffer&) = delete;
  CBlockBuffer& operator=(const CBlockBuffer&) = delete;
  std::uint8_t* get() const { return data_; }

 private:
  static constexpr std::size_t kHuge = 2u << 20;
  std::size_t mapped_;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

}  // namespace

std::optional<SPmt> find_pmt(File& file) {
  const std::int64_t saved = file.position();
  std::optional<SPmt> found;
  CTsPacketReader reader;
  Bytes block(kPmtSearchBlockSize);
  while (!found) {
    const std::int64_t n = file.read_full(block.data(), block.size());
    if (n <= 0) break;
    const std::size_t packets = whole_packets(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < packets && !found; ++i) {
      const std::uint8_t* p = block.data() + i * kSourcePacketSize + 4;
      if (p[0] != kSyncByte || ts_pid(p) != kPidPmt) continue;
      reader.read(p);
      if (reader.pmt()) found = reader.pmt();
    }
    if (static_cast<std::size_t>(n) < block.size()) break;
  }
  file.seek(saved);
  return found;
}

std::optional<std::uint64_t> find_first_pcr(ByteSpan block) {
  const std::size_t packets = whole_packets(block.size());
  SAdaptationField field;
  for (std::size_t i = 0; i < packets; ++i) {
    const std::uint8_t* p = block.data() + i * kSourcePacketSize + 4;
    if (p[0] != kSyncByte || ts_pid(p) != kPidPcr || ((p[3] >> 4) & 3) < 2) continue;
    if (field.parse(ByteSpan(p + 4, kTsPacketSize - 4)) > 0 && field.PCR_Flag) return field.PCR.Base;
  }
  return std::nullopt;
}

std::optional<SFirstTimeStamp> find_first_pes_pts(ByteSpan block) {
  const std::size_t packets = whole_packets(block.size());
  CTsPacketReader reader;
  for (std::size_t i = 0; i < packets; ++i) {
    const std::uint8_t* p = block.data() + i * kSourcePacketSize + 4;
    if (p[0] != kSyncByte || !ts_payload_unit_start(p) || !is_elementary_pid(ts_pid(p))) continue;
    if (reader.read(p) <= 0) continue;
    const SPesHeader* pes = reader.pes_header();
    if (pes && pes->has_pts()) return SFirstTimeStamp{pes->PTS.value, reader.header().PID};
  }
  return std::nullopt;
}

std::uint64_t find_time_base(ByteSpan block) {
  const auto first = find_first_pes_pts(block);
  if (!first) return 0;
  const PidCategory c = pid_category(first->pid);
  if (c == PidCategory::kPresentationGraphics || c == PidCategory::kInteractiveGraphics ||
      c == PidCategory::kTextSubtitle) {
    return find_first_pcr(block).value_or(0);
  }
  return first->pts;
}

STrackInfo& CTrackInfoMap::add(std::uint16_t pid, STrackInfo info) {
  pid &= 0x1FFF;
  if (STrackInfo* old = find(pid)) {
    *old = std::move(info);
    return *old;
  }
  index_[pid] = static_cast<std::int16_t>(entries_.size());
  entries_.emplace_back(pid, std::move(info));
  return entries_.back().second;
}

namespace {

// The demultiplexer of one pass over a clip: every packet of a wanted PID into its track file, each piece
// shown to the observer first, while it is in the cache.
class CTrackDemuxer {
 public:
  CTrackDemuxer(CTrackInfoMap& map, CPacketObserver* observer) : map_(map), observer_(observer) {}

  // `packets` source packets at data, the first at clip offset base.
  void scan(const std::uint8_t* data, std::size_t packets, std::int64_t base) {
    constexpr std::size_t kPiece = kDemuxScanPiece / kSourcePacketSize;
    for (std::size_t first = 0; first < packets; first += kPiece) {
      const std::size_t n = std::min(kPiece, packets - first);
      const std::int64_t at = base + static_cast<std::int64_t>(first * kSourcePacketSize);
      if (observer_) observer_->observe(static_cast<std::uint64_t>(at) / kSourcePacketSize, data + first * kSourcePacketSize, n);
      demux(data + first * kSourcePacketSize, n, at);
    }
  }

  std::uint64_t time_base = 0;

 private:
  void demux(const std::uint8_t* data, std::size_t packets, std::int64_t base) {
    const std::uint8_t* p = data + 4;
    for (std::size_t i = 0; i < packets; ++i, p += kSourcePacketSize) {
      prefetch_ahead(data, i, packets);
      if (p[0] != kSyncByte) continue;
      STrackInfo* info = map_.find(ts_pid(p));
      if (!info || !info->track) continue;
      const int off = reader_.read(p);
      if (off <= 0) continue;
      STrackFile* target =
          info->low_priority_track && !reader_.header().TransportPriority ? info->low_priority_track.get()
                                                                           : info->track.get();
      if (reader_.pes_header()) target->set_packet_position(base + static_cast<std::int64_t>(i * kSourcePacketSize));
      target->write(p + off, kTsPacketSize - static_cast<std::size_t>(off), reader_.pes_header(), time_base);
    }
  }

  CTrackInfoMap& map_;
  CPacketObserver* observer_;
  CTsPacketReader reader_;
};

DemuxResult ReadFailed(const File& file, std::string* error) {
  if (error) *error = file.error();
  return DemuxResult::kReadError;
}

// The clip mapped into memory: the scan then touches only the packet headers and the payloads it wants
// instead of copying every byte out of the page cache.
DemuxResult DemuxMapped(CClipPacketSource& mapped, CTrackDemuxer& demuxer, bool graphics, std::int64_t size,
                        Progress& progress, std::string* error) {
  const int reader = mapped.add_reader();
  const std::uint8_t* data = mapped.packet(0);
  const std::uint64_t total = mapped.packet_count();
  constexpr std::uint64_t kBlockPackets = kDemuxBlockSize / kSourcePacketSize;
  if (graphics) demuxer.time_base = find_time_base(ByteSpan(data, std::min(total, kBlockPackets) * kSourcePacketSize));
  for (std::uint64_t first = 0; first < total; first += kBlockPackets) {
    const std::int64_t done = static_cast<std::int64_t>(first * kSourcePacketSize);
    if (!progress.set_position(static_cast<int>(done * 100 / size))) return DemuxResult::kCancelled;
    const std::uint64_t n = std::min(kBlockPackets, total - first);
    mapped.populate(first, n);
    demuxer.scan(data + first * kSourcePacketSize, static_cast<std::size_t>(n), done);
    if (mapped.shortened()) {  // cut short by another program: what the block held is not known
      if (error) *error = mapped.shortened_error();
      return DemuxResult::kReadError;
    }
    mapped.reader_at(reader, first + n);  // the pages passed leave the process's memory
  }
  return DemuxResult::kOk;
}

// A file that cannot be mapped is read block by block. The first block of a clip with graphics is read
// whole, for its time base, before any of its packets is written; the others piece by piece into the
// head of the buffer, each piece scanned while it is still in the cache (reading 30 MiB at once costs
// about twice the memory traffic of the copy).
DemuxResult DemuxRead(File& file, CTrackDemuxer& demuxer, bool graphics, std::int64_t size, Progress& progress,
                      std::string* error) {
  if (!file.seek(0)) return ReadFailed(file, error);
  const CBlockBuffer block(kDemuxBlockSize);
  std::int64_t done = 0;
  for (bool first_block = true;; first_block = false) {
    if (!progress.set_position(size > 0 ? static_cast<int>(done * 100 / size) : 0)) return DemuxResult::kCancelled;
    std::size_t got = 0;
    if (first_block && graphics) {
      const std::int64_t n = file.read_full(block.get(), kDemuxBlockSize);
      if (n < 0) return ReadFailed(file, error);
      got = static_cast<std::size_t>(n);
      const std::size_t packets = whole_packets(got);
      demuxer.time_base = find_time_base(ByteSpan(block.get(), packets * kSourcePacketSize));
      demuxer.scan(block.get(), packets, done);
    } else {
      while (got < kDemuxBlockSize) {
        const std::int64_t n = file.read_full(block.get(), kDemuxScanPiece);
        if (n < 0) return ReadFailed(file, error);
        demuxer.scan(block.get(), whole_packets(static_cast<std::size_t>(n)), done + static_cast<std::int64_t>(got));
        got += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < kDemuxScanPiece) break;
      }
    }
    done += static_cast<std::int64_t>(got);
    if (got < kDemuxBlockSize) return DemuxResult::kOk;
  }
}

}  // namespace

DemuxResult demux_to_track_files(CTrackInfoMap& map, File& file, Progress& progress, std::string* error,
                                 std::uint64_t* time_base_out, CPacketObserver* observer) {
  if (map.empty()) return DemuxResult::kOk;
  bool graphics = false;
  for (auto& [pid, info] : map.entries()) graphics |= info.coding_type == 0x90 || info.coding_type == 0x91;

  const std::int64_t size = file.length();
  progress.set_title(message_text(kStrDemuxing));
  progress.set_status(file.path().string());
  progress.set_position(0);

  CTrackDemuxer demuxer(map, observer);
  CClipPacketSource mapped(file);
  const DemuxResult result = mapped.ok() && mapped.packet_count() > 0
                                 ? DemuxMapped(mapped, demuxer, graphics, size, progress, error)
                                 : DemuxRead(file, demuxer, graphics, size, progress, error);
  if (result != DemuxResult::kOk) return result;
  for (auto& [pid, info] : map.entries()) {
    if (info.track) info.track->flush();
    if (info.low_priority_track) info.low_priority_track->flush();
  }
  if (time_base_out) *time_base_out = demuxer.time_base;
  progress.set_position(100);
  return DemuxResult::kOk;
}

}  // namespace veld
