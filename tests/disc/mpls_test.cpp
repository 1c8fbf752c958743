// SPDX-License-Identifier: GPL-3.0-or-later
// Playlist file: element codecs with hand-built bytes, whole-file round trips, the bytes the writer
// carries without interpreting them, and malformed input.
#include "veld/disc/mpls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <type_traits>

#include "support/test_support.h"

namespace veld {
namespace {

using ::testing::HasSubstr;
using test::hex_bytes;

template <typename T, typename Read>
T read_all(const Bytes& b, Read read) {
  ByteReader r(b);
  T v;
  if constexpr (std::is_invocable_v<Read, ByteReader&, CUnreadBytes*>) {
    v = read(r, nullptr);
  } else {
    v = read(r);
  }
  EXPECT_TRUE(r.at_end()) << "element left " << r.remaining() << " bytes unread";
  return v;
}

template <typename T, typename Write>
Bytes written(const T& v, Write write) {
  Bytes out;
  ByteWriter w(out);
  write(w, v);
  return out;
}

TEST(MplsStreamEntry, TypesOneToThreeDecodeAndCarryReservedBytes) {
  const Bytes t1 = hex_bytes("09 01 10 11 AA BB 00 00 00 01");
  const auto e1 = read_all<STREAM_ENTRY>(t1, read_stream_entry);
  EXPECT_EQ(e1.Type, 1);
  EXPECT_EQ(e1.RefToStreamPID_OfMainClip, 0x1011);
  EXPECT_EQ(written(e1, write_stream_entry), t1);

  const Bytes t2 = hex_bytes("09 02 01 02 14 00 00 00 00 00");
  const auto e2 = read_all<STREAM_ENTRY>(t2, read_stream_entry);
  EXPECT_EQ(e2.RefToSubPathID, 1);
  EXPECT_EQ(e2.RefToSubClipEntryID, 2);
  EXPECT_EQ(e2.RefToStreamPID_OfSubClip, 0x1400);
  EXPECT_EQ(written(e2, write_stream_entry), t2);

  const Bytes t3 = hex_bytes("09 03 05 12 00 00 00 00 00 00");
  const auto e3 = read_all<STREAM_ENTRY>(t3, read_stream_entry);
  EXPECT_EQ(e3.RefToSubPathID, 5);
  EXPECT_EQ(e3.RefToStreamPID_OfMainClip, 0x1200);
  EXPECT_EQ(written(e3, write_stream_entry), t3);

  // A changed PID is written in place, the carried bytes around it stay.
  auto changed = e1;
  changed.RefToStreamPID_OfMainClip = 0x1400;
  EXPECT_EQ(written(changed, write_stream_entry), hex_bytes("09 01 14 00 AA BB 00 00 00 01"));
}

TEST(MplsStreamEntry, OtherTypeKeepsItsBytesAndANewOneIsTwoBytes) {
  // The reader moves on by length + 1 bytes whatever the type, and keeps them.
  const Bytes in = hex_bytes("09 04 01 02 03 04 05 06 07 08 EE");
  ByteReader r(in);
  const auto e = read_stream_entry(r);
  EXPECT_EQ(e.Type, 4);
  EXPECT_EQ(r.pos(), 10u);
  EXPECT_EQ(written(e, write_stream_entry), hex_bytes("09 04 01 02 03 04 05 06 07 08"));
  STREAM_ENTRY fresh;
  fresh.Type = 4;
  EXPECT_EQ(written(fresh, write_stream_entry), hex_bytes("01 04"));
  fresh.Type = 1;
  fresh.RefToStreamPID_OfMainClip = 0x1011;
  EXPECT_EQ(written(fresh, write_stream_entry), hex_bytes("09 01 10 11 00 00 00 00 00 00"));
}

TEST(MplsStreamEntry, ShortOrTruncatedEntriesAreErrors) {
  const Bytes short_type1_bytes = hex_bytes("02 01 10");
  ByteReader short_type1(short_type1_bytes);
  EXPECT_THROW(read_stream_entry(short_type1), ParseError);
  const Bytes short_type2_bytes = hex_bytes("04 02 01 02 14");
  ByteReader short_type2(short_type2_bytes);
  EXPECT_THROW(read_stream_entry(short_type2), ParseError);
  const Bytes truncated_bytes = hex_bytes("09 01 10 11 00");
  ByteReader truncated(truncated_bytes);
  EXPECT_THROW(read_stream_entry(truncated), ParseError);
  const Bytes empty_bytes = hex_bytes("00");
  ByteReader empty(empty_bytes);
  EXPECT_THROW(read_stream_entry(empty), ParseError);
}

TEST(MplsStreamAttributes, EachCodingClassDecodesItsFields) {
  const Bytes video = hex_bytes("05 1B 61 A0 B0 C0");
  const auto v = read_all<STREAM_ATTRIBUTES>(video, read_stream_attributes);
  EXPECT_EQ(v.VideoFormat, 6);
  EXPECT_EQ(v.FrameRate, 1);
  EXPECT_EQ(written(v, write_stream_attributes), video);  // bytes 3..5 carried

  const Bytes audio = hex_bytes("05 81 31 65 6E 67");
  const auto a = read_all<STREAM_ATTRIBUTES>(audio, read_stream_attributes);
  EXPECT_EQ(a.AudioPresentationType, 3);
  EXPECT_EQ(a.SamplingFrequency, 1);
  EXPECT_EQ(a.Language, "eng");
  EXPECT_EQ(written(a, write_stream_attributes), audio);

  const Bytes ig = hex_bytes("05 91 66 72 61 7F");
  const auto g = read_all<STREAM_ATTRIBUTES>(ig, read_stream_attributes);
  EXPECT_EQ(g.Language, "fra");
  EXPECT_EQ(written(g, write_stream_attributes), ig);  // byte 5 carried

  const Bytes text = hex_bytes("05 92 01 6A 70 6E");
  const auto t = read_all<STREAM_ATTRIBUTES>(text, read_stream_attributes);
  EXPECT_EQ(t.CharacterCode, 1);
  EXPECT_EQ(t.Language, "jpn");
  EXPECT_EQ(written(t, write_stream_attributes), text);

  auto relabelled = g;
  relabelled.Language = "deu";
  EXPECT_EQ(written(relabelled, write_stream_attributes), hex_bytes("05 91 64 65 75 7F"));
}

TEST(MplsStreamAttributes, UnknownTypeLongBlocksAndShortBlocks) {
  // Unknown coding type: its bytes are kept; a new record of such a type is two bytes.
  const auto other = read_all<STREAM_ATTRIBUTES>(hex_bytes("05 20 01 02 03 04"), read_stream_attributes);
  EXPECT_EQ(written(other, write_stream_attributes), hex_bytes("05 20 01 02 03 04"));
  STREAM_ATTRIBUTES fresh;
  fresh.StreamCodingType = 0x20;
  EXPECT_EQ(written(fresh, write_stream_attributes), hex_bytes("01 20"));
  // A longer block is read by its length and written back whole.
  const Bytes longer_bytes = hex_bytes("07 81 31 65 6E 67 99 99 42");
  ByteReader longer(longer_bytes);
  const auto a = read_stream_attributes(longer);
  EXPECT_EQ(longer.pos(), 8u);
  EXPECT_EQ(a.Language, "eng");
  EXPECT_EQ(written(a, write_stream_attributes), hex_bytes("07 81 31 65 6E 67 99 99"));
  // Too short for the fields of its coding type.
  const Bytes short_audio_bytes = hex_bytes("03 81 31 65");
  ByteReader short_audio(short_audio_bytes);
  EXPECT_THROW(read_stream_attributes(short_audio), ParseError);
}

TEST(MplsRefList, OddCountsArePaddedToEvenSize) {
  REF_LIST three;
  three.RefID = {1, 2, 3};
  EXPECT_EQ(written(three, write_ref_list), hex_bytes("03 00 01 02 03 00"));  // 1 + 1 + 3 + 1
  REF_LIST two;
  two.reserved = 0x5A;
  two.RefID = {7, 8};
  EXPECT_EQ(written(two, write_ref_list), hex_bytes("02 5A 07 08"));
  EXPECT_EQ(written(REF_LIST{}, write_ref_list), hex_bytes("00 00"));

  const Bytes in = hex_bytes("03 00 01 02 03 00");
  EXPECT_EQ(read_all<REF_LIST>(in, read_ref_list), three);
  const Bytes missing_pad_bytes = hex_bytes("03 00 01 02 03");
  ByteReader missing_pad(missing_pad_bytes);
  EXPECT_THROW(read_ref_list(missing_pad), ParseError);
}

PRIMARY_STREAM_ENTRY pse(std::uint16_t pid, std::uint8_t coding, std::string lang = "") {
  PRIMARY_STREAM_ENTRY e;
  e.StreamEntry.RefToStreamPID_OfMainClip = pid;
  e.StreamAttributes.StreamCodingType = coding;
  e.StreamAttributes.Language = std::move(lang);
  if (coding == 0x1B) {
    e.StreamAttributes.VideoFormat = 6;
    e.StreamAttributes.FrameRate = 1;
  }
  return e;
}

STN_TABLE full_stn() {
  STN_TABLE t;
  t.PrimaryVideoStreamEntries = {pse(0x1011, 0x1B)};
  t.PrimaryAudioStreamEntries = {pse(0x1100, 0x81, "eng"), pse(0x1101, 0x81, "fra")};
  t.PrimaryPG_TextST_StreamEntries = {pse(0x1200, 0x90, "eng")};
  t.PrimaryPiP_TextST_StreamEntries = {pse(0x1201, 0x90, "deu")};
  t.InteractiveGraphicsStreamEntries = {pse(0x1400, 0x91, "eng")};
  SECONDARD_AUDIO_STREAM_ENTRY sa;
  sa.StreamEntry.RefToStreamPID_OfMainClip = 0x1A00;
  sa.StreamAttributes.StreamCodingType = 0xA1;
  sa.StreamAttributes.Language = "eng";
  sa.SecondardAudioStreamCombInfo.RefID = {1, 2, 3};
  t.SecondaryAudioStreamEntries = {sa};
  SECONDARD_VIDEO_STREAM_ENTRY sv;
  sv.StreamEntry.Type = 3;
  sv.StreamEntry.RefToSubPathID = 1;
  sv.StreamEntry.RefToStreamPID_OfMainClip = 0x1B00;
  sv.StreamAttributes.StreamCodingType = 0x1B;
  sv.SecondardVideoSecondardAudioStreamCombInfo.RefID = {1};
  sv.SecondardVideoPiP_PG_TextST_StreamCombInfo.RefID = {1, 2};
  t.SecondaryVideoStreamEntries = {sv};
  return t;
}

TEST(MplsStnTable, CountsAndGroupOrderFollowTheFormat) {
  const Bytes b = written(full_stn(), write_stn_table);
  // Length, reserved, then the counts: video 1, audio 2, PG 1, IG 1, secondary audio 1, secondary
  // video 1, PiP PG 1.
  EXPECT_EQ(load_be16(b.data()), b.size() - 2);
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 11), hex_bytes("01 02 01 01 01 01 01"));
  // Group order in the body: video, audio, audio, PG, PiP PG, IG, ... (PIDs of the type-1 entries).
  std::vector<std::uint16_t> pids;
  for (std::size_t at = 16; pids.size() < 6; at += 16) pids.push_back(load_be16(&b[at + 2]));
  EXPECT_THAT(pids, ::testing::ElementsAre(0x1011, 0x1100, 0x1101, 0x1200, 0x1201, 0x1400));
  EXPECT_EQ(read_all<STN_TABLE>(b, read_stn_table), full_stn());
}

