// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clpi.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "veld/base/messages.h"

namespace veld {
namespace {

constexpr std::size_t kClipInfoOffset = 40;
constexpr std::uint32_t kSpnFineMask = 0x1FFFF;

template <std::size_t N>
void read_array(ByteReader& r, std::array<std::uint8_t, N>& a) {
  ByteSpan b = r.bytes(N);
  std::copy(b.begin(), b.end(), a.begin());
}
template <std::size_t N>
void read_chars(ByteReader& r, std::array<char, N>& a) {
  ByteSpan b = r.bytes(N);
  for (std::size_t i = 0; i < N; ++i) a[i] = static_cast<char>(b[i]);
}
// A reader over the whole file positioned at an absolute start address, named after the element.
ByteReader reader_at(ByteSpan file, std::uint32_t address, std::string_view element) {
  if (address > file.size()) {
    ByteReader r(file, element);
    r.fail(fmt::format("start address {} is beyond the end of the file ({} bytes)", address, file.size()));
  }
  return ByteReader(file.subspan(address), element, address);
}

// The bytes a block's reader has not interpreted, taken so that the writer puts them back.
Bytes take_rest(ByteReader& b) {
  const ByteSpan rest = b.bytes(b.remaining());
  return Bytes(rest.begin(), rest.end());
}

// A reader bounded to a block with a 32-bit length field: r is at the length field. A length that runs
// past the file is an error naming the block.
ByteReader block_reader(ByteReader& r, std::uint32_t& length, std::string_view element) {
  length = r.u32();
  return r.sub(length, element);
}

void parse_atc_delta(ByteReader& r, SClipInfo& ci) {
  ci.AtcDeltaReserved = r.u8();
  const std::uint8_t count = r.u8();
  r.need(std::size_t{count} * 14);
  ci.AtcDeltaEntries.resize(count);
  for (SAtcDeltaEntry& e : ci.AtcDeltaEntries) {
    e.ATCDelta = r.u32();
    e.FollowingClipInformationFileName = r.text(5);
    e.ClipCodecIdentifier = r.text(4);
    e.reserved = r.u8();
  }
}

void parse_clip_info(ByteReader& r, SClipInfo& ci) {
  ByteReader b = block_reader(r, ci.Length, "ClipInfo");
  read_array(b, ci.reserved1);
  ci.ClipStreamType = b.u8();
  ci.ApplicationType = b.u8();
  const std::uint32_t flags = b.u32();
  ci.reserved2 = flags >> 1;
  ci.IsAtcDelta = flags & 1;
  ci.TsRecordingRate = b.u32();
  ci.NumberOfSourcePackets = b.u32();
  read_array(b, ci.Reserved);
  STsTypeInfoBlock& ts = ci.TsTypeInfoBlock;
  ts.Length = b.u16();
  if (ts.Length < 30) b.fail(fmt::format("TS type info block of length {} is shorter than 30", ts.Length));
  ByteReader t = b.sub(ts.Length, "TsTypeInfoBlock");
  ts.ValidityFlags = t.u8();
  read_array(t, ts.FormatIdentifier);
  read_array(t, ts.NetworkInformation);
  read_array(t, ts.StreamFormatName);
  ts.Tail = take_rest(t);
  if (ci.IsAtcDelta) parse_atc_delta(b, ci);
  ci.Tail = take_rest(b);
}

void parse_sequence_info(ByteReader& r, SSequenceInfo& si, CUnreadBytes* unread) {
  ByteReader b = block_reader(r, si.Length, "SequenceInfo");
  si.reserved = b.u8();
  si.NumberOfAtcSequences = b.u8();
  if (si.NumberOfAtcSequences != 0) {
    SAtcInfo& atc = si.AtcInfo;
    atc.SpnAtcStart = b.u32();
    const std::uint8_t stc_count = b.u8();
    atc.OffsetStcId = b.u8();
    b.need(std::size_t{stc_count} * 14);
    atc.StcInfo.resize(stc_count);
    for (STC_INFO& stc : atc.StcInfo) {
      stc.PcrPid = b.u16();
      stc.SpnStcStart = b.u32();
      stc.StartPTS = b.u32();
      stc.EndPTS = b.u32();
    }
  }
  NoteUnread(b, unread);
  si.Tail = take_rest(b);
}

// Raw keeps only the bits that no field holds (the writer puts the fields over it); `read` bytes were
// taken by fields. The usual size holding nothing else is a new record's: Raw is then left empty.
void keep_unheld_bytes(SStreamCodingInfo& sci, std::size_t read) {
  Bytes& x = sci.Raw;
  const bool attributes = has_coding_attributes(sci.CodingType);
  for (std::size_t i = 0; i < read && i < x.size(); ++i) {
    if (i == 1 && is_video_coding_type(sci.CodingType)) {
      x[1] &= 0x0F;  // the low bits beside the aspect ratio are no field's
    } else if (!(attributes && i == 3 && (is_video_coding_type(sci.CodingType) || is_graphics_coding_type(sci.CodingType))) &&
               !(is_video_coding_type(sci.CodingType) && i == 2)) {
      x[i] = 0;
    }
  }
  const std::size_t usual = attributes ? 20 : 16;
  if (x.size() == usual && std::all_of(x.begin(), x.end(), [](std::uint8_t v) { return v == 0; })) x.clear();
}

void parse_stream_coding_info(ByteReader& r, SStreamCodingInfo& sci) {
  sci.Length = r.u8();
  // The whole element, whatever its coding type: the reader moves on by length + 1 bytes.
  ByteReader e = r.sub(sci.Length, "StreamCodingInfo");
  sci.CodingType = e.u8();
  const std::uint8_t t = sci.CodingType;
  const ByteSpan raw = e.data().subspan(e.pos());
  sci.Raw.assign(raw.begin(), raw.end());
  if (is_video_coding_type(t)) {
    std::uint8_t b = e.u8();
    sci.VideoFormat = b >> 4;
    sci.FrameRate = b & 0x0F;
    sci.AspectRatio = e.u8() >> 4;
    e.skip(2);
  } else if (is_audio_coding_type(t)) {
    std::uint8_t b = e.u8();
    sci.PresentationType = b >> 4;
    sci.SamplingFrequency = b & 0x0F;
    read_chars(e, sci.LanguageCode);
  } else if (is_graphics_coding_type(t)) {
    read_chars(e, sci.LanguageCode);
    e.skip(1);
  } else if (t == coding_type::kTextSubtitle) {
    sci.CharacterCode = e.u8();
    read_chars(e, sci.LanguageCode);
  }
  // An element that ends before its ISRC leaves it zero; the bytes after it stay in Raw.
  if (e.remaining() >= 12) {
    read_array(e, sci.Isrc.CountryCode);
    read_array(e, sci.Isrc.CopyrightHolder);
    read_array(e, sci.Isrc.RecordingYear);
    read_array(e, sci.Isrc.RecordingNumber);
  }
  keep_unheld_bytes(sci, e.pos() - 1);
}

void parse_program_info(ByteReader& r, SProgramInfo& pi, CUnreadBytes* unread) {
  ByteReader b = block_reader(r, pi.Length, "ProgramInfo");
  pi.reserved = b.u8();
  pi.NumberOfProgramSequence = b.u8();
  if (pi.NumberOfProgramSequence != 0) {
    SProgramSequenceInfo& ps = pi.ProgramSequenceInfo;
    ps.SpnProgramSequenceStart = b.u32();
    ps.ProgramMapPid = b.u16();
    ps.NumberOfStreams = b.u8();
    ps.NumberOfStreamGroups = b.u8();
    b.need(std::size_t{ps.NumberOfStreams} * 3);  // each entry takes at least PID and length
    ps.Streams.resize(ps.NumberOfStreams);
    for (STREAM_INFO& s : ps.Streams) {
      s.StreamPID = b.u16();
      parse_stream_coding_info(b, s.StreamCodingInfo);
    }
  }
  NoteUnread(b, unread);
  pi.Tail = take_rest(b);
}

// One EpMapForOneStream at its start; fills the entry's key points. Returns the end of the stream's
// map within ep_map.
std::size_t parse_ep_map_for_one_stream(ByteReader ep_map, STREAM_PID_ENTRY& e) {
  ep_map.seek(e.EpMapForOneStreamStartAddress);
  const std::size_t base = ep_map.pos();
  const std::uint32_t fine_start = ep_map.u32();
  const std::size_t coarse_count = e.NumberOfCoarseEntries;
  const std::size_t fine_count = e.NumberOfFineEntries;
  ep_map.need(coarse_count * 8);
  struct Coarse {
    std::uint32_t ref;
    std::uint32_t pts;
    std::uint32_t spn;
  };
  std::vector<Coarse> coarse(coarse_count);
  for (Coarse& c : coarse) {
    std::uint32_t v = ep_map.u32();
    c.ref = v >> 14;
    c.pts = v & 0x3FFF;
    c.spn = ep_map.u32();
  }
  if (fine_start > ep_map.size() - base) ep_map.fail("fine table start is beyond the end of the EP map");
  ep_map.seek(base + fine_start);
  ep_map.need(fine_count * 4);
  e.KeyPoints.assign(fine_count, KEY_POINT_INFO{});
  e.FineEntriesAsRead.assign(fine_count, SFineEntryAsRead{});
  std::vector<std::uint32_t> fine(fine_count);
  for (std::uint32_t& f : fine) f = ep_map.u32();
  for (std::size_t k = 0; k < coarse_count; ++k) {
    std::size_t from = std::min<std::size_t>(coarse[k].ref, fine_count);
    std::size_t to = k + 1 < coarse_count ? std::min<std::size_t>(coarse[k + 1].ref, fine_count) : fine_count;
    if (from < fine_count) e.FineEntriesAsRead[from].CoarseStart = true;
    for (std::size_t i = from; i < to; ++i) {
      const std::uint32_t pts_fine = (fine[i] >> 17) & 0x7FF;
      const std::uint32_t spn_fine = fine[i] & kSpnFineMask;
      KEY_POINT_INFO& kp = e.KeyPoints[i];
      e.FineEntriesAsRead[i].IsAngleChangePoint = fine[i] >> 31;
      e.FineEntriesAsRead[i].IEndPositionOffset = static_cast<std::uint8_t>((fine[i] >> 28) & 7);
      kp.SpnStart = (coarse[k].spn & ~kSpnFineMask) | spn_fine;
      // PTS fine holds bits 19..9; its top bit overlaps the lowest bit of PTS coarse, which gives way.
      kp.PTS = (std::uint64_t{coarse[k].pts & ~1u} << 19) | (std::uint64_t{pts_fine} << 9);
    }
  }
  return ep_map.pos();
}

void parse_cpi(ByteReader& r, SCpi& cpi) {
  cpi.Length = r.u32();
  if (cpi.Length == 0) return;
  ByteReader body = r.sub(cpi.Length, "CPI");
  const std::uint16_t type = body.u16();
  cpi.reserved = type >> 4;
  cpi.CpiType = type & 0x0F;
  ByteReader ep_map(body.data().subspan(body.pos()), "EpMap", body.absolute_pos());
  cpi.EpMapReserved = ep_map.u8();
  const std::uint8_t count = ep_map.u8();
  ep_map.need(std::size_t{count} * 12);
  cpi.EpMap.resize(count);
  for (STREAM_PID_ENTRY& e : cpi.EpMap) {
    e.StreamPid = ep_map.u16();
    std::uint32_t v = ep_map.u32();  // reserved 10, EpStreamType 4, NumberOfCoarseEntries 16, 2 bits
    e.reserved = static_cast<std::uint16_t>(v >> 22);
    e.EpStreamType = (v >> 18) & 0x0F;
    e.NumberOfCoarseEntries = static_cast<std::uint16_t>(v >> 2);
    e.NumberOfFineEntries = ((v & 3) << 16) | ep_map.u16();
    e.EpMapForOneStreamStartAddress = ep_map.u32();
  }
  std::size_t end = ep_map.pos();
  for (STREAM_PID_ENTRY& e : cpi.EpMap) end = std::max(end, parse_ep_map_for_one_stream(ep_map, e));
  ep_map.seek(end);
  cpi.Tail = take_rest(ep_map);
}

void parse_clip_mark(ByteReader& r, SClipMark& mark) {
  ByteReader b = block_reader(r, mark.Length, "ClipMark");
  mark.Data = take_rest(b);
}

// The bytes of the file between the end of the previous block and the next block's start address.
Bytes gap_before(ByteSpan file, std::size_t previous_end, std::uint32_t start) {
  if (start <= previous_end || start > file.size()) return {};
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(previous_end), file.begin() + start);
}

// The tool stamp inside the ClipInfo reserved bytes; a missing tag or a block that does not fit leaves
// the record without one (the bytes stay in Reserved either way).
}  // namespace

