// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/psi.h"

#include <algorithm>
#include <cstring>

#include "veld/base/crc32.h"
#include "veld/ts/transport.h"

namespace veld {
namespace {

// Completes a section started at `start` in out: patches the 12-bit section length (bytes after the
// length field, CRC included) into bytes 1 and 2, then appends the CRC. Returns the section length.
std::uint16_t finish_section(Bytes& out, std::size_t start, std::uint32_t& crc_field) {
  const std::size_t section_length = out.size() - start - 3 + 4;
  out[start + 1] = static_cast<std::uint8_t>((out[start + 1] & 0xF0) | ((section_length >> 8) & 0x0F));
  out[start + 2] = static_cast<std::uint8_t>(section_length);
  crc_field = crc32_mpeg(ByteSpan(out.data() + start, out.size() - start));
  ByteWriter(out).u32(crc_field);
  return static_cast<std::uint16_t>(section_length);
}

std::uint8_t version_byte(std::uint8_t version, bool current_next) {
  return static_cast<std::uint8_t>(0xC0 | ((version & 0x1F) << 1) | (current_next ? 1 : 0));
}

template <std::size_t N>
void copy_chars(std::array<char, N>& to, ByteSpan from) {
  for (std::size_t i = 0; i < N; ++i) to[i] = static_cast<char>(from[i]);
}

template <std::size_t N>
void put_chars(Bytes& out, const std::array<char, N>& chars) {
  for (char c : chars) out.push_back(static_cast<std::uint8_t>(c));
}

// Common long-form section header: table id, syntax indicator, section length, a 16-bit id, version,
// current-next, section numbers. Returns a reader bounded to the bytes after the length field.
struct SectionHead {
  std::uint8_t table_id;
  bool syntax;
  std::uint16_t length;
  std::uint16_t id;
  std::uint8_t version;
  bool current_next;
  std::uint8_t section_number;
  std::uint8_t last_section_number;
};

ByteReader read_section_head(ByteReader& r, SectionHead& h, std::string_view element) {
  h.table_id = r.u8();
  const std::uint16_t b = r.u16();
  h.syntax = (b & 0x8000) != 0;
  h.length = b & 0x0FFF;
  if (h.length < 9) r.fail("section length too small");
  ByteReader s = r.sub(h.length, element);
  h.id = s.u16();
  const std::uint8_t v = s.u8();
  h.version = (v >> 1) & 0x1F;
  h.current_next = (v & 1) != 0;
  h.section_number = s.u8();
  h.last_section_number = s.u8();
  return s;
}

// Copies the fields every long-form table keeps from its section header.
template <typename Table>
void take_section_head(Table& t, const SectionHead& h) {
  t.TableId = h.table_id;
  t.SectionSyntaxIndicator = h.syntax;
  t.SectionLength = h.length;
  t.VersionNumber = h.version;
  t.CurrentNextIndicator = h.current_next;
  t.SectionNumber = h.section_number;
  t.LastSectionNumber = h.last_section_number;
}

// A descriptor (tag, length, body) at the reader's position, if it lies within the reader.
struct Desc {
  std::uint8_t tag = 0;
  ByteSpan body;
};
bool peek_desc(const ByteReader& r, Desc& d) {
  if (r.remaining() < 2) return false;
  const std::uint8_t* p = r.data().data() + r.pos();
  if (std::size_t{2} + p[1] > r.remaining()) return false;
  d.tag = p[0];
  d.body = ByteSpan(p + 2, p[1]);
  return true;
}

bool read_caption(ByteSpan body, SCaptionServiceDescriptor& c) {
  if (body.empty()) return false;
  c = {};
  c.NumberOfServices = body[0] & 0x1F;
  const std::size_t n = std::min<std::size_t>(c.NumberOfServices, (body.size() - 1) / 6);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = body.data() + 1 + 6 * i;
    SCaptionServiceInfo s;
    copy_chars(s.Language, ByteSpan(p, 3));
    s.DigitaCC = (p[3] & 0x80) != 0;
    if (s.DigitaCC) {
      s.Line21Field = (p[3] & 1) != 0;
      s.CaptionServiceNumber = 0;
    } else {
      s.CaptionServiceNumber = p[3] & 0x3F;
    }
    s.EasyReader = (p[4] & 0x80) != 0;
    s.WideAspecRatio = (p[4] & 0x40) != 0;
    c.services.push_back(s);
  }
  return true;
}

void write_caption(Bytes& out, SCaptionServiceDescriptor& c) {
  const std::size_t n = std::min<std::size_t>(c.services.size(), 31);
  c.NumberOfServices = static_cast<std::uint8_t>(n);
  out.push_back(0x86);
  out.push_back(static_cast<std::uint8_t>(1 + 6 * n));
  out.push_back(static_cast<std::uint8_t>(0xE0 | n));
  for (std::size_t i = 0; i < n; ++i) {
    SCaptionServiceInfo& s = c.services[i];
    s.CaptionServiceNumber = static_cast<std::uint8_t>(i + 1);
    put_chars(out, s.Language);
    out.push_back(s.DigitaCC ? static_cast<std::uint8_t>(0xFE | (s.Line21Field ? 1 : 0))
                             : static_cast<std::uint8_t>(0x40 | (s.CaptionServiceNumber & 0x3F)));
    out.push_back(static_cast<std::uint8_t>((s.EasyReader ? 0x80 : 0) | (s.WideAspecRatio ? 0x40 : 0) | 0x3F));
    out.push_back(0xFF);
  }
}

// Descriptors of one stream entry, read by stream type. Loops stop at the first descriptor they do not
// know, or at one that does not fit the entry.
void read_es_descriptors(ByteReader& d, SEsInfo& es) {
  Desc x;
  auto take = [&] { d.skip(2 + x.body.size()); };
  switch (es.StreamType) {
    case 0x02:
    case 0x1B:
      while (peek_desc(d, x)) {
        if (x.tag == 0x05 && x.body.size() >= 8) {
          SHdmvVideoRegistrationDescriptor v;
          copy_chars(v.FormatIdentifier, x.body);
          v.StreamCodingType = x.body[5];
          v.VideoFormat = x.body[6] >> 4;
          v.FrameRate = x.body[6] & 0x0F;
          v.AspectRatio = x.body[7] >> 4;
          es.HdmvVideoRegistrationDescriptor = v;
        } else if (x.tag == 0x28 && x.body.size() >= 4) {
          SAvcVideoDescriptor a;
          a.AvcProfile = x.body[0];
          a.constraint_set0_flag = x.body[1] & 0x80;
          a.constraint_set1_flag = x.body[1] & 0x40;
          a.constraint_set2_flag = x.body[1] & 0x20;
          a.AVC_compatible_flags = x.body[1] & 0x1F;
          a.AvcLevel = x.body[2];
          a.AVC_still_present = x.body[3] & 0x80;
          a.AVC_24_hour_picture_flag = x.body[3] & 0x40;
          es.AvcVideoDescriptor = a;
        } else if (x.tag == 0x2A && x.body.size() >= 2) {
          SAvcTimingHrdDescriptor t;
          t.bytes = {x.body[0], x.body[1]};
          es.AvcTimingHrdDescriptor = t;
        } else if (x.tag == 0x86) {
          SCaptionServiceDescriptor c;
          if (!read_caption(x.body, c)) return;
          es.CaptionServiceDescriptor = std::move(c);
        } else {
          goto language;
        }
        take();
      }
      break;
    case 0x80:
      if (peek_desc(d, x) && x.tag == 0x05 && x.body.size() >= 8) {
        SHdmvLpcmRegistrationDescriptor l;
        copy_chars(l.FormatIdentifier, x.body);
        l.StreamCodingType = x.body[5];
        l.AudioPresentationType = x.body[6] >> 4;
        l.SamplingFrequency = x.body[6] & 0x0F;
        l.BitsPerSample = x.body[7] >> 6;
        es.HdmvLpcmRegistrationDescriptor = l;
        take();
      }
      break;
    case 0x81:
    case 0x83:
    case 0x84:
    case 0xA1:
      if (peek_desc(d, x) && x.tag == 0x05) {
        es.Ac3RegistrationDescriptor = true;
        take();
      }
      if (peek_desc(d, x) && x.tag == 0x81) {
        es.Ac3AudioDescriptor = Bytes(d.data().begin() + d.pos(), d.data().begin() + d.pos() + 2 + x.body.size());
        take();
      }
      break;
    case 0xEA:
      if (peek_desc(d, x) && x.tag == 0x05 && x.body.size() >= 4) {
        SVc1RegistrationDescriptor v;
        copy_chars(v.FormatIdentifier, x.body);
        std::size_t i = 4;
        while (i < x.body.size()) {
          const std::uint8_t sd = x.body[i];
          if (sd == 0x01 && i + 1 < x.body.size()) {
            v.ProfileLevel = x.body[i + 1];
            i += 2;
          } else if (sd == 0x02 && i + 1 < x.body.size()) {
            v.AlignmentType = x.body[i + 1];
            i += 2;
          } else if (sd == 0x03 && i + 3 < x.body.size()) {
            v.has_buffer = true;
            v.BufferSizeExponent = x.body[i + 1] & 0x0F;
            v.HrdBuffer = load_be16(x.body.data() + i + 2);
            i += 4;
          } else if (sd == 0xFF) {
            i += 1;
          } else {
            break;
          }
        }
        es.Vc1RegistrationDescriptor = v;
        take();
        SCaptionServiceDescriptor c;
        if (peek_desc(d, x) && x.tag == 0x86 && read_caption(x.body, c)) {
          es.CaptionServiceDescriptor = std::move(c);
          take();
        }
      }
      break;
    default:
      break;
  }
language:
  if (d.remaining() > 5 && peek_desc(d, x) && x.tag == 0x0A && x.body.size() >= 4) {
    SIso639LanguageDescriptor l;
    copy_chars(l.Language, x.body);
    l.AudioType = x.body[3];
    es.LanguageDescriptor = l;
    take();
  }
}

void write_es(Bytes& out, SEsInfo& es) {
  out.push_back(es.StreamType);
  out.push_back(static_cast<std::uint8_t>(0xE0 | ((es.ElementaryPid >> 8) & 0x1F)));
  out.push_back(static_cast<std::uint8_t>(es.ElementaryPid));
  const std::size_t len_at = out.size();
  out.push_back(0xF0);
  out.push_back(0);
  const std::size_t start = out.size();
  auto video_registration = [&] {
    if (!es.HdmvVideoRegistrationDescriptor) return;
    const auto& v = *es.HdmvVideoRegistrationDescriptor;
    out.push_back(0x05);
    out.push_back(8);
    put_chars(out, v.FormatIdentifier);
    out.push_back(0xFF);
    out.push_back(v.StreamCodingType);
    out.push_back(static_cast<std::uint8_t>((v.VideoFormat << 4) | (v.FrameRate & 0x0F)));
    out.push_back(static_cast<std::uint8_t>((v.AspectRatio << 4) | 0x0F));
  };
  auto caption = [&] {
    if (es.CaptionServiceDescriptor) write_caption(out, *es.CaptionServiceDescriptor);
  };
  switch (es.StreamType) {
    case 0x02:
    case 0x1B:
      video_registration();
      if (es.StreamType == 0x1B) {
        if (es.AvcVideoDescriptor) {
          const auto& a = *es.AvcVideoDescriptor;
          out.push_back(0x28);
          out.push_back(4);
          out.push_back(a.AvcProfile);
          out.push_back(static_cast<std::uint8_t>((a.constraint_set0_flag ? 0x80 : 0) |
                                                  (a.constraint_set1_flag ? 0x40 : 0) |
                                                  (a.constraint_set2_flag ? 0x20 : 0) | (a.AVC_compatible_flags & 0x1F)));
          out.push_back(a.AvcLevel);
          out.push_back(static_cast<std::uint8_t>((a.AVC_still_present ? 0x80 : 0) |
                                                  (a.AVC_24_hour_picture_flag ? 0x40 : 0) | 0x3F));
        }
        if (es.AvcTimingHrdDescriptor) {
          out.push_back(0x2A);
          out.push_back(2);
          out.push_back(es.AvcTimingHrdDescriptor->bytes[0]);
          out.push_back(es.AvcTimingHrdDescriptor->bytes[1]);
        }
      }
      caption();
      break;
    case 0x80:
      if (es.HdmvLpcmRegistrationDescriptor) {
        const auto& l = *es.HdmvLpcmRegistrationDescriptor;
        out.push_back(0x05);
        out.push_back(8);
        put_chars(out, l.FormatIdentifier);
        out.push_back(0xFF);
        out.push_back(l.StreamCodingType);
        out.push_back(static_cast<std::uint8_t>((l.AudioPresentationType << 4) | (l.SamplingFrequency & 0x0F)));
        out.push_back(static_cast<std::uint8_t>((l.BitsPerSample << 6) | 0x3F));
      }
      break;
    case 0x81:
    case 0x83:
    case 0x84:
    case 0xA1:
      if (es.Ac3RegistrationDescriptor) {
        const std::uint8_t reg[] = {0x05, 4, 'A', 'C', '-', '3'};
        out.insert(out.end(), std::begin(reg), std::end(reg));
      }
      if (es.Ac3AudioDescriptor) out.insert(out.end(), es.Ac3AudioDescriptor->begin(), es.Ac3AudioDescriptor->end());
      break;
    case 0xEA:
      if (es.Vc1RegistrationDescriptor) {
        const auto& v = *es.Vc1RegistrationDescriptor;
        out.push_back(0x05);
        const std::size_t l = out.size();
        out.push_back(0);
        put_chars(out, v.FormatIdentifier);
        if (v.ProfileLevel) {
          out.push_back(0x01);
          out.push_back(*v.ProfileLevel);
        }
        if (v.AlignmentType) {
          out.push_back(0x02);
          out.push_back(*v.AlignmentType);
        }
        if (v.has_buffer) {
          out.push_back(0x03);
          out.push_back(static_cast<std::uint8_t>(0xF0 | (v.BufferSizeExponent & 0x0F)));
          out.push_back(static_cast<std::uint8_t>(v.HrdBuffer >> 8));
          out.push_back(static_cast<std::uint8_t>(v.HrdBuffer));
        }
        out[l] = static_cast<std::uint8_t>(out.size() - l - 1);
      }
      caption();
      break;
    default:
      break;
  }
  if (es.LanguageDescriptor) {
    out.push_back(0x0A);
    out.push_back(4);
    put_chars(out, es.LanguageDescriptor->Language);
    out.push_back(es.LanguageDescriptor->AudioType);
  }
  es.ES_IfoLength = static_cast<std::uint16_t>(out.size() - start);
  out[len_at] = static_cast<std::uint8_t>(0xF0 | ((es.ES_IfoLength >> 8) & 0x0F));
  out[len_at + 1] = static_cast<std::uint8_t>(es.ES_IfoLength);
}

}  // namespace

