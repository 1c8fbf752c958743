// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/segment_file.h"

#include <fmt/format.h>

#include "veld/base/file.h"
#include "veld/graphics/segment.h"

namespace veld {

namespace {

bool Fail(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return false;
}

bool IsTag(ByteSpan tag) {
  const auto upper = [](std::uint8_t c) { return static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c); };
  const std::uint8_t a = upper(tag[0]);
  const std::uint8_t b = upper(tag[1]);
  return b == 'G' && (a == 'I' || a == 'P');
}

std::string Where(const SegmentOffsetNamer* namer, std::uint64_t offset) {
  return namer && *namer ? (*namer)(offset) : fmt::format("offset {}", offset);
}

// Parses the body into seg and stores the header fields; false with the reason on a malformed body.
bool FillSegment(CSegmentBase& seg, std::uint32_t pts, std::uint32_t dts, std::uint16_t length,
                 std::uint64_t offset, ByteSpan body, std::string* error, const SegmentOffsetNamer* namer) {
  seg.SegmentLength = length;
  seg.PTS = pts;
  seg.DTS = dts;
  seg.FileOffset = offset;
  if (length == 0) return true;
  std::string why;
  if (seg.Parse(body, &why) < 0) {
    return Fail(error, fmt::format("{} at {}: {}", SegmentTypeName(seg.SegmentType), Where(namer, offset), why));
  }
  return true;
}

template <typename T>
bool AppendParsed(std::vector<T>& list, std::uint32_t pts, std::uint32_t dts, std::uint16_t length,
                  std::uint64_t offset, ByteSpan body, std::string* error, const SegmentOffsetNamer* namer) {
  T seg;
  if (!FillSegment(seg, pts, dts, length, offset, body, error, namer)) return false;
  list.push_back(std::move(seg));
  return true;
}

template <typename T>
bool SetParsed(std::optional<T>& slot, const char* name, std::uint32_t pts, std::uint32_t dts,
               std::uint16_t length, std::uint64_t offset, ByteSpan body, std::string* error,
               const SegmentOffsetNamer* namer) {
  if (slot) return Fail(error, fmt::format("second {} in one display set at {}", name, Where(namer, offset)));
  T seg;
  if (!FillSegment(seg, pts, dts, length, offset, body, error, namer)) return false;
  slot = std::move(seg);
  return true;
}

}  // namespace

bool ReadSegment(ByteReader& in, CDsData& ds, std::uint8_t* type, std::string* error,
                 const SegmentOffsetNamer* namer) {
  if (in.remaining() < 11) {
    return Fail(error, fmt::format("short segment header at {}", Where(namer, in.absolute_pos())));
  }
  const std::uint32_t pts = in.u32();
  const std::uint32_t dts = in.u32();
  const std::uint64_t offset = in.absolute_pos();
  const std::uint8_t seg_type = in.u8();
  const std::uint16_t length = in.u16();
  if (!IsSegmentType(seg_type)) {
    return Fail(error, fmt::format("unknown segment type 0x{:02X} at {}", seg_type, Where(namer, offset)));
  }
  if (in.remaining() < length) {
    return Fail(error, fmt::format("{} at {} needs {} body bytes, {} left", SegmentTypeName(seg_type),
                                   Where(namer, offset), length, in.remaining()));
  }
  const ByteSpan body = in.bytes(length);
  if (type) *type = seg_type;
  const bool first_composition = !ds.Pcs && ds.IcsArray.empty();
  switch (seg_type) {
    case kSegmentPds:
      return AppendParsed(ds.PdsFolder, pts, dts, length, offset, body, error, namer);
    case kSegmentOds:
      return AppendParsed(ds.OdsArray, pts, dts, length, offset, body, error, namer);
    case kSegmentPcs:
      if (!SetParsed(ds.Pcs, "PCS", pts, dts, length, offset, body, error, namer)) return false;
      if (first_composition) ds.State = ds.Pcs->Composition.CompositionState;
      return true;
    case kSegmentWds:
      return SetParsed(ds.Wds, "WDS", pts, dts, length, offset, body, error, namer);
    case kSegmentIcs:
      if (!AppendParsed(ds.IcsArray, pts, dts, length, offset, body, error, namer)) return false;
      if (first_composition) ds.State = ds.IcsArray.front().Composition.CompositionState;
      return true;
    case kSegmentEnd:
      return SetParsed(ds.End, "END", pts, dts, length, offset, body, error, namer);
    default:
      return false;
  }
}

