// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clpi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

namespace veld {
namespace {

STREAM_INFO stream(std::uint16_t pid, std::uint8_t type) {
  STREAM_INFO s;
  s.StreamPID = pid;
  s.StreamCodingInfo.CodingType = type;
  s.StreamCodingInfo.Length = has_coding_attributes(type) ? 21 : 17;
  return s;
}

KEY_POINT_INFO kp(std::uint64_t pts, std::uint32_t spn) {
  KEY_POINT_INFO k;
  k.PTS = pts;
  k.SpnStart = spn;
  return k;
}

// A clip with one stream of every attribute kind, one STC sequence and an EP map of two PIDs.
SClpiData sample() {
  SClpiData d;
  d.ClipInfo.ApplicationType = 5;
  d.ClipInfo.TsRecordingRate = 6000000;
  d.ClipInfo.NumberOfSourcePackets = 0x12345;
  d.stc_info().push_back({0x1001, 0, 0x00010000, 0x00200000});

  STREAM_INFO video = stream(0x1011, 0x1B);
  video.StreamCodingInfo.VideoFormat = 6;
  video.StreamCodingInfo.FrameRate = 4;
  video.StreamCodingInfo.AspectRatio = 3;
  video.StreamCodingInfo.Isrc.CountryCode = {'N', 'L'};
  video.StreamCodingInfo.Isrc.RecordingNumber = {'1', '2', '3', '4', '5'};
  STREAM_INFO audio = stream(0x1100, 0x81);
  audio.StreamCodingInfo.PresentationType = 3;
  audio.StreamCodingInfo.SamplingFrequency = 1;
  audio.StreamCodingInfo.set_language("eng");
  STREAM_INFO pg = stream(0x1200, 0x90);
  pg.StreamCodingInfo.set_language("deu");
  STREAM_INFO ig = stream(0x1400, 0x91);
  ig.StreamCodingInfo.set_language("fra");
  STREAM_INFO text = stream(0x1800, 0x92);
  text.StreamCodingInfo.CharacterCode = 1;
  text.StreamCodingInfo.set_language("jpn");
  STREAM_INFO other = stream(0x1F00, 0x20);
  other.StreamCodingInfo.Isrc.RecordingYear = {'2', '6'};
  d.streams() = {video, audio, pg, ig, text, other};

  STREAM_PID_ENTRY v;
  v.StreamPid = 0x1011;
  // PTS values are multiples of 512: the EP map keeps 90 kHz time in 512-tick steps.
  v.KeyPoints = {kp(0x12345600, 100), kp(0x12345C00, 200), kp(0x12400000, 300), kp(0x12400200, 0x20010),
                 kp(0x180000200ull, 0x30000)};
  STREAM_PID_ENTRY a;
  a.StreamPid = 0x1100;
  a.EpStreamType = 3;
  a.KeyPoints = {kp(0x200, 5)};
  d.ep_map() = {v, a};
  return d;
}

// The record as the parser gives it back: fields read from the file that the writer computes.
SClpiData as_read(SClpiData d, const SClpiData& parsed) {
  d.SequenceInfoStartAddress = parsed.SequenceInfoStartAddress;
  d.ProgramInfoStartAddress = parsed.ProgramInfoStartAddress;
  d.CpiStartAddress = parsed.CpiStartAddress;
  d.ClipMarkStartAddress = parsed.ClipMarkStartAddress;
  d.ExtensionDataStartAddress = parsed.ExtensionDataStartAddress;
  d.SequenceInfo.Length = parsed.SequenceInfo.Length;
  d.ProgramInfo.Length = parsed.ProgramInfo.Length;
  d.ProgramInfo.ProgramSequenceInfo.NumberOfStreams = parsed.ProgramInfo.ProgramSequenceInfo.NumberOfStreams;
  d.Cpi.Length = parsed.Cpi.Length;
  for (std::size_t i = 0; i < d.streams().size() && i < parsed.streams().size(); ++i)
    d.streams()[i].StreamCodingInfo.Raw = parsed.streams()[i].StreamCodingInfo.Raw;
  for (std::size_t i = 0; i < d.ep_map().size() && i < parsed.ep_map().size(); ++i) {
    // The fine entries' classes and where the coarse entries start, as the file holds them.
    d.ep_map()[i].FineEntriesAsRead = parsed.ep_map()[i].FineEntriesAsRead;
    d.ep_map()[i].NumberOfCoarseEntries = parsed.ep_map()[i].NumberOfCoarseEntries;
    d.ep_map()[i].NumberOfFineEntries = parsed.ep_map()[i].NumberOfFineEntries;
    d.ep_map()[i].EpMapForOneStreamStartAddress = parsed.ep_map()[i].EpMapForOneStreamStartAddress;
  }
  if (d.ExtensionData && parsed.ExtensionData) {
    d.ExtensionData->Length = parsed.ExtensionData->Length;
    d.ExtensionData->DataBlockStartAddress = parsed.ExtensionData->DataBlockStartAddress;
    d.ExtensionData->NumberOfExtDataEntries = parsed.ExtensionData->NumberOfExtDataEntries;
    for (std::size_t i = 0; i < d.ExtensionData->Entries.size() && i < parsed.ExtensionData->Entries.size(); ++i) {
      d.ExtensionData->Entries[i].ExtDataStartAddress = parsed.ExtensionData->Entries[i].ExtDataStartAddress;
      d.ExtensionData->Entries[i].ExtDataLength = parsed.ExtensionData->Entries[i].ExtDataLength;
    }
  }
  return d;
}

SClpiData parse_ok(const Bytes& file) {
  SClpiData d;
  std::string error;
  EXPECT_EQ(parse_clpi(file, d, &error), static_cast<int>(file.size())) << error;
  return d;
}

TEST(ClpiData, DefaultConstructionHoldsTheWriterStartingPoint) {
  SClpiData d;
  EXPECT_EQ(std::string(d.TypeIndicator.data(), 4), "HDMV");
  EXPECT_EQ(std::string(d.VersionNumber.data(), 4), "0200");
  EXPECT_EQ(d.ClipInfo.Length, 176u);
  EXPECT_EQ(d.ClipInfo.ClipStreamType, 1);
  EXPECT_EQ(d.ClipInfo.ApplicationType, 1);
  EXPECT_EQ(d.ClipInfo.TsRecordingRate, 6000000u);
  EXPECT_EQ(d.ClipInfo.TsTypeInfoBlock.Length, 30);
  EXPECT_EQ(d.ClipInfo.TsTypeInfoBlock.ValidityFlags, 0x80);
  EXPECT_EQ(d.SequenceInfo.NumberOfAtcSequences, 1);
  EXPECT_EQ(d.ProgramInfo.NumberOfProgramSequence, 1);
  EXPECT_EQ(d.ProgramInfo.ProgramSequenceInfo.ProgramMapPid, 0x0100);
  EXPECT_EQ(d.Cpi.CpiType, 1);
  EXPECT_TRUE(d.ep_map().empty());
  EXPECT_FALSE(d.ExtensionData);
  EXPECT_EQ(STC_INFO{}.PcrPid, 0x1001);
  EXPECT_EQ(STREAM_PID_ENTRY{}.EpStreamType, 1);

  const SClpiData fresh = new_clpi_data();
  ASSERT_TRUE(fresh.ToolStamp);
  auto tool = tool_data_of(*fresh.ToolStamp);
  ASSERT_TRUE(tool);
  EXPECT_EQ(tool->Company, "VELD");
  EXPECT_EQ(tool->Descriptor, std::string("VELD ") + VELD_VERSION);
}

TEST(ClpiData, CopyIsDeep) {
  SClpiData a = sample();
  a.ExtensionData = SExtensionData{};
  a.ExtensionData->Entries.push_back({2, 3, 0, 3, {1, 2, 3}});
  SClpiData b = a;
  EXPECT_EQ(a, b);
  b.ep_map()[0].KeyPoints[0].PTS += 512;
  b.ExtensionData->Entries[0].Data[0] = 9;
  b.streams()[1].StreamCodingInfo.set_language("spa");
  EXPECT_EQ(a.ep_map()[0].KeyPoints[0].PTS, 0x12345600u);
  EXPECT_EQ(a.ExtensionData->Entries[0].Data[0], 1);
  EXPECT_EQ(a.streams()[1].StreamCodingInfo.language(), "eng");
}

TEST(ClpiWrite, FixedLayoutAndStreamCodingInfo) {
  const Bytes f = write_clpi(sample());
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "HDMV0200");
  EXPECT_EQ(load_be32(&f[8]), 220u);    // SequenceInfoStartAddress
  EXPECT_EQ(load_be32(&f[40]), 176u);   // ClipInfo length
  EXPECT_EQ(f[46], 1);                  // ClipStreamType
  EXPECT_EQ(f[47], 5);                  // ApplicationType
  EXPECT_EQ(load_be32(&f[52]), 6000000u);
  EXPECT_EQ(load_be32(&f[56]), 0x12345u);
  EXPECT_EQ(load_be16(&f[188]), 30);    // TsTypeInfoBlock length
  EXPECT_EQ(f[190], 0x80);
  EXPECT_EQ(std::string(f.begin() + 191, f.begin() + 195), "HDMV");