// ---- PAT ----------------------------------------------------------------------------------------------

SPat SPat::make_default() {
  SPat p;
  p.programs = {{0, kPidSit}, {1, kPidPmt}};
  return p;
}

int SPat::parse(ByteSpan section) {
  try {
    ByteReader r(section, "PAT");
    SectionHead h{};
    ByteReader s = read_section_head(r, h, "PAT");
    SPat p;
    take_section_head(p, h);
    p.TransportStreamId = h.id;
    while (s.remaining() >= 8) {
      SPatProgram pi;
      pi.ProgramNumber = s.u16();
      pi.PID = s.u16() & 0x1FFF;
      p.programs.push_back(pi);
    }
    if (s.remaining() != 4) s.fail("program list does not end at the CRC");
    p.CRC32 = s.u32();
    *this = std::move(p);
    return static_cast<int>(r.pos());
  } catch (const ParseError&) {
    return -1;
  }
}

std::size_t SPat::write(Bytes& out) {
  const std::size_t start = out.size();
  ByteWriter w(out);
  w.u8(TableId);
  w.u16(static_cast<std::uint16_t>((SectionSyntaxIndicator ? 0x8000 : 0) | 0x3000));
  w.u16(TransportStreamId);
  w.u8(version_byte(VersionNumber, CurrentNextIndicator));
  w.u8(SectionNumber);
  w.u8(LastSectionNumber);
  for (const SPatProgram& p : programs) {
    w.u16(p.ProgramNumber);
    w.u16(static_cast<std::uint16_t>(0xE000 | (p.PID & 0x1FFF)));
  }
  SectionLength = finish_section(out, start, CRC32);
  return out.size() - start;
}