std::optional<SToolStamp> parse_tool_stamp(const SClipInfo& ci) {
  if (std::memcmp(ci.Reserved.data(), "WQTX", 4) != 0) return std::nullopt;
  SToolStamp stamp;
  try {
    parse_ext_data(ByteSpan(ci.Reserved).subspan(4), stamp.Block);
  } catch (const ParseError&) {
    return std::nullopt;
  }
  return stamp;
}

// ---- extension data -------------------------------------------------------------------------------

std::size_t parse_file_ext_data(ByteSpan file, std::uint32_t start, std::optional<SExtensionData>& out,
                                std::size_t consumed) {
  if (start == 0) return consumed;
  if (start > file.size()) throw ParseError("ExtensionData", start, "start address beyond the file");
  SExtensionData ext;
  const std::size_t end = start + parse_ext_data(file.subspan(start), ext);
  out = std::move(ext);
  return end;
}

std::size_t parse_ext_data(ByteSpan block, SExtensionData& out) {
  out = SExtensionData{};
  ByteReader r(block, "ExtensionData");
  out.Length = r.u32();
  r.need(out.Length);
  if (out.Length == 0) return 4;
  ByteSpan whole = block.first(std::size_t{out.Length} + 4);
  ByteReader b(whole, "ExtensionData");
  b.skip(4);
  out.DataBlockStartAddress = b.u32();
  b.skip(3);
  out.NumberOfExtDataEntries = b.u8();
  b.need(std::size_t{out.NumberOfExtDataEntries} * 12);
  out.Entries.resize(out.NumberOfExtDataEntries);
  for (SExtDataEntry& e : out.Entries) {
    e.ExtDataEntry_ID1 = b.u16();
    e.ExtDataEntry_ID2 = b.u16();
    e.ExtDataStartAddress = b.u32();
    e.ExtDataLength = b.u32();
  }
  for (SExtDataEntry& e : out.Entries) {
    ByteReader d(whole, "ExtDataEntry");
    if (e.ExtDataStartAddress > whole.size()) d.fail("entry data start is beyond the end of the block");
    d.seek(e.ExtDataStartAddress);
    ByteSpan bytes = d.bytes(e.ExtDataLength);
    e.Data.assign(bytes.begin(), bytes.end());
  }
  return whole.size();
}