  // SequenceInfo: length 8 + 14, one ATC sequence with one STC sequence.
  EXPECT_EQ(test::hex_bytes("00 00 00 16 00 01 00 00 00 00 01 00 10 01 00 00 00 00 00 01 00 00 00 20 00 00"),
            Bytes(f.begin() + 220, f.begin() + 246));
  EXPECT_EQ(load_be32(&f[12]), 246u);  // ProgramInfoStartAddress follows
  // ProgramInfo header: one program sequence, PMT PID 0x0100, six streams.
  EXPECT_EQ(test::hex_bytes("00 01 00 00 00 00 01 00 06 00"), Bytes(f.begin() + 250, f.begin() + 260));
  // Video: length 21, type, format 6 / rate 4, aspect 3, ISRC.
  EXPECT_EQ(test::hex_bytes("10 11 15 1B 64 30 00 00 4E 4C 00 00 00 00 00 31 32 33 34 35 00 00 00 00"),
            Bytes(f.begin() + 260, f.begin() + 284));
  // Audio: presentation type 3, 48 kHz, "eng".
  EXPECT_EQ(test::hex_bytes("11 00 15 81 31 65 6E 67"), Bytes(f.begin() + 284, f.begin() + 292));
  // PG and IG: language in bytes 2 to 4.
  EXPECT_EQ(test::hex_bytes("12 00 15 90 64 65 75 00"), Bytes(f.begin() + 308, f.begin() + 316));
  EXPECT_EQ(test::hex_bytes("14 00 15 91 66 72 61 00"), Bytes(f.begin() + 332, f.begin() + 340));
  // Text subtitle: character code, then language.
  EXPECT_EQ(test::hex_bytes("18 00 15 92 01 6A 70 6E"), Bytes(f.begin() + 356, f.begin() + 364));
  // Unknown coding type: length 17, the ISRC right after the type.
  EXPECT_EQ(test::hex_bytes("1F 00 11 20 00 00 00 00 00 32 36"), Bytes(f.begin() + 380, f.begin() + 391));
  const std::uint32_t prog_len = load_be32(&f[246]);
  EXPECT_EQ(prog_len, 10u + 5 * 24 + 20);
  EXPECT_EQ(load_be32(&f[16]), 246 + 4 + prog_len);  // CpiStartAddress
}

TEST(ClpiWrite, EpMapCoarseAndFineEntries) {
  const Bytes f = write_clpi(sample());
  const std::size_t cpi = load_be32(&f[16]);
  EXPECT_EQ(f[cpi + 4], 0);
  EXPECT_EQ(f[cpi + 5], 1);  // CpiType
  const std::size_t ep = cpi + 6;
  EXPECT_EQ(f[ep], 0);
  EXPECT_EQ(f[ep + 1], 2);  // NumberOfPidEnties
  // PidEntry 0: PID 0x1011, EpStreamType 1, four coarse entries, five fine entries, block at 2 + 24.
  EXPECT_EQ(test::hex_bytes("10 11 00 04 00 10 00 05 00 00 00 1A"), Bytes(f.begin() + ep + 2, f.begin() + ep + 14));
  const std::size_t block = ep + 26;
  EXPECT_EQ(load_be32(&f[block]), 4u + 8 * 4);  // fine table start
  // Coarse 0: reference 0, PTS 0x12345600 >> 19 = 0x246, full SPN 100.
  EXPECT_EQ(test::hex_bytes("00 00 02 46 00 00 00 64"), Bytes(f.begin() + block + 4, f.begin() + block + 12));
  // Coarse 1 begins at key point 2 (next PTS step), coarse 2 at key point 3 (SPN wraps past 2^17).
  EXPECT_EQ(load_be32(&f[block + 12]) >> 14, 2u);
  EXPECT_EQ(load_be32(&f[block + 20]) >> 14, 3u);
  EXPECT_EQ(load_be32(&f[block + 24]), 0x20010u);
  // Coarse 3 for the PTS above 2^32: (PTS >> 19) & 0x3FFF.
  EXPECT_EQ(load_be32(&f[block + 28]), (4u << 14) | ((0x180000200ull >> 19) & 0x3FFF));
  // Fine 0: I-end class 1, PTS fine 0x22B, SPN fine 100.
  EXPECT_EQ(load_be32(&f[block + 36]), 0x14560064u);
  // The audio entry (EpStreamType 3) gets I-end class 0.
  EXPECT_EQ(test::hex_bytes("11 00 00 0C 00 04 00 01"), Bytes(f.begin() + ep + 14, f.begin() + ep + 22));
  const std::size_t audio_block = ep + load_be32(&f[ep + 22]);
  EXPECT_EQ(load_be32(&f[audio_block]), 12u);
  EXPECT_EQ(load_be32(&f[audio_block + 12]) >> 28, 0u);
}

TEST(ClpiWrite, CoarseEntryChoice) {
  // Within one 2^19 PTS step and one 2^17 packet span: one coarse entry.
  EXPECT_EQ(coarse_entry_count({kp(0, 0), kp(0x7FE00, 10), kp(0x7FE00, 0x1FFFF)}), 1u);
  EXPECT_EQ(coarse_entry_count({kp(0, 0), kp(0x80000, 10)}), 2u);      // next PTS step
  EXPECT_EQ(coarse_entry_count({kp(0, 0x1FFFF), kp(0, 0x20000)}), 2u);  // SPN low bits go down
  EXPECT_EQ(coarse_entry_count({kp(0x80000, 0), kp(0, 5)}), 1u);        // PTS going back does not start one
  EXPECT_EQ(coarse_entry_count({}), 0u);
}

TEST(ClpiWrite, IEndPositionClasses) {
  auto cls = [](std::uint32_t packets) {
    KEY_POINT_INFO k;
    k.SpnStart = 1000;
    k.SpnEnd = 1000 + packets - 1;
    return i_end_position_offset(k);
  };
  EXPECT_EQ(cls(682), 1);  // 130944 bytes
  EXPECT_EQ(cls(683), 2);  // 131136
  EXPECT_EQ(cls(1365), 2);
  EXPECT_EQ(cls(1366), 3);
  EXPECT_EQ(cls(2047), 3);
  EXPECT_EQ(cls(2048), 4);  // exactly 0x60000
  EXPECT_EQ(cls(3071), 4);
  EXPECT_EQ(cls(3072), 5);
  EXPECT_EQ(cls(4778), 5);
  EXPECT_EQ(cls(6826), 6);
  EXPECT_EQ(cls(6827), 7);
  EXPECT_EQ(cls(100000000), 7);  // beyond 2^31 bytes stays the largest class
  EXPECT_EQ(i_end_position_offset(kp(0, 5000)), 1);  // read from a file: SpnEnd 0
}

TEST(ClpiWrite, NoKeyPointsGivesZeroCpi) {
  SClpiData d = sample();
  d.ep_map().clear();
  Bytes f = write_clpi(d);
  std::size_t cpi = load_be32(&f[16]);
  EXPECT_EQ(load_be32(&f[cpi]), 0u);
  EXPECT_EQ(load_be32(&f[20]), cpi + 4);  // ClipMark right after the zero length
  EXPECT_EQ(f.size(), cpi + 8);
  EXPECT_TRUE(parse_ok(f).ep_map().empty());

  // An entry without key points is left out of the map altogether.
  d = sample();
  d.ep_map()[0].KeyPoints.clear();
  f = write_clpi(d);
  cpi = load_be32(&f[16]);
  EXPECT_EQ(f[cpi + 7], 1);
  SClpiData p = parse_ok(f);
  ASSERT_EQ(p.ep_map().size(), 1u);
  EXPECT_EQ(p.ep_map()[0].StreamPid, 0x1100);
  d.ep_map()[1].KeyPoints.clear();
  f = write_clpi(d);
  EXPECT_EQ(load_be32(&f[load_be32(&f[16])]), 0u);
}

TEST(ClpiRoundTrip, WrittenFileParsesBackToAnEqualRecord) {
  SClpiData d = sample();
  d.ExtensionData = SExtensionData{};
  d.ExtensionData->Entries.push_back({1, 1, 0, 5, {1, 2, 3, 4, 5}});
  d.ExtensionData->Entries.push_back({2, 7, 0, 4, {9, 8, 7, 6}});
  d.ToolStamp = make_tool_stamp("VELD", "1.2.3");
  const Bytes f = write_clpi(d);
  const SClpiData p = parse_ok(f);

  // The tool stamp was written into the ClipInfo reserved bytes; the parser keeps them raw.
  EXPECT_EQ(std::string(f.begin() + 60, f.begin() + 64), "WQTX");
  std::copy(f.begin() + 60, f.begin() + 188, d.ClipInfo.Reserved.begin());
  EXPECT_EQ(as_read(d, p), p);

  EXPECT_EQ(p.ep_map()[0].KeyPoints[4].PTS, 0x180000200ull);  // above 2^32 kept
  EXPECT_EQ(p.ep_map()[0].NumberOfCoarseEntries, 4);
  EXPECT_EQ(p.ep_map()[0].NumberOfFineEntries, 5u);
  ASSERT_TRUE(p.ExtensionData);
  EXPECT_EQ(p.ExtensionData->DataBlockStartAddress, 36u);
  EXPECT_EQ(p.ExtensionData->Entries[0].ExtDataStartAddress, 36u);
  EXPECT_EQ(p.ExtensionData->Entries[1].ExtDataStartAddress, 44u);  // 5 bytes padded to 8
  EXPECT_EQ(p.ExtensionData->Length, 48u - 4);
  EXPECT_EQ(write_clpi(p), f);  // a parsed file writes back to the same bytes
}

TEST(ClpiRoundTrip, LargeRecordsGrowTheBufferAndCountsThatDoNotFitAreRefused) {
  SClpiData d;
  STREAM_PID_ENTRY e;
  e.StreamPid = 0x1011;
  // The fine count (18 bits) holds 262143 key points: that many are written whole.
  for (std::uint32_t i = 0; i < 0x3FFFF; ++i) e.KeyPoints.push_back(kp(0, i));
  d.ep_map() = {e};
  Bytes f = write_clpi(d);
  EXPECT_GT(f.size(), 1u << 20);
  SClpiData p = parse_ok(f);
  ASSERT_EQ(p.ep_map().size(), 1u);
  ASSERT_EQ(p.ep_map()[0].KeyPoints.size(), 0x3FFFFu);
  EXPECT_EQ(p.ep_map()[0].NumberOfCoarseEntries, 2);
  EXPECT_EQ(p.ep_map()[0].KeyPoints.back().SpnStart, 0x3FFFEu);
  // One more is an error naming the map, not a shorter map.
  d.ep_map()[0].KeyPoints.push_back(kp(0, 0x3FFFF));
  EXPECT_THROW(write_clpi(d), std::length_error);

  // 70000 key points each starting a coarse entry: more than the coarse count (16 bits) holds.
  e.KeyPoints.clear();
  for (std::uint64_t i = 0; i < 70000; ++i) e.KeyPoints.push_back(kp(i << 19, static_cast<std::uint32_t>(i)));
  d.ep_map() = {e};
  try {
    write_clpi(d);
    ADD_FAILURE() << "70000 coarse entries written";
  } catch (const std::length_error& error) {
    EXPECT_THAT(error.what(), testing::HasSubstr("EP map of PID 0x1011: 70000 coarse entries"));
  }
}

TEST(ClpiRoundTrip, LengthsAreRecomputedWhateverTheRecordHolds) {
  SClpiData d = sample();
  d.ClipInfo.Length = 999;
  d.ClipInfo.TsTypeInfoBlock.Length = 7;
  d.SequenceInfo.Length = 1;
  d.SequenceInfoStartAddress = 5;
  d.streams()[0].StreamCodingInfo.Length = 40;
  d.ep_map()[0].NumberOfCoarseEntries = 77;
  d.SequenceInfo.NumberOfAtcSequences = 2;
  const Bytes f = write_clpi(d);
  Bytes g = write_clpi(sample());
  g[225] = 2;  // the ATC count is kept, only one AtcInfo follows
  EXPECT_EQ(f, g);
  const SClpiData p = parse_ok(f);
  EXPECT_EQ(p.SequenceInfo.NumberOfAtcSequences, 2);
  EXPECT_EQ(p.stc_info().size(), 1u);
}

TEST(ClpiParse, StreamCodingInfoIsSkippedByItsLength) {
  Bytes f = write_clpi(sample());
  // Make the video's StreamCodingInfo four bytes longer, as a newer format would.
  const std::size_t at = 262 + 22;
  f.insert(f.begin() + at, {0xDE, 0xAD, 0xBE, 0xEF});
  f[262] = 25;
  store_be32(&f[246], load_be32(&f[246]) + 4);
  for (std::size_t a : {16u, 20u}) store_be32(&f[a], load_be32(&f[a]) + 4);
  const SClpiData p = parse_ok(f);
  ASSERT_EQ(p.streams().size(), 6u);
  EXPECT_EQ(p.streams()[0].StreamCodingInfo.Length, 25);
  EXPECT_EQ(p.streams()[0].StreamCodingInfo.FrameRate, 4);
  EXPECT_EQ(p.streams()[1].StreamPID, 0x1100);
  EXPECT_EQ(p.streams()[1].StreamCodingInfo.language(), "eng");
  EXPECT_EQ(p.streams()[5].StreamCodingInfo.CodingType, 0x20);
  EXPECT_EQ(p.ep_map()[0].KeyPoints.size(), 5u);
}

TEST(ClpiParse, ShortStreamCodingInfo) {
  Bytes f = write_clpi(sample());
  // The audio entry shortened to its attributes (length 5): no ISRC, the next stream follows directly.
  const std::size_t audio = 284;
  f.erase(f.begin() + audio + 8, f.begin() + audio + 24);
  f[audio + 2] = 5;
  store_be32(&f[246], load_be32(&f[246]) - 16);
  for (std::size_t a : {16u, 20u}) store_be32(&f[a], load_be32(&f[a]) - 16);
  SClpiData p = parse_ok(f);
  ASSERT_EQ(p.streams().size(), 6u);
  EXPECT_EQ(p.streams()[1].StreamCodingInfo.language(), "eng");
  EXPECT_EQ(p.streams()[1].StreamCodingInfo.Isrc, SIsrc{});
  EXPECT_EQ(p.streams()[2].StreamPID, 0x1200);
  // Too short for the attributes of its coding type: malformed.
  f[audio + 2] = 3;
  std::string error;
  EXPECT_EQ(parse_clpi(f, p, &error), 0);
  EXPECT_THAT(error, testing::HasSubstr("StreamCodingInfo"));
}

TEST(ClpiParse, OnlyTheFirstProgramSequenceIsRead) {
  Bytes f = write_clpi(sample());
  f[251] = 2;
  const SClpiData p = parse_ok(f);
  EXPECT_EQ(p.ProgramInfo.NumberOfProgramSequence, 2);
  EXPECT_EQ(p.streams().size(), 6u);
  const Bytes g = write_clpi(p);
  EXPECT_EQ(g, f);  // the count is written back as read
}

TEST(ClpiParse, FineEntriesBeforeTheFirstCoarseReferenceStayZero) {
  Bytes f = write_clpi(sample());
  const std::size_t ep = load_be32(&f[16]) + 6;
  const std::size_t block = ep + 26;
  store_be32(&f[block + 4], (1u << 14) | 0x246);  // first coarse entry now refers to fine entry 1
  const SClpiData p = parse_ok(f);
  EXPECT_EQ(p.ep_map()[0].KeyPoints[0], KEY_POINT_INFO{});
  EXPECT_EQ(p.ep_map()[0].KeyPoints[1].PTS, 0x12345C00u);
  EXPECT_EQ(p.ep_map()[0].KeyPoints[1].SpnStart, 200u);
}

TEST(ClpiParse, TruncatedOrOverstatedFilesFailWithoutReadingOutside) {
  SClpiData d = sample();
  d.ExtensionData = SExtensionData{};
  d.ExtensionData->Entries.push_back({1, 1, 0, 5, {1, 2, 3, 4, 5}});
  const Bytes f = write_clpi(d);
  for (std::size_t n = 0; n < f.size(); ++n) {
    // A copy of exactly n bytes, so that the sanitizer sees any read past it.
    const Bytes cut(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
    SClpiData p;
    std::string error;
    EXPECT_LE(parse_clpi(cut, p, &error), 0) << "length " << n;
    EXPECT_FALSE(error.empty());
  }
  // Counts far beyond the data are refused before anything is allocated for them.
  Bytes g = f;
  const std::size_t ep = load_be32(&g[16]) + 6;
  store_be16(&g[ep + 8], 0xFFFF);
  g[ep + 7] |= 3;
  SClpiData p;
  std::string error;
  EXPECT_EQ(parse_clpi(g, p, &error), 0);
  EXPECT_THAT(error, testing::HasSubstr("EpMap"));
  g = f;
  store_be32(&g[16], 0xFFFFFFF0u);
  EXPECT_EQ(parse_clpi(g, p), 0);
}

TEST(ClpiParse, RandomCorruptionNeverReadsOutside) {
  SClpiData d = sample();
  d.ExtensionData = SExtensionData{};
  d.ExtensionData->Entries.push_back({1, 1, 0, 5, {1, 2, 3, 4, 5}});
  d.ToolStamp = make_tool_stamp("VELD", "1.2.3");
  const Bytes f = write_clpi(d);
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    Bytes g = f;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) g[rng() % g.size()] = static_cast<std::uint8_t>(rng());
    g.resize(g.size() - rng() % 16);
    SClpiData p;
    const int r = parse_clpi(g, p);
    EXPECT_LE(r, static_cast<int>(g.size()));
  }
}