// ---- SIT ----------------------------------------------------------------------------------------------

int SSit::parse(ByteSpan section) {
  try {
    ByteReader r(section, "SIT");
    SectionHead h{};
    ByteReader s = read_section_head(r, h, "SIT");
    SSit t;
    take_section_head(t, h);
    t.TransmissionInfoLength = s.u16() & 0x0FFF;
    ByteReader d = s.sub(t.TransmissionInfoLength, "SIT transmission info");
    Desc x;
    while (peek_desc(d, x)) {
      if (x.tag == 0x63 && x.body.size() >= 8) {
        auto& p = t.PartialTransportStreamDescriptor;
        p.length = static_cast<std::uint8_t>(x.body.size());
        p.PeakRate = load_be24(x.body.data()) & 0x3FFFFF;
        p.MinimumOverallSmoothingRate = load_be24(x.body.data() + 3) & 0x3FFFFF;
        p.MaximumOverallSmoothingBuffer = load_be16(x.body.data() + 6) & 0x3FFF;
      }
      d.skip(2 + x.body.size());
    }
    if (s.remaining() >= 8) {
      t.ServiceID = s.u16();
      const std::uint16_t v = s.u16();
      t.RunningStatus = (v >> 12) & 7;
      t.ServiceLoopLength = v & 0x0FFF;
      s.skip(std::min<std::size_t>(t.ServiceLoopLength, s.remaining() - 4));
    }
    if (s.remaining() != 4) s.fail("service loop does not end at the CRC");
    t.CRC32 = s.u32();
    *this = t;
    return static_cast<int>(r.pos());
  } catch (const ParseError&) {
    return -1;
  }
}

