// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/psi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "support/test_support.h"
#include "veld/ts/transport.h"

namespace veld {
namespace {

using test::hex_bytes;

// Bitwise CRC-32/MPEG-2, written independently of the table-driven product code.
std::uint32_t reference_crc(ByteSpan data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : data) {
    for (int i = 7; i >= 0; --i) {
      const bool bit = ((crc >> 31) & 1u) != static_cast<std::uint32_t>((b >> i) & 1);
      crc <<= 1;
      if (bit) crc ^= 0x04C11DB7u;
    }
  }
  return crc;
}

// A checker accepts a section when the CRC over the whole section, CRC included, is 0.
void expect_crc_ok(const Bytes& section) {
  ASSERT_GE(section.size(), 4u);
  EXPECT_EQ(reference_crc(section), 0u);
  const std::uint32_t stored = load_be32(section.data() + section.size() - 4);
  EXPECT_EQ(stored, reference_crc(ByteSpan(section.data(), section.size() - 4)));
}

TEST(PatTest, DefaultTableBytesAndCrc) {
  SPat pat = SPat::make_default();
  Bytes out;
  ASSERT_EQ(pat.write(out), 20u);
  const Bytes body = hex_bytes("00 B0 11 00 00 C1 00 00 00 00 E0 1F 00 01 E1 00");
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), body);
  expect_crc_ok(out);
  EXPECT_EQ(pat.SectionLength, 0x11);
  EXPECT_EQ(pat.CRC32, load_be32(out.data() + 16));

  SPat back;
  ASSERT_EQ(back.parse(out), 20);
  EXPECT_EQ(back, pat);
  ASSERT_EQ(back.programs.size(), 2u);
  EXPECT_EQ(back.programs[1].ProgramNumber, 1);
  EXPECT_EQ(back.programs[1].PID, 0x0100);
}

TEST(PatTest, MalformedSectionsAreRejected) {
  SPat pat = SPat::make_default();
  Bytes out;
  pat.write(out);
  SPat p;
  for (std::size_t n = 0; n < out.size(); ++n) EXPECT_LE(p.parse(ByteSpan(out.data(), n)), 0) << n;
  Bytes bad = out;
  bad[2] = 0x05;  // section length below the fixed part
  EXPECT_LE(p.parse(bad), 0);
  bad = out;
  bad[2] = 0x12;  // program list no longer ends at the CRC
  bad.push_back(0);
  EXPECT_LE(p.parse(bad), 0);
}

TEST(SitTest, MultiplexerTableBytes) {
  SSit sit;
  Bytes out;
  ASSERT_EQ(sit.write(out), 28u);
  EXPECT_EQ(Bytes(out.begin(), out.end() - 4),
            hex_bytes("7F B0 19 FF FF C1 00 00 F0 0A 63 08 C1 D4 C0 FF FF FF FF FF 00 01 80 00"));
  EXPECT_EQ(sit.SectionLength, 25);
  expect_crc_ok(out);
  SSit back;
  ASSERT_EQ(back.parse(out), 28);
  EXPECT_EQ(back, sit);
}

TEST(PmtTest, DefaultTable) {
  SPmt pmt;
  Bytes out;
  pmt.write(out);
  EXPECT_EQ(pmt.ProgramInfoLength, 12);
  EXPECT_EQ(Bytes(out.begin(), out.end() - 4),
            hex_bytes("02 B0 19 00 01 C1 00 00 F0 01 F0 0C 05 04 48 44 4D 56 88 04 0F FF FF FC"));
  expect_crc_ok(out);
}

SEsInfo video_entry() {
  SEsInfo es;
  es.StreamType = 0x1B;
  es.ElementaryPid = 0x1011;
  es.HdmvVideoRegistrationDescriptor = SHdmvVideoRegistrationDescriptor{{'H', 'D', 'M', 'V'}, 0x1B, 6, 4, 3};
  es.AvcVideoDescriptor = SAvcVideoDescriptor{100, true, false, true, 0x05, 41, true, false};
  es.AvcTimingHrdDescriptor = SAvcTimingHrdDescriptor{0x2A, {0x12, 0x34}};
  SCaptionServiceDescriptor cc;
  SCaptionServiceInfo a;
  a.Language = {'e', 'n', 'g'};
  a.CaptionServiceNumber = 1;
  SCaptionServiceInfo b;
  b.DigitaCC = true;
  b.Line21Field = true;
  b.EasyReader = false;
  b.WideAspecRatio = true;
  cc.services = {a, b};
  es.CaptionServiceDescriptor = cc;
  return es;
}