TEST(MplsStnTable, ReservedAndTrailingBytesAreCarried) {
  auto t = full_stn();
  t.reserved1 = {0x12, 0x34};
  t.reserved2 = {2, 3, 4, 5};
  Bytes b = written(t, write_stn_table);
  EXPECT_EQ(read_all<STN_TABLE>(b, read_stn_table), t);
  // Two unknown bytes at the end of the table: kept, written back, and noted.
  b.push_back(0xEE);
  b.push_back(0xEE);
  store_be16(b.data(), static_cast<std::uint16_t>(b.size() - 2));
  const auto with_tail = read_all<STN_TABLE>(b, read_stn_table);
  EXPECT_EQ(with_tail.Tail, hex_bytes("EE EE"));
  EXPECT_EQ(written(with_tail, write_stn_table), b);
  CUnreadBytes unread;
  ByteReader noted(b);
  read_stn_table(noted, &unread);
  EXPECT_EQ(unread, (CUnreadBytes{{"StnTable", b.size() - 2, 2}}));
  // A count larger than the entries present is an error, not a short table.
  Bytes bad = written(t, write_stn_table);
  bad[4] = 9;
  ByteReader r(bad);
  EXPECT_THROW(read_stn_table(r), ParseError);
}

SExtDataEntry ext_entry(std::uint16_t id1, std::uint16_t id2, const char* hex) {
  SExtDataEntry e;
  e.ExtDataEntry_ID1 = id1;
  e.ExtDataEntry_ID2 = id2;
  e.Data = hex_bytes(hex);
  e.ExtDataLength = static_cast<std::uint32_t>(e.Data.size());
  return e;
}