std::size_t ext_data_size(const SExtensionData& ext) {
  if (ext.Entries.empty()) return 4;
  std::size_t size = 12 + 12 * ext.Entries.size();
  for (const SExtDataEntry& e : ext.Entries) size += (e.Data.size() + 3) / 4 * 4;
  return size;
}

std::size_t write_ext_data(const SExtensionData& ext, Bytes& out) {
  ByteWriter w(out);
  const std::size_t start = w.pos();
  w.u32(0);
  if (ext.Entries.empty()) return 4;
  const std::size_t n = ext.Entries.size();
  if (n > 255)
    throw std::length_error(fmt::format("ExtensionData: {} entries do not fit the count field", n));
  w.u32(static_cast<std::uint32_t>(12 + 12 * n));
  w.zeros(3);
  w.u8(static_cast<std::uint8_t>(n));
  w.zeros(12 * n);
  for (std::size_t i = 0; i < n; ++i) {
    const SExtDataEntry& e = ext.Entries[i];
    const std::size_t data_at = w.pos() - start;
    w.bytes(e.Data);
    w.pad_to(start + (w.pos() - start + 3) / 4 * 4);
    const std::size_t row = start + 12 + 12 * i;
    w.patch_u16(row, e.ExtDataEntry_ID1);
    w.patch_u16(row + 2, e.ExtDataEntry_ID2);
    w.patch_u32(row + 4, static_cast<std::uint32_t>(data_at));
    w.patch_u32(row + 8, static_cast<std::uint32_t>(e.Data.size()));
  }
  const std::size_t size = w.pos() - start;
  w.patch_u32(start, static_cast<std::uint32_t>(size - 4));
  return size;
}