int ReadDisplaySet(ByteReader& in, CDsData& ds, std::string* error, const SegmentOffsetNamer* namer) {
  ds = CDsData{};
  for (;;) {
    if (in.remaining() < 2) return kDisplaySetFileEnded;
    const std::size_t at = in.absolute_pos();
    if (!IsTag(in.bytes(2))) {
      Fail(error, fmt::format("no \"IG\" or \"PG\" tag at {}", Where(namer, at)));
      return kDisplaySetError;
    }
    std::uint8_t type = 0;
    if (!ReadSegment(in, ds, &type, error, namer)) return kDisplaySetError;
    if (type == kSegmentEnd) return kDisplaySetComplete;
  }
}

std::size_t CGraphicsStreamReader::ParseComplete(ByteSpan data, std::uint64_t base) {
  std::size_t pos = 0;
  for (;;) {
    // Walk the frames of the next display set. It can be parsed once its END has arrived, or at once when a
    // frame is malformed (the reader then names the fault); otherwise more bytes are needed.
    std::size_t at = pos;
    bool ready = false;
    bool malformed = false;
    while (data.size() - at >= kSegmentFrameHeader) {
      const std::uint8_t type = data[at + 10];
      if (!IsTag(data.subspan(at, 2)) || !IsSegmentType(type)) {
        ready = malformed = true;
        break;
      }
      const std::size_t length = load_be16(data.data() + at + 11);
      if (data.size() - at - kSegmentFrameHeader < length) break;
      at += kSegmentFrameHeader + length;
      if (type == kSegmentEnd) {
        ready = true;
        break;
      }
    }
    if (!ready) return pos;
    const ByteSpan slice = malformed ? data.subspan(pos) : data.subspan(pos, at - pos);
    ByteReader in(slice, "segment file", static_cast<std::size_t>(base + pos));
    CDsData ds;
    if (ReadDisplaySet(in, ds, &error_, &namer_) != kDisplaySetComplete) {
      failed_ = true;
      if (error_.empty()) error_ = fmt::format("malformed display set at {}", where(base + pos));
      return pos;
    }
    if (listener_) listener_(ds);
    epoch_.DisplaySets.push_back(std::move(ds));
    pos = at;
  }
}

bool CGraphicsStreamReader::Feed(ByteSpan data) {
  if (failed_) return false;
  if (pending_.empty()) {
    // Parsed in place; only an unfinished display set is kept.
    const std::size_t used = ParseComplete(data, offset_);
    offset_ += used;
    if (!failed_) pending_.assign(data.begin() + static_cast<std::ptrdiff_t>(used), data.end());
  } else {
    pending_.insert(pending_.end(), data.begin(), data.end());
    const std::size_t used = ParseComplete(pending_, offset_);
    offset_ += used;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  }
  return !failed_;
}

std::string CGraphicsStreamReader::where(std::uint64_t offset) const { return Where(&namer_, offset); }

