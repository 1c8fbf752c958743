// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gs_parser.h"

#include <fmt/format.h>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/graphics/segment.h"

namespace veld {

int CGsParser::Parse(const std::filesystem::path& path, Progress* progress) {
  index_.clear();
  info_ = SGsTrackInfo{};
  error_.clear();
  File file;
  if (!file.open(path, File::Mode::kRead)) {
    error_ = file.error();
    return kOpenFailed;
  }
  const std::int64_t length = file.length();
  std::int64_t pos = 0;
  std::int64_t last_report = 0;
  bool seen_ics = false;
  for (;;) {
    if (pos >= length) return kEnd;
    std::uint8_t tag[2];
    if (file.read_full(tag, 2) != 2) return kStopped;
    const auto upper = [](std::uint8_t c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    if (upper(tag[1]) != 'G' || (upper(tag[0]) != 'I' && upper(tag[0]) != 'P')) {
      error_ = fmt::format("{}: no \"IG\" or \"PG\" tag at offset {}", path.string(), pos);
      return kBadTag;
    }
    std::uint8_t head[11];
    if (file.read_full(head, sizeof head) != static_cast<std::int64_t>(sizeof head)) {
      error_ = fmt::format("{}: short segment header at offset {}", path.string(), pos + 2);
      return kBadHeader;
    }
    const std::uint32_t pts = load_be32(head);
    const std::uint32_t dts = load_be32(head + 4);
    const std::uint8_t type = head[8];
    const std::uint16_t seg_length = load_be16(head + 9);
    const std::int64_t type_offset = pos + 2 + 8;
    const std::int64_t body_end = type_offset + 3 + seg_length;
    if (body_end > length) {
      error_ = fmt::format("{}: segment at offset {} runs past the end", path.string(), type_offset);
      return kBadHeader;
    }

    SGsIndexRecord rec;
    rec.Size = seg_length + 3u;
    rec.Offset = static_cast<std::uint64_t>(type_offset);
    rec.TypeWord = type;
    rec.Dts = dts == 0 ? 0 : dts + kGsTimeOffset;
    rec.Pts = pts + kGsTimeOffset;
    if (type == kSegmentIcs || type == kSegmentPcs) {
      // Video descriptor (5), composition descriptor (3), then for a PCS the palette fields and the
      // object count, for an ICS the sequence descriptor, the composition length and the model bits.
      std::uint8_t body[13] = {};
      const std::size_t want = seg_length < sizeof body ? seg_length : sizeof body;
      if (file.read_full(body, want) != static_cast<std::int64_t>(want)) {
        error_ = fmt::format("{}: cannot read the segment at offset {}", path.string(), type_offset);
        return kBadHeader;
      }
      if (want >= 8) {
        rec.TypeWord |= static_cast<std::uint32_t>(body[7] >> 6) << 8;
        if (!info_.HasVideoDescriptor) {
          info_.HasVideoDescriptor = true;
          info_.Width = load_be16(body);
          info_.Height = load_be16(body + 2);
          info_.FrameRate = body[4] >> 4;
          info_.FrameRateReserved = body[4] & 0x0F;
        }
      }
      if (type == kSegmentPcs && want >= 11 && body[10] == 0) rec.TypeWord |= kGsTypeNoObjects;
      if (type == kSegmentIcs && !seen_ics) {
        seen_ics = true;
        info_.StreamCodingType = 0x91;
        info_.StreamModel = want >= 13 && (body[12] & 0x80) != 0;
      }
    }
    index_.push_back(rec);
    ++info_.AccessUnits;
    info_.TotalBytes += rec.Size;

    pos = body_end;
    if (!file.seek(pos)) {
      error_ = file.error();
      return kBadHeader;
    }
    if (progress && pos - last_report > kProgressStep) {
      last_report = pos;
      if (!progress->set_position(static_cast<int>(pos * 100 / length))) return kStopped;
    }
  }
}

}  // namespace veld