SPmt rich_pmt() {
  SPmt pmt;
  pmt.PrivateDescriptor = SPrivateDescriptor{0x89, {1, 2, 3}};
  pmt.streams.push_back(video_entry());
  SEsInfo lpcm;
  lpcm.StreamType = 0x80;
  lpcm.ElementaryPid = 0x1100;
  lpcm.HdmvLpcmRegistrationDescriptor = SHdmvLpcmRegistrationDescriptor{{'H', 'D', 'M', 'V'}, 0x80, 3, 1, 2};
  lpcm.LanguageDescriptor = SIso639LanguageDescriptor{{'e', 'n', 'g'}, 0};
  pmt.streams.push_back(lpcm);
  SEsInfo ac3;
  ac3.StreamType = 0x81;
  ac3.ElementaryPid = 0x1101;
  ac3.Ac3RegistrationDescriptor = true;
  ac3.Ac3AudioDescriptor = hex_bytes("81 03 08 28 05");
  ac3.LanguageDescriptor = SIso639LanguageDescriptor{{'f', 'r', 'a'}, 1};
  pmt.streams.push_back(ac3);
  SEsInfo vc1;
  vc1.StreamType = 0xEA;
  vc1.ElementaryPid = 0x1B00;
  SVc1RegistrationDescriptor v;
  v.ProfileLevel = 0x64;
  v.has_buffer = true;
  v.BufferSizeExponent = 7;
  v.HrdBuffer = 0x1234;
  vc1.Vc1RegistrationDescriptor = v;
  pmt.streams.push_back(vc1);
  SEsInfo ig;
  ig.StreamType = 0x91;
  ig.ElementaryPid = 0x1400;
  ig.LanguageDescriptor = SIso639LanguageDescriptor{{'d', 'e', 'u'}, 0};
  pmt.streams.push_back(ig);
  return pmt;
}

Bytes rich_pmt_bytes_for_test() {
  SPmt p = rich_pmt();
  Bytes b;
  p.write(b);
  return b;
}

TEST(PmtTest, EveryDescriptorSurvivesWriteAndRead) {
  SPmt pmt = rich_pmt();
  Bytes out;
  pmt.write(out);
  // A digital caption service carries no service number in its bytes.
  pmt.streams[0].CaptionServiceDescriptor->services[1].CaptionServiceNumber = 0;
  expect_crc_ok(out);
  EXPECT_EQ(pmt.SectionLength + 3u, out.size());
  SPmt back;
  ASSERT_EQ(back.parse(out), static_cast<int>(out.size()));
  EXPECT_EQ(back, pmt);
  Bytes again;
  back.write(again);
  EXPECT_EQ(again, out);

  // Byte layout of the video entry's descriptors, in their fixed order.
  const SEsInfo& v = back.streams[0];
  EXPECT_EQ(v.ES_IfoLength, 10 + 6 + 4 + 15);
  const Bytes expect_video = hex_bytes(
      "1B F0 11 F0 23 05 08 48 44 4D 56 FF 1B 64 3F 28 04 64 A5 29 BF 2A 02 12 34"
      "86 0D E2 65 6E 67 41 BF FF 7A 68 6F FF 7F FF");
  const Bytes pi = hex_bytes("89 03 01 02 03");
  const std::size_t at = 12 + 12 + pi.size();
  EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + expect_video.size()), expect_video);
}

