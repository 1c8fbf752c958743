#include "veld/disc/mpls.h"

#include "veld/clip/clpi.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace veld {

namespace {

// A fixed-size character field, cut or padded with zero bytes to n characters.
void write_fixed_text(ByteWriter& w, const std::string& s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) w.u8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}

// The writer refuses counts that the format cannot express rather than writing a wrong count.
template <typename T>
T checked_count(std::size_t n, const char* what) {
  if (n > std::numeric_limits<T>::max())
    throw std::length_error(fmt::format("{}: {} entries do not fit the count field", what, n));
  return static_cast<T>(n);
}

void write_uo_mask(ByteWriter& w, const UO_MASK_TABLE& uo) { w.bytes(uo.bytes); }

// Back-patches a 16- or 32-bit length field at `at` with the bytes written after it.
void patch_len16(ByteWriter& w, std::size_t at, const char* what) {
  w.patch_u16(at, checked_count<std::uint16_t>(w.pos() - at - 2, what));
}
void patch_len32(ByteWriter& w, std::size_t at) {
  w.patch_u32(at, static_cast<std::uint32_t>(w.pos() - at - 4));
}

ANGLE_CLIP_ENTRY read_angle_clip_entry(ByteReader& r) {
  ANGLE_CLIP_ENTRY e;
  e.ClipInformationFileName = r.text(5);
  e.ClipCodecIdentifier = r.text(4);
  e.RefToSTC_ID = r.u8();
  return e;
}

PLAY_MARK read_play_mark(ByteReader& r) {
  PLAY_MARK m;
  r.skip(1);
  m.MarkType = r.u8();
  m.RefToPlayItemID = r.u16();
  m.MarkTimeStamp = r.u32();
  m.EntryES_PID = r.u16();
  m.Duration = r.u32();
  return m;
}

void write_play_mark(ByteWriter& w, const PLAY_MARK& m) {
  w.u8(0);
  w.u8(m.MarkType);
  w.u16(m.RefToPlayItemID);
  w.u32(m.MarkTimeStamp);
  w.u16(m.EntryES_PID);
  w.u32(m.Duration);
}

template <typename Entry>
void read_entry_head(ByteReader& r, Entry& e, CUnreadBytes* unread) {
  e.StreamEntry = read_stream_entry(r, unread);
  e.StreamAttributes = read_stream_attributes(r, unread);
}

template <typename Entry>
void write_entry_head(ByteWriter& w, const Entry& e) {
  write_stream_entry(w, e.StreamEntry);
  write_stream_attributes(w, e.StreamAttributes);
}

void read_primary_group(ByteReader& r, unsigned count, CPseFolder& out, CUnreadBytes* unread) {
  for (unsigned i = 0; i < count; ++i) {
    PRIMARY_STREAM_ENTRY e;
    read_entry_head(r, e, unread);
    out.push_back(std::move(e));
  }
}

}  // namespace

// --- names ----------------------------------------------------------------------------------------------

void UO_MASK_TABLE::set_bit(unsigned i, bool on) {
  if (i >= 64) return;
  const auto m = static_cast<std::uint8_t>(0x80 >> (i % 8));
  bytes[i / 8] = static_cast<std::uint8_t>(on ? (bytes[i / 8] | m) : (bytes[i / 8] & ~m));
}

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

StreamClass stream_class(std::uint8_t t) {
  if (t == 0x02 || t == 0x1B || t == 0xEA) return StreamClass::kVideo;
  if ((t >= 0x80 && t <= 0x86) || t == 0xA1 || t == 0xA2) return StreamClass::kAudio;
  if (t == 0x90 || t == 0x91) return StreamClass::kGraphics;
  if (t == 0x92) return StreamClass::kTextSubtitle;
  return StreamClass::kOther;
}

// --- stream entries -------------------------------------------------------------------------------------

UO_MASK_TABLE read_uo_mask(ByteReader& r) {
  UO_MASK_TABLE uo;
  const ByteSpan b = r.bytes(8);
  std::copy(b.begin(), b.end(), uo.bytes.begin());
  return uo;
}

