// SPDX-License-Identifier: GPL-3.0-or-later
// Writer of the clip information file: one function per block, each the mirror of its parser in
// clpi.cpp. Lengths, counts and start addresses are computed from what is written; everything else
// the parser kept (reserved bytes and bits, block tails, padding between blocks) is written back.
#include <algorithm>
#include <vector>
#include <limits>
#include <span>
#include <stdexcept>

#include <fmt/format.h>

#include "veld/clip/clpi.h"

namespace veld {
namespace {

constexpr std::uint32_t kSpnFineMask = 0x1FFFF;
constexpr std::size_t kMaxFineEntries = 0x3FFFF;   // NumberOfFineEntries: 18 bits
constexpr std::size_t kMaxCoarseEntries = 0xFFFF;  // NumberOfCoarseEntries: 16 bits

// A count or length that its field cannot hold is refused, never cut.
template <typename T>
T checked_count(std::size_t n, std::string_view what) {
  if (n > std::numeric_limits<T>::max())
    throw std::length_error(fmt::format("{}: {} does not fit its field", what, n));
  return static_cast<T>(n);
}

template <std::size_t N>
void write_array(ByteWriter& w, const std::array<std::uint8_t, N>& a) {
  w.bytes(ByteSpan(a.data(), a.size()));
}
template <std::size_t N>
void write_chars(ByteWriter& w, const std::array<char, N>& a) {
  w.text(std::string_view(a.data(), a.size()));
}
// A fixed-size character field, cut or padded with zero bytes to n characters.
void write_fixed_text(ByteWriter& w, const std::string& s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) w.u8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}

// Back-patches the 32-bit length field at `at` with the bytes written after it.
void patch_len32(ByteWriter& w, std::size_t at, std::string_view what) {
  w.patch_u32(at, checked_count<std::uint32_t>(w.pos() - at - 4, fmt::format("{} length", what)));
}

void write_clip_info(ByteWriter& w, const SClipInfo& ci, const std::array<std::uint8_t, 128>& reserved) {
  const std::size_t at = w.pos();
  w.u32(0);
  write_array(w, ci.reserved1);
  w.u8(ci.ClipStreamType);
  w.u8(ci.ApplicationType);
  const bool atc_delta = ci.IsAtcDelta || !ci.AtcDeltaEntries.empty();
  w.u32((ci.reserved2 << 1) | (atc_delta ? 1u : 0u));
  w.u32(ci.TsRecordingRate);
  w.u32(ci.NumberOfSourcePackets);
  write_array(w, reserved);
  const STsTypeInfoBlock& ts = ci.TsTypeInfoBlock;
  w.u16(checked_count<std::uint16_t>(30 + ts.Tail.size(), "TsTypeInfoBlock length"));
  w.u8(ts.ValidityFlags);
  write_array(w, ts.FormatIdentifier);
  write_array(w, ts.NetworkInformation);
  write_array(w, ts.StreamFormatName);
  w.bytes(ts.Tail);
  if (atc_delta) {
    w.u8(ci.AtcDeltaReserved);
    w.u8(checked_count<std::uint8_t>(ci.AtcDeltaEntries.size(), "ClipInfo ATC delta entries"));
    for (const SAtcDeltaEntry& e : ci.AtcDeltaEntries) {
      w.u32(e.ATCDelta);
      write_fixed_text(w, e.FollowingClipInformationFileName, 5);
      write_fixed_text(w, e.ClipCodecIdentifier, 4);
      w.u8(e.reserved);
    }
  }
  w.bytes(ci.Tail);
  patch_len32(w, at, "ClipInfo");
}

void write_sequence_info(ByteWriter& w, const SSequenceInfo& si) {
  const std::size_t at = w.pos();
  w.u32(0);
  w.u8(si.reserved);
  w.u8(si.NumberOfAtcSequences);
  if (si.NumberOfAtcSequences != 0) {
    const SAtcInfo& atc = si.AtcInfo;
    w.u32(atc.SpnAtcStart);
    w.u8(checked_count<std::uint8_t>(atc.StcInfo.size(), "SequenceInfo STC sequences"));
    w.u8(atc.OffsetStcId);
    for (const STC_INFO& stc : atc.StcInfo) {
      w.u16(stc.PcrPid);
      w.u32(stc.SpnStcStart);
      w.u32(stc.StartPTS);
      w.u32(stc.EndPTS);
    }
  }
  w.bytes(si.Tail);
  patch_len32(w, at, "SequenceInfo");
}

void write_stream_coding_info(ByteWriter& w, const SStreamCodingInfo& sci) {
  const std::uint8_t t = sci.CodingType;
  const bool attributes = has_coding_attributes(t);
  Bytes x = sci.Raw;
  if (x.empty()) x.resize(attributes ? 20 : 16, 0);  // a new record: 21 or 17 bytes with the type
  auto put = [&](std::size_t at, std::uint8_t v) {
    if (at < x.size()) x[at] = v;
  };
  auto put_language = [&](std::size_t at) {
    for (std::size_t i = 0; i < 3; ++i) put(at + i, static_cast<std::uint8_t>(sci.LanguageCode[i]));
  };
  if (is_video_coding_type(t)) {
    put(0, static_cast<std::uint8_t>((sci.VideoFormat << 4) | (sci.FrameRate & 0x0F)));
    if (x.size() > 1) put(1, static_cast<std::uint8_t>((sci.AspectRatio << 4) | (x[1] & 0x0F)));
  } else if (is_audio_coding_type(t)) {
    put(0, static_cast<std::uint8_t>((sci.PresentationType << 4) | (sci.SamplingFrequency & 0x0F)));
    put_language(1);
  } else if (is_graphics_coding_type(t)) {
    put_language(0);
  } else if (t == coding_type::kTextSubtitle) {
    put(0, sci.CharacterCode);
    put_language(1);
  }
  const std::size_t isrc = attributes ? 4 : 0;
  if (x.size() >= isrc + 12) {
    const SIsrc& i = sci.Isrc;
    auto at = x.begin() + static_cast<std::ptrdiff_t>(isrc);
    at = std::copy(i.CountryCode.begin(), i.CountryCode.end(), at);
    at = std::copy(i.CopyrightHolder.begin(), i.CopyrightHolder.end(), at);
    at = std::copy(i.RecordingYear.begin(), i.RecordingYear.end(), at);
    std::copy(i.RecordingNumber.begin(), i.RecordingNumber.end(), at);
  }
  w.u8(checked_count<std::uint8_t>(x.size() + 1, "StreamCodingInfo length"));
  w.u8(t);
  w.bytes(x);
}

void write_program_info(ByteWriter& w, const SProgramInfo& pi) {
  const std::size_t at = w.pos();
  w.u32(0);
  w.u8(pi.reserved);
  w.u8(pi.NumberOfProgramSequence);
  if (pi.NumberOfProgramSequence != 0) {
    const SProgramSequenceInfo& ps = pi.ProgramSequenceInfo;
    w.u32(ps.SpnProgramSequenceStart);
    w.u16(ps.ProgramMapPid);
    w.u8(checked_count<std::uint8_t>(ps.Streams.size(), "ProgramInfo streams"));
    w.u8(ps.NumberOfStreamGroups);
    for (const STREAM_INFO& s : ps.Streams) {
      w.u16(s.StreamPID);
      write_stream_coding_info(w, s.StreamCodingInfo);
    }
  }
  w.bytes(pi.Tail);
  patch_len32(w, at, "ProgramInfo");
}

// Indexes of the key points that start a coarse entry: where the file read started one, and wherever
// the coarse fields could not carry the key point otherwise (PTS bits 32..20 or SPN bits 31..17 differ
// from the run's first key point). For key points the multiplexer made (read is empty) also whenever
// PTS bit 19 moves on or the SPN fine field wraps.
std::vector<std::size_t> coarse_starts(const CKpiFolder& kps, std::span<const SFineEntryAsRead> read = {}) {
  const bool from_file = !read.empty() && read.size() == kps.size();
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < kps.size(); ++i) {
    bool start = i == 0 || (from_file && read[i].CoarseStart);
    if (!start) {
      const KEY_POINT_INFO& first = kps[starts.back()];
      start = (kps[i].PTS >> 20) != (first.PTS >> 20) || (kps[i].SpnStart >> 17) != (first.SpnStart >> 17);
      if (!from_file)
        start = start || (kps[i].PTS >> 19) > (kps[i - 1].PTS >> 19) ||
                (kps[i].SpnStart & kSpnFineMask) < (kps[i - 1].SpnStart & kSpnFineMask);
    }
    if (start) starts.push_back(i);
  }
  return starts;
}

