// SPDX-License-Identifier: GPL-3.0-or-later
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

// The bytes a block's reader has not interpreted: noted in *unread (when given) and taken, so that the
// writer puts them back after the block's content.
Bytes take_rest(ByteReader& b, CUnreadBytes* unread) {
  NoteUnread(b, unread);
  const ByteSpan rest = b.bytes(b.remaining());
  return Bytes(rest.begin(), rest.end());
}

template <std::size_t N>
void read_array(ByteReader& r, std::array<std::uint8_t, N>& a) {
  const ByteSpan b = r.bytes(N);
  std::copy(b.begin(), b.end(), a.begin());
}

// The bytes between a reader's position and a start address further on (none when the address lies
// before it); the reader is left at the address.
Bytes take_gap(ByteReader& r, std::uint32_t address) {
  if (address <= r.pos() || address > r.size()) {
    r.seek(address);
    return {};
  }
  const ByteSpan gap = r.bytes(address - r.pos());
  return Bytes(gap.begin(), gap.end());
}

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
  m.reserved = r.u8();
  m.MarkType = r.u8();
  m.RefToPlayItemID = r.u16();
  m.MarkTimeStamp = r.u32();
  m.EntryES_PID = r.u16();
  m.Duration = r.u32();
  return m;
}

void write_play_mark(ByteWriter& w, const PLAY_MARK& m) {
  w.u8(m.reserved);
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

void write_primary_group(ByteWriter& w, const CPseFolder& group) {
  for (const auto& e : group) write_entry_head(w, e);
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

StreamClass stream_class(std::uint8_t t) {
  if (t == 0x02 || t == 0x1B || t == 0xEA || t == 0x24) return StreamClass::kVideo;
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

// Bytes of the body that the fields of a stream entry type occupy.
static std::size_t stream_entry_fields(std::uint8_t type) {
  return type == 1 ? 2 : type == 2 ? 4 : type == 3 ? 3 : 0;
}

STREAM_ENTRY read_stream_entry(ByteReader& r, CUnreadBytes* /*unread*/) {
  const std::uint8_t len = r.u8();
  ByteReader b = r.sub(len, "StreamEntry");
  STREAM_ENTRY e;
  e.Type = b.u8();
  const ByteSpan body = b.bytes(b.remaining());
  e.raw.assign(body.begin(), body.end());
  auto& x = e.raw;
  const std::size_t needed = stream_entry_fields(e.Type);
  if (x.size() < needed) b.fail(fmt::format("stream entry of type {} with length {} is too short", e.Type, len));
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
  // raw keeps only the bytes that no field of the type holds; a body of the usual size that holds
  // nothing else is a new entry's (empty raw), so a read entry compares equal to a built one.
  std::fill_n(x.begin(), needed, 0);
  if (x.size() == (needed ? 8u : 0u) && std::all_of(x.begin(), x.end(), [](std::uint8_t v) { return v == 0; }))
    x.clear();
  return e;
}

void write_stream_entry(ByteWriter& w, const STREAM_ENTRY& e) {
  Bytes x = e.raw;
  if (e.Type >= 1 && e.Type <= 3 && x.size() < 8) x.resize(8, 0);
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
    default:
      break;
  }
  w.u8(checked_count<std::uint8_t>(x.size() + 1, "StreamEntry length"));
  w.u8(e.Type);
  w.bytes(x);
}

STREAM_ATTRIBUTES read_stream_attributes(ByteReader& r, CUnreadBytes* /*unread*/) {
  const std::uint8_t len = r.u8();
  ByteReader b = r.sub(len, "StreamAttributes");
  STREAM_ATTRIBUTES a;
  a.StreamCodingType = b.u8();
  const StreamClass cls = stream_class(a.StreamCodingType);
  if (cls != StreamClass::kOther && b.remaining() < 4)
    b.fail(fmt::format("stream attributes of coding type 0x{:02X} with length {} are too short",
                       a.StreamCodingType, len));
  // Everything after the coding type is kept: a newer layout (HEVC's dynamic range and colour space,
  // or attributes of a type we do not know) is written back as it came.
  const ByteSpan body = b.bytes(b.remaining());
  a.raw.assign(body.begin(), body.end());
  auto& x = a.raw;
  auto lang = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(&x[at]), 3); };
  std::size_t held = 0;
  switch (cls) {
    case StreamClass::kVideo:
      a.VideoFormat = x[0] >> 4;
      a.FrameRate = x[0] & 0x0F;
      held = 1;
      if (a.StreamCodingType == 0x24) {
        a.DynamicRangeType = x[1] >> 4;
        a.ColorSpace = x[1] & 0x0F;
        held = 2;
      }
      break;
    case StreamClass::kAudio:
      a.AudioPresentationType = x[0] >> 4;
      a.SamplingFrequency = x[0] & 0x0F;
      a.Language = lang(1);
      held = 4;
      break;
    case StreamClass::kGraphics:
      a.Language = lang(0);
      held = 3;
      break;
    case StreamClass::kTextSubtitle:
      a.CharacterCode = x[0];
      a.Language = lang(1);
      held = 4;
      break;
    case StreamClass::kOther:
      break;
  }
  // raw keeps only the bytes that no field of the coding type holds; the usual size holding nothing
  // else is a new record's (empty raw).
  std::fill_n(x.begin(), held, 0);
  const std::size_t usual = cls == StreamClass::kOther ? 0 : 4;
  if (x.size() == usual && std::all_of(x.begin(), x.end(), [](std::uint8_t v) { return v == 0; })) x.clear();
  return a;
}