STREAM_ENTRY read_stream_entry(ByteReader& r, CUnreadBytes* unread) {
  const std::uint8_t len = r.u8();
  ByteReader b = r.sub(len, "StreamEntry");
  STREAM_ENTRY e;
  e.Type = b.u8();
  const std::size_t n = std::min<std::size_t>(b.remaining(), e.raw.size());
  const ByteSpan body = b.bytes(n);
  std::copy(body.begin(), body.end(), e.raw.begin());
  auto& x = e.raw;
  // Bytes of the body that the type's fields occupy.
  const std::size_t needed = e.Type == 1 ? 2 : e.Type == 2 ? 4 : e.Type == 3 ? 3 : 0;
  if (n < needed) b.fail(fmt::format("stream entry of type {} with length {} is too short", e.Type, len));
  switch (e.Type) {
    case 1:
      e.RefToStreamPID_OfMainClip = load_be16(&x[0]);
      break;
    case 2:
      e.RefToSubPathID = x[0];
      e.RefToSubClipEntryID = x[1];
      e.RefToStreamPID_OfSubClip = load_be16(&x[2]);
      break;
    case 3:
      e.RefToSubPathID = x[0];
      e.RefToStreamPID_OfMainClip = load_be16(&x[1]);
      break;
    default:
      break;
  }
  // raw keeps only the bytes that no field of the type holds.
  std::fill_n(x.begin(), needed, 0);
  NoteUnread(b, unread);
  return e;
}

void write_stream_entry(ByteWriter& w, const STREAM_ENTRY& e) {
  if (e.Type < 1 || e.Type > 3) {
    w.u8(1);
    w.u8(e.Type);
    return;
  }
  auto x = e.raw;
  switch (e.Type) {
    case 1:
      store_be16(&x[0], e.RefToStreamPID_OfMainClip);
      break;
    case 2:
      x[0] = e.RefToSubPathID;
      x[1] = e.RefToSubClipEntryID;
      store_be16(&x[2], e.RefToStreamPID_OfSubClip);
      break;
    case 3:
      x[0] = e.RefToSubPathID;
      store_be16(&x[1], e.RefToStreamPID_OfMainClip);
      break;
  }
  w.u8(9);
  w.u8(e.Type);
  w.bytes(x);
}

STREAM_ATTRIBUTES read_stream_attributes(ByteReader& r, CUnreadBytes* unread) {
  const std::uint8_t len = r.u8();
  ByteReader b = r.sub(len, "StreamAttributes");
  STREAM_ATTRIBUTES a;
  a.StreamCodingType = b.u8();
  const StreamClass cls = stream_class(a.StreamCodingType);
  if (cls == StreamClass::kOther) {
    NoteUnread(b, unread);  // attributes of a coding type the format does not define
    return a;
  }
  if (b.remaining() < a.raw.size())
    b.fail(fmt::format("stream attributes of coding type 0x{:02X} with length {} are too short",
                       a.StreamCodingType, len));
  const ByteSpan body = b.bytes(a.raw.size());
  std::copy(body.begin(), body.end(), a.raw.begin());
  auto& x = a.raw;
  auto lang = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(&x[at]), 3); };
  switch (cls) {
    case StreamClass::kVideo:
      a.VideoFormat = x[0] >> 4;
      a.FrameRate = x[0] & 0x0F;
      break;
    case StreamClass::kAudio:
      a.AudioPresentationType = x[0] >> 4;
      a.SamplingFrequency = x[0] & 0x0F;
      a.Language = lang(1);
      break;
    case StreamClass::kGraphics:
      a.Language = lang(0);
      break;
    case StreamClass::kTextSubtitle:
      a.CharacterCode = x[0];
      a.Language = lang(1);
      break;
    case StreamClass::kOther:
      break;
  }
  // raw keeps only the bytes that no field of the coding type holds.
  const std::size_t held = cls == StreamClass::kVideo ? 1 : cls == StreamClass::kGraphics ? 3 : 4;
  std::fill_n(x.begin(), held, 0);
  NoteUnread(b, unread);
  return a;
}