// The EpMapForOneStream of one entry; returns its coarse entry count.
std::size_t write_ep_map_for_one_stream(ByteWriter& w, const STREAM_PID_ENTRY& e) {
  const CKpiFolder& kps = e.KeyPoints;
  const std::string what = fmt::format("EP map of PID 0x{:04X}", e.StreamPid);
  if (kps.size() > kMaxFineEntries)
    throw std::length_error(fmt::format("{}: {} fine entries do not fit their count field", what, kps.size()));
  const bool from_file = e.FineEntriesAsRead.size() == kps.size();
  const std::vector<std::size_t> starts =
      coarse_starts(kps, from_file ? std::span<const SFineEntryAsRead>(e.FineEntriesAsRead) : std::span<const SFineEntryAsRead>());
  if (starts.size() > kMaxCoarseEntries)
    throw std::length_error(fmt::format("{}: {} coarse entries do not fit their count field", what, starts.size()));
  w.u32(static_cast<std::uint32_t>(4 + 8 * starts.size()));
  for (std::size_t i : starts) {
    const KEY_POINT_INFO& kp = kps[i];
    w.u32(static_cast<std::uint32_t>((i << 14) | ((kp.PTS >> 19) & 0x3FFF)));
    w.u32(kp.SpnStart);
  }
  for (std::size_t i = 0; i < kps.size(); ++i) {
    const KEY_POINT_INFO& kp = kps[i];
    const std::uint32_t i_end = from_file ? e.FineEntriesAsRead[i].IEndPositionOffset
                                          : (e.EpStreamType == 1 ? i_end_position_offset(kp) : 0u);
    const bool angle = from_file && e.FineEntriesAsRead[i].IsAngleChangePoint;
    w.u32((angle ? 0x80000000u : 0u) | ((i_end & 7u) << 28) |
          (static_cast<std::uint32_t>((kp.PTS >> 9) & 0x7FF) << 17) | (kp.SpnStart & kSpnFineMask));
  }
  return starts.size();
}