SExtensionData ext_data(std::vector<SExtDataEntry> entries) {
  SExtensionData ext;
  ext.Entries = std::move(entries);
  return ext;
}

SMplsData sample_playlist() {
  SMplsData d;
  d.AppInfoPlayList.PlaylistPlaybackType = 1;
  d.AppInfoPlayList.UoMaskTable.set_bit(0, true);
  d.AppInfoPlayList.PlaylistRandomAccessFlag = true;
  d.AppInfoPlayList.LosslessMayBypassMixerFlag = true;
  PLAY_ITEM a;
  a.ClipInformationFileName = "00001";
  a.InTime = 27000000 / 600;
  a.OutTime = 45000 * 60;
  a.StnTable = full_stn();
  PLAY_ITEM b;
  b.ClipInformationFileName = "00003";
  b.ConnectionCondition = 5;
  b.IsMultiAngle = true;
  b.SeamlessAngleChange = true;
  b.Angles = {ANGLE_CLIP_ENTRY{"00004", "M2TS", 0}, ANGLE_CLIP_ENTRY{"00005", "M2TS", 1}};
  b.StillMode = 1;
  b.StillTime = 30;
  b.UoMaskTable.set_bit(24, true);
  b.StnTable.PrimaryVideoStreamEntries = {pse(0x1011, 0x1B)};
  d.PlayItems = {a, b};
  SUB_PATH sp;
  sp.SubPathType = 3;
  sp.IsRepeatSubPath = true;
  SUB_PLAY_ITEM spi;
  spi.ClipInformationFileName = "00002";
  spi.InTime = 100;
  spi.OutTime = 200;
  spi.SyncPlayItemID = 1;
  spi.SyncStartPTS_OfPlayItem = 12345;
  sp.SubPlayItems = {spi};
  d.SubPaths = {sp};
  d.PlayListMarks = {PLAY_MARK{1, 0, 45000, 0xFFFF, 0, 0}, PLAY_MARK{2, 1, 90000, 0x1011, 450, 0}};
  return d;
}