void write_stream_attributes(ByteWriter& w, const STREAM_ATTRIBUTES& a) {
  const StreamClass cls = stream_class(a.StreamCodingType);
  if (cls == StreamClass::kOther) {
    w.u8(1);
    w.u8(a.StreamCodingType);
    return;
  }
  auto x = a.raw;
  auto put_lang = [&](std::size_t at) {
    for (std::size_t i = 0; i < 3; ++i)
      x[at + i] = i < a.Language.size() ? static_cast<std::uint8_t>(a.Language[i]) : 0;
  };
  switch (cls) {
    case StreamClass::kVideo:
      x[0] = static_cast<std::uint8_t>((a.VideoFormat << 4) | (a.FrameRate & 0x0F));
      break;
    case StreamClass::kAudio:
      x[0] = static_cast<std::uint8_t>((a.AudioPresentationType << 4) | (a.SamplingFrequency & 0x0F));
      put_lang(1);
      break;
    case StreamClass::kGraphics:
      put_lang(0);
      break;
    case StreamClass::kTextSubtitle:
      x[0] = a.CharacterCode;
      put_lang(1);
      break;
    case StreamClass::kOther:
      break;
  }
  w.u8(5);
  w.u8(a.StreamCodingType);
  w.bytes(x);
}

REF_LIST read_ref_list(ByteReader& r) {
  REF_LIST l;
  const std::uint8_t n = r.u8();
  l.reserved = r.u8();
  const ByteSpan ids = r.bytes(n);
  l.RefID.assign(ids.begin(), ids.end());
  if (n % 2) r.skip(1);
  return l;
}

void write_ref_list(ByteWriter& w, const REF_LIST& l) {
  w.u8(checked_count<std::uint8_t>(l.RefID.size(), "NumberOfRefEntries"));
  w.u8(l.reserved);
  w.bytes(l.RefID);
  if (l.RefID.size() % 2) w.u8(0);
}

// --- STN table ------------------------------------------------------------------------------------------

STN_TABLE read_stn_table(ByteReader& r, CUnreadBytes* unread) {
  const std::uint16_t len = r.u16();
  ByteReader b = r.sub(len, "StnTable");
  STN_TABLE t;
  const ByteSpan res1 = b.bytes(2);
  std::copy(res1.begin(), res1.end(), t.reserved1.begin());
  const unsigned video = b.u8(), audio = b.u8(), pg = b.u8(), ig = b.u8();
  const unsigned sec_audio = b.u8(), sec_video = b.u8(), pip_pg = b.u8();
  const ByteSpan res2 = b.bytes(5);
  std::copy(res2.begin(), res2.end(), t.reserved2.begin());
  read_primary_group(b, video, t.PrimaryVideoStreamEntries, unread);
  read_primary_group(b, audio, t.PrimaryAudioStreamEntries, unread);
  read_primary_group(b, pg, t.PrimaryPG_TextST_StreamEntries, unread);
  read_primary_group(b, pip_pg, t.PrimaryPiP_TextST_StreamEntries, unread);
  read_primary_group(b, ig, t.InteractiveGraphicsStreamEntries, unread);
  for (unsigned i = 0; i < sec_audio; ++i) {
    SECONDARD_AUDIO_STREAM_ENTRY e;
    read_entry_head(b, e, unread);
    e.SecondardAudioStreamCombInfo = read_ref_list(b);
    t.SecondaryAudioStreamEntries.push_back(std::move(e));
  }
  for (unsigned i = 0; i < sec_video; ++i) {
    SECONDARD_VIDEO_STREAM_ENTRY e;
    read_entry_head(b, e, unread);
    e.SecondardVideoSecondardAudioStreamCombInfo = read_ref_list(b);
    e.SecondardVideoPiP_PG_TextST_StreamCombInfo = read_ref_list(b);
    t.SecondaryVideoStreamEntries.push_back(std::move(e));
  }
  NoteUnread(b, unread);
  return t;
}