TEST(ClpiToolStamp, ScramblingAndLayout) {
  EXPECT_EQ(wqtx_scramble(wqtx_scramble("Maker12")), "Maker12");
  const std::string s = wqtx_scramble("Maker12");
  EXPECT_EQ(static_cast<std::uint8_t>(s[0]), 'M' ^ 'Q');
  EXPECT_EQ(static_cast<std::uint8_t>(s[4]), 'r' ^ 'Q');  // the key repeats every four bytes

  const Bytes ser = serialise_tool_data({"Maker12", "VELD, Version 1.2.3"});
  ASSERT_EQ(ser.size(), 1u + 7 + 1 + 19);
  EXPECT_EQ(ser[0], 7);
  EXPECT_EQ(ser[8], 19);
  EXPECT_EQ(ser[9], 'V' ^ 'Q');  // each text restarts the key
  EXPECT_EQ(parse_tool_data(ser), (SWqtxToolData{"Maker12", "VELD, Version 1.2.3"}));
  EXPECT_FALSE(parse_tool_data(ByteSpan(ser).first(12)));
  EXPECT_EQ(print_tool_data({"VELD", "X"}, "  "), "  Company: VELD\n  Descriptor: X\n");

  // Stamp in the ClipInfo reserved bytes: tag, then the block with one entry (0x1000, 1) at 24.
  SClpiData d;
  d.ToolStamp = make_tool_stamp("VELD", "1.2.3");
  const Bytes f = write_clpi(d);
  EXPECT_EQ(test::hex_bytes("57 51 54 58 00 00 00 24 00 00 00 18 00 00 00 01 10 00 00 01 00 00 00 18 00 00 00 10"),
            Bytes(f.begin() + 60, f.begin() + 88));
  const SClpiData p = parse_ok(f);
  ASSERT_TRUE(p.ToolStamp);
  EXPECT_EQ(*p.ToolStamp, *d.ToolStamp);
  EXPECT_EQ(tool_data_of(*p.ToolStamp)->Descriptor, "VELD 1.2.3");
}

