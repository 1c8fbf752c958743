#include "veld/clip/clpi.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "veld/base/messages.h"

namespace veld {
namespace {

constexpr std::size_t kClipInfoOffset = 40;
constexpr std::size_t kClipInfoSize = 180;  // length field + 176
constexpr std::uint32_t kSpnFineMask = 0x1FFFF;
constexpr std::size_t kMaxFineEntries = 0x3FFFF;   // NumberOfFineEntries: 18 bits
constexpr std::size_t kMaxCoarseEntries = 0xFFFF;  // NumberOfCoarseEntries: 16 bits

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
template <std::size_t N>
void write_array(ByteWriter& w, const std::array<std::uint8_t, N>& a) {
  w.bytes(ByteSpan(a.data(), a.size()));
}
template <std::size_t N>
void write_chars(ByteWriter& w, const std::array<char, N>& a) {
  w.text(std::string_view(a.data(), a.size()));
}

// The bytes of a block that its parser left unread: r started at the block's 32-bit length field and has
// read its content; a length that reaches past the file is not this (the content was read to its end).
void note_block_rest(const ByteReader& r, std::uint32_t length, CUnreadBytes* unread) {
  const std::size_t read = r.pos() - 4;
  if (length <= read) return;
  const std::size_t count = std::min<std::size_t>(length - read, r.remaining());
  if (count > 0) unread->push_back({r.element(), r.absolute_pos(), count});
}

// A reader over the whole file positioned at an absolute start address, named after the element.
ByteReader reader_at(ByteSpan file, std::uint32_t address, std::string_view element) {
  if (address > file.size()) {
    ByteReader r(file, element);
    r.fail(fmt::format("start address {} is beyond the end of the file ({} bytes)", address, file.size()));
  }
  return ByteReader(file.subspan(address), element, address);
}

void parse_clip_info(ByteReader& r, SClipInfo& ci) {
  ci.Length = r.u32();
  r.skip(2);
  ci.ClipStreamType = r.u8();
  ci.ApplicationType = r.u8();
  r.skip(4);  // reserved, IsAtcDelta: ATC delta entries are not supported
  ci.TsRecordingRate = r.u32();
  ci.NumberOfSourcePackets = r.u32();
  read_array(r, ci.Reserved);
  ci.TsTypeInfoBlock.Length = r.u16();
  ci.TsTypeInfoBlock.ValidityFlags = r.u8();
  read_array(r, ci.TsTypeInfoBlock.FormatIdentifier);
  read_array(r, ci.TsTypeInfoBlock.NetworkInformation);
  read_array(r, ci.TsTypeInfoBlock.StreamFormatName);
}

void parse_sequence_info(ByteReader& r, SSequenceInfo& si) {
  si.Length = r.u32();
  r.skip(1);
  si.NumberOfAtcSequences = r.u8();
  if (si.NumberOfAtcSequences == 0) return;  // nothing more to read
  SAtcInfo& atc = si.AtcInfo;
  atc.SpnAtcStart = r.u32();
  std::uint8_t stc_count = r.u8();
  atc.OffsetStcId = r.u8();
  r.need(std::size_t{stc_count} * 14);
  atc.StcInfo.resize(stc_count);
  for (STC_INFO& stc : atc.StcInfo) {
    stc.PcrPid = r.u16();
    stc.SpnStcStart = r.u32();
    stc.StartPTS = r.u32();
    stc.EndPTS = r.u32();
  }
}

void parse_stream_coding_info(ByteReader& r, SStreamCodingInfo& sci) {
  sci.Length = r.u8();
  // The whole element, whatever its coding type: the reader moves on by length + 1 bytes.
  ByteReader e = r.sub(sci.Length, "StreamCodingInfo");
  sci.CodingType = e.u8();
  const std::uint8_t t = sci.CodingType;
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
  // An element that ends before its ISRC leaves it zero; the bytes after it are not interpreted.
  if (e.remaining() < 12) return;
  read_array(e, sci.Isrc.CountryCode);
  read_array(e, sci.Isrc.CopyrightHolder);
  read_array(e, sci.Isrc.RecordingYear);
  read_array(e, sci.Isrc.RecordingNumber);
}

void parse_program_info(ByteReader& r, SProgramInfo& pi) {
  pi.Length = r.u32();
  r.skip(1);
  pi.NumberOfProgramSequence = r.u8();
  if (pi.NumberOfProgramSequence == 0) return;
  SProgramSequenceInfo& ps = pi.ProgramSequenceInfo;
  ps.SpnProgramSequenceStart = r.u32();
  ps.ProgramMapPid = r.u16();
  ps.NumberOfStreams = r.u8();
  r.skip(1);
  r.need(std::size_t{ps.NumberOfStreams} * 3);  // each entry takes at least PID and length
  ps.Streams.resize(ps.NumberOfStreams);
  for (STREAM_INFO& s : ps.Streams) {
    s.StreamPID = r.u16();
    parse_stream_coding_info(r, s.StreamCodingInfo);
  }
}

// One EpMapForOneStream at its start; fills the entry's key points.
void parse_ep_map_for_one_stream(ByteReader ep_map, STREAM_PID_ENTRY& e) {
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
  std::vector<std::uint32_t> fine(fine_count);
  for (std::uint32_t& f : fine) f = ep_map.u32();
  for (std::size_t k = 0; k < coarse_count; ++k) {
    std::size_t from = std::min<std::size_t>(coarse[k].ref, fine_count);
    std::size_t to = k + 1 < coarse_count ? std::min<std::size_t>(coarse[k + 1].ref, fine_count) : fine_count;
    for (std::size_t i = from; i < to; ++i) {
      const std::uint32_t pts_fine = (fine[i] >> 17) & 0x7FF;
      const std::uint32_t spn_fine = fine[i] & kSpnFineMask;
      KEY_POINT_INFO& kp = e.KeyPoints[i];
      kp.SpnStart = (coarse[k].spn & ~kSpnFineMask) | spn_fine;
      // The top bit of PTS fine overlaps the lowest bit of PTS coarse.
      kp.PTS = (std::uint64_t{coarse[k].pts} << 19) | (std::uint64_t{pts_fine & 0x3FF} << 9);
    }
  }
}

void parse_cpi(ByteReader& r, SCpi& cpi) {
  cpi.Length = r.u32();
  if (cpi.Length == 0) return;
  ByteReader body = r.sub(cpi.Length, "CPI");
  cpi.CpiType = body.u16() & 0x0F;
  ByteReader ep_map(body.data().subspan(body.pos()), "EpMap", body.absolute_pos());
  ep_map.skip(1);
  const std::uint8_t count = ep_map.u8();
  ep_map.need(std::size_t{count} * 12);
  cpi.EpMap.resize(count);
  for (STREAM_PID_ENTRY& e : cpi.EpMap) {
    e.StreamPid = ep_map.u16();
    std::uint32_t v = ep_map.u32();  // reserved 10, EpStreamType 4, NumberOfCoarseEntries 16, 2 bits
    e.EpStreamType = (v >> 18) & 0x0F;
    e.NumberOfCoarseEntries = static_cast<std::uint16_t>(v >> 2);
    e.NumberOfFineEntries = ((v & 3) << 16) | ep_map.u16();
    e.EpMapForOneStreamStartAddress = ep_map.u32();
  }
  for (STREAM_PID_ENTRY& e : cpi.EpMap) parse_ep_map_for_one_stream(ep_map, e);
}

// The tool stamp inside the ClipInfo reserved bytes; a missing tag or a block that does not fit leaves
// the record without one (the bytes stay in Reserved either way).
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

// ---- writing --------------------------------------------------------------------------------------

void write_stream_coding_info(ByteWriter& w, const SStreamCodingInfo& sci) {
  const std::uint8_t t = sci.CodingType;
  w.u8(has_coding_attributes(t) ? 21 : 17);
  w.u8(t);
  if (is_video_coding_type(t)) {
    w.u8(static_cast<std::uint8_t>((sci.VideoFormat << 4) | (sci.FrameRate & 0x0F)));
    w.u8(static_cast<std::uint8_t>(sci.AspectRatio << 4));
    w.zeros(2);
  } else if (is_audio_coding_type(t)) {
    w.u8(static_cast<std::uint8_t>((sci.PresentationType << 4) | (sci.SamplingFrequency & 0x0F)));
    write_chars(w, sci.LanguageCode);
  } else if (is_graphics_coding_type(t)) {
    write_chars(w, sci.LanguageCode);
    w.u8(0);
  } else if (t == coding_type::kTextSubtitle) {
    w.u8(sci.CharacterCode);
    write_chars(w, sci.LanguageCode);
  }
  write_array(w, sci.Isrc.CountryCode);
  write_array(w, sci.Isrc.CopyrightHolder);
  write_array(w, sci.Isrc.RecordingYear);
  write_array(w, sci.Isrc.RecordingNumber);
  w.zeros(4);
}

// Indexes of the key points that start a coarse entry.
// Indexes of the key points that start a coarse entry. The key points written are limited to what the
// counts can hold (2^18 - 1 fine and 2^16 - 1 coarse entries); *written tells how many.
std::vector<std::size_t> coarse_starts(const CKpiFolder& kps, std::size_t* written = nullptr) {
  std::vector<std::size_t> starts;
  std::size_t i = 0;
  for (; i < kps.size() && i < kMaxFineEntries; ++i) {
    if (i == 0 || (kps[i].PTS >> 19) > (kps[i - 1].PTS >> 19) ||
        (kps[i].SpnStart & kSpnFineMask) < (kps[i - 1].SpnStart & kSpnFineMask)) {
      if (starts.size() == kMaxCoarseEntries) break;
      starts.push_back(i);
    }
  }
  if (written) *written = i;
  return starts;
}

void write_ep_map(ByteWriter& w, const CSpeFolder& entries) {
  std::vector<const STREAM_PID_ENTRY*> used;
  for (const STREAM_PID_ENTRY& e : entries) {
    if (!e.KeyPoints.empty() && used.size() < 255) used.push_back(&e);
  }
  const std::size_t ep_start = w.pos();
  w.u8(0);
  w.u8(static_cast<std::uint8_t>(used.size()));
  const std::size_t rows = w.pos();
  w.zeros(12 * used.size());
  for (std::size_t n = 0; n < used.size(); ++n) {
    const STREAM_PID_ENTRY& e = *used[n];
    const std::size_t block = w.pos();
    std::size_t written = 0;
    const std::vector<std::size_t> starts = coarse_starts(e.KeyPoints, &written);
    const std::span<const KEY_POINT_INFO> kps(e.KeyPoints.data(), written);
    w.u32(static_cast<std::uint32_t>(4 + 8 * starts.size()));
    for (std::size_t i : starts) {
      const KEY_POINT_INFO& kp = e.KeyPoints[i];
      w.u32(static_cast<std::uint32_t>((i << 14) | ((kp.PTS >> 19) & 0x3FFF)));
      w.u32(kp.SpnStart);
    }
    for (const KEY_POINT_INFO& kp : kps) {
      std::uint32_t i_end = e.EpStreamType == 1 ? i_end_position_offset(kp) : 0;
      w.u32((i_end << 28) | (static_cast<std::uint32_t>((kp.PTS >> 9) & 0x7FF) << 17) |
            (kp.SpnStart & kSpnFineMask));
    }
    const std::size_t row = rows + 12 * n;
    const std::uint32_t fine_count = static_cast<std::uint32_t>(kps.size());
    w.patch_u16(row, e.StreamPid);
    w.patch_u32(row + 2, (std::uint32_t{e.EpStreamType & 0x0Fu} << 18) |
                             (static_cast<std::uint32_t>(starts.size() & 0xFFFF) << 2) | (fine_count >> 16));
    w.patch_u16(row + 6, static_cast<std::uint16_t>(fine_count));
    w.patch_u32(row + 8, static_cast<std::uint32_t>(block - ep_start));
  }
}

}  // namespace

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
  const std::size_t n = std::min<std::size_t>(ext.Entries.size(), 255);
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

std::size_t coarse_entry_count(const CKpiFolder& key_points) { return coarse_starts(key_points).size(); }

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
  tool.Company = "Harmsel";
  tool.Descriptor = fmt::format("{}, Version {}", name, version);
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