void write_stn_table(ByteWriter& w, const STN_TABLE& t) {
  const std::size_t at = w.pos();
  w.u16(0);
  w.bytes(t.reserved1);
  w.u8(checked_count<std::uint8_t>(t.PrimaryVideoStreamEntries.size(), "PrimaryVideoStreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.PrimaryAudioStreamEntries.size(), "PrimaryAudioStreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.PrimaryPG_TextST_StreamEntries.size(), "PrimaryPG_TextST_StreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.InteractiveGraphicsStreamEntries.size(),
                                   "InteractiveGraphicsStreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.SecondaryAudioStreamEntries.size(), "SecondaryAudioStreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.SecondaryVideoStreamEntries.size(), "SecondaryVideoStreamEntries"));
  w.u8(checked_count<std::uint8_t>(t.PrimaryPiP_TextST_StreamEntries.size(),
                                   "PrimaryPiP_TextST_StreamEntries"));
  w.bytes(t.reserved2);
  for (const CPseFolder* group : {&t.PrimaryVideoStreamEntries, &t.PrimaryAudioStreamEntries,
                                  &t.PrimaryPG_TextST_StreamEntries, &t.PrimaryPiP_TextST_StreamEntries,
                                  &t.InteractiveGraphicsStreamEntries})
    for (const auto& e : *group) write_entry_head(w, e);
  for (const auto& e : t.SecondaryAudioStreamEntries) {
    write_entry_head(w, e);
    write_ref_list(w, e.SecondardAudioStreamCombInfo);
  }
  for (const auto& e : t.SecondaryVideoStreamEntries) {
    write_entry_head(w, e);
    write_ref_list(w, e.SecondardVideoSecondardAudioStreamCombInfo);
    write_ref_list(w, e.SecondardVideoPiP_PG_TextST_StreamCombInfo);
  }
  patch_len16(w, at, "StnTable");
}

// --- play items and sub-paths ---------------------------------------------------------------------------

PLAY_ITEM read_play_item(ByteReader& r, CUnreadBytes* unread) {
  const std::uint16_t len = r.u16();
  ByteReader b = r.sub(len, "PlayItem");
  PLAY_ITEM p;
  p.ClipInformationFileName = b.text(5);
  p.ClipCodecIdentifier = b.text(4);
  b.skip(1);
  const std::uint8_t flags = b.u8();
  p.IsMultiAngle = (flags >> 4) & 1;
  p.ConnectionCondition = flags & 0x0F;
  p.RefToSTC_ID = b.u8();
  p.InTime = b.u32();
  p.OutTime = b.u32();
  p.UoMaskTable = read_uo_mask(b);
  p.PlayItemRandomAccessFlag = (b.u8() >> 7) & 1;
  p.StillMode = b.u8();
  p.StillTime = b.u16();
  if (p.IsMultiAngle) {
    // The play item's own clip counts as the first angle.
    const std::uint8_t angles = b.u8();
    const std::uint8_t angle_flags = b.u8();
    p.IsDifferentAudios = (angle_flags >> 1) & 1;
    p.SeamlessAngleChange = angle_flags & 1;
    for (unsigned i = 1; i < angles; ++i) p.Angles.push_back(read_angle_clip_entry(b));
  }
  p.StnTable = read_stn_table(b, unread);
  NoteUnread(b, unread);
  return p;
}

void write_play_item(ByteWriter& w, const PLAY_ITEM& p) {
  const std::size_t at = w.pos();
  w.u16(0);
  write_fixed_text(w, p.ClipInformationFileName, 5);
  write_fixed_text(w, p.ClipCodecIdentifier, 4);
  w.u8(0);
  w.u8(static_cast<std::uint8_t>((p.IsMultiAngle ? 0x10 : 0) | (p.ConnectionCondition & 0x0F)));
  w.u8(p.RefToSTC_ID);
  w.u32(p.InTime);
  w.u32(p.OutTime);
  write_uo_mask(w, p.UoMaskTable);
  w.u8(p.PlayItemRandomAccessFlag ? 0x80 : 0);
  w.u8(p.StillMode);
  w.u16(p.StillMode == 1 ? p.StillTime : 0);
  if (p.IsMultiAngle) {
    w.u8(checked_count<std::uint8_t>(p.Angles.size() + 1, "NumberOfAngles"));
    w.u8(static_cast<std::uint8_t>((p.IsDifferentAudios ? 2 : 0) | (p.SeamlessAngleChange ? 1 : 0)));
    for (const auto& a : p.Angles) {
      write_fixed_text(w, a.ClipInformationFileName, 5);
      write_fixed_text(w, a.ClipCodecIdentifier, 4);
      w.u8(a.RefToSTC_ID);
    }
  }
  write_stn_table(w, p.StnTable);
  patch_len16(w, at, "PlayItem");
}