TEST(ClpiToolStamp, TooLongDescriptorIsCutToFit) {
  const std::string name(200, 'N');
  const SToolStamp stamp = make_tool_stamp(name, "9.9.9");
  EXPECT_LE(tool_stamp_size(stamp), 128u);
  auto tool = tool_data_of(stamp);
  ASSERT_TRUE(tool);
  EXPECT_EQ(tool->Company, "VELD");
  EXPECT_EQ(tool->Descriptor, std::string(94, 'N'));  // 4 + 12 + 12 + 100 bytes of data, 6 of them the maker
  SClpiData d;
  d.ToolStamp = stamp;
  EXPECT_EQ(tool_data_of(*parse_ok(write_clpi(d)).ToolStamp), tool);

  // A file whose reserved bytes carry the tag but no valid block has no stamp and still parses.
  Bytes f = write_clpi(SClpiData{});
  std::copy_n("WQTX", 4, f.begin() + 60);
  store_be32(&f[64], 500);
  EXPECT_FALSE(parse_ok(f).ToolStamp);
}

TEST(ClipObjects, ParseStoresTimesAndFolderNamesClips) {
  CClpiObject clip;
  ASSERT_GT(clip.parse(write_clpi(sample())), 0);
  EXPECT_EQ(clip.start_time, 0x20000u);
  EXPECT_EQ(clip.end_time, 0x400000u);
  ASSERT_EQ(clip.rip_tracks.size(), 6u);
  EXPECT_EQ(clip.rip_tracks.tracks[3].pid, 0x1400);
  EXPECT_EQ(clip.rip_tracks.tracks[3].stream_info.StreamCodingInfo.language(), "fra");
  EXPECT_EQ(clip.parse(ByteSpan()), 0);
  EXPECT_TRUE(clip.rip_tracks.empty());
  EXPECT_EQ(clip.start_time, 0u);

  CCofObject cof;
  EXPECT_EQ(cof.add_clip().id, 0);
  cof[0].id = 7;
  CClpiObject& next = cof.add_clip();
  EXPECT_EQ(next.id, 8);
  EXPECT_THAT(next.name, testing::EndsWith("#8"));
  auto c = std::make_unique<CClpiObject>();
  c->id = 3;
  cof.insert(std::move(c));
  EXPECT_EQ(cof[0].id, 3);
  EXPECT_EQ(cof.find(8), &next);
  EXPECT_EQ(cof.find(4), nullptr);
}

}  // namespace
}  // namespace veld
