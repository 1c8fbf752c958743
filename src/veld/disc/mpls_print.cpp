// SPDX-License-Identifier: GPL-3.0-or-later
// Display names of the enumerated playlist fields and the text form of a playlist record ("Field: value" lines), for reports and golden tests.
#include <fmt/format.h>

#include "veld/disc/mpls.h"

namespace veld {

// --- names ----------------------------------------------------------------------------------------------

std::string_view UO_MASK_TABLE::bit_name(unsigned i) {
  static constexpr std::string_view kNames[] = {
      "MenuCallMask",
      "TitleSearchMask",
      "ChapterSearchMask",
      "TimeSearchMask",
      "SkipToNextPointMask",
      "SkipBackToPreviousPointMask",
      "PlayFirstPlayMask",
      "StopMask",
      "PauseOnMask",
      "PauseOffMask",
      "StillOffMask",
      "ForwardPlayMask",
      "BackwardPlayMask",
      "ResumeMask",
      "MoveUpSelectedButtonMask",
      "MoveDownSelectedButtonMask",
      "MoveLeftSelectedButtonMask",
      "MoveRightSelectedButtonMask",
      "SelectButtonMask",
      "ActivateButtonMask",
      "SelectButtonAndActivateMask",
      "PrimaryAudioStreamNumberChangeMask",
      "reserved",
      "AngleNumberChangeMask",
      "PopupOnMask",
      "PopupOffMask",
      "PG_TextST_EnableDisableMask",
      "PG_TextST_StreamNumberChangeMask",
      "SecondaryVideoEnableDisableMask",
      "SecondaryVideoStreamNumberChangeMask",
      "SecondaryAudioEnableDisableMask",
      "SecondaryAudioStreamNumberChangeMask",
      "reserved",
      "PiP_PG_TextST_StreamNumberChangeMask",
  };
  return i < std::size(kNames) ? kNames[i] : "reserved";
}

std::string_view playback_type_name(std::uint8_t type) {
  switch (type) {
    case 1: return "Sequential";
    case 2: return "Random";
    case 3: return "Shuffle";
    default: return "Reserved";
  }
}

std::string_view connection_condition_name(std::uint8_t cc) {
  switch (cc) {
    case 1: return "Non seamless (1)";
    case 5: return "Seamless with clean break (5)";
    case 6: return "Seamless without break (6)";
    default: return "Reserved";
  }
}

std::string_view still_mode_name(std::uint8_t mode) {
  switch (mode) {
    case 0: return "No still";
    case 1: return "Finite still";
    case 2: return "Infinite still";
    default: return "Reserved";
  }
}

std::string_view sub_path_type_name(std::uint8_t type) {
  switch (type) {
    case 2: return "Primary audio of the Browsable slidershow";
    case 3: return "Interactive Graphics menu";
    case 4: return "Text subtitle path";
    case 5: return "OutMux and Synchronous type of one or more elementary stream path and Pip Path";
    case 6: return "OutMux and Asynchronous type of Pip path";
    case 7: return "InMux and Synchronous type of Pip path";
    default: return "Reserved";
  }
}

std::string_view mark_type_name(std::uint8_t type) {
  switch (type) {
    case 1: return "Entry mark";
    case 2: return "Link point";
    default: return "Reserved";
  }
}

namespace {

class Printer {
 public:
  void line(std::string_view name, const std::string& value) {
    out_ += fmt::format("{:{}}{}: {}\n", "", depth_ * 2, name, value);
  }
  void line(std::string_view name, unsigned value) { line(name, std::to_string(value)); }
  void hex(std::string_view name, unsigned value, int digits) {
    line(name, fmt::format("0x{:0{}X}", value, digits));
  }
  void named(std::string_view name, unsigned value, std::string_view text) {
    line(name, fmt::format("{} ({})", value, text));
  }
  void open(std::string_view name) {
    out_ += fmt::format("{:{}}{}\n", "", depth_ * 2, name);
    ++depth_;
  }
  void close() { --depth_; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
  int depth_ = 0;
};

std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  return out;
}

void print_uo(Printer& p, const UO_MASK_TABLE& uo) {
  std::string set;
  for (unsigned i = 0; i < 64; ++i) {
    if (!uo.bit(i)) continue;
    if (!set.empty()) set += ", ";
    set += UO_MASK_TABLE::bit_name(i);
  }
  p.line("UoMaskTable", set.empty() ? std::string("none") : set);
}

void print_entry_head(Printer& p, const STREAM_ENTRY& e, const STREAM_ATTRIBUTES& a) {
  p.open("StreamEntry");
  p.line("Type", e.Type);
  if (e.Type == 1 || e.Type == 3) p.hex("RefToStreamPID_OfMainClip", e.RefToStreamPID_OfMainClip, 4);
  if (e.Type == 2 || e.Type == 3) p.line("RefToSubPathID", e.RefToSubPathID);
  if (e.Type == 2) {
    p.line("RefToSubClipEntryID", e.RefToSubClipEntryID);
    p.hex("RefToStreamPID_OfSubClip", e.RefToStreamPID_OfSubClip, 4);
  }
  p.close();
  p.open("StreamAttributes");
  p.hex("StreamCodingType", a.StreamCodingType, 2);
  switch (stream_class(a.StreamCodingType)) {
    case StreamClass::kVideo:
      p.line("VideoFormat", a.VideoFormat);
      p.line("FrameRate", a.FrameRate);
      if (a.StreamCodingType == 0x24) {
        p.line("DynamicRangeType", a.DynamicRangeType);
        p.line("ColorSpace", a.ColorSpace);
      }
      break;
    case StreamClass::kAudio:
      p.line("AudioPresentationType", a.AudioPresentationType);
      p.line("SamplingFrequency", a.SamplingFrequency);
      p.line("Language", printable(a.Language));
      break;
    case StreamClass::kGraphics:
      p.line("Language", printable(a.Language));
      break;
    case StreamClass::kTextSubtitle:
      p.line("CharacterCode", a.CharacterCode);
      p.line("Language", printable(a.Language));
      break;
    case StreamClass::kOther:
      break;
  }
  p.close();
}

void print_refs(Printer& p, std::string_view name, const REF_LIST& l) {
  std::string ids;
  for (auto id : l.RefID) ids += (ids.empty() ? "" : " ") + std::to_string(id);
  p.open(name);
  p.line("NumberOfRefEntries", static_cast<unsigned>(l.RefID.size()));
  if (!l.RefID.empty()) p.line("RefID", ids);
  p.close();
}

void print_group(Printer& p, std::string_view name, const CPseFolder& g) {
  if (g.empty()) return;
  p.open(name);
  for (const auto& e : g) print_entry_head(p, e.StreamEntry, e.StreamAttributes);
  p.close();
}

}  // namespace

std::string print_mpls(const SMplsData& d) {
  Printer p;
  p.line("TypeIndicator", printable(d.TypeIndicator));
  p.line("VersionNumber", printable(d.VersionNumber));
  const auto& a = d.AppInfoPlayList;
  p.open("AppInfoPlaylist");
  p.named("PlaylistPlaybackType", a.PlaylistPlaybackType, playback_type_name(a.PlaylistPlaybackType));
  p.line("PlaybackCount", a.PlaybackCount);
  print_uo(p, a.UoMaskTable);
  p.line("PlaylistRandomAccessFlag", a.PlaylistRandomAccessFlag);
  p.line("AudioMixAppFlag", a.AudioMixAppFlag);
  p.line("LosslessMayBypassMixerFlag", a.LosslessMayBypassMixerFlag);
  p.close();
  p.open("PlayList");
  p.line("NumberOfPlayItems", static_cast<unsigned>(d.PlayItems.size()));
  p.line("NumberOfSubPaths", static_cast<unsigned>(d.SubPaths.size()));
  for (const auto& it : d.PlayItems) {
    p.open("PlayItem");
    p.line("ClipInformationFileName", printable(it.ClipInformationFileName));
    p.line("ClipCodecIdentifier", printable(it.ClipCodecIdentifier));
    p.line("IsMultiAngle", it.IsMultiAngle);
    p.named("ConnectionCondition", it.ConnectionCondition, connection_condition_name(it.ConnectionCondition));
    p.line("RefToSTC_ID", it.RefToSTC_ID);
    p.line("InTime", it.InTime);
    p.line("OutTime", it.OutTime);
    print_uo(p, it.UoMaskTable);
    p.named("StillMode", it.StillMode, still_mode_name(it.StillMode));
    if (it.StillMode == 1) p.line("StillTime", it.StillTime);
    if (it.IsMultiAngle) {
      p.line("NumberOfAngles", static_cast<unsigned>(it.Angles.size() + 1));
      p.line("IsDifferentAudios", it.IsDifferentAudios);
      p.line("SeamlessAngleChange", it.SeamlessAngleChange);
      for (const auto& angle : it.Angles)
        p.line("Angle", fmt::format("{} {} {}", printable(angle.ClipInformationFileName),
                                    printable(angle.ClipCodecIdentifier), angle.RefToSTC_ID));
    }
    const auto& t = it.StnTable;
    p.open("StnTable");
    print_group(p, "PrimaryVideoStreamEntries", t.PrimaryVideoStreamEntries);
    print_group(p, "PrimaryAudioStreamEntries", t.PrimaryAudioStreamEntries);
    print_group(p, "PrimaryPG_TextST_StreamEntries", t.PrimaryPG_TextST_StreamEntries);
    print_group(p, "PrimaryPiP_TextST_StreamEntries", t.PrimaryPiP_TextST_StreamEntries);
    print_group(p, "InteractiveGraphicsStreamEntries", t.InteractiveGraphicsStreamEntries);
    print_group(p, "DolbyVisionStreamEntries", t.DolbyVisionStreamEntries);
    for (const auto& e : t.SecondaryAudioStreamEntries) {
      p.open("SecondaryAudioStreamEntry");
      print_entry_head(p, e.StreamEntry, e.StreamAttributes);
      print_refs(p, "SecondardAudioStreamCombInfo", e.SecondardAudioStreamCombInfo);
      p.close();
    }
    for (const auto& e : t.SecondaryVideoStreamEntries) {
      p.open("SecondaryVideoStreamEntry");
      print_entry_head(p, e.StreamEntry, e.StreamAttributes);
      print_refs(p, "SecondardVideoSecondardAudioStreamCombInfo", e.SecondardVideoSecondardAudioStreamCombInfo);
      print_refs(p, "SecondardVideoPiP_PG_TextST_StreamCombInfo", e.SecondardVideoPiP_PG_TextST_StreamCombInfo);
      p.close();
    }
    p.close();
    p.close();
  }
  for (const auto& sp : d.SubPaths) {
    p.open("SubPath");
    p.named("SubPathType", sp.SubPathType, sub_path_type_name(sp.SubPathType));
    p.line("IsRepeatSubPath", sp.IsRepeatSubPath);
    p.line("NumberOfSubPlayItems", static_cast<unsigned>(sp.SubPlayItems.size()));
    for (const auto& s : sp.SubPlayItems) {
      p.open("SubPlayItem");
      p.line("ClipInformationFileName", printable(s.ClipInformationFileName));
      p.line("ClipCodecIdentifier", printable(s.ClipCodecIdentifier));
      p.named("ConnectionCondition", s.ConnectionCondition, connection_condition_name(s.ConnectionCondition));
      p.line("IsMultiClipEntries", s.IsMultiClipEntries);
      p.line("RefToSTC_ID", s.RefToSTC_ID);
      p.line("InTime", s.InTime);
      p.line("OutTime", s.OutTime);
      p.line("SyncPlayItemID", s.SyncPlayItemID);
      p.line("SyncStartPTS_OfPlayItem", s.SyncStartPTS_OfPlayItem);
      p.close();
    }
    p.close();
  }
  p.close();
  p.open("PlayListMarks");
  p.line("NumberOfPlayListMarks", static_cast<unsigned>(d.PlayListMarks.size()));
  for (const auto& m : d.PlayListMarks)
    p.line("PlayListMark", fmt::format("{} ({}), RefToPlayItemID {}, MarkTimeStamp {}, EntryES_PID 0x{:04X}, "
                                       "Duration {}",
                                       m.MarkType, mark_type_name(m.MarkType), m.RefToPlayItemID,
                                       m.MarkTimeStamp, m.EntryES_PID, m.Duration));
  p.close();
  if (d.ExtensionData) {
    p.open("ExtensionData");
    for (const auto& e : d.ExtensionData->Entries)
      p.line("ExtDataEntry", fmt::format("ID1 0x{:04X}, ID2 0x{:04X}, {} bytes", e.ExtDataEntry_ID1,
                                         e.ExtDataEntry_ID2, e.Data.size()));
    p.close();
  }
  return p.take();
}

}  // namespace veld
