// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/rip_index.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <cstring>

#include "veld/base/bit_reader.h"
#include "veld/base/messages.h"
#include "veld/base/messages_undo.h"
#include "veld/clip/demux.h"
#include "veld/ts/transport.h"

namespace veld {

// ---- CAuIndex -----------------------------------------------------------------------------------------

std::span<const SPacketRange> CAuIndex::ranges(std::size_t i) const {
  const std::size_t begin = units_[i].FirstRange;
  const std::size_t end = i + 1 < units_.size() ? units_[i + 1].FirstRange : ranges_.size();
  return std::span<const SPacketRange>(ranges_).subspan(begin, end - begin);
}

void CAuIndex::clear() {
  units_.clear();
  ranges_.clear();
  open_ = false;
}

void CAuIndex::shrink() {
  units_.shrink_to_fit();
  ranges_.shrink_to_fit();
}

std::size_t CAuIndex::memory_bytes() const {
  return units_.capacity() * sizeof(SRipAu) + ranges_.capacity() * sizeof(SPacketRange);
}

void CAuIndex::open(std::uint32_t pts, std::uint32_t dts, std::uint32_t key_info) {
  close();
  current_ = SRipAu{key_info, dts, pts, 0, static_cast<std::uint32_t>(ranges_.size())};
  open_ = true;
}

void CAuIndex::add_packet(std::uint32_t spn) {
  if (!open_) return;
  if (current_.PacketCount > 0 && ranges_.back().last + 1 == spn) {
    ranges_.back().last = spn;
  } else {
    ranges_.push_back({spn, spn});
  }
  ++current_.PacketCount;
}

void CAuIndex::append(const CAuIndex& other) {
  const std::uint32_t base = static_cast<std::uint32_t>(ranges_.size());
  for (SRipAu u : other.units_) {
    u.FirstRange += base;
    units_.push_back(u);
  }
  ranges_.insert(ranges_.end(), other.ranges_.begin(), other.ranges_.end());
}

void CAuIndex::close() {
  if (!open_) return;
  open_ = false;
  if (current_.PacketCount == 0) {
    ranges_.resize(current_.FirstRange);
    return;
  }
  units_.push_back(current_);
}

// ---- key information ----------------------------------------------------------------------------------

std::uint32_t access_unit_key_info(std::uint8_t coding_type, ByteSpan payload) {
  switch (coding_type) {
    case 0x02: {
      MemBitReader r(payload);
      return r.find_start_code({0x00, 0x00, 0x01, 0xB3}) ? 1 : 0;
    }
    case 0xEA: {
      MemBitReader r(payload);
      return r.find_start_code({0x00, 0x00, 0x01, 0x0F}) ? 1 : 0;
    }
    case 0x1B: {
      // NAL units behind 4-byte start codes: a sequence parameter set before the first slice.
      MemBitReader r(payload);
      while (r.find_start_code({0x00, 0x00, 0x00, 0x01})) {
        if (r.at_end()) break;
        const std::uint32_t type = r.read(8) & 0x1F;
        if (type == 7) return 1;
        if (type == 1 || type == 5) return 0;
      }
      return 0;
    }
    case 0x90:
    case 0x91: {
      if (payload.empty()) return 0;
      const std::uint8_t type = payload[0];
      std::uint32_t key = type;
      // Presentation (0x16) and interactive (0x18) composition segments: type, 16-bit length, 40-bit
      // video descriptor, 16-bit composition number, then the composition state in the top 2 bits.
      if ((type == 0x16 || type == 0x18) && payload.size() >= 11) {
        key |= std::uint32_t{static_cast<std::uint8_t>(payload[10] >> 6)} << 8;
        // A presentation composition: palette flags and id (16 bits), then the number of objects.
        if (type == 0x16 && payload.size() >= 14 && payload[13] == 0) key |= 1u << 16;
      }
      return key;
    }
    default:
      return 0;
  }
}

// ---- indexing -----------------------------------------------------------------------------------------

namespace {

// A PES packet on extended stream id 0xFD whose stream id extension is 0x72.
bool is_extension_unit(const SPesHeader& pes) {
  return pes.StreamID == 0xFD && pes.PES_ExtensionFlag && pes.PES_ExtensionFlag2 && !pes.PES_ExtensionField.empty() &&
         pes.PES_ExtensionField[0] == 0x72;
}

}  // namespace

namespace {

// The scan of one part of a clip stream: the access units of each track that start in the part, the
// packets of each track before the part's first unit start (they end the unit that the part before left
// open), and the packet counts.
struct SIndexPart {
  explicit SIndexPart(std::size_t tracks) : units(tracks), leading(tracks), counts(tracks), started(tracks) {}
  std::vector<CAuIndex> units;
  std::vector<std::vector<std::uint32_t>> leading;
  std::vector<std::uint64_t> counts;
  std::vector<bool> started;
  CTsPacketReader reader;
  std::string error;
};

struct SIndexPlan {
  std::array<std::int16_t, 8192> slot;  // PID -> track, -1 for none
  std::vector<const SRipTrack*> tracks;
};

void scan_packets(const SIndexPlan& plan, SIndexPart& part, const std::uint8_t* data, std::size_t packets,
                  std::uint64_t& spn) {
  const std::uint8_t* p = data + 4;
  for (std::size_t i = 0; i < packets; ++i, ++spn, p += kSourcePacketSize) {
    prefetch_ahead(data, i, packets);
    if (p[0] != kSyncByte) continue;
    const int s = plan.slot[ts_pid(p)];
    if (s < 0) continue;
    const std::size_t k = static_cast<std::size_t>(s);
    const SRipTrack& t = *plan.tracks[k];
    ++part.counts[k];
    if (!t.kept) continue;
    if (ts_payload_unit_start(p)) {
      const int off = part.reader.read(p);
      const SPesHeader* pes = off > 0 ? part.reader.pes_header() : nullptr;
      if (pes) {
        const std::uint32_t pts = static_cast<std::uint32_t>(pes->PTS.value);
        const std::uint32_t dts = pes->has_dts() ? static_cast<std::uint32_t>(pes->DTS.value) : pts;
        const ByteSpan payload(p + off, kTsPacketSize - static_cast<std::size_t>(off));
        std::uint32_t key = access_unit_key_info(t.coding_type(), payload);
        if (is_audio_coding_type(t.coding_type()) && is_extension_unit(*pes)) key |= kKeyInfoExtensionUnit;
        part.units[k].open(pts, dts, key);
        part.started[k] = true;
      }
    }
    if (part.started[k]) {
      part.units[k].add_packet(static_cast<std::uint32_t>(spn));
    } else {
      part.leading[k].push_back(static_cast<std::uint32_t>(spn));
    }
  }
}

// Scans the packets [first, end) of the file, read piece by piece into block (each piece scanned while
// it is still in the cache). on_block(bytes done) runs before each 30 MiB block and stops the scan by
// returning false. false on a read error (part.error) or when stopped.
template <typename OnBlock>
bool scan_range(const SIndexPlan& plan, SIndexPart& part, File& file, std::uint64_t first, std::uint64_t end,
                std::uint8_t* block, OnBlock on_block) {
  if (!file.seek(static_cast<std::int64_t>(first * kSourcePacketSize))) {
    part.error = file.error();
    return false;
  }
  std::uint64_t spn = first;
  for (std::uint64_t done = 0; spn < end;) {
    if (!on_block(done)) return false;
    for (std::size_t got = 0; got < kDemuxBlockSize && spn < end;) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kDemuxScanPiece, (end - spn) * kSourcePacketSize));
      const std::int64_t n = file.read_full(block, want);
      if (n < 0) {
        part.error = file.error();
        return false;
      }
      const std::uint64_t before = spn;
      scan_packets(plan, part, block, whole_packets(static_cast<std::size_t>(n)), spn);
      got += static_cast<std::size_t>(n);
      done += (spn - before) * kSourcePacketSize;
      if (static_cast<std::size_t>(n) < want) return true;  // the file ended
    }
  }
  return true;
}