// ---- entry-point classes --------------------------------------------------------------------------

std::uint8_t i_end_position_offset(const KEY_POINT_INFO& kp) {
  // A key point read from a file has SpnEnd 0: the distance is negative and the class 1.
  const std::int64_t s = (std::int64_t{kp.SpnEnd} - std::int64_t{kp.SpnStart} + 1) * 192;
  if (s < 0x20000) return 1;
  if (s < 0x40000) return 2;
  if (s < 0x60000) return 3;
  if (s < 0x90000) return 4;
  if (s < 0xE0000) return 5;
  if (s < 0x140000) return 6;
  return 7;
}


// ---- tool stamp -----------------------------------------------------------------------------------

std::string wqtx_scramble(std::string_view text) {
  static constexpr char kKey[4] = {'Q', 'F', 'K', 'M'};
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ kKey[i % 4]);
  return out;
}

Bytes serialise_tool_data(const SWqtxToolData& tool) {
  Bytes out;
  ByteWriter w(out);
  for (const std::string* s : {&tool.Company, &tool.Descriptor}) {
    const std::string_view text = std::string_view(*s).substr(0, 255);
    w.u8(static_cast<std::uint8_t>(text.size()));
    w.text(wqtx_scramble(text));
  }
  return out;
}

std::optional<SWqtxToolData> parse_tool_data(ByteSpan bytes) {
  try {
    ByteReader r(bytes, "WqtxToolData");
    SWqtxToolData tool;
    tool.Company = wqtx_scramble(r.text(r.u8()));
    tool.Descriptor = wqtx_scramble(r.text(r.u8()));
    return tool;
  } catch (const ParseError&) {
    return std::nullopt;
  }
}