TEST(MplsFile, ComposeThenParseGivesTheSameRecordAndBytes) {
  const SMplsData d = sample_playlist();
  const Bytes b = compose_mpls(d);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "MPLS0200");
  EXPECT_EQ(load_be32(&b[8]), 58u);                          // PlayListStartAddress
  EXPECT_EQ(load_be32(&b[12]), 58u + 4 + load_be32(&b[58]));  // marks right after the PlayList
  EXPECT_EQ(load_be32(&b[16]), 0u);                          // no extension data
  EXPECT_EQ(load_be32(&b[40]), 14u);                         // AppInfoPlayList length
  EXPECT_EQ(b[56], 0xA0);                                    // random access + lossless bypass

  SMplsData back;
  std::string err;
  ASSERT_GT(parse_mpls(b, back, &err), 0) << err;
  back.PlayListStartAddress = back.PlayListMarkStartAddress = back.ExtensionDataStartAddress = 0;
  EXPECT_EQ(back, d);
  EXPECT_EQ(compose_mpls(back), b);
  EXPECT_EQ(parse_mpls(b, back), static_cast<std::int64_t>(b.size()));
}

TEST(MplsFile, ExtensionDataIsCarriedAsOpaqueBlocks) {
  SMplsData d = sample_playlist();
  d.ExtensionData = ext_data({ext_entry(1, 1, "00 01 02 03 04"), ext_entry(2, 2, "AA BB BB CC")});
  const Bytes b = compose_mpls(d);
  const std::uint32_t ext = load_be32(&b[16]);
  ASSERT_EQ(ext, load_be32(&b[12]) + 4 + load_be32(&b[load_be32(&b[12])]));
  // Block: length, data start 12 + 24 = 36, 3 reserved, count 2, then the entries' rows.
  EXPECT_EQ(Bytes(b.begin() + ext, b.begin() + ext + 12), hex_bytes("0000002C 00000024 000000 02"));
  EXPECT_EQ(Bytes(b.begin() + ext + 12, b.begin() + ext + 36),
            hex_bytes("0001 0001 00000024 00000005  0002 0002 0000002C 00000004"));
  EXPECT_EQ(b.size(), ext + 48u);  // 5 bytes padded to 8, then 4

  SMplsData back;
  ASSERT_EQ(parse_mpls(b, back), static_cast<std::int64_t>(b.size()));
  ASSERT_TRUE(back.ExtensionData.has_value());
  ASSERT_EQ(back.ExtensionData->Entries.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& got = back.ExtensionData->Entries[i];
    const auto& want = d.ExtensionData->Entries[i];
    EXPECT_EQ(got.ExtDataEntry_ID1, want.ExtDataEntry_ID1);
    EXPECT_EQ(got.ExtDataEntry_ID2, want.ExtDataEntry_ID2);
    EXPECT_EQ(got.Data, want.Data);
  }
  EXPECT_EQ(compose_mpls(back), b);

  // An empty extension block is kept as a 4-byte zero length.
  d.ExtensionData = SExtensionData{};
  const Bytes e = compose_mpls(d);
  ASSERT_GT(parse_mpls(e, back), 0);
  EXPECT_TRUE(back.ExtensionData.has_value());
  EXPECT_EQ(compose_mpls(back), e);
}