TEST(PmtTest, CaptionServicesAreRenumbered) {
  SPmt pmt;
  SEsInfo es = video_entry();
  es.CaptionServiceDescriptor->services[0].CaptionServiceNumber = 3;
  es.CaptionServiceDescriptor->services[1].DigitaCC = false;
  es.CaptionServiceDescriptor->services[1].CaptionServiceNumber = 7;
  pmt.streams.push_back(es);
  Bytes out;
  pmt.write(out);
  SPmt back;
  ASSERT_GT(back.parse(out), 0);
  const auto& s = back.streams[0].CaptionServiceDescriptor->services;
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].CaptionServiceNumber, 1);
  EXPECT_EQ(s[1].CaptionServiceNumber, 2);
}

// A PMT section assembled by hand, for descriptor rules on reading.
Bytes section(std::uint16_t pcr_pid, const Bytes& program_info, const Bytes& streams) {
  Bytes s = {0x02, 0xB0, 0x00, 0x00, 0x01, 0xC1, 0x00, 0x00};
  s.push_back(static_cast<std::uint8_t>(0xE0 | (pcr_pid >> 8)));
  s.push_back(static_cast<std::uint8_t>(pcr_pid));
  s.push_back(static_cast<std::uint8_t>(0xF0 | (program_info.size() >> 8)));
  s.push_back(static_cast<std::uint8_t>(program_info.size()));
  s.insert(s.end(), program_info.begin(), program_info.end());
  s.insert(s.end(), streams.begin(), streams.end());
  const std::size_t len = s.size() - 3 + 4;
  s[1] = static_cast<std::uint8_t>(0xB0 | (len >> 8));
  s[2] = static_cast<std::uint8_t>(len);
  const std::uint32_t crc = reference_crc(s);
  s.push_back(static_cast<std::uint8_t>(crc >> 24));
  s.push_back(static_cast<std::uint8_t>(crc >> 16));
  s.push_back(static_cast<std::uint8_t>(crc >> 8));
  s.push_back(static_cast<std::uint8_t>(crc));
  return s;
}

TEST(PmtTest, UnknownDescriptorsAreDroppedWithWhatFollows) {
  // Program info: registration, private 0x89, unknown 0x99, then a copy control that is lost with it.
  const Bytes prog = hex_bytes("05 04 48 44 4D 56 89 02 AA BB 99 01 00 88 04 0F FF 00 01");
  // Video entry: registration, unknown tag 0x52 ends the loop, language after it is still read.
  // AC-3 entry: registration read with length 6, AC-3 descriptor, language.
  const Bytes streams = hex_bytes(
      "1B F0 11 F0 13 05 08 48 44 4D 56 FF 1B 61 3F 52 01 00 0A 04 65 6E 67 00"
      "81 F1 00 F0 13 05 06 41 43 2D 33 00 00 81 03 08 28 05 0A 04 6A 70 6E 00"
      "91 F4 00 F0 08 7F 00 0A 04 64 65 75 00");
  const Bytes s = section(0x1001, prog, streams);
  SPmt pmt;
  ASSERT_EQ(pmt.parse(s), static_cast<int>(s.size()));
  ASSERT_TRUE(pmt.PrivateDescriptor);
  EXPECT_EQ(pmt.PrivateDescriptor->bytes, hex_bytes("AA BB"));
  // The copy control descriptor after the unknown tag was not read: the defaults stay.
  EXPECT_EQ(pmt.HdmvCopyControlDescriptor.further, hex_bytes("FF FC"));
  ASSERT_EQ(pmt.streams.size(), 3u);
  EXPECT_TRUE(pmt.streams[0].HdmvVideoRegistrationDescriptor);
  // The unknown tag 0x52 ends the video loop, and the language behind it is not reached.
  EXPECT_FALSE(pmt.streams[0].LanguageDescriptor);
  ASSERT_TRUE(pmt.streams[1].LanguageDescriptor);
  EXPECT_EQ(pmt.streams[1].LanguageDescriptor->Language, (std::array<char, 3>{'j', 'p', 'n'}));
  EXPECT_TRUE(pmt.streams[1].Ac3RegistrationDescriptor);
  EXPECT_EQ(*pmt.streams[1].Ac3AudioDescriptor, hex_bytes("81 03 08 28 05"));
  // An unknown descriptor in front of the language ends the IG entry's descriptors.
  EXPECT_FALSE(pmt.streams[2].LanguageDescriptor);
  EXPECT_EQ(pmt.find(0x1400), &pmt.streams[2]);

  Bytes out;
  pmt.write(out);
  const Bytes expect_prog = hex_bytes("05 04 48 44 4D 56 88 04 0F FF FF FC 89 02 AA BB");
  EXPECT_EQ(Bytes(out.begin() + 12, out.begin() + 12 + expect_prog.size()), expect_prog);
  // The AC-3 registration is written back with length 4.
  const Bytes ac3 = hex_bytes("81 F1 00 F0 11 05 04 41 43 2D 33 81 03 08 28 05 0A 04 6A 70 6E 00");
  const std::size_t at = 12 + expect_prog.size() + 5 + 10;
  EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + ac3.size()), ac3);
  expect_crc_ok(out);
}