SUB_PLAY_ITEM read_sub_play_item(ByteReader& r, CUnreadBytes* unread) {
  const std::uint16_t len = r.u16();
  ByteReader b = r.sub(len, "SubPlayItem");
  SUB_PLAY_ITEM s;
  s.ClipInformationFileName = b.text(5);
  s.ClipCodecIdentifier = b.text(4);
  b.skip(3);
  const std::uint8_t flags = b.u8();
  s.ConnectionCondition = (flags >> 1) & 0x0F;
  s.IsMultiClipEntries = flags & 1;
  s.RefToSTC_ID = b.u8();
  s.InTime = b.u32();
  s.OutTime = b.u32();
  s.SyncPlayItemID = b.u16();
  s.SyncStartPTS_OfPlayItem = b.u32();
  if (s.IsMultiClipEntries) {
    const ByteSpan rest = b.bytes(b.remaining());
    s.MultiClipEntries.assign(rest.begin(), rest.end());
  }
  NoteUnread(b, unread);
  return s;
}

void write_sub_play_item(ByteWriter& w, const SUB_PLAY_ITEM& s) {
  const std::size_t at = w.pos();
  w.u16(0);
  write_fixed_text(w, s.ClipInformationFileName, 5);
  write_fixed_text(w, s.ClipCodecIdentifier, 4);
  w.zeros(3);
  w.u8(static_cast<std::uint8_t>(((s.ConnectionCondition & 0x0F) << 1) | (s.IsMultiClipEntries ? 1 : 0)));
  w.u8(s.RefToSTC_ID);
  w.u32(s.InTime);
  w.u32(s.OutTime);
  w.u16(s.SyncPlayItemID);
  w.u32(s.SyncStartPTS_OfPlayItem);
  if (s.IsMultiClipEntries) w.bytes(s.MultiClipEntries);
  patch_len16(w, at, "SubPlayItem");
}

SUB_PATH read_sub_path(ByteReader& r, CUnreadBytes* unread) {
  const std::uint32_t len = r.u32();
  ByteReader b = r.sub(len, "SubPath");
  SUB_PATH p;
  b.skip(1);
  p.SubPathType = b.u8();
  b.skip(1);
  p.IsRepeatSubPath = b.u8() & 1;
  b.skip(1);
  const std::uint8_t n = b.u8();
  for (unsigned i = 0; i < n; ++i) p.SubPlayItems.push_back(read_sub_play_item(b, unread));
  NoteUnread(b, unread);
  return p;
}

void write_sub_path(ByteWriter& w, const SUB_PATH& p) {
  const std::size_t at = w.pos();
  w.u32(0);
  w.u8(0);
  w.u8(p.SubPathType);
  w.u8(0);
  w.u8(p.IsRepeatSubPath ? 1 : 0);
  w.u8(0);
  w.u8(checked_count<std::uint8_t>(p.SubPlayItems.size(), "NumberOfSubPlayItems"));
  for (const auto& s : p.SubPlayItems) write_sub_play_item(w, s);
  patch_len32(w, at);
}

// --- whole file -----------------------------------------------------------------------------------------