TEST(MplsFile, ReservedBytesAndBitsAreWrittenBackAsRead) {
  SMplsData d = sample_playlist();
  d.PlayItems[0].StillMode = 2;
  d.PlayItems[0].StillTime = 77;  // meaningless without a finite still, but kept
  d.VersionNumber = "0100";
  Bytes b = compose_mpls(d);
  // StillTime of play item 0 is at PlayList + 10 + 32.
  EXPECT_EQ(load_be16(&b[58 + 10 + 32]), 77);
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), "0100");

  // Reserved bytes and bits of the header, the AppInfoPlayList, the PlayList, the play item, the
  // sub-path, the sub-play item and the marks come back as read.
  Bytes dirty = b;
  for (int i = 20; i < 40; ++i) dirty[i] = 0xFF;
  dirty[58 + 4] = 0xFF;                 // PlayList reserved
  dirty[58 + 10 + 11] = 0xFF;           // play item byte 11
  dirty[58 + 10 + 12] |= 0xE0;          // bits above IsMultiAngle
  dirty[58 + 10 + 30] |= 0x7F;          // bits beside the random-access flag
  dirty[56] |= 0x1F;                    // AppInfoPlayList flag bits without meaning
  dirty[57] = 0xFF;                     // AppInfoPlayList reserved byte 17
  const std::size_t marks = load_be32(&b[12]);
  dirty[marks + 6] = 0xFF;              // first mark's reserved byte
  std::size_t sub_path = 58 + 10;
  for (int i = 0; i < 2; ++i) sub_path += 2 + load_be16(&b[sub_path]);
  ASSERT_EQ(b[sub_path + 5], 3);         // SubPathType of the sample
  dirty[sub_path + 4] = 0xFF;            // sub-path reserved bytes
  dirty[sub_path + 6] = 0xFF;
  dirty[sub_path + 7] |= 0xFE;           // bits beside IsRepeatSubPath
  dirty[sub_path + 8] = 0xFF;
  dirty[sub_path + 10 + 11] = 0xFF;      // sub-play item reserved bytes 11..13
  dirty[sub_path + 10 + 13] = 0xFF;
  dirty[sub_path + 10 + 14] |= 0xE0;     // bits above the connection condition
  SMplsData back;
  ASSERT_GT(parse_mpls(dirty, back), 0);
  EXPECT_EQ(back.reserved[0], 0xFF);
  EXPECT_EQ(back.PlayItems[0].StillTime, 77);
  EXPECT_EQ(compose_mpls(back), dirty);
}