std::size_t SSit::write(Bytes& out) {
  const std::size_t start = out.size();
  ByteWriter w(out);
  w.u8(TableId);
  w.u16(static_cast<std::uint16_t>((SectionSyntaxIndicator ? 0x8000 : 0) | 0x3000));
  w.u16(0xFFFF);
  w.u8(version_byte(VersionNumber, CurrentNextIndicator));
  w.u8(SectionNumber);
  w.u8(LastSectionNumber);
  TransmissionInfoLength = 10;
  w.u16(static_cast<std::uint16_t>(0xF000 | TransmissionInfoLength));
  const auto& p = PartialTransportStreamDescriptor;
  w.u8(0x63);
  w.u8(8);
  w.u24(0xC00000u | (p.PeakRate & 0x3FFFFF));
  w.u24(0xC00000u | (p.MinimumOverallSmoothingRate & 0x3FFFFF));
  w.u16(static_cast<std::uint16_t>(0xC000 | (p.MaximumOverallSmoothingBuffer & 0x3FFF)));
  w.u16(ServiceID);
  ServiceLoopLength = 0;  // no service descriptors are written
  w.u16(static_cast<std::uint16_t>(0x8000 | ((RunningStatus & 7) << 12) | ServiceLoopLength));
  SectionLength = finish_section(out, start, CRC32);
  return out.size() - start;
}