std::string print_tool_data(const SWqtxToolData& tool, std::string_view indent) {
  return fmt::format("{}{}: {}\n{}{}: {}\n", indent, "Company", tool.Company, indent, "Descriptor",
                     tool.Descriptor);
}

std::size_t tool_stamp_size(const SToolStamp& stamp) { return 4 + ext_data_size(stamp.Block); }

SToolStamp make_tool_stamp(std::string_view name, std::string_view version) {
  SWqtxToolData tool;
  tool.Company = std::string(kToolMaker);
  tool.Descriptor = fmt::format("{} {}", name, version);
  SToolStamp stamp;
  SExtDataEntry entry;
  entry.ExtDataEntry_ID1 = kExtIdToolData1;
  entry.ExtDataEntry_ID2 = kExtIdToolData2;
  for (;;) {
    entry.Data = serialise_tool_data(tool);
    entry.ExtDataLength = static_cast<std::uint32_t>(entry.Data.size());
    stamp.Block.Entries = {entry};
    if (tool_stamp_size(stamp) <= kToolStampRoom || tool.Descriptor.empty()) break;
    tool.Descriptor.pop_back();  // too long for the reserved bytes: cut the descriptor
  }
  stamp.Block.NumberOfExtDataEntries = 1;
  stamp.Block.DataBlockStartAddress = 24;
  stamp.Block.Length = static_cast<std::uint32_t>(ext_data_size(stamp.Block) - 4);
  stamp.Block.Entries[0].ExtDataStartAddress = 24;
  return stamp;
}

std::optional<SWqtxToolData> tool_data_of(const SToolStamp& stamp) {
  for (const SExtDataEntry& e : stamp.Block.Entries) {
    if (e.ExtDataEntry_ID1 == kExtIdToolData1 && e.ExtDataEntry_ID2 == kExtIdToolData2) {
      return parse_tool_data(e.Data);
    }
  }
  return std::nullopt;
}

SClpiData new_clpi_data() {
  SClpiData d;
  d.ToolStamp = make_tool_stamp("VELD", VELD_VERSION);
  return d;
}

// ---- the whole file -------------------------------------------------------------------------------

