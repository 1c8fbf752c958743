// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clpi_dump.h"

#include <fmt/format.h>

#include "veld/clip/clpi.h"

namespace veld {
namespace {

std::string_view video_format_text(std::uint8_t v) {
  switch (v) {
    case 1: return "480i";
    case 2: return "576i";
    case 3: return "480p";
    case 4: return "1080i";
    case 5: return "720p";
    case 6: return "1080p";
    case 7: return "576p";
    default: return "Reserved";
  }
}

std::string_view frame_rate_text(std::uint8_t v) {
  switch (v) {
    case 1: return "23.976";
    case 2: return "24";
    case 3: return "25";
    case 4: return "29.97";
    case 6: return "50";
    case 7: return "59.94";
    default: return "Reserved";
  }
}

std::string_view aspect_ratio_text(std::uint8_t v) {
  switch (v) {
    case 2: return "4:3";
    case 3: return "16:9";
    default: return "Reserved";
  }
}

std::string chars(const char* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return s;
}

void line(std::string& out, int depth, std::string_view text) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += text;
  out += '\n';
}

template <typename... Args>
void field(std::string& out, int depth, std::string_view name, fmt::format_string<Args...> f, Args&&... args) {
  line(out, depth, fmt::format("{}: {}", name, fmt::format(f, std::forward<Args>(args)...)));
}

void dump_ext(std::string& out, int depth, const SExtensionData& ext) {
  field(out, depth, "Length", "{}", ext.Length);
  field(out, depth, "DataBlockStartAddress", "{}", ext.DataBlockStartAddress);
  field(out, depth, "NumberOfExtDataEntries", "{}", ext.Entries.size());
  for (const SExtDataEntry& e : ext.Entries) {
    line(out, depth, "ExtDataEntry");
    field(out, depth + 1, "ExtDataEntry_ID1", "0x{:04X}", e.ExtDataEntry_ID1);
    field(out, depth + 1, "ExtDataEntry_ID2", "0x{:04X}", e.ExtDataEntry_ID2);
    field(out, depth + 1, "ExtDataStartAddress", "{}", e.ExtDataStartAddress);
    field(out, depth + 1, "ExtDataLength", "{}", e.Data.size());
  }
}

}  // namespace

std::string_view coding_type_name(std::uint8_t t) {
  switch (t) {
    case coding_type::kMpeg2Video: return "MPEG-2";
    case coding_type::kAvcVideo: return "H.264";
    case coding_type::kVc1Video: return "VC-1";
    case coding_type::kLpcmAudio: return "LPCM";
    case coding_type::kAc3Audio: return "AC-3";
    case coding_type::kDtsAudio: return "DTS";
    case coding_type::kTrueHdAudio: return "TrueHD";
    case coding_type::kAc3PlusAudio: return "E-AC-3";
    case coding_type::kDtsHdAudio: return "DTS-HD";
    case coding_type::kDtsHdMasterAudio: return "DTS-HD MA";
    case coding_type::kAc3PlusSecondaryAudio: return "E-AC-3 secondary";
    case coding_type::kDtsHdSecondaryAudio: return "DTS-HD secondary";
    case coding_type::kPresentationGraphics: return "PG";
    case coding_type::kInteractiveGraphics: return "IG";
    case coding_type::kTextSubtitle: return "Text subtitle";
    default: return "Unknown";
  }
}

std::string describe_stream(const STREAM_INFO& s) {
  const SStreamCodingInfo& ci = s.StreamCodingInfo;
  const std::uint8_t t = ci.CodingType;
  if (is_video_coding_type(t)) {
    return fmt::format("{}, {}, {}", video_format_text(ci.VideoFormat), frame_rate_text(ci.FrameRate),
                       aspect_ratio_text(ci.AspectRatio));
  }
  if (is_audio_coding_type(t)) {
    return fmt::format("{}, {}, presentation type {}", ci.language(), sampling_frequency_text(ci.SamplingFrequency),
                       ci.PresentationType);
  }
  if (is_graphics_coding_type(t)) return ci.language();
  if (t == coding_type::kTextSubtitle) return fmt::format("{}, character code {}", ci.language(), ci.CharacterCode);
  return {};
}