std::int64_t parse_mpls(ByteSpan file, SMplsData& data, std::string* error, CUnreadBytes* unread) {
  data = SMplsData{};
  CUnreadBytes notes;
  try {
    ByteReader r(file, "MPLS");
    data.TypeIndicator = r.text(4);
    data.VersionNumber = r.text(4);
    data.PlayListStartAddress = r.u32();
    data.PlayListMarkStartAddress = r.u32();
    data.ExtensionDataStartAddress = r.u32();
    const ByteSpan reserved = r.bytes(20);
    std::copy(reserved.begin(), reserved.end(), data.reserved.begin());

    {  // AppInfoPlayList at offset 40
      const std::uint32_t len = r.u32();
      ByteReader b = r.sub(len, "AppInfoPlayList");
      auto& a = data.AppInfoPlayList;
      a.reserved1 = b.u8();
      a.PlaylistPlaybackType = b.u8();
      a.PlaybackCount = b.u16();
      a.UoMaskTable = read_uo_mask(b);
      const std::uint8_t flags = b.u8();
      a.PlaylistRandomAccessFlag = (flags >> 7) & 1;
      a.AudioMixAppFlag = (flags >> 6) & 1;
      a.LosslessMayBypassMixerFlag = (flags >> 5) & 1;
      if (!b.at_end()) b.skip(1);  // reserved
      NoteUnread(b, &notes);
    }

    std::uint64_t end = 0;
    {  // PlayList
      r.seek(data.PlayListStartAddress);
      const std::uint32_t len = r.u32();
      ByteReader b = r.sub(len, "PlayList");
      b.skip(2);
      const std::uint16_t items = b.u16();
      const std::uint16_t sub_paths = b.u16();
      for (unsigned i = 0; i < items; ++i) data.PlayItems.push_back(read_play_item(b, &notes));
      for (unsigned i = 0; i < sub_paths; ++i) data.SubPaths.push_back(read_sub_path(b, &notes));
      NoteUnread(b, &notes);
      end = std::max<std::uint64_t>(end, r.pos());
    }
    {  // PlayListMark
      r.seek(data.PlayListMarkStartAddress);
      const std::uint32_t len = r.u32();
      ByteReader b = r.sub(len, "PlayListMarks");
      const std::uint16_t marks = b.u16();
      for (unsigned i = 0; i < marks; ++i) data.PlayListMarks.push_back(read_play_mark(b));
      NoteUnread(b, &notes);
      end = std::max<std::uint64_t>(end, r.pos());
    }
    if (data.ExtensionDataStartAddress != 0) {
      r.seek(data.ExtensionDataStartAddress);
      SExtensionData ext;
      r.skip(parse_ext_data(r.data().subspan(r.pos()), ext));
      data.ExtensionData = std::move(ext);
      end = std::max<std::uint64_t>(end, r.pos());
    }
    if (unread) unread->insert(unread->end(), notes.begin(), notes.end());
    return static_cast<std::int64_t>(end);
  } catch (const ParseError& e) {
    // The message names the element and the offset already.
    if (error) *error = e.what();
    data = SMplsData{};
    return 0;
  }
}

Bytes compose_mpls(const SMplsData& data) {
  Bytes out;
  out.reserve(kMplsComposeBuffer);
  ByteWriter w(out);
  write_fixed_text(w, data.TypeIndicator, 4);
  write_fixed_text(w, data.VersionNumber, 4);
  w.zeros(12);  // the three start addresses, patched below
  w.zeros(20);  // reserved

  const auto& a = data.AppInfoPlayList;
  w.u32(14);
  w.u8(a.reserved1);
  w.u8(a.PlaylistPlaybackType);
  w.u16(a.PlaybackCount);
  write_uo_mask(w, a.UoMaskTable);
  w.u8(static_cast<std::uint8_t>((a.PlaylistRandomAccessFlag ? 0x80 : 0) | (a.AudioMixAppFlag ? 0x40 : 0) |
                                 (a.LosslessMayBypassMixerFlag ? 0x20 : 0)));
  w.u8(0);

  const std::size_t playlist = w.pos();  // 58
  w.u32(0);
  w.u16(0);
  w.u16(checked_count<std::uint16_t>(data.PlayItems.size(), "NumberOfPlayItems"));
  w.u16(checked_count<std::uint16_t>(data.SubPaths.size(), "NumberOfSubPaths"));
  for (const auto& p : data.PlayItems) write_play_item(w, p);
  for (const auto& s : data.SubPaths) write_sub_path(w, s);
  patch_len32(w, playlist);

  const std::size_t marks = w.pos();
  w.u32(0);
  w.u16(checked_count<std::uint16_t>(data.PlayListMarks.size(), "NumberOfPlayListMarks"));
  for (const auto& m : data.PlayListMarks) write_play_mark(w, m);
  patch_len32(w, marks);

  std::size_t ext = 0;
  if (data.ExtensionData) {
    ext = w.pos();
    if (data.ExtensionData->Entries.size() > 255)
      throw std::length_error("extension data: too many entries for the count field");
    write_ext_data(*data.ExtensionData, out);
  }
  w.patch_u32(8, static_cast<std::uint32_t>(playlist));
  w.patch_u32(12, static_cast<std::uint32_t>(marks));
  w.patch_u32(16, static_cast<std::uint32_t>(ext));
  return out;
}

}  // namespace veld

// --- text form ------------------------------------------------------------------------------------------

namespace veld {

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