int parse_clpi(ByteSpan file, SClpiData& out, std::string* error, CUnreadBytes* unread) {
  out = SClpiData{};
  CUnreadBytes notes;
  try {
    ByteReader h(file, "clpi header");
    read_chars(h, out.TypeIndicator);
    read_chars(h, out.VersionNumber);
    out.SequenceInfoStartAddress = h.u32();
    out.ProgramInfoStartAddress = h.u32();
    out.CpiStartAddress = h.u32();
    out.ClipMarkStartAddress = h.u32();
    out.ExtensionDataStartAddress = h.u32();
    read_array(h, out.Reserved);

    ByteReader ci = reader_at(file, kClipInfoOffset, "ClipInfo");
    parse_clip_info(ci, out.ClipInfo);

    out.Gaps.SequenceInfo = gap_before(file, ci.absolute_pos(), out.SequenceInfoStartAddress);
    ByteReader si = reader_at(file, out.SequenceInfoStartAddress, "SequenceInfo");
    parse_sequence_info(si, out.SequenceInfo, &notes);

    out.Gaps.ProgramInfo = gap_before(file, si.absolute_pos(), out.ProgramInfoStartAddress);
    ByteReader pi = reader_at(file, out.ProgramInfoStartAddress, "ProgramInfo");
    parse_program_info(pi, out.ProgramInfo, &notes);

    out.Gaps.Cpi = gap_before(file, pi.absolute_pos(), out.CpiStartAddress);
    ByteReader cpi = reader_at(file, out.CpiStartAddress, "CPI");
    parse_cpi(cpi, out.Cpi);

    out.Gaps.ClipMark = gap_before(file, cpi.absolute_pos(), out.ClipMarkStartAddress);
    ByteReader cm = reader_at(file, out.ClipMarkStartAddress, "ClipMark");
    parse_clip_mark(cm, out.ClipMark);
    std::size_t consumed = cm.absolute_pos();

    if (out.ExtensionDataStartAddress != 0)
      out.Gaps.ExtensionData = gap_before(file, consumed, out.ExtensionDataStartAddress);
    consumed = parse_file_ext_data(file, out.ExtensionDataStartAddress, out.ExtensionData, consumed);
    out.ToolStamp = parse_tool_stamp(out.ClipInfo);
    if (consumed > static_cast<std::size_t>(INT32_MAX)) throw ParseError("clpi", 0, "file too large");
    if (unread) unread->insert(unread->end(), notes.begin(), notes.end());
    return static_cast<int>(consumed);
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return 0;
  }
}

// ---- clip objects ---------------------------------------------------------------------------------

int CClpiObject::parse(ByteSpan file, std::string* error, CUnreadBytes* unread) {
  const int result = parse_clpi(file, data, error, unread);
  start_time = end_time = 0;
  rip_tracks.tracks.clear();
  if (result <= 0) return result;
  rip_tracks.build(data.streams());
  if (!data.stc_info().empty()) {
    start_time = std::uint64_t{data.stc_info().front().StartPTS} * 2;
    end_time = std::uint64_t{data.stc_info().front().EndPTS} * 2;
  }
  return result;
}

CClpiObject& CCofObject::add_clip() {
  auto clip = std::make_unique<CClpiObject>();
  clip->id = clips_.empty() ? 0 : clips_.back()->id + 1;
  clip->name = fmt::format("{}#{}", message_text(kStrClip), clip->id);
  clips_.push_back(std::move(clip));
  return *clips_.back();
}

CClpiObject& CCofObject::insert(std::unique_ptr<CClpiObject> clip) {
  auto at = std::upper_bound(clips_.begin(), clips_.end(), clip->id,
                             [](int id, const std::unique_ptr<CClpiObject>& c) { return id < c->id; });
  return **clips_.insert(at, std::move(clip));
}

CClpiObject* CCofObject::find(int id) {
  for (auto& c : clips_) {
    if (c->id == id) return c.get();
  }
  return nullptr;
}

const CClpiObject* CCofObject::find(int id) const {
  for (const auto& c : clips_) {
    if (c->id == id) return c.get();
  }
  return nullptr;
}

}  // namespace veld