void write_ep_map(ByteWriter& w, const SCpi& cpi, const std::vector<const STREAM_PID_ENTRY*>& used) {
  const std::size_t ep_start = w.pos();
  w.u8(cpi.EpMapReserved);
  w.u8(checked_count<std::uint8_t>(used.size(), "EP map entries"));
  const std::size_t rows = w.pos();
  w.zeros(12 * used.size());
  for (std::size_t n = 0; n < used.size(); ++n) {
    const STREAM_PID_ENTRY& e = *used[n];
    const std::size_t block = w.pos();
    const std::size_t coarse = write_ep_map_for_one_stream(w, e);
    const std::size_t row = rows + 12 * n;
    const auto fine_count = static_cast<std::uint32_t>(e.KeyPoints.size());
    w.patch_u16(row, e.StreamPid);
    w.patch_u32(row + 2, (std::uint32_t{e.reserved} << 22) | (std::uint32_t{e.EpStreamType & 0x0Fu} << 18) |
                             (static_cast<std::uint32_t>(coarse) << 2) | (fine_count >> 16));
    w.patch_u16(row + 6, static_cast<std::uint16_t>(fine_count));
    w.patch_u32(row + 8, static_cast<std::uint32_t>(block - ep_start));
  }
}

// A CPI read from a file (Length not 0) is written with all its entries. One the multiplexer made
// leaves out the entries without key points, and is empty (length 0) when none is left.
void write_cpi(ByteWriter& w, const SCpi& cpi) {
  std::vector<const STREAM_PID_ENTRY*> used;
  for (const STREAM_PID_ENTRY& e : cpi.EpMap)
    if (cpi.Length != 0 || !e.KeyPoints.empty()) used.push_back(&e);
  const std::size_t at = w.pos();
  w.u32(0);
  if (used.empty() && cpi.Length == 0) return;
  w.u16(static_cast<std::uint16_t>((cpi.reserved << 4) | (cpi.CpiType & 0x0F)));
  write_ep_map(w, cpi, used);
  w.bytes(cpi.Tail);
  patch_len32(w, at, "CPI");
}

