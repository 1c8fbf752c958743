// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/ts_packet.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"

namespace veld {
namespace {

using test::hex_bytes;

TEST(TimeStampTest, LayoutPrefixAndMarkers) {
  struct Case {
    std::uint8_t prefix;
    std::uint64_t value;
    const char* hex;
  };
  for (const Case& c : {Case{2, 0x123456789ull, "29 8D 15 CF 13"}, Case{3, 0x1FFFFFFFFull, "3F FF FF FF FF"},
                        Case{1, 90000, "11 00 05 BF 21"}}) {
    const Bytes expect = hex_bytes(c.hex);
    const STimeStamp t = STimeStamp::parse(expect.data());
    EXPECT_EQ(t.prefix, c.prefix);
    EXPECT_EQ(t.value, c.value);
    std::uint8_t out[5];
    t.write(out);
    EXPECT_EQ(Bytes(out, out + 5), expect);
  }
  // Rewriting keeps the prefix and whatever the marker bits were.
  Bytes b = hex_bytes("20 00 00 00 00");
  STimeStamp::rewrite_value(b.data(), 0x1FFFFFFFFull);
  EXPECT_EQ(b, hex_bytes("2E FF FE FF FE"));
  EXPECT_EQ(STimeStamp::parse(b.data()).value, 0x1FFFFFFFFull);
}

TEST(SourcePacketTest, HeaderFields) {
  const Bytes b = hex_bytes("C1 23 45 67");
  const SSourcePacketHeader h = SSourcePacketHeader::parse(b.data());
  EXPECT_EQ(h.CopyPermissionIndicator, 3);
  EXPECT_EQ(h.ArriveTimeStamp, 0x01234567u);
  std::uint8_t out[4];
  h.write(out);
  EXPECT_EQ(Bytes(out, out + 4), b);
}

TEST(TsHeaderTest, FieldsAndInitialState) {
  const STsHeader initial;
  EXPECT_EQ(initial.SyncByte, 0x47);
  EXPECT_EQ(initial.PID, 0x1FFF);
  EXPECT_TRUE(initial.PayloadUnitStartIndicator);
  EXPECT_EQ(initial.AdapationFieldControl, 1);

  const Bytes b = hex_bytes("47 F4 01 B7");
  const STsHeader h = STsHeader::parse(b.data());
  EXPECT_TRUE(h.TransportErrorIndicator);
  EXPECT_TRUE(h.PayloadUnitStartIndicator);
  EXPECT_TRUE(h.TransportPriority);
  EXPECT_EQ(h.PID, 0x1401);
  EXPECT_EQ(h.TransportScramblingControl, 2);
  EXPECT_EQ(h.AdapationFieldControl, 3);
  EXPECT_EQ(h.ContinuityCounter, 7);
  std::uint8_t out[4];
  h.write(out);
  EXPECT_EQ(Bytes(out, out + 4), b);

  Bytes p = b;
  ts_set_pid(p.data(), 0x1B05);
  EXPECT_EQ(p, hex_bytes("47 FB 05 B7"));
  EXPECT_EQ(ts_pid(p.data()), 0x1B05);
}

TEST(AdaptationFieldTest, EveryOptionalPartRoundTrips) {
  // PCR, OPCR, splice countdown, 2 private bytes, extension with LTW, piecewise rate and seamless
  // splice, one extra extension byte, then 3 stuffing bytes.
  const Bytes b = hex_bytes(
      "21 FF 00 00 00 01 7F 2B 80 00 00 00 FE 00 FB 02 AB CD"
      "0C FF 80 12 C0 00 21 29 8D 15 CF 13 77 FF FF FF");
  ASSERT_EQ(b.size(), 1u + 0x21);
  SAdaptationField f;
  ASSERT_EQ(f.parse(b), 0x22);
  EXPECT_TRUE(f.DiscontinuityIndicator && f.RandomAccessIndicator && f.ElementaryStreamPriorityIndicator);
  EXPECT_TRUE(f.PCR_Flag && f.OPCR_Flag && f.SplicingPointFlag && f.TransportPrivateDataFlag);
  EXPECT_TRUE(f.AdaptationFieldExtensionFlag);
  EXPECT_EQ(f.PCR.Base, 2u);
  EXPECT_EQ(f.PCR.Extension, 0x12B);
  EXPECT_EQ(f.OPCR.Base, 0x100000001ull);
  EXPECT_EQ(f.OPCR.Extension, 0);
  EXPECT_EQ(f.SpliceCountdown, -5);
  EXPECT_EQ(Bytes(f.PrivateDataByte.begin(), f.PrivateDataByte.end()), hex_bytes("AB CD"));
  EXPECT_EQ(f.AdaptationFieldExtensionLength, 0x0C);
  EXPECT_TRUE(f.LtwFlag && f.PiecewiseRateFlag && f.SeamlessSpliceFlag);
  EXPECT_TRUE(f.LtwValidFlag);
  EXPECT_EQ(f.LtwOffset, 0x12);
  EXPECT_EQ(f.PiecewiseRate, 0x21u);
  EXPECT_EQ(f.SpliceType, 2);
  EXPECT_EQ(f.DTS_NextAU.value, 0x123456789ull);
  EXPECT_EQ(Bytes(f.ExtensionExtraBytes.begin(), f.ExtensionExtraBytes.end()), hex_bytes("77"));
  EXPECT_EQ(f.StuffingSize, 3u);

  std::uint8_t out[183];
  ASSERT_EQ(f.write(out, sizeof out), b.size());
  EXPECT_EQ(Bytes(out, out + b.size()), b);
  EXPECT_EQ(f.write(out, b.size() - 1), 0u);
}

TEST(AdaptationFieldTest, EmptyAndMalformed) {
  SAdaptationField f;
  const Bytes zero = hex_bytes("00");
  ASSERT_EQ(f.parse(zero), 1);
  EXPECT_TRUE(f.Empty);
  std::uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(f.write(out, 4), 1u);
  EXPECT_EQ(out[0], 0);

  EXPECT_LE(f.parse({}), 0);
  EXPECT_LE(f.parse(hex_bytes("07 10 00 00")), 0);   // length beyond the data
  EXPECT_LE(f.parse(hex_bytes("03 10 00 00")), 0);   // PCR does not fit the length
  EXPECT_LE(f.parse(hex_bytes("03 02 05 00")), 0);   // private data beyond the field
  EXPECT_LE(f.parse(hex_bytes("04 01 03 20 00")), 0);  // splice DTS beyond the extension
  // Too large to fit a packet.
  SAdaptationField big;
  big.StuffingSize = 183;
  EXPECT_EQ(big.write(out, 4), 0u);
}

TEST(PesHeaderTest, PtsAndDts) {
  const Bytes b = hex_bytes("00 00 01 E0 00 00 84 C0 0A 31 00 05 BF 21 11 00 05 A7 B1 AA");
  SPesHeader h;
  ASSERT_EQ(h.parse(b), 19);
  EXPECT_EQ(h.StreamID, 0xE0);
  EXPECT_TRUE(h.DataAlignmentIndicator);
  EXPECT_EQ(h.PTS_DTS_Flag, 3);
  EXPECT_EQ(h.PTS.value, 90000u);
  EXPECT_EQ(h.DTS.value, 90000u - 3000u);
  EXPECT_EQ(h.decode_time(), 87000u);
  EXPECT_EQ(h.header_size(), 19u);
  std::uint8_t out[64];
  ASSERT_EQ(h.write(out, sizeof out), 19u);
  EXPECT_EQ(Bytes(out, out + 19), Bytes(b.begin(), b.begin() + 19));

  // PTS only, with two stuffing bytes kept.
  const Bytes c = hex_bytes("00 00 01 BD 01 00 81 80 07 21 00 05 BF 21 FF FF");
  ASSERT_EQ(h.parse(c), 16);
  EXPECT_FALSE(h.has_dts());
  EXPECT_EQ(h.decode_time(), 90000u);
  EXPECT_EQ(h.StuffingSize, 2u);
  ASSERT_EQ(h.write(out, sizeof out), 16u);
  EXPECT_EQ(Bytes(out, out + 16), c);
}

TEST(PesHeaderTest, EveryOptionalFieldRoundTrips) {
  // ESCR, ES rate, trick mode (slow motion), additional copy info, CRC, extension with private data,
  // pack header, sequence counter, P-STD buffer and a 2-byte extension field (stream id extension).
  Bytes b = hex_bytes("00 00 01 FD 12 34 8F BF 00");
  const Bytes fields = hex_bytes(
      "21 00 05 BF 21"        // PTS
      "44 00 04 00 04 01"     // ESCR
      "80 00 C9"              // ES rate 100
      "35"                    // trick mode 1, field rep 0x15
      "85"                    // additional copy info 5
      "BE EF"                 // previous CRC
      "FF"                    // extension flags (reserved bits 1)
      "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"
      "02 AA BB"              // pack header
      "85 C3"                 // sequence counter 5, MPEG-2 identifier, stuff length 3
      "7F FF"                 // P-STD scale 1, size 0x1FFF
      "82 71 00"              // extension field: 2 bytes
      "FF");                  // stuffing
  b.insert(b.end(), fields.begin(), fields.end());
  b[8] = static_cast<std::uint8_t>(fields.size());
  b[7] = 0xBF;
  SPesHeader h;
  ASSERT_EQ(h.parse(b), static_cast<int>(b.size()));
  EXPECT_EQ(h.ES_Rate, 100u);
  EXPECT_EQ(h.TrickModeControl, 1);
  EXPECT_EQ(h.FieldRepCntrl, 0x15);
  EXPECT_EQ(h.AdditionalCopyInfo, 5);
  EXPECT_EQ(h.PreviousPES_PacketCRC, 0xBEEF);
  EXPECT_EQ(h.PES_PrivateData.size(), 16u);
  EXPECT_EQ(h.PackFieldLength, 2);
  EXPECT_EQ(h.ProgramPacketSequenceCounter, 5);
  EXPECT_TRUE(h.MPEG1_MPEG2_Identifier);
  EXPECT_EQ(h.OrigianlStuffLength, 3);
  EXPECT_TRUE(h.P_STD_BufferScale);
  EXPECT_EQ(h.P_STD_BufferSize, 0x1FFF);
  EXPECT_EQ(h.PES_ExtensionFieldLength, 2);
  EXPECT_EQ(h.PES_ExtensionField[0], 0x71);
  EXPECT_EQ(h.StuffingSize, 1u);
  std::uint8_t out[128];
  ASSERT_EQ(h.write(out, sizeof out), b.size());
  EXPECT_EQ(Bytes(out, out + b.size()), b);
}

TEST(PesHeaderTest, ShortFormAndMalformed) {
  SPesHeader h;
  ASSERT_EQ(h.parse(hex_bytes("00 00 01 BF 00 10 AA")), 6);
  EXPECT_TRUE(h.ShortHeader);
  EXPECT_FALSE(h.has_pts());
  EXPECT_LE(h.parse(hex_bytes("00 00 02 E0 00 00 80 80 05 21 00 05 BF 21")), 0);  // no start code
  EXPECT_LE(h.parse(hex_bytes("00 00 01 E0 00 00 80 80 08 21 00 05 BF 21")), 0);  // runs past the data
  EXPECT_LE(h.parse(hex_bytes("00 00 01 E0 00 00 80 C0 05 21 00 05 BF 21")), 0);  // DTS does not fit
  EXPECT_LE(h.parse(hex_bytes("00 00 01 E0 00 00 40 80 05 21 00 05 BF 21")), 0);  // not '10'
  EXPECT_LE(h.parse(hex_bytes("00 00 01 E0 00")), 0);
}

TEST(TsPacketTest, PayloadOffset) {
  std::uint8_t p[188] = {0x47, 0x40, 0x11, 0x10};
  EXPECT_EQ(ts_payload_offset(p), 4);
  p[3] = 0x30;
  p[4] = 7;
  EXPECT_EQ(ts_payload_offset(p), 12);
  p[4] = 183;
  EXPECT_EQ(ts_payload_offset(p), 188);
  p[4] = 184;
  EXPECT_EQ(ts_payload_offset(p), 0);
  p[0] = 0x46;
  EXPECT_EQ(ts_payload_offset(p), 0);
}

}  // namespace
}  // namespace veld