// The plan of the scan: a slot per track, PIDs that are no elementary stream left out.
SIndexPlan MakeIndexPlan(const std::vector<SRipTrack*>& tracks) {
  SIndexPlan plan;
  plan.slot.fill(-1);
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (is_elementary_pid(tracks[i]->pid)) plan.slot[tracks[i]->pid & 0x1FFF] = static_cast<std::int16_t>(i);
    plan.tracks.push_back(tracks[i]);
  }
  return plan;
}

// Scans the packets of the file into head and tail: a long clip (split_packets or more) in two halves,
// the second on a thread of its own. kReadError with *why set.
IndexResult ScanHalves(const SIndexPlan& plan, File& file, Progress& progress, std::uint64_t split_packets,
                       SIndexPart& head, SIndexPart& tail, std::string* why) {
  const std::int64_t size = file.length();
  const std::uint64_t packets = size > 0 ? static_cast<std::uint64_t>(size) / kSourcePacketSize : 0;
  const std::uint64_t split = packets >= std::max<std::uint64_t>(split_packets, 2) ? packets / 2 : packets;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> tail_done{0};
  bool tail_ok = true;
  std::thread tail_thread;
  if (split < packets) {
    tail_thread = std::thread([&] {
      File second;
      if (!second.open(file.path(), File::Mode::kRead)) {
        tail.error = second.error();
        tail_ok = false;
        return;
      }
      std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kDemuxScanPiece]);
      tail_ok = scan_range(plan, tail, second, split, packets, block.get(), [&](std::uint64_t done) {
        tail_done = done;
        return !stop.load();
      });
    });
  }
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kDemuxScanPiece]);
  bool cancelled = false;
  const bool head_ok = scan_range(plan, head, file, 0, split, block.get(), [&](std::uint64_t done) {
    const std::uint64_t all = done + tail_done.load();
    if (progress.set_position(size > 0 ? static_cast<int>(all * 100 / static_cast<std::uint64_t>(size)) : 0)) return true;
    cancelled = true;
    return false;
  });
  if (!head_ok) stop = true;
  if (tail_thread.joinable()) tail_thread.join();
  if (cancelled || (!head_ok && head.error.empty())) return IndexResult::kCancelled;
  *why = !head_ok ? head.error : tail.error;
  if (!head_ok) return IndexResult::kReadError;
  if (!tail_ok) return tail.error.empty() ? IndexResult::kCancelled : IndexResult::kReadError;
  return IndexResult::kOk;
}