std::string dump_clpi(const SClpiData& d) {
  std::string out;
  field(out, 0, "TypeIndicator", "{}", chars(d.TypeIndicator.data(), 4));
  field(out, 0, "VersionNumber", "{}", chars(d.VersionNumber.data(), 4));
  field(out, 0, "SequenceInfoStartAddress", "{}", d.SequenceInfoStartAddress);
  field(out, 0, "ProgramInfoStartAddress", "{}", d.ProgramInfoStartAddress);
  field(out, 0, "CpiStartAddress", "{}", d.CpiStartAddress);
  field(out, 0, "ClipMarkStartAddress", "{}", d.ClipMarkStartAddress);
  field(out, 0, "ExtensionDataStartAddress", "{}", d.ExtensionDataStartAddress);

  const SClipInfo& ci = d.ClipInfo;
  line(out, 0, "ClipInfo");
  field(out, 1, "Length", "{}", ci.Length);
  field(out, 1, "ClipStreamType", "{}", ci.ClipStreamType);
  field(out, 1, "ApplicationType", "{} ({})", ci.ApplicationType, application_type_text(ci.ApplicationType));
  field(out, 1, "TsRecordingRate", "{}", ci.TsRecordingRate);
  field(out, 1, "NumberOfSourcePackets", "{}", ci.NumberOfSourcePackets);
  field(out, 1, "IsAtcDelta", "{}", ci.IsAtcDelta ? 1 : 0);
  for (const SAtcDeltaEntry& e : ci.AtcDeltaEntries)
    field(out, 2, "AtcDelta", "{} {} {}", e.ATCDelta, e.FollowingClipInformationFileName, e.ClipCodecIdentifier);
  line(out, 1, "TsTypeInfoBlock");
  field(out, 2, "Length", "{}", ci.TsTypeInfoBlock.Length);
  field(out, 2, "ValidityFlags", "0x{:02X}", ci.TsTypeInfoBlock.ValidityFlags);
  field(out, 2, "FormatIdentifier", "{}",
        chars(reinterpret_cast<const char*>(ci.TsTypeInfoBlock.FormatIdentifier.data()), 4));

  const SSequenceInfo& si = d.SequenceInfo;
  line(out, 0, "SequenceInfo");
  field(out, 1, "Length", "{}", si.Length);
  field(out, 1, "NumberOfAtcSequences", "{}", si.NumberOfAtcSequences);
  field(out, 1, "SpnAtcStart", "{}", si.AtcInfo.SpnAtcStart);
  field(out, 1, "NumberOfStsSequences", "{}", si.AtcInfo.StcInfo.size());
  field(out, 1, "OffsetStcId", "{}", si.AtcInfo.OffsetStcId);
  for (const STC_INFO& stc : si.AtcInfo.StcInfo) {
    line(out, 1, "StcInfo");
    field(out, 2, "PcrPid", "0x{:04X}", stc.PcrPid);
    field(out, 2, "SpnStcStart", "{}", stc.SpnStcStart);
    field(out, 2, "StartPTS", "{}", stc.StartPTS);
    field(out, 2, "EndPTS", "{}", stc.EndPTS);
  }

  const SProgramSequenceInfo& ps = d.ProgramInfo.ProgramSequenceInfo;
  line(out, 0, "ProgramInfo");
  field(out, 1, "Length", "{}", d.ProgramInfo.Length);
  field(out, 1, "NumberOfProgramSequence", "{}", d.ProgramInfo.NumberOfProgramSequence);
  field(out, 1, "SpnProgramSequenceStart", "{}", ps.SpnProgramSequenceStart);
  field(out, 1, "ProgramMapPid", "0x{:04X}", ps.ProgramMapPid);
  field(out, 1, "NumberOfStreams", "{}", ps.Streams.size());
  for (const STREAM_INFO& s : ps.Streams) {
    line(out, 1, "StreamInfo");
    field(out, 2, "StreamPID", "0x{:04X}", s.StreamPID);
    field(out, 2, "StreamCodingType", "{}(0x{:02X})", coding_type_name(s.StreamCodingInfo.CodingType),
          s.StreamCodingInfo.CodingType);
    const std::string attrs = describe_stream(s);
    if (!attrs.empty()) field(out, 2, "Attributes", "{}", attrs);
  }

  line(out, 0, "CPI");
  field(out, 1, "Length", "{}", d.Cpi.Length);
  field(out, 1, "CpiType", "{}", d.Cpi.CpiType);
  field(out, 1, "NumberOfPidEnties", "{}", d.Cpi.EpMap.size());
  for (const STREAM_PID_ENTRY& e : d.Cpi.EpMap) {
    line(out, 1, "PidEntry");
    field(out, 2, "StreamPid", "0x{:04X}", e.StreamPid);
    field(out, 2, "EpStreamType", "{}", e.EpStreamType);
    field(out, 2, "NumberOfCoarseEntries", "{}", e.NumberOfCoarseEntries);
    field(out, 2, "NumberOfFineEntries", "{}", e.NumberOfFineEntries);
    field(out, 2, "EpMapForOneStreamStartAddress", "{}", e.EpMapForOneStreamStartAddress);
    field(out, 2, "KeyPointCount", "{}", e.KeyPoints.size());
    for (const KEY_POINT_INFO& kp : e.KeyPoints) {
      line(out, 2, fmt::format("KeyPoint: PTS {}, Spn Start {}, Spn End {}", kp.PTS, kp.SpnStart, kp.SpnEnd));
    }
  }

  line(out, 0, "ClipMark");
  field(out, 1, "Length", "{}", d.ClipMark.Length);
  if (d.ExtensionData) {
    line(out, 0, "ExtensionData");
    dump_ext(out, 1, *d.ExtensionData);
  }
  if (d.ToolStamp) {
    line(out, 0, fmt::format("ToolStamp: {}", chars(d.ToolStamp->Tag.data(), 4)));
    dump_ext(out, 1, d.ToolStamp->Block);
    if (auto tool = tool_data_of(*d.ToolStamp)) out += print_tool_data(*tool, "  ");
  }
  return out;
}

}  // namespace veld