// ---- PMT ----------------------------------------------------------------------------------------------

int SPmt::parse_header(ByteSpan section) {
  try {
    ByteReader r(section, "PMT");
    TableId = r.u8();
    const std::uint16_t b = r.u16();
    SectionSyntaxIndicator = (b & 0x8000) != 0;
    SectionLength = b & 0x0FFF;
    ProgramNumber = r.u16();
    const std::uint8_t v = r.u8();
    VersionNumber = (v >> 1) & 0x1F;
    CurrentNextIndicator = (v & 1) != 0;
    SectionNumber = r.u8();
    LastSectionNumber = r.u8();
    PcrPid = r.u16() & 0x1FFF;
    ProgramInfoLength = r.u16() & 0x0FFF;
    if (SectionLength < 13 || ProgramInfoLength > SectionLength - 13) return -1;
    return 12;
  } catch (const ParseError&) {
    return -1;
  }
}

int SPmt::parse_body(ByteSpan rest) {
  if (SectionLength < 13 || ProgramInfoLength > SectionLength - 13) return -1;
  try {
    ByteReader r(rest, "PMT");
    ByteReader body = r.sub(SectionLength - 9u, "PMT");
    ByteReader prog = body.sub(ProgramInfoLength, "PMT program info");
    Desc x;
    while (peek_desc(prog, x)) {
      if (x.tag == 0x05 && x.body.size() >= 4) {
        HdmvRegistrationDescriptor.length = static_cast<std::uint8_t>(x.body.size());
        copy_chars(HdmvRegistrationDescriptor.FormatIdentifier, x.body);
      } else if (x.tag == 0x88 && x.body.size() >= 2) {
        HdmvCopyControlDescriptor.length = static_cast<std::uint8_t>(x.body.size());
        HdmvCopyControlDescriptor.fixed = {x.body[0], x.body[1]};
        HdmvCopyControlDescriptor.further.assign(x.body.begin() + 2, x.body.end());
      } else if (x.tag == 0x89) {
        PrivateDescriptor = SPrivateDescriptor{0x89, Bytes(x.body.begin(), x.body.end())};
      } else {
        break;
      }
      prog.skip(2 + x.body.size());
    }
    ByteReader es_loop = body.sub(SectionLength - ProgramInfoLength - 13u, "PMT stream loop");
    streams.clear();
    while (es_loop.remaining() >= 5) {
      SEsInfo es;
      es.StreamType = es_loop.u8();
      es.ElementaryPid = es_loop.u16() & 0x1FFF;
      es.ES_IfoLength = es_loop.u16() & 0x0FFF;
      ByteReader d = es_loop.sub(es.ES_IfoLength, "PMT stream descriptors");
      read_es_descriptors(d, es);
      streams.push_back(std::move(es));
    }
    if (!es_loop.at_end()) es_loop.fail("stream loop ends inside an entry");
    CRC32 = body.u32();
    return static_cast<int>(r.pos());
  } catch (const ParseError&) {
    return -1;
  }
}