// The second half's packets before its first unit start of a PID complete the unit the first half left
// open.
void MergeHalves(const std::vector<SRipTrack*>& tracks, SIndexPart& head, SIndexPart& tail, bool counting) {
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    CAuIndex& index = tracks[k]->access_units;
    index = std::move(head.units[k]);
    for (const std::uint32_t spn : tail.leading[k]) index.add_packet(spn);
    index.close();
    tail.units[k].close();
    index.append(tail.units[k]);
    index.shrink();
    if (counting) tracks[k]->packet_count = head.counts[k] + tail.counts[k];
  }
}

}  // namespace

IndexResult index_kept_tracks(SRipTracks& rip_tracks, File& file, Progress& progress, std::string* error,
                              std::uint64_t split_packets) {
  std::vector<SRipTrack*> tracks;
  for (SRipTrack& t : rip_tracks.tracks) tracks.push_back(&t);
  bool counting = true;
  for (SRipTrack* t : tracks) {
    if (t->packet_count != 0) counting = false;
    t->access_units.clear();
  }
  const SIndexPlan plan = MakeIndexPlan(tracks);
  progress.set_title(message_text(kStrParsing));
  progress.set_status(file.path().string());
  progress.set_position(0);

  const auto fail = [&](IndexResult r, const std::string& why = {}) {
    for (SRipTrack* t : tracks) {
      t->access_units.clear();
      t->access_units.shrink();
      if (counting) t->packet_count = 0;
    }
    if (error && !why.empty()) *error = why;
    return r;
  };

  if (!file.seek(0)) return fail(IndexResult::kReadError, file.error());
  rip_tracks.pmt = find_pmt(file);
  if (rip_tracks.pmt) {
    for (SRipTrack* t : tracks)
      if (const SEsInfo* es = rip_tracks.pmt->find(t->pid)) t->pmt_entry = *es;
  }
  SIndexPart head(tracks.size()), tail(tracks.size());
  std::string why;
  const IndexResult r = ScanHalves(plan, file, progress, split_packets, head, tail, &why);
  if (r != IndexResult::kOk) return fail(r, r == IndexResult::kReadError ? why : std::string());
  MergeHalves(tracks, head, tail, counting);
  progress.set_position(100);
  return IndexResult::kOk;
}

// ---- replay -------------------------------------------------------------------------------------------