void write_stream_attributes(ByteWriter& w, const STREAM_ATTRIBUTES& a) {
  const StreamClass cls = stream_class(a.StreamCodingType);
  Bytes x = a.raw;
  if (cls != StreamClass::kOther && x.size() < 4) x.resize(4, 0);
  auto put_lang = [&](std::size_t at) {
    for (std::size_t i = 0; i < 3; ++i)
      x[at + i] = i < a.Language.size() ? static_cast<std::uint8_t>(a.Language[i]) : 0;
  };
  switch (cls) {
    case StreamClass::kVideo:
      x[0] = static_cast<std::uint8_t>((a.VideoFormat << 4) | (a.FrameRate & 0x0F));
      if (a.StreamCodingType == 0x24)
        x[1] = static_cast<std::uint8_t>((a.DynamicRangeType << 4) | (a.ColorSpace & 0x0F));
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
  w.u8(checked_count<std::uint8_t>(x.size() + 1, "StreamAttributes length"));
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
  const unsigned sec_audio = b.u8(), sec_video = b.u8(), pip_pg = b.u8(), dolby_vision = b.u8();
  read_array(b, t.reserved2);
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
  read_primary_group(b, dolby_vision, t.DolbyVisionStreamEntries, unread);
  t.Tail = take_rest(b, unread);
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
  w.u8(checked_count<std::uint8_t>(t.DolbyVisionStreamEntries.size(), "DolbyVisionStreamEntries"));
  w.bytes(t.reserved2);
  for (const CPseFolder* group : {&t.PrimaryVideoStreamEntries, &t.PrimaryAudioStreamEntries,
                                  &t.PrimaryPG_TextST_StreamEntries, &t.PrimaryPiP_TextST_StreamEntries,
                                  &t.InteractiveGraphicsStreamEntries})
    write_primary_group(w, *group);
  for (const auto& e : t.SecondaryAudioStreamEntries) {
    write_entry_head(w, e);
    write_ref_list(w, e.SecondardAudioStreamCombInfo);
  }
  for (const auto& e : t.SecondaryVideoStreamEntries) {
    write_entry_head(w, e);
    write_ref_list(w, e.SecondardVideoSecondardAudioStreamCombInfo);
    write_ref_list(w, e.SecondardVideoPiP_PG_TextST_StreamCombInfo);
  }
  write_primary_group(w, t.DolbyVisionStreamEntries);
  w.bytes(t.Tail);
  patch_len16(w, at, "StnTable");
}

// --- play items and sub-paths ---------------------------------------------------------------------------

PLAY_ITEM read_play_item(ByteReader& r, CUnreadBytes* unread) {
  const std::uint16_t len = r.u16();
  ByteReader b = r.sub(len, "PlayItem");
  PLAY_ITEM p;
  p.ClipInformationFileName = b.text(5);
  p.ClipCodecIdentifier = b.text(4);
  p.reserved1 = b.u8();
  const std::uint8_t flags = b.u8();
  p.FlagsReserved = flags >> 5;
  p.IsMultiAngle = (flags >> 4) & 1;
  p.ConnectionCondition = flags & 0x0F;
  p.RefToSTC_ID = b.u8();
  p.InTime = b.u32();
  p.OutTime = b.u32();
  p.UoMaskTable = read_uo_mask(b);
  const std::uint8_t random_access = b.u8();
  p.PlayItemRandomAccessFlag = (random_access >> 7) & 1;
  p.RandomAccessReserved = random_access & 0x7F;
  p.StillMode = b.u8();
  p.StillTime = b.u16();
  if (p.IsMultiAngle) {
    // The play item's own clip counts as the first angle.
    const std::uint8_t angles = b.u8();
    const std::uint8_t angle_flags = b.u8();
    p.AngleFlagsReserved = angle_flags >> 2;
    p.IsDifferentAudios = (angle_flags >> 1) & 1;
    p.SeamlessAngleChange = angle_flags & 1;
    for (unsigned i = 1; i < angles; ++i) p.Angles.push_back(read_angle_clip_entry(b));
  }
  p.StnTable = read_stn_table(b, unread);
  p.Tail = take_rest(b, unread);
  return p;
}

void write_play_item(ByteWriter& w, const PLAY_ITEM& p) {
  const std::size_t at = w.pos();
  w.u16(0);
  write_fixed_text(w, p.ClipInformationFileName, 5);
  write_fixed_text(w, p.ClipCodecIdentifier, 4);
  w.u8(p.reserved1);
  w.u8(static_cast<std::uint8_t>((p.FlagsReserved << 5) | (p.IsMultiAngle ? 0x10 : 0) |
                                 (p.ConnectionCondition & 0x0F)));
  w.u8(p.RefToSTC_ID);
  w.u32(p.InTime);
  w.u32(p.OutTime);
  write_uo_mask(w, p.UoMaskTable);
  w.u8(static_cast<std::uint8_t>((p.PlayItemRandomAccessFlag ? 0x80 : 0) | (p.RandomAccessReserved & 0x7F)));
  w.u8(p.StillMode);
  w.u16(p.StillTime);
  if (p.IsMultiAngle) {
    w.u8(checked_count<std::uint8_t>(p.Angles.size() + 1, "NumberOfAngles"));
    w.u8(static_cast<std::uint8_t>((p.AngleFlagsReserved << 2) | (p.IsDifferentAudios ? 2 : 0) |
                                   (p.SeamlessAngleChange ? 1 : 0)));
    for (const auto& a : p.Angles) {
      write_fixed_text(w, a.ClipInformationFileName, 5);
      write_fixed_text(w, a.ClipCodecIdentifier, 4);
      w.u8(a.RefToSTC_ID);
    }
  }
  write_stn_table(w, p.StnTable);
  w.bytes(p.Tail);
  patch_len16(w, at, "PlayItem");
}

SUB_PLAY_ITEM read_sub_play_item(ByteReader& r, CUnreadBytes* unread) {
  const std::uint16_t len = r.u16();
  ByteReader b = r.sub(len, "SubPlayItem");
  SUB_PLAY_ITEM s;
  s.ClipInformationFileName = b.text(5);
  s.ClipCodecIdentifier = b.text(4);
  read_array(b, s.reserved);
  const std::uint8_t flags = b.u8();
  s.FlagsReserved = flags >> 5;
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
  } else {
    s.MultiClipEntries = take_rest(b, unread);
  }
  return s;
}