TEST(PmtTest, Vc1SubDescriptorsAndCaption) {
  // VC-1 registration: sub 1, a 255 filler, sub 3, then sub 9 ends the list; caption service follows.
  const Bytes streams = hex_bytes(
      "EA F0 11 F0 17 05 0C 56 43 2D 31 01 64 FF 03 F7 12 34 09 86 07 E1 65 6E 67 05 80 FF");
  const Bytes s = section(0x1001, {}, streams);
  SPmt pmt;
  ASSERT_GT(pmt.parse(s), 0);
  const auto& v = pmt.streams[0].Vc1RegistrationDescriptor;
  ASSERT_TRUE(v);
  EXPECT_EQ(v->ProfileLevel, 0x64);
  EXPECT_FALSE(v->AlignmentType);
  EXPECT_TRUE(v->has_buffer);
  EXPECT_EQ(v->BufferSizeExponent, 7);
  EXPECT_EQ(v->HrdBuffer, 0x1234);
  ASSERT_TRUE(pmt.streams[0].CaptionServiceDescriptor);
  EXPECT_EQ(pmt.streams[0].CaptionServiceDescriptor->services.size(), 1u);
  EXPECT_EQ(pmt.streams[0].CaptionServiceDescriptor->services[0].CaptionServiceNumber, 5);
}

TEST(PmtTest, MalformedSectionsNeverOverrun) {
  const Bytes good = rich_pmt_bytes_for_test();
  SPmt pmt;
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_LE(pmt.parse(ByteSpan(good.data(), n)), 0) << n;
  // An entry whose descriptor length runs past the section.
  const Bytes s = section(0x1001, {}, hex_bytes("91 F4 00 F0 40 0A 04 65 6E 67 00"));
  EXPECT_LE(pmt.parse(s), 0);
  // Program info longer than the section.
  Bytes bad = section(0x1001, {}, {});
  bad[11] = 0x40;
  EXPECT_LE(pmt.parse(bad), 0);
  // Every single-byte corruption parses or fails cleanly.
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (std::uint8_t x : {0x01, 0x80, 0xFF}) {
      Bytes c = good;
      c[i] ^= x;
      SPmt p;
      p.parse(c);
    }
  }
}