CClipPacketSource::CClipPacketSource(File& file) : path_(file.path()) {
  const std::int64_t length = file.length();
  size_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  if (size_ == 0) return;
  void* p = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, file.descriptor(), 0);
  if (p == MAP_FAILED) {
    error_ = system_error_text(file.path(), errno);
    size_ = 0;
    return;
  }
  ::madvise(p, size_, MADV_SEQUENTIAL);
  data_ = static_cast<const std::uint8_t*>(p);
  guard_ = std::make_unique<CMappingGuard>(p, size_);
}

std::string CClipPacketSource::shortened_error() const {
  std::error_code ec;
  const std::uintmax_t now = std::filesystem::file_size(path_, ec);
  return format_message(kMsgClipShrank, path_.string(), std::to_string(size_), ec ? std::string("?") : std::to_string(now));
}

CClipPacketSource::~CClipPacketSource() {
  guard_.reset();
  if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

const std::uint8_t* CClipPacketSource::packet(std::uint64_t spn) {
  if (!data_ || spn >= packet_count()) return nullptr;
  bytes_read_ += kSourcePacketSize;
  return data_ + spn * kSourcePacketSize;
}

bool CClipPacketSource::copy_packets(std::span<const SPacketRange> ranges, std::uint8_t* out) {
  for (const SPacketRange& r : ranges) {
    if (r.last < r.first || r.last >= packet_count()) return false;
    const std::size_t bytes = std::size_t{r.count()} * kSourcePacketSize;
    std::memcpy(out, data_ + std::uint64_t{r.first} * kSourcePacketSize, bytes);
    bytes_read_ += bytes;
    out += bytes;
  }
  return true;
}

void CClipPacketSource::populate(std::uint64_t first, std::uint64_t count) const {
#ifdef MADV_POPULATE_READ
  if (!data_ || first >= packet_count()) return;
  const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t from = first * kSourcePacketSize / page * page;
  const std::uint64_t to = std::min(first + count, packet_count()) * kSourcePacketSize;
  ::madvise(const_cast<std::uint8_t*>(data_) + from, to - from, MADV_POPULATE_READ);
#else
  (void)first;
  (void)count;
#endif
}

int CClipPacketSource::add_reader() {
  readers_.push_back(0);
  return static_cast<int>(readers_.size()) - 1;
}

void CClipPacketSource::reader_at(int reader, std::uint64_t spn) {
  if (reader < 0 || static_cast<std::size_t>(reader) >= readers_.size()) return;
  readers_[static_cast<std::size_t>(reader)] = spn;
  if (spn >= next_check_) release();
}

// Lets go of the pages before the packet that the slowest reader needs, in steps of 32 MiB.
void CClipPacketSource::release() {
  constexpr std::uint64_t kStep = 32u << 20;
  next_check_ += kStep / kSourcePacketSize;
  if (!data_ || readers_.empty()) return;
  const std::uint64_t lowest = *std::min_element(readers_.begin(), readers_.end());
  const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t until = std::min(lowest, packet_count()) * kSourcePacketSize / page * page;
  if (until < released_ + kStep) return;
  ::madvise(const_cast<std::uint8_t*>(data_) + released_, until - released_, MADV_DONTNEED);
  released_ = until;
}

CTrackReplay::CTrackReplay(const SRipTrack& track, CClipPacketSource& source) : track_(track), source_(source) {}

void CTrackReplay::prepare(std::int64_t first, std::int64_t last, std::int64_t time_offset, std::uint16_t new_pid,
                           bool gather_key_points) {
  const std::int64_t count = static_cast<std::int64_t>(track_.access_units.size());
  // The last index is clamped to the units and to at least the first; a first index beyond the units
  // (an empty index included) replays nothing.
  first_ = std::max<std::int64_t>(first, 0);
  last_ = std::max(std::min<std::int64_t>(last, count - 1), first_);
  if (first_ >= count) last_ = first_ - 1;
  index_ = first_ - 1;
  offset_ = time_offset;
  pid_ = new_pid;
  finished_ = last_ < first_;
  failed_ = false;
  gather_ = gather_key_points;
  ranges_ = {};
  key_points_.clear();
  have_audio_key_ = false;
  profile_ = level_ = 0;
  const std::uint8_t ct = track_.coding_type();
  if (source_reader_ < 0) source_reader_ = source_.add_reader();
  if (!finished_ && (ct == 0x02 || ct == 0x1B || ct == 0xEA)) {
    const auto ranges = track_.access_units.ranges(static_cast<std::size_t>(first_));
    if (const std::uint8_t* p = source_.packet(ranges[0].first)) {
      std::memcpy(scratch_.data(), p + 4, kTsPacketSize);
      find_profile_level(scratch_.data());
    }
  }
}

void CTrackReplay::find_profile_level(const std::uint8_t* packet) {
  const int off = reader_.read(packet);
  if (off <= 0 || off >= static_cast<int>(kTsPacketSize)) return;
  MemBitReader r(ByteSpan(packet + off, kTsPacketSize - static_cast<std::size_t>(off)));
  switch (track_.coding_type()) {
    case 0x02:
      if (r.find_start_code({0x00, 0x00, 0x01, 0xB5})) {
        r.skip(4);
        profile_ = static_cast<std::uint8_t>(r.read(4));
        level_ = static_cast<std::uint8_t>(r.read(4));
      }
      break;
    case 0x1B:
      while (r.find_start_code({0x00, 0x00, 0x00, 0x01})) {
        if ((r.read(8) & 0x1F) != 7) continue;
        profile_ = static_cast<std::uint8_t>(r.read(8));
        r.skip(8);
        level_ = static_cast<std::uint8_t>(r.read(8));
        break;
      }
      break;
    case 0xEA:
      if (r.find_start_code({0x00, 0x00, 0x01, 0x0F})) {
        profile_ = static_cast<std::uint8_t>(r.read(2));
        level_ = static_cast<std::uint8_t>(r.read(3));
      }
      break;
    default:
      break;
  }
}

bool CTrackReplay::advance() {
  if (finished_) return false;
  ++index_;
  if (index_ > last_) {
    finished_ = true;
    source_.reader_at(source_reader_, UINT64_MAX);  // needs nothing more
    return false;
  }
  const std::size_t i = static_cast<std::size_t>(index_);
  current_ = track_.access_units[i];
  current_.PTS = static_cast<std::uint32_t>(current_.PTS + offset_);
  current_.DTS = static_cast<std::uint32_t>(current_.DTS + offset_);
  ranges_ = track_.access_units.ranges(i);
  range_ = 0;
  spn_ = ranges_.empty() ? 0 : ranges_[0].first;
  // The whole unit must lie in the file.
  if (ranges_.empty() || ranges_.back().last >= source_.packet_count()) {
    failed_ = true;
    finished_ = true;
    return false;
  }
  source_.reader_at(source_reader_, spn_);
  if (gather_) gather_key_point();
  return true;
}

void CTrackReplay::gather_key_point() {
  const std::uint8_t ct = track_.coding_type();
  const std::uint32_t rel = static_cast<std::uint32_t>(index_ - first_);
  bool qualifies = false;
  if (track_.old_ep_entry) {
    qualifies = true;
  } else if (ct == 0x02 || ct == 0x1B || ct == 0xEA) {
    qualifies = current_.KeyInfo == 1;
  } else if ((ct >= 0x80 && ct <= 0x86) || ct == 0xA1 || ct == 0xA2) {
    qualifies = !have_audio_key_ || current_.PTS - last_audio_key_pts_ >= 45000;
    if (qualifies) {
      have_audio_key_ = true;
      last_audio_key_pts_ = current_.PTS;
    }
  } else if (ct == 0x90 || ct == 0x91) {
    const std::uint32_t type = current_.KeyInfo & 0xFF;
    qualifies = (type == 0x16 || type == 0x18) && ((current_.KeyInfo >> 8) & 0xFF) != 0;
  }
  if (qualifies) key_points_.push_back({static_cast<std::int32_t>(rel), current_.PTS, 0, 0});
}

bool CTrackReplay::next_packet(std::uint8_t* out, int* pes_bytes, std::int64_t* remaining) {
  if (finished_ || index_ < first_ || range_ >= ranges_.size()) return false;
  const std::uint8_t* src = source_.packet(spn_);
  if (!src) return false;
  if (spn_ < ranges_[range_].last) {
    ++spn_;
  } else if (++range_ < ranges_.size()) {
    spn_ = ranges_[range_].first;
  }
  // The packets a little further on are wanted soon, by this track or by the ones interleaved with it.
  source_.prefetch(spn_ + kPacketPrefetchAhead);
  std::uint8_t* p = out;
  std::memcpy(p, src + 4, kTsPacketSize);
  ts_set_pid(p, pid_);
  int start = ts_payload_offset(p);
  if (ts_payload_unit_start(p)) {
    if (reader_.read(p) > 0 && reader_.pes_header()) {
      const SPesHeader& pes = *reader_.pes_header();
      start = reader_.pes_offset();
      if (offset_ != 0 && pes.has_pts()) {
        constexpr std::uint64_t kMask = (std::uint64_t{1} << 33) - 1;
        std::uint8_t* stamps = p + start + 9;
        STimeStamp::rewrite_value(stamps, (pes.PTS.value + static_cast<std::uint64_t>(offset_)) & kMask);
        if (pes.has_dts())
          STimeStamp::rewrite_value(stamps + 5, (pes.DTS.value + static_cast<std::uint64_t>(offset_)) & kMask);
      }
    }
  }
  if (pes_bytes) *pes_bytes = start > 0 ? static_cast<int>(kTsPacketSize) - start : 0;
  if (remaining) *remaining -= static_cast<std::int64_t>(kSourcePacketSize);
  return true;
}

std::uint8_t* CTrackReplay::next_packet(int* pes_bytes, std::int64_t* remaining) {
  return next_packet(scratch_.data(), pes_bytes, remaining) ? scratch_.data() : nullptr;
}

std::vector<int> match_key_points(std::span<const std::uint32_t> old_pts, std::span<const KEY_POINT_INFO> new_points,
                                  std::int64_t offset) {
  std::vector<int> match(old_pts.size(), -1);
  std::size_t from = 0;
  for (std::size_t i = 0; i < old_pts.size(); ++i) {
    const std::uint32_t want = old_pts[i] >> 9;
    for (std::size_t j = from; j < new_points.size(); ++j) {
      const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::int64_t>(new_points[j].PTS) - offset) >> 9;
      if (v == want) {
        match[i] = static_cast<int>(j);
        from = j + 1;
        break;
      }
      if (v > want) break;
    }
  }
  return match;
}

}  // namespace veld

