// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/track_file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <system_error>

#include <fmt/format.h>

#include "veld/ts/ts_packet.h"

namespace veld {

bool CMemorySink::write(ByteSpan data) {
  const std::size_t need = data_.size() + data.size();
  if (need > data_.capacity()) data_.reserve((need + step_ - 1) / step_ * step_);
  data_.insert(data_.end(), data.begin(), data.end());
  return true;
}

bool CFileSink::open(const std::filesystem::path& path) {
  written_ = 0;
  return file_.open(path, File::Mode::kCreate);
}

bool CFileSink::write(ByteSpan data) {
  if (!file_.write(data)) return false;
  written_ += static_cast<std::int64_t>(data.size());
  return true;
}

void CFileSink::remove() {
  const std::filesystem::path p = file_.path();
  file_.close();
  std::error_code ec;
  if (!p.empty()) std::filesystem::remove(p, ec);
}

STrackFile::STrackFile(std::size_t capacity)
    : buffer_(new std::uint8_t[capacity ? capacity : 1]), capacity_(capacity ? capacity : 1) {}

STrackFile::~STrackFile() {
  // The owner flushes; destruction only releases. A sink that received nothing leaves no file behind.
  if (sink_) {
    const bool empty = sink_->length() == 0;
    sink_->close();
    if (empty) sink_->remove();
  }
}

bool STrackFile::flush() {
  if (used_ > 0 && sink_ && error_.empty()) {
    if (!sink_->write(ByteSpan(buffer_.get(), used_))) error_ = sink_->error().empty() ? "write failed" : sink_->error();
  }
  flushed_ += used_;
  used_ = 0;
  return error_.empty();
}

void STrackFile::append(std::initializer_list<ByteSpan> parts) {
  std::size_t total = 0;
  for (ByteSpan p : parts) total += p.size();
  if (used_ > 0 && used_ + total > capacity_) flush();
  if (total > capacity_) {  // larger than the whole buffer: straight to the sink
    flushed_ += total;
    for (ByteSpan p : parts) {
      if (p.empty()) continue;
      if (sink_ && error_.empty() && !sink_->write(p)) error_ = sink_->error().empty() ? "write failed" : sink_->error();
    }
    return;
  }
  for (ByteSpan p : parts) {
    if (p.empty()) continue;
    std::memcpy(buffer_.get() + used_, p.data(), p.size());
    used_ += p.size();
  }
}

void STrackFile::write(const std::uint8_t* data, std::size_t count, const SPesHeader*, std::uint64_t) {
  append({ByteSpan(data, count)});
}

void STrackFile::write_with_prefix(const std::uint8_t* data, std::size_t count, const std::uint8_t* prefix,
                                   std::size_t prefix_count) {
  append({ByteSpan(prefix, prefix_count), ByteSpan(data, count)});
}

SGsTrackFile::SGsTrackFile() : STrackFile(kCapacity) {}

void SGsTrackFile::write(const std::uint8_t* data, std::size_t count, const SPesHeader* pes,
                         std::uint64_t time_base) {
  if (!pes) {
    append({ByteSpan(data, count)});
    return;
  }
  // A PES header without a PTS has no defined record times: its record carries zeros and it does not
  // set the adjustment.
  std::uint32_t pts = 0;
  std::uint32_t dts = 0;
  if (pes->has_pts()) {
    const std::int64_t base = static_cast<std::int64_t>(time_base);
    if (first_packet_) {
      const std::int64_t r = static_cast<std::int64_t>(pes->decode_time()) - base;
      adjustment_ = r < kMinStartTicks ? kMinStartTicks - r : 0;
      first_packet_ = false;
    }
    pts = static_cast<std::uint32_t>(static_cast<std::int64_t>(pes->PTS.value) - base + adjustment_);
    if (pes->has_dts()) dts = static_cast<std::uint32_t>(static_cast<std::int64_t>(pes->DTS.value) - base + adjustment_);
  }
  origins_.push_back({size(), packet_position_});
  record_header_[0] = tag_.size() > 0 ? static_cast<std::uint8_t>(tag_[0]) : 0;
  record_header_[1] = tag_.size() > 1 ? static_cast<std::uint8_t>(tag_[1]) : 0;
  store_be32(record_header_ + 2, pts);
  store_be32(record_header_ + 6, dts);
  append({ByteSpan(record_header_, 10), ByteSpan(data, count)});
  // An END segment has no body: its whole record is in this first packet.
  constexpr std::uint8_t kEndSegment = 0x80;
  if (flush_at_end_ && count > 0 && data[0] == kEndSegment) flush();
}

std::string SGsTrackFile::describe_offset(std::uint64_t offset) const {
  const auto next = std::upper_bound(origins_.begin(), origins_.end(), offset,
                                     [](std::uint64_t o, const SRecordOrigin& r) { return o < r.record; });
  if (next == origins_.begin() || std::prev(next)->packet < 0) return fmt::format("offset {}", offset);
  const SRecordOrigin& origin = *std::prev(next);
  constexpr std::uint64_t kRecordHeader = 10;  // tag, PTS, DTS before the segment
  const std::uint64_t start = origin.record + kRecordHeader;
  const std::int64_t packet = origin.packet / static_cast<std::int64_t>(kSourcePacketSize);
  if (offset <= start) return fmt::format("byte {} (packet {}) of the clip", origin.packet, packet);
  return fmt::format("byte {} of the segment that starts at byte {} (packet {}) of the clip", offset - start,
                     origin.packet, packet);
}

}  // namespace veld