    ByteReader si = reader_at(file, out.SequenceInfoStartAddress, "SequenceInfo");
    parse_sequence_info(si, out.SequenceInfo);
    note_block_rest(si, out.SequenceInfo.Length, &notes);

    ByteReader pi = reader_at(file, out.ProgramInfoStartAddress, "ProgramInfo");
    parse_program_info(pi, out.ProgramInfo);
    note_block_rest(pi, out.ProgramInfo.Length, &notes);

    ByteReader cpi = reader_at(file, out.CpiStartAddress, "CPI");
    parse_cpi(cpi, out.Cpi);

    ByteReader cm = reader_at(file, out.ClipMarkStartAddress, "ClipMark");
    out.ClipMark.Length = cm.u32();
    cm.skip(out.ClipMark.Length);
    std::size_t consumed = cm.absolute_pos();

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

Bytes write_clpi(const SClpiData& d) {
  Bytes out;
  out.reserve(4096);
  ByteWriter w(out);
  write_chars(w, d.TypeIndicator);
  write_chars(w, d.VersionNumber);
  w.zeros(kClipInfoOffset - 8);  // start addresses patched at the end; reserved bytes written as zero

  // ClipInfo, with the tool stamp in its reserved bytes.
  std::array<std::uint8_t, 128> reserved = d.ClipInfo.Reserved;
  if (d.ToolStamp && tool_stamp_size(*d.ToolStamp) <= kToolStampRoom) {
    Bytes stamp(d.ToolStamp->Tag.begin(), d.ToolStamp->Tag.end());
    write_ext_data(d.ToolStamp->Block, stamp);
    std::fill(reserved.begin(), reserved.end(), 0);
    std::copy(stamp.begin(), stamp.end(), reserved.begin());
  }
  const SClipInfo& ci = d.ClipInfo;
  w.u32(kClipInfoSize - 4);
  w.zeros(2);
  w.u8(ci.ClipStreamType);
  w.u8(ci.ApplicationType);
  w.zeros(4);
  w.u32(ci.TsRecordingRate);
  w.u32(ci.NumberOfSourcePackets);
  write_array(w, reserved);
  w.u16(30);
  w.u8(ci.TsTypeInfoBlock.ValidityFlags);
  write_array(w, ci.TsTypeInfoBlock.FormatIdentifier);
  write_array(w, ci.TsTypeInfoBlock.NetworkInformation);
  write_array(w, ci.TsTypeInfoBlock.StreamFormatName);

  // SequenceInfo: one ATC sequence.
  const std::size_t seq_at = w.pos();
  const auto& stcs = d.stc_info();
  const std::size_t stc_count = std::min<std::size_t>(stcs.size(), 255);
  w.u32(static_cast<std::uint32_t>(8 + 14 * stc_count));
  w.u8(0);
  w.u8(d.SequenceInfo.NumberOfAtcSequences);
  w.u32(d.SequenceInfo.AtcInfo.SpnAtcStart);
  w.u8(static_cast<std::uint8_t>(stc_count));
  w.u8(d.SequenceInfo.AtcInfo.OffsetStcId);
  for (std::size_t i = 0; i < stc_count; ++i) {
    w.u16(stcs[i].PcrPid);
    w.u32(stcs[i].SpnStcStart);
    w.u32(stcs[i].StartPTS);
    w.u32(stcs[i].EndPTS);
  }

  // ProgramInfo: one program sequence.
  const std::size_t prog_at = w.pos();
  const SProgramSequenceInfo& ps = d.ProgramInfo.ProgramSequenceInfo;
  const std::size_t stream_count = std::min<std::size_t>(ps.Streams.size(), 255);
  w.u32(0);
  w.u8(0);
  w.u8(1);
  w.u32(ps.SpnProgramSequenceStart);
  w.u16(ps.ProgramMapPid);
  w.u8(static_cast<std::uint8_t>(stream_count));
  w.u8(0);
  for (std::size_t i = 0; i < stream_count; ++i) {
    w.u16(ps.Streams[i].StreamPID);
    write_stream_coding_info(w, ps.Streams[i].StreamCodingInfo);
  }
  w.patch_u32(prog_at, static_cast<std::uint32_t>(w.pos() - prog_at - 4));

  // CPI with the EP map, or a zero length when no entry has key points.
  const std::size_t cpi_at = w.pos();
  const bool has_ep_map = std::any_of(d.ep_map().begin(), d.ep_map().end(),
                                      [](const STREAM_PID_ENTRY& e) { return !e.KeyPoints.empty(); });
  w.u32(0);
  if (has_ep_map) {
    w.u8(0);
    w.u8(d.Cpi.CpiType & 0x0F);
    write_ep_map(w, d.ep_map());
    w.patch_u32(cpi_at, static_cast<std::uint32_t>(w.pos() - cpi_at - 4));
  }

  const std::size_t mark_at = w.pos();
  w.u32(0);

  std::size_t ext_at = 0;
  if (d.ExtensionData) {
    ext_at = w.pos();
    write_ext_data(*d.ExtensionData, out);
  }

  w.patch_u32(8, static_cast<std::uint32_t>(seq_at));
  w.patch_u32(12, static_cast<std::uint32_t>(prog_at));
  w.patch_u32(16, static_cast<std::uint32_t>(cpi_at));
  w.patch_u32(20, static_cast<std::uint32_t>(mark_at));
  w.patch_u32(24, static_cast<std::uint32_t>(ext_at));
  return out;
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