namespace veld {

std::uint32_t frame_duration_ticks(std::uint8_t code) {
  // Milliseconds per frame x 90, truncated: 1001/24, 1000/24, 40, 1001/30, -, 20, 1001/60.
  static constexpr std::uint32_t kTicks[] = {0, 3753, 3750, 3600, 3003, 0, 1800, 1501, 0};
  return code < std::size(kTicks) ? kTicks[code] : 0;
}

STREAM_INFO CTrackReplay::stream_info() const {
  STREAM_INFO si = track_.stream_info;
  si.StreamPID = pid_;
  return si;
}

std::optional<SEsInfo> CTrackReplay::pmt_entry() const {
  std::optional<SEsInfo> es = track_.pmt_entry;
  if (es) es->ElementaryPid = pid_;
  return es;
}

STREAM_PID_ENTRY CTrackReplay::hand_over_key_points(std::uint16_t new_pid) const {
  STREAM_PID_ENTRY entry;
  if (!track_.old_ep_entry) {
    entry.StreamPid = new_pid;
    entry.KeyPoints = key_points_;
    return entry;
  }
  entry = *track_.old_ep_entry;
  entry.StreamPid = new_pid;
  std::vector<std::uint32_t> old_pts;
  for (const KEY_POINT_INFO& k : entry.KeyPoints) old_pts.push_back(static_cast<std::uint32_t>(k.PTS));
  const std::vector<int> match = match_key_points(old_pts, key_points_, offset_);
  CKpiFolder kept;
  for (std::size_t i = 0; i < match.size(); ++i) {
    if (match[i] < 0) continue;
    KEY_POINT_INFO k = entry.KeyPoints[i];
    const KEY_POINT_INFO& n = key_points_[static_cast<std::size_t>(match[i])];
    k.PTS = n.PTS;
    k.SpnStart = n.SpnStart;
    k.SpnEnd = n.SpnEnd;
    kept.push_back(k);
  }
  entry.KeyPoints = std::move(kept);
  // The map is the multiplexer's new one: its coarse layout and I-end classes follow the new packets,
  // not those of the file the old entry was read from.
  entry.FineEntriesAsRead.clear();
  return entry;
}

}  // namespace veld