int SPmt::parse(ByteSpan section) {
  SPmt p;
  if (p.parse_header(section) <= 0) return -1;
  const int n = p.parse_body(section.subspan(12));
  if (n <= 0) return -1;
  *this = std::move(p);
  return 12 + n;
}

std::size_t SPmt::write(Bytes& out) {
  const std::size_t start = out.size();
  ByteWriter w(out);
  w.u8(TableId);
  w.u16(static_cast<std::uint16_t>((SectionSyntaxIndicator ? 0x8000 : 0) | 0x3000));
  w.u16(ProgramNumber);
  w.u8(version_byte(VersionNumber, CurrentNextIndicator));
  w.u8(SectionNumber);
  w.u8(LastSectionNumber);
  w.u16(static_cast<std::uint16_t>(0xE000 | (PcrPid & 0x1FFF)));
  const std::size_t pil_at = out.size();
  w.u16(0);
  const std::size_t prog_start = out.size();
  w.u8(0x05);
  w.u8(4);
  put_chars(out, HdmvRegistrationDescriptor.FormatIdentifier);
  auto& cc = HdmvCopyControlDescriptor;
  cc.further.resize(std::min<std::size_t>(cc.further.size(), 253));
  cc.length = static_cast<std::uint8_t>(cc.further.size() + 2);
  w.u8(0x88);
  w.u8(cc.length);
  w.u8(cc.fixed[0]);
  w.u8(cc.fixed[1]);
  w.bytes(cc.further);
  if (PrivateDescriptor) {
    PrivateDescriptor->bytes.resize(std::min<std::size_t>(PrivateDescriptor->bytes.size(), 255));
    w.u8(PrivateDescriptor->tag);
    w.u8(static_cast<std::uint8_t>(PrivateDescriptor->bytes.size()));
    w.bytes(PrivateDescriptor->bytes);
  }
  ProgramInfoLength = static_cast<std::uint16_t>(out.size() - prog_start);
  out[pil_at] = static_cast<std::uint8_t>(0xF0 | (ProgramInfoLength >> 8));
  out[pil_at + 1] = static_cast<std::uint8_t>(ProgramInfoLength);
  for (SEsInfo& es : streams) write_es(out, es);
  SectionLength = finish_section(out, start, CRC32);
  return out.size() - start;
}

