// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/raw_track.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <system_error>

#include "veld/base/messages.h"
#include "veld/graphics/segment.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kCacheVersion = 1;
constexpr std::size_t kCacheRecordSize = 28;

// Size and last-write time (nanoseconds) of a file; nothing when it cannot be read.
std::optional<std::pair<std::uint64_t, std::int64_t>> file_stamp(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const std::int64_t ns = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return std::make_pair(static_cast<std::uint64_t>(st.st_size), ns);
}

fs::path temp_cache_path(const fs::path& stream_file) {
  std::error_code ec;
  const fs::path tmp = fs::temp_directory_path(ec);
  return (ec ? fs::path("/tmp") : tmp) / StreamInfoCachePath(stream_file).filename();
}

}  // namespace

// ---- stream-information cache ---------------------------------------------------------------------------

fs::path StreamInfoCachePath(const fs::path& stream_file) { return fs::path(stream_file.string() + ".rsif"); }

// Layout (big-endian): "RSIF", version (4), stream type (1), unit count (4), total unit bytes (8), five
// 4-byte fields (width, height, frame rate with its reserved nibble, stream model, flags: bit 0 video
// descriptor present), the stream file's size (8) and last-write time (8); then one 28-byte record per
// unit: size (4), offset (8), type word (4), DTS (4), PTS (4), reserved (4).
Bytes WriteStreamInfoCache(const SStreamInfoCache& c) {
  ByteWriter w;
  w.u32(0x52534946);  // "RSIF"
  w.u32(kCacheVersion);
  w.u8(c.stream_type);
  w.u32(static_cast<std::uint32_t>(c.index.size()));
  w.u64(c.info.TotalBytes);
  w.u32(c.info.Width);
  w.u32(c.info.Height);
  w.u32(std::uint32_t{c.info.FrameRate} | (std::uint32_t{c.info.FrameRateReserved} << 8));
  w.u32(c.info.StreamModel ? 1 : 0);
  w.u32(c.info.HasVideoDescriptor ? 1 : 0);
  w.u64(c.file_size);
  w.u64(static_cast<std::uint64_t>(c.file_time));
  for (const SGsIndexRecord& r : c.index) {
    w.u32(r.Size);
    w.u64(r.Offset);
    w.u32(r.TypeWord);
    w.u32(r.Dts);
    w.u32(r.Pts);
    w.u32(r.Reserved);
  }
  return w.take();
}