TEST(MplsFile, AppInfoLengthOtherThan14IsReadByItsLengthAndKept) {
  SMplsData d = sample_playlist();
  const Bytes b = compose_mpls(d);
  // Insert two extra bytes into AppInfoPlayList and move the other blocks.
  Bytes wide(b.begin(), b.begin() + 58);
  wide.push_back(0x11);
  wide.push_back(0x22);
  wide.insert(wide.end(), b.begin() + 58, b.end());
  store_be32(&wide[40], 16);
  store_be32(&wide[8], load_be32(&b[8]) + 2);
  store_be32(&wide[12], load_be32(&b[12]) + 2);
  SMplsData back;
  CUnreadBytes unread;
  ASSERT_GT(parse_mpls(wide, back, nullptr, &unread), 0);
  EXPECT_EQ(back.AppInfoPlayList.Tail, hex_bytes("11 22"));
  EXPECT_EQ(compose_mpls(back), wide);  // the two bytes are kept and the addresses follow
  // The two bytes after the 14 the block holds are noted with their place.
  EXPECT_EQ(unread, (CUnreadBytes{{"AppInfoPlayList", 58, 2}}));
  // The composed file holds nothing unread.
  unread.clear();
  ASSERT_GT(parse_mpls(b, back, nullptr, &unread), 0);
  EXPECT_TRUE(unread.empty());
}

TEST(MplsFile, BlocksHoldingMoreThanTheirCountsSayAreNoted) {
  const Bytes b = compose_mpls(sample_playlist());
  // A PlayList whose play-item and sub-path counts were damaged to 0 still parses, but every byte after
  // its counts is noted: the playlist is not silently empty.
  Bytes bad = b;
  store_be16(&bad[58 + 6], 0);
  store_be16(&bad[58 + 8], 0);
  SMplsData out;
  CUnreadBytes unread;
  std::string err;
  ASSERT_GT(parse_mpls(bad, out, &err, &unread), 0) << err;
  EXPECT_TRUE(out.PlayItems.empty());
  EXPECT_EQ(unread, (CUnreadBytes{{"PlayList", 58 + 10, load_be32(&b[58]) - 6}}));
  // A mark count one too small leaves the last mark unread.
  bad = b;
  const std::size_t marks = load_be32(&b[12]);
  store_be16(&bad[marks + 4], static_cast<std::uint16_t>(load_be16(&b[marks + 4]) - 1));
  unread.clear();
  ASSERT_GT(parse_mpls(bad, out, &err, &unread), 0) << err;
  EXPECT_EQ(unread, (CUnreadBytes{{"PlayListMarks", b.size() - 14, 14}}));
}