const SEsInfo* SPmt::find(std::uint16_t pid) const {
  for (const SEsInfo& es : streams)
    if (es.ElementaryPid == pid) return &es;
  return nullptr;
}

bool CPmtAssembler::read_header(ByteSpan first_payload) {
  reset();
  if (header_.parse_header(first_payload) <= 0) return false;
  needed_ = header_.SectionLength - 9u;
  body_.reserve(needed_);
  active_ = true;
  append(first_payload.subspan(12));
  return true;
}

bool CPmtAssembler::append(ByteSpan payload) {
  if (!active_ || complete_) return complete_;
  const std::size_t take = std::min(needed_ - body_.size(), payload.size());
  body_.insert(body_.end(), payload.begin(), payload.begin() + take);
  complete_ = body_.size() == needed_;
  return complete_;
}

std::optional<SPmt> CPmtAssembler::take() {
  if (!complete_) return std::nullopt;
  SPmt p = header_;
  const bool ok = p.parse_body(body_) > 0;
  reset();
  if (!ok) return std::nullopt;
  return p;
}

void CPmtAssembler::reset() {
  header_ = SPmt{};
  body_.clear();
  needed_ = 0;
  active_ = false;
  complete_ = false;
}

// ---- packets ------------------------------------------------------------------------------------------

namespace {

std::size_t write_header_and_field(const SPsiPacketContext& ctx, std::uint8_t* packet) {
  ctx.header.write(packet);
  std::size_t pos = 4;
  if (ctx.header.has_adaptation_field()) {
    if (!ctx.adaptation_field) return 0;
    const std::size_t n = ctx.adaptation_field->write(packet + 4, kTsPacketSize - 4);
    if (n == 0) return 0;
    pos += n;
  }
  return pos;
}

}  // namespace

std::size_t write_psi_packet(SPsiPacketContext& ctx, std::uint8_t* packet) {
  std::size_t pos = write_header_and_field(ctx, packet);
  if (pos == 0) return 0;
  const std::uint16_t pid = ctx.header.PID;
  if (pid == kPidPat || pid == kPidSit) {
    Bytes section;
    if (pid == kPidPat && ctx.pat) ctx.pat->write(section);
    if (pid == kPidSit && ctx.sit) ctx.sit->write(section);
    if (section.empty()) return pos;
    if (pos + 1 + section.size() > kTsPacketSize) return 0;
    packet[pos++] = 0x00;
    std::memcpy(packet + pos, section.data(), section.size());
    return pos + section.size();
  }
  if (is_elementary_pid(pid) && ctx.header.PayloadUnitStartIndicator && ctx.pes) {
    const std::size_t n = ctx.pes->write(packet + pos, kTsPacketSize - pos);
    if (n == 0) return 0;
    pos += n;
  }
  return pos;
}

std::size_t write_pmt_packet(SPsiPacketContext& ctx, std::uint8_t* packet, ByteSpan pmt_left, bool first) {
  ctx.header.PayloadUnitStartIndicator = first;
  std::size_t pos = write_header_and_field(ctx, packet);
  if (pos == 0 || (first && pos >= kTsPacketSize)) return 0;
  if (first) packet[pos++] = 0x00;
  const std::size_t take = std::min(pmt_left.size(), kTsPacketSize - pos);
  if (take) std::memcpy(packet + pos, pmt_left.data(), take);
  return take;
}

Bytes SHdmvCopyControlDescriptor::default_further() {
  Bytes b(2, 0xFF);
  b[1] = 0xFC;
  return b;
}

}  // namespace veld