std::optional<SStreamInfoCache> ReadStreamInfoCache(ByteSpan data, std::string* error) {
  try {
    ByteReader r(data, "stream information cache");
    if (r.text(4) != "RSIF") r.fail("not a stream information cache");
    if (r.u32() != kCacheVersion) r.fail("unknown version");
    SStreamInfoCache c;
    c.stream_type = r.u8();
    const std::uint32_t count = r.u32();
    c.info.TotalBytes = r.u64();
    c.info.Width = static_cast<std::uint16_t>(r.u32());
    c.info.Height = static_cast<std::uint16_t>(r.u32());
    const std::uint32_t rate = r.u32();
    c.info.FrameRate = static_cast<std::uint8_t>(rate & 0xFF);
    c.info.FrameRateReserved = static_cast<std::uint8_t>((rate >> 8) & 0xFF);
    c.info.StreamModel = r.u32() != 0;
    c.info.HasVideoDescriptor = (r.u32() & 1) != 0;
    c.info.StreamCodingType = c.stream_type;
    c.file_size = r.u64();
    c.file_time = static_cast<std::int64_t>(r.u64());
    if (count == 0 || c.file_size == 0) r.fail("empty stream");
    if (r.remaining() != std::size_t{count} * kCacheRecordSize) r.fail("unit index does not match its count");
    c.index.resize(count);
    std::uint64_t total = 0;
    for (SGsIndexRecord& rec : c.index) {
      rec.Size = r.u32();
      rec.Offset = r.u64();
      rec.TypeWord = r.u32();
      rec.Dts = r.u32();
      rec.Pts = r.u32();
      rec.Reserved = r.u32();
      if (rec.Offset > c.file_size || rec.Size > c.file_size - rec.Offset) r.fail("unit outside the stream file");
      total += rec.Size;
    }
    if (total != c.info.TotalBytes) r.fail("unit sizes do not add up");
    c.info.AccessUnits = count;
    return c;
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}

std::optional<SStreamInfoCache> LoadStreamInfoCache(const fs::path& stream_file) {
  const auto stamp = file_stamp(stream_file);
  if (!stamp) return std::nullopt;
  for (const fs::path& p : {StreamInfoCachePath(stream_file), temp_cache_path(stream_file)}) {
    std::string error;
    const std::optional<Bytes> data = read_whole_file(p, &error);
    if (!data) continue;
    std::optional<SStreamInfoCache> c = ReadStreamInfoCache(*data);
    if (c && c->file_size == stamp->first && c->file_time == stamp->second) return c;
  }
  return std::nullopt;
}

bool SaveStreamInfoCache(const fs::path& stream_file, const SStreamInfoCache& cache) {
  const Bytes data = WriteStreamInfoCache(cache);
  std::string error;
  if (write_whole_file(StreamInfoCachePath(stream_file), data, &error)) return true;
  return write_whole_file(temp_cache_path(stream_file), data, &error);
}

// ---- the track ----------------------------------------------------------------------------------------

std::unique_ptr<SRawTrack> SRawTrack::Open(const CSource& source, Progress* progress, std::string* error) {
  std::unique_ptr<SRawTrack> t(new SRawTrack());
  t->source_ = source;
  if (std::optional<SStreamInfoCache> c = LoadStreamInfoCache(source.path)) {
    t->stream_type_ = c->stream_type;
    t->info_ = c->info;
    t->index_ = std::move(c->index);
  } else {
    CGsParser parser;
    const int r = parser.Parse(source.path, progress);
    if (r != CGsParser::kEnd) {
      if (error) {
        const std::string why = !parser.Error().empty() ? parser.Error()
                                : r == CGsParser::kStopped ? "the file ends inside a segment header"
                                                           : "no \"IG\" or \"PG\" segment";
        *error = format_message(kMsgBadSegmentFile, source.path.string(), why);
      }
      return nullptr;
    }
    if (parser.Index().empty()) {
      if (error) *error = format_message(kMsgBadSegmentFile, source.path.string(), "no segment");
      return nullptr;
    }
    t->stream_type_ = parser.Info().StreamCodingType;
    t->info_ = parser.Info();
    t->index_ = parser.Index();
    if (const auto stamp = file_stamp(source.path)) {
      SStreamInfoCache c{t->stream_type_, t->info_, t->index_, stamp->first, stamp->second};
      SaveStreamInfoCache(source.path, c);
    }
  }
  return t;
}

std::string SRawTrack::describe() const {
  return fmt::format("{}, {}", source_.path.filename().string(),
                     std::string(source_.language.begin(), source_.language.end()));
}

bool SRawTrack::reset(std::string* error) {
  set_models(MakeStreamModels(stream_type_));
  file_.close();
  if (!file_.open(source_.path, File::Mode::kRead)) {
    error_ = file_.error();
    if (error) *error = error_;
    return false;
  }
  packetiser_ = CPacketiser(pid, stream_type_);
  key_points_.clear();
  unit_ = -1;
  ended = false;
  if (!next_access_unit()) {
    if (error) *error = error_;
    return false;
  }
  return true;
}

void SRawTrack::close() {
  file_.close();
  bytes_ = Bytes();
}

bool SRawTrack::next_access_unit() {
  ++unit_;
  if (ended || unit_ >= static_cast<std::int64_t>(index_.size())) {
    ended = true;
    return true;
  }
  const SGsIndexRecord& rec = index_[static_cast<std::size_t>(unit_)];
  if (rec.Size == 0) {  // an empty unit ends the track
    ended = true;
    return true;
  }
  bytes_.resize(rec.Size);
  if (!file_.seek(static_cast<std::int64_t>(rec.Offset)) ||
      file_.read_full(bytes_.data(), bytes_.size()) != static_cast<std::int64_t>(bytes_.size())) {
    error_ = file_.error().empty() ? format_message(kMsgBadSegmentFile, source_.path.string(), "the file ends inside a segment")
                                   : file_.error();
    ended = true;
    return false;
  }
  const std::int64_t offset = std::int64_t{kRawTrackTimeOffset} + own_offset;
  au_ = SMuxAu{};
  au_.dts = static_cast<std::uint32_t>(rec.Dts + offset);
  au_.pts = static_cast<std::uint32_t>(rec.Pts + offset);
  au_.size = au_.bytes_left = rec.Size;
  // Object, presentation composition, window and interactive composition segments carry both stamps
  // when their record has a decoding time.
  const std::uint8_t type = static_cast<std::uint8_t>(rec.TypeWord & 0xFF);
  pts_and_dts_ = type >= kSegmentOds && type <= kSegmentIcs && rec.Dts != 0;
  sent_ = 0;
  // Entry points: compositions that are not a normal case (epoch start or acquisition point).
  const std::uint8_t state = static_cast<std::uint8_t>((rec.TypeWord >> 8) & 3);
  if (has_ep_map && (type == kSegmentPcs || type == kSegmentIcs) && state != 0) {
    au_.entry_point = static_cast<std::int64_t>(key_points_.size());
    key_points_.push_back({static_cast<std::int32_t>(unit_), au_.pts, 0, 0});
  }
  register_unit(au_);
  return true;
}

int SRawTrack::make_packet(std::uint8_t* out) {
  if (ended || sent_ >= bytes_.size()) return -1;
  packetiser_.set_pid(pid);
  SPacketUnit unit;
  unit.bytes = bytes_;
  unit.pts = au_.pts;
  unit.dts = au_.dts;
  unit.pts_and_dts = pts_and_dts_;
  const std::size_t before = sent_;
  const int n = packetiser_.next(unit, sent_, out);
  au_.bytes_left -= sent_ - before;
  return n;
}

STREAM_INFO SRawTrack::clip_stream_entry() const {
  STREAM_INFO si;
  si.StreamPID = pid;
  si.StreamCodingInfo.CodingType = stream_type_;
  si.StreamCodingInfo.set_language(std::string_view(source_.language.data(), source_.language.size()));
  return si;
}

SEsInfo SRawTrack::pmt_entry() const {
  SEsInfo es;
  es.StreamType = stream_type_;
  es.ElementaryPid = pid;
  es.LanguageDescriptor = SIso639LanguageDescriptor{source_.language, 0};
  return es;
}

KEY_POINT_INFO* SRawTrack::key_point(std::int64_t index) {
  if (index < 0 || index >= static_cast<std::int64_t>(key_points_.size())) return nullptr;
  return &key_points_[static_cast<std::size_t>(index)];
}

std::optional<STREAM_PID_ENTRY> SRawTrack::finish_ep_map() {
  if (!has_ep_map || key_points_.empty()) return std::nullopt;
  STREAM_PID_ENTRY e;
  e.StreamPid = pid;
  e.EpStreamType = ep_stream_type;
  e.KeyPoints = key_points_;
  return e;
}

}  // namespace veld