bool CGraphicsStreamReader::Finish(CGsData& stream) {
  stream = CGsData{};
  incomplete_.reset();
  if (!failed_ && !pending_.empty()) {
    // What follows the last END: the whole segments of a display set the file ended inside (they must
    // still parse), possibly followed by the start of a segment that the file cuts off.
    const ByteSpan tail(pending_);
    std::size_t at = 0;
    std::size_t segments = 0;
    bool cut = false;
    for (;;) {
      const std::size_t left = tail.size() - at;
      if (left == 0) break;
      const bool tag_ok = left < 2 || IsTag(tail.subspan(at, 2));
      if (!tag_ok) break;
      if (left < kSegmentFrameHeader || load_be16(tail.data() + at + 11) > left - kSegmentFrameHeader) {
        cut = left < kSegmentFrameHeader || IsSegmentType(tail[at + 10]);
        break;
      }
      if (!IsSegmentType(tail[at + 10])) break;
      at += kSegmentFrameHeader + load_be16(tail.data() + at + 11);
      ++segments;
    }
    // A frame that is neither whole nor cut off by the end is malformed: read it for the reason.
    const bool malformed = at < tail.size() && !cut;
    ByteReader in(malformed ? tail : tail.first(at), "segment file", static_cast<std::size_t>(offset_));
    CDsData ds;
    if (ReadDisplaySet(in, ds, &error_, &namer_) != kDisplaySetFileEnded) {
      failed_ = true;
      if (error_.empty()) error_ = fmt::format("malformed display set at {}", where(offset_));
    } else {
      incomplete_ = SIncompleteDisplaySet{offset_, segments, cut};
    }
  }
  pending_.clear();
  if (!failed_ && epoch_.DisplaySets.empty()) {
    failed_ = true;
    error_ = "no complete display set";
  }
  if (failed_) {
    epoch_ = CEpochData{};
    return false;
  }
  stream.Epochs.push_back(std::move(epoch_));
  epoch_ = CEpochData{};
  stream.TakeSummary();
  return true;
}

bool ReadGraphicsStream(ByteSpan data, CGsData& stream, std::string* error) {
  CGraphicsStreamReader reader;
  if (reader.Feed(data) && reader.Finish(stream)) return true;
  stream = CGsData{};
  return Fail(error, reader.error());
}

bool ReadGraphicsStream(const std::filesystem::path& path, CGsData& stream, std::string* error) {
  stream = CGsData{};
  std::string why;
  const auto data = read_whole_file(path, &why);
  if (!data) return Fail(error, why);
  if (!ReadGraphicsStream(*data, stream, &why)) return Fail(error, fmt::format("{}: {}", path.string(), why));
  return true;
}

bool WriteDisplaySet(Bytes& out, CDsData& ds, std::string* error) {
  const std::size_t start = out.size();
  const char* tag = ds.Pcs ? "PG" : "IG";
  const auto put = [&](const CSegmentBase& seg, const char* name) {
    const std::size_t at = out.size();
    ByteWriter w(out);
    w.text(tag);
    w.u32(seg.PTS);
    w.u32(seg.DTS);
    if (seg.Write(out) == 0) {
      out.resize(at);
      return Fail(error, fmt::format("the {} cannot be written", name));
    }
    return true;
  };
  bool ok = true;
  if (ds.Pcs) {
    ds.Pcs->Composition.CompositionState = ds.State;
    ok = put(*ds.Pcs, "PCS");
  }
  for (const auto& ics : ds.IcsArray) ok = ok && put(ics, "ICS");
  if (ds.Wds) ok = ok && put(*ds.Wds, "WDS");
  for (const auto& pds : ds.PdsFolder) ok = ok && put(pds, "PDS");
  for (const auto& ods : ds.OdsArray) ok = ok && put(ods, "ODS");
  if (ds.End) ok = ok && put(*ds.End, "END");
  if (!ok) out.resize(start);
  return ok;
}

bool WriteGraphicsStream(Bytes& out, CGsData& stream, std::string* error) {
  if (stream.Epochs.empty()) return Fail(error, "the stream has no epoch");
  std::size_t number = 0;
  for (auto& epoch : stream.Epochs) {
    if (epoch.DisplaySets.empty()) return Fail(error, "an epoch without display sets");
    std::size_t n = number;
    for (auto& ds : epoch.DisplaySets) {
      ++n;
      std::string why;
      if (!CheckDisplaySet(ds, &why)) return Fail(error, fmt::format("display set {}: {}", n, why));
    }
    for (auto& ds : epoch.DisplaySets) {
      ++number;
      std::string why;
      if (!CheckDisplaySet(ds, &why) || !WriteDisplaySet(out, ds, &why)) {
        return Fail(error, fmt::format("display set {}: {}", number, why));
      }
    }
  }
  return true;
}

bool WriteGraphicsStream(const std::filesystem::path& path, CGsData& stream, std::string* error) {
  Bytes out;
  if (!WriteGraphicsStream(out, stream, error)) return false;
  return write_whole_file(path, out, error);
}

}  // namespace veld