TEST(MplsFile, MultiClipSubPlayItemKeepsItsExtraEntries) {
  SMplsData d = sample_playlist();
  auto& spi = d.SubPaths[0].SubPlayItems[0];
  spi.IsMultiClipEntries = true;
  // Two clips: the item's own, then 00007 with STC id 0, padded with a reserved byte.
  spi.MultiClipEntries = hex_bytes("02 00 3030303037 4D325453 00 00");
  const Bytes b = compose_mpls(d);
  SMplsData back;
  ASSERT_GT(parse_mpls(b, back), 0);
  EXPECT_EQ(back.SubPaths[0].SubPlayItems[0].MultiClipEntries, spi.MultiClipEntries);
  EXPECT_EQ(compose_mpls(back), b);
  // Its length covers the fixed fields and the extra entries.
  SUB_PLAY_ITEM plain;
  EXPECT_EQ(load_be16(written(plain, write_sub_play_item).data()), 28);
  EXPECT_EQ(load_be16(written(spi, write_sub_play_item).data()), 28 + 13);
}

TEST(MplsFile, PlaylistsLargerThanTheUsualBufferAreWrittenWhole) {
  SMplsData d = sample_playlist();
  d.PlayListMarks.assign(60000, PLAY_MARK{1, 0, 1000, 0xFFFF, 0, 0});
  const Bytes b = compose_mpls(d);
  EXPECT_GT(b.size(), kMplsComposeBuffer);
  SMplsData back;
  ASSERT_EQ(parse_mpls(b, back), static_cast<std::int64_t>(b.size()));
  EXPECT_EQ(back.PlayListMarks.size(), 60000u);
}

TEST(MplsFile, CountsThatDoNotFitAreRefused) {
  SMplsData d = sample_playlist();
  d.PlayItems[0].StnTable.PrimaryAudioStreamEntries.resize(256);
  EXPECT_THROW(compose_mpls(d), std::length_error);
}

TEST(MplsFile, EveryTruncationFailsCleanly) {
  SMplsData d = sample_playlist();
  d.ExtensionData = ext_data({ext_entry(1, 1, "01 02 03")});
  const Bytes b = compose_mpls(d);
  for (std::size_t n = 0; n < b.size(); ++n) {
    SMplsData out;
    std::string err;
    const Bytes cut(b.begin(), b.begin() + n);
    EXPECT_EQ(parse_mpls(cut, out, &err), 0) << "truncated at " << n;
    EXPECT_FALSE(err.empty());
    EXPECT_TRUE(out.PlayItems.empty());
  }
}

TEST(MplsFile, CorruptLengthsAndAddressesAreReportedWithTheirPlace) {
  const Bytes b = compose_mpls(sample_playlist());
  SMplsData out;
  std::string err;
  Bytes bad = b;
  store_be32(&bad[8], 0x7FFFFFF0);  // PlayListStartAddress far outside
  EXPECT_EQ(parse_mpls(bad, out, &err), 0);
  EXPECT_THAT(err, ::testing::HasSubstr("MPLS"));
  bad = b;
  store_be16(&bad[58 + 6], 40);  // 40 play items announced
  EXPECT_EQ(parse_mpls(bad, out, &err), 0);
  EXPECT_THAT(err, ::testing::HasSubstr("PlayItem"));
  // The element and its offset are named once.
  bad = b;
  store_be32(&bad[40], 1000);  // AppInfoPlayList longer than the file
  EXPECT_EQ(parse_mpls(bad, out, &err), 0);
  EXPECT_THAT(err, ::testing::StartsWith("MPLS at offset 44: unexpected end of data"));
  EXPECT_EQ(err.find(" at offset "), err.rfind(" at offset ")) << err;
}

