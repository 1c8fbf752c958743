// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/transport.h"

#include <cstring>

namespace veld {

PidCategory pid_category(std::uint16_t pid) {
  if (pid == 0x1011) return PidCategory::kPrimaryVideo;
  if (pid >= 0x1100 && pid <= 0x111F) return PidCategory::kPrimaryAudio;
  if (pid >= 0x1200 && pid <= 0x121F) return PidCategory::kPresentationGraphics;
  if (pid >= 0x1400 && pid <= 0x141F) return PidCategory::kInteractiveGraphics;
  if (pid == 0x1800) return PidCategory::kTextSubtitle;
  if (pid >= 0x1A00 && pid <= 0x1A1F) return PidCategory::kSecondaryAudio;
  if (pid >= 0x1B00 && pid <= 0x1B1F) return PidCategory::kSecondaryVideo;
  return PidCategory::kNone;
}

int CTsPacketReader::read(const std::uint8_t* packet) {
  has_field_ = false;
  has_pes_ = false;
  pes_offset_ = 0;
  pmt_.reset();
  if (packet[0] != kSyncByte) return 0;
  header_ = STsHeader::parse(packet);
  const ByteSpan all(packet, kTsPacketSize);
  int off = 4;
  if (header_.has_adaptation_field()) {
    const int n = field_.parse(all.subspan(4));
    if (n <= 0) return 0;
    has_field_ = true;
    off += n;
  }
  const int size = static_cast<int>(kTsPacketSize);
  const std::uint16_t pid = header_.PID;
  if (pid == kPidPat || pid == kPidSit) {
    if (!header_.PayloadUnitStartIndicator) return off;
    if (off >= size) return 0;
    off += 1 + packet[off];
    if (off >= size) return 0;
    if (pid == kPidPat) {
      SPat pat;
      if (pat.parse(all.subspan(off)) > 0) pat_ = std::move(pat);
    } else {
      SSit sit;
      if (sit.parse(all.subspan(off)) > 0) sit_ = sit;
    }
    return off;
  }
  if (pid == kPidPmt) {
    if (off >= size) return size;
    if (header_.PayloadUnitStartIndicator) {
      const int start = off + 1 + packet[off];
      if (start < size) pmt_assembler_.read_header(all.subspan(start));
      else pmt_assembler_.reset();
    } else {
      pmt_assembler_.append(all.subspan(off));
    }
    if (pmt_assembler_.complete()) pmt_ = pmt_assembler_.take();
    return size;
  }
  if (header_.PayloadUnitStartIndicator && is_elementary_pid(pid)) {
    if (off >= size) return 0;
    const int n = pes_.parse(all.subspan(off));
    if (n <= 0) return 0;
    has_pes_ = true;
    pes_offset_ = off;
    off += n;
    // A private item (0x06, n, value) right after the header is taken as part of it.
    if (off < size && packet[off] == 0x06) {
      if (off + 1 >= size) return 0;
      off += packet[off + 1] + 2;
      if (off > size) return 0;
    }
  }
  return off;
}

std::size_t CTsPacketReader::write(std::uint8_t* packet) const {
  header_.write(packet);
  std::size_t pos = 4;
  if (header_.has_adaptation_field()) {
    if (!has_field_) return 0;
    const std::size_t n = field_.write(packet + 4, kTsPacketSize - 4);
    if (n == 0) return 0;
    pos += n;
  }
  const std::uint16_t pid = header_.PID;
  if ((pid == kPidPat && pat_) || (pid == kPidSit && sit_)) {
    Bytes section;
    if (pid == kPidPat) SPat(*pat_).write(section);
    else SSit(*sit_).write(section);
    if (pos + 1 + section.size() > kTsPacketSize) return 0;
    packet[pos++] = 0;
    std::memcpy(packet + pos, section.data(), section.size());
    return pos + section.size();
  }
  if (is_elementary_pid(pid) && header_.PayloadUnitStartIndicator && has_pes_) {
    const std::size_t n = pes_.write(packet + pos, kTsPacketSize - pos);
    if (n == 0) return 0;
    pos += n;
  }
  return pos;
}

}  // namespace veld