void write_sub_play_item(ByteWriter& w, const SUB_PLAY_ITEM& s) {
  const std::size_t at = w.pos();
  w.u16(0);
  write_fixed_text(w, s.ClipInformationFileName, 5);
  write_fixed_text(w, s.ClipCodecIdentifier, 4);
  w.bytes(s.reserved);
  w.u8(static_cast<std::uint8_t>((s.FlagsReserved << 5) | ((s.ConnectionCondition & 0x0F) << 1) |
                                 (s.IsMultiClipEntries ? 1 : 0)));
  w.u8(s.RefToSTC_ID);
  w.u32(s.InTime);
  w.u32(s.OutTime);
  w.u16(s.SyncPlayItemID);
  w.u32(s.SyncStartPTS_OfPlayItem);
  w.bytes(s.MultiClipEntries);
  patch_len16(w, at, "SubPlayItem");
}

SUB_PATH read_sub_path(ByteReader& r, CUnreadBytes* unread) {
  const std::uint32_t len = r.u32();
  ByteReader b = r.sub(len, "SubPath");
  SUB_PATH p;
  p.reserved[0] = b.u8();
  p.SubPathType = b.u8();
  p.reserved[1] = b.u8();
  const std::uint8_t repeat = b.u8();
  p.IsRepeatSubPath = repeat & 1;
  p.reserved[2] = repeat >> 1;
  p.reserved[3] = b.u8();
  const std::uint8_t n = b.u8();
  for (unsigned i = 0; i < n; ++i) p.SubPlayItems.push_back(read_sub_play_item(b, unread));
  p.Tail = take_rest(b, unread);
  return p;
}