void write_clip_mark(ByteWriter& w, const SClipMark& mark) {
  w.u32(checked_count<std::uint32_t>(mark.Data.size(), "ClipMark length"));
  w.bytes(mark.Data);
}

// The ClipInfo reserved bytes: as read, unless the record carries a tool stamp other than the one they
// hold (a clip information file this program makes).
std::array<std::uint8_t, 128> clip_info_reserved(const SClpiData& d) {
  std::array<std::uint8_t, 128> reserved = d.ClipInfo.Reserved;
  if (!d.ToolStamp || d.ToolStamp == parse_tool_stamp(d.ClipInfo)) return reserved;
  if (tool_stamp_size(*d.ToolStamp) > kToolStampRoom)
    throw std::length_error(fmt::format("tool stamp: {} bytes do not fit the {} reserved bytes of ClipInfo",
                                        tool_stamp_size(*d.ToolStamp), kToolStampRoom));
  Bytes stamp(d.ToolStamp->Tag.begin(), d.ToolStamp->Tag.end());
  write_ext_data(d.ToolStamp->Block, stamp);
  std::fill(reserved.begin(), reserved.end(), 0);
  std::copy(stamp.begin(), stamp.end(), reserved.begin());
  return reserved;
}

}  // namespace

std::size_t coarse_entry_count(const CKpiFolder& key_points) { return coarse_starts(key_points).size(); }

Bytes write_clpi(const SClpiData& d) {
  Bytes out;
  out.reserve(4096);
  ByteWriter w(out);
  write_chars(w, d.TypeIndicator);
  write_chars(w, d.VersionNumber);
  w.zeros(20);  // the five start addresses, patched at the end
  write_array(w, d.Reserved);
  write_clip_info(w, d.ClipInfo, clip_info_reserved(d));

  w.bytes(d.Gaps.SequenceInfo);
  const std::size_t seq_at = w.pos();
  write_sequence_info(w, d.SequenceInfo);
  w.bytes(d.Gaps.ProgramInfo);
  const std::size_t prog_at = w.pos();
  write_program_info(w, d.ProgramInfo);
  w.bytes(d.Gaps.Cpi);
  const std::size_t cpi_at = w.pos();
  write_cpi(w, d.Cpi);
  w.bytes(d.Gaps.ClipMark);
  const std::size_t mark_at = w.pos();
  write_clip_mark(w, d.ClipMark);

  std::size_t ext_at = 0;
  if (d.ExtensionData) {
    w.bytes(d.Gaps.ExtensionData);
    ext_at = w.pos();
    write_ext_data(*d.ExtensionData, out);
  }
  for (std::size_t at : {seq_at, prog_at, cpi_at, mark_at, ext_at})
    checked_count<std::uint32_t>(at, "clip information start address");
  w.patch_u32(8, static_cast<std::uint32_t>(seq_at));
  w.patch_u32(12, static_cast<std::uint32_t>(prog_at));
  w.patch_u32(16, static_cast<std::uint32_t>(cpi_at));
  w.patch_u32(20, static_cast<std::uint32_t>(mark_at));
  w.patch_u32(24, static_cast<std::uint32_t>(ext_at));
  return out;
}

}  // namespace veld