TEST(PmtPacketsTest, LongSectionSplitsWithoutSecondPointerField) {
  SPmt pmt = rich_pmt();
  for (int i = 0; i < 12; ++i) {
    SEsInfo pg;
    pg.StreamType = 0x90;
    pg.ElementaryPid = static_cast<std::uint16_t>(0x1200 + i);
    pg.LanguageDescriptor = SIso639LanguageDescriptor{{'s', 'p', 'a'}, 0};
    pmt.streams.push_back(pg);
  }
  Bytes sec;
  pmt.write(sec);
  ASSERT_GT(sec.size(), 183u);
  ASSERT_LE(sec.size(), 183u + 184u);

  SPsiPacketContext ctx;
  ctx.header.PID = kPidPmt;
  std::uint8_t p1[188], p2[188];
  std::memset(p1, 0xFF, 188);
  std::memset(p2, 0xFF, 188);
  const std::size_t a = write_pmt_packet(ctx, p1, sec, true);
  EXPECT_EQ(a, 183u);
  EXPECT_EQ(p1[1] & 0x40, 0x40);
  EXPECT_EQ(p1[4], 0x00);  // pointer field
  EXPECT_EQ(0, std::memcmp(p1 + 5, sec.data(), 183));
  ctx.header.ContinuityCounter = 1;
  const std::size_t b = write_pmt_packet(ctx, p2, ByteSpan(sec).subspan(a), false);
  EXPECT_EQ(b, sec.size() - 183);
  EXPECT_EQ(p2[1] & 0x40, 0);
  EXPECT_EQ(ts_pid(p2), kPidPmt);
  EXPECT_EQ(0, std::memcmp(p2 + 4, sec.data() + 183, b));

  // The packet reader assembles the section again.
  CTsPacketReader reader;
  EXPECT_EQ(reader.read(p1), 188);
  EXPECT_FALSE(reader.pmt());
  EXPECT_EQ(reader.read(p2), 188);
  ASSERT_TRUE(reader.pmt());
  pmt.streams[0].CaptionServiceDescriptor->services[1].CaptionServiceNumber = 0;  // digital: not stored
  EXPECT_EQ(*reader.pmt(), pmt);
}

TEST(PsiPacketTest, PatAndSitPacketsAndPcrPacket) {
  SPsiPacketContext pat;
  pat.header.PID = kPidPat;
  pat.pat = SPat::make_default();
  std::uint8_t p[188];
  std::memset(p, 0xFF, 188);
  EXPECT_EQ(write_psi_packet(pat, p), 4u + 1 + 20);
  EXPECT_EQ(Bytes(p, p + 21), hex_bytes("47 40 00 10 00 00 B0 11 00 00 C1 00 00 00 00 E0 1F 00 01 E1 00"));
  EXPECT_EQ(p[25], 0xFF);

  CTsPacketReader reader;
  EXPECT_EQ(reader.read(p), 5);
  ASSERT_TRUE(reader.pat());
  EXPECT_EQ(*reader.pat(), *pat.pat);
  std::uint8_t again[188];
  std::memset(again, 0xFF, 188);
  EXPECT_EQ(reader.write(again), 25u);
  EXPECT_EQ(0, std::memcmp(p, again, 188));

  SPsiPacketContext pcr;
  pcr.header.PID = kPidPcr;
  pcr.header.PayloadUnitStartIndicator = false;
  pcr.header.AdapationFieldControl = 2;
  SAdaptationField f;
  f.PCR_Flag = true;
  f.PCR = {0x1FFFFFFFFull, 299};
  f.StuffingSize = 176;
  pcr.adaptation_field = f;
  std::uint8_t q[188];
  EXPECT_EQ(write_psi_packet(pcr, q), 188u);
  EXPECT_EQ(Bytes(q, q + 12), hex_bytes("47 10 01 20 B7 10 FF FF FF FF FF 2B"));
  EXPECT_EQ(q[187], 0xFF);
}

TEST(LanguageTableTest, CodesNamesAndOddities) {
  const auto table = language_table();
  ASSERT_EQ(table.size(), 486u);
  EXPECT_STREQ(table.front().code, "abk");
  EXPECT_STREQ(table.front().name, "Abkhazian");
  EXPECT_STREQ(table.back().code, "zun");
  EXPECT_STREQ(table.back().name, "Zuni");
  int ast = 0;
  std::set<std::string> codes;
  for (const auto& l : table) {
    EXPECT_EQ(std::string_view(l.code).size(), 3u);
    EXPECT_FALSE(std::string_view(l.name).empty());
    if (std::string_view(l.code) == "ast") {
      ++ast;
      EXPECT_STREQ(l.name, "Asturian; Bable");
    }
    codes.insert(l.code);
  }
  EXPECT_EQ(ast, 2);
  EXPECT_EQ(codes.size(), 485u);
  EXPECT_EQ(language_name("Bok"), "Norwegian");
  EXPECT_EQ(language_name("eng"), "English");
  EXPECT_EQ(language_name("fra"), "French");
  EXPECT_EQ(language_name("zho"), "Chinese");
  EXPECT_EQ(language_name("xyz"), "");
}

}  // namespace
}  // namespace veld