void write_sub_path(ByteWriter& w, const SUB_PATH& p) {
  const std::size_t at = w.pos();
  w.u32(0);
  w.u8(p.reserved[0]);
  w.u8(p.SubPathType);
  w.u8(p.reserved[1]);
  w.u8(static_cast<std::uint8_t>((p.reserved[2] << 1) | (p.IsRepeatSubPath ? 1 : 0)));
  w.u8(p.reserved[3]);
  w.u8(checked_count<std::uint8_t>(p.SubPlayItems.size(), "NumberOfSubPlayItems"));
  for (const auto& s : p.SubPlayItems) write_sub_play_item(w, s);
  w.bytes(p.Tail);
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
    read_array(r, data.reserved);

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
      a.FlagsReserved = flags & 0x1F;
      if (!b.at_end()) a.reserved2 = b.u8();
      a.Tail = take_rest(b, &notes);
    }

    std::uint64_t end = 0;
    {  // PlayList
      data.GapBeforePlayList = take_gap(r, data.PlayListStartAddress);
      const std::uint32_t len = r.u32();
      ByteReader b = r.sub(len, "PlayList");
      data.PlayListReserved = b.u16();
      const std::uint16_t items = b.u16();
      const std::uint16_t sub_paths = b.u16();
      for (unsigned i = 0; i < items; ++i) data.PlayItems.push_back(read_play_item(b, &notes));
      for (unsigned i = 0; i < sub_paths; ++i) data.SubPaths.push_back(read_sub_path(b, &notes));
      data.PlayListTail = take_rest(b, &notes);
      end = std::max<std::uint64_t>(end, r.pos());
    }
    {  // PlayListMark
      data.GapBeforeMarks = take_gap(r, data.PlayListMarkStartAddress);
      const std::uint32_t len = r.u32();
      ByteReader b = r.sub(len, "PlayListMarks");
      const std::uint16_t marks = b.u16();
      for (unsigned i = 0; i < marks; ++i) data.PlayListMarks.push_back(read_play_mark(b));
      data.PlayListMarkTail = take_rest(b, &notes);
      end = std::max<std::uint64_t>(end, r.pos());
    }
    if (data.ExtensionDataStartAddress != 0) {
      data.GapBeforeExtension = take_gap(r, data.ExtensionDataStartAddress);
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
  w.bytes(data.reserved);

  const auto& a = data.AppInfoPlayList;
  const std::size_t app_info = w.pos();  // 40
  w.u32(0);
  w.u8(a.reserved1);
  w.u8(a.PlaylistPlaybackType);
  w.u16(a.PlaybackCount);
  write_uo_mask(w, a.UoMaskTable);
  w.u8(static_cast<std::uint8_t>((a.PlaylistRandomAccessFlag ? 0x80 : 0) | (a.AudioMixAppFlag ? 0x40 : 0) |
                                 (a.LosslessMayBypassMixerFlag ? 0x20 : 0) | (a.FlagsReserved & 0x1F)));
  w.u8(a.reserved2);
  w.bytes(a.Tail);
  patch_len32(w, app_info);

  w.bytes(data.GapBeforePlayList);
  const std::size_t playlist = w.pos();  // 58 unless the AppInfoPlayList is longer or padded
  w.u32(0);
  w.u16(data.PlayListReserved);
  w.u16(checked_count<std::uint16_t>(data.PlayItems.size(), "NumberOfPlayItems"));
  w.u16(checked_count<std::uint16_t>(data.SubPaths.size(), "NumberOfSubPaths"));
  for (const auto& p : data.PlayItems) write_play_item(w, p);
  for (const auto& s : data.SubPaths) write_sub_path(w, s);
  w.bytes(data.PlayListTail);
  patch_len32(w, playlist);

  w.bytes(data.GapBeforeMarks);
  const std::size_t marks = w.pos();
  w.u32(0);
  w.u16(checked_count<std::uint16_t>(data.PlayListMarks.size(), "NumberOfPlayListMarks"));
  for (const auto& m : data.PlayListMarks) write_play_mark(w, m);
  w.bytes(data.PlayListMarkTail);
  patch_len32(w, marks);

  std::size_t ext = 0;
  if (data.ExtensionData) {
    w.bytes(data.GapBeforeExtension);
    ext = w.pos();
    write_ext_data(*data.ExtensionData, out);
  }
  w.patch_u32(8, static_cast<std::uint32_t>(playlist));
  w.patch_u32(12, static_cast<std::uint32_t>(marks));
  w.patch_u32(16, static_cast<std::uint32_t>(ext));
  return out;
}

}  // namespace veld