TEST(MplsFile, RandomByteFlipsNeverCrashAndParsedResultsRecompose) {
  SMplsData d = sample_playlist();
  d.ExtensionData = ext_data({ext_entry(1, 1, "01 02 03 04")});
  const Bytes b = compose_mpls(d);
  std::mt19937 rng(20261208);
  int parsed = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes m = b;
    const int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) m[rng() % m.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    SMplsData out;
    if (parse_mpls(m, out) <= 0) continue;
    ++parsed;
    // Whatever was accepted composes into a file that parses to the same record.
    Bytes again;
    try {
      again = compose_mpls(out);
    } catch (const std::length_error&) {
      continue;
    }
    SMplsData back;
    ASSERT_GT(parse_mpls(again, back), 0) << "round " << round;
    out.PlayListStartAddress = back.PlayListStartAddress;
    out.PlayListMarkStartAddress = back.PlayListMarkStartAddress;
    out.ExtensionDataStartAddress = back.ExtensionDataStartAddress;
    out.reserved = back.reserved;
    EXPECT_EQ(compose_mpls(back), again) << "round " << round;
  }
  EXPECT_GT(parsed, 100);  // most single flips hit values, not structure
}

TEST(MplsNames, DisplayTextsOfTheEnumeratedFields) {
  EXPECT_EQ(UO_MASK_TABLE::bit_name(0), "MenuCallMask");
  EXPECT_EQ(UO_MASK_TABLE::bit_name(22), "reserved");
  EXPECT_EQ(UO_MASK_TABLE::bit_name(33), "PiP_PG_TextST_StreamNumberChangeMask");
  EXPECT_EQ(UO_MASK_TABLE::bit_name(40), "reserved");
  UO_MASK_TABLE uo;
  uo.set_bit(24, true);  // PopupOnMask
  EXPECT_EQ(uo.bytes[3], 0x80);
  EXPECT_TRUE(uo.bit(24));
  EXPECT_EQ(connection_condition_name(6), "Seamless without break (6)");
  EXPECT_EQ(connection_condition_name(2), "Reserved");
  EXPECT_EQ(playback_type_name(3), "Shuffle");
  EXPECT_EQ(still_mode_name(1), "Finite still");
  EXPECT_EQ(sub_path_type_name(3), "Interactive Graphics menu");
  EXPECT_EQ(mark_type_name(2), "Link point");
}

TEST(MplsPrint, FieldsAppearWithTheirNamesAndDisplayTexts) {
  SMplsData d = sample_playlist();
  d.ExtensionData = ext_data({ext_entry(1, 1, "01 02 03")});
  const std::string text = print_mpls(d);
  EXPECT_THAT(text, ::testing::StartsWith("TypeIndicator: MPLS\nVersionNumber: 0200\nAppInfoPlaylist\n"
                                          "  PlaylistPlaybackType: 1 (Sequential)\n"));
  EXPECT_THAT(text, HasSubstr("  UoMaskTable: MenuCallMask\n"));
  EXPECT_THAT(text, HasSubstr("    ClipInformationFileName: 00003\n"));
  EXPECT_THAT(text, HasSubstr("    ConnectionCondition: 5 (Seamless with clean break (5))\n"));
  EXPECT_THAT(text, HasSubstr("    UoMaskTable: PopupOnMask\n"));
  EXPECT_THAT(text, HasSubstr("    StillTime: 30\n"));
  EXPECT_THAT(text, HasSubstr("    Angle: 00005 M2TS 1\n"));
  EXPECT_THAT(text, HasSubstr("          RefToStreamPID_OfMainClip: 0x1400\n"));
  EXPECT_THAT(text, HasSubstr("          Language: eng\n"));
  EXPECT_THAT(text, HasSubstr("          RefID: 1 2 3\n"));
  EXPECT_THAT(text, HasSubstr("    SubPathType: 3 (Interactive Graphics menu)\n"));
  EXPECT_THAT(text, HasSubstr("      SyncStartPTS_OfPlayItem: 12345\n"));
  EXPECT_THAT(text, HasSubstr("  PlayListMark: 2 (Link point), RefToPlayItemID 1, MarkTimeStamp 90000, "
                              "EntryES_PID 0x1011, Duration 450\n"));
  EXPECT_THAT(text, HasSubstr("ExtensionData\n  ExtDataEntry: ID1 0x0001, ID2 0x0001, 3 bytes\n"));
  // A parsed copy prints the same.
  SMplsData back;
  ASSERT_GT(parse_mpls(compose_mpls(d), back), 0);
  EXPECT_EQ(print_mpls(back), text);
}

}  // namespace
}  // namespace veld
