// SPDX-License-Identifier: GPL-3.0-or-later
// Clip information files shaped as real discs have them, read and written back byte for byte
// (write_clpi(parse_clpi(x)) == x), with what the reader does not interpret carried through.
#include <gtest/gtest.h>

#include <initializer_list>

#include "support/test_support.h"
#include "veld/clip/clpi.h"

namespace veld {
namespace {

using test::hex_bytes;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes with_len32(const Bytes& body) {
  Bytes out(4);
  store_be32(out.data(), static_cast<std::uint32_t>(body.size()));
  return cat({out, body});
}

// ClipInfo of a movie clip, with an ATC delta entry into clip 00008 when atc_delta is set.
Bytes clip_info(bool atc_delta, std::uint8_t application_type) {
  Bytes reserved(128, 0);
  reserved[0] = 0x5A;  // another program's bytes, not a tool stamp
  return with_len32(cat({hex_bytes("0000 01"), Bytes{application_type}, hex_bytes(atc_delta ? "00000001" : "00000000"),
                         hex_bytes("02DC6C00 00001260"), reserved,
                         hex_bytes("001E 80 48444D56 000000000000000000 00000000000000000000000000000000"),
                         atc_delta ? hex_bytes("00 01 01563777 3030303038 4D325453 00") : Bytes{}}));
}

const char* const kSequenceInfo = "00 01 00000000 01 00  1001 00000000 00001000 00050000";

// Program info: HEVC video with its 21-byte coding info (dynamic range and colour space in byte 3),
// audio, and an IG stream whose bytes after the language code are not zeros.
const char* const kProgramInfo =
    "00 01 00000000 0100 03 00"
    "1011 15 24 81 30 12 00 000000000000000000000000 00000000"
    "1100 15 81 31 656E67 000000000000000000000000 00000000"
    "1400 15 91 6A706E 303030303030303030303030 0000000000";

// An EP map for the video: one coarse entry and three fine entries whose I_end_position_offset are 2,
// 3 and 1, as an authoring program measured them.
const char* const kCpi =
    "0001 00 01  1011 00040004 0003 0000000E"
    "0000000C  00000040 00000000"
    "20000000 31000100 12000200";

// A whole file; the ClipMark holds four bytes, and an empty CPI means a clip without an EP map.
Bytes clip_file(const char* version, bool atc_delta, bool ep_map) {
  const Bytes ci = clip_info(atc_delta, ep_map ? 1 : 5);
  const Bytes si = with_len32(hex_bytes(kSequenceInfo));
  const Bytes pi = with_len32(hex_bytes(kProgramInfo));
  const Bytes cpi = ep_map ? with_len32(hex_bytes(kCpi)) : hex_bytes("00000000");
  const Bytes mark = with_len32(hex_bytes("01020304"));
  Bytes header = cat({hex_bytes("48444D56"), Bytes(version, version + 4), Bytes(20, 0), Bytes(12, 0)});
  std::size_t at = header.size() + ci.size();
  for (std::size_t slot : {8u, 12u, 16u, 20u}) {
    store_be32(&header[slot], static_cast<std::uint32_t>(at));
    at += slot == 8 ? si.size() : slot == 12 ? pi.size() : slot == 16 ? cpi.size() : 0;
  }
  return cat({header, ci, si, pi, cpi, mark});
}

SClpiData parsed(const Bytes& file) {
  SClpiData d;
  std::string err;
  CUnreadBytes unread;
  EXPECT_EQ(parse_clpi(file, d, &err, &unread), static_cast<int>(file.size())) << err;
  EXPECT_TRUE(unread.empty());
  return d;
}

TEST(ClpiBytes, RealShapedFilesComeBackByteForByte) {
  const struct {
    const char* what;
    Bytes file;
  } files[] = {
      {"UHD movie clip, version 0300, ATC delta", clip_file("0300", true, true)},
      {"movie clip, version 0200", clip_file("0200", false, true)},
      {"menu clip without an EP map, version 0100", clip_file("0100", false, false)},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    EXPECT_EQ(write_clpi(parsed(f.file)), f.file);
  }
}

TEST(ClpiBytes, TheFieldsBehindTheBytes) {
  const SClpiData d = parsed(clip_file("0300", true, true));
  EXPECT_EQ(std::string(d.VersionNumber.begin(), d.VersionNumber.end()), "0300");
  ASSERT_TRUE(d.ClipInfo.IsAtcDelta);
  ASSERT_EQ(d.ClipInfo.AtcDeltaEntries.size(), 1u);
  EXPECT_EQ(d.ClipInfo.AtcDeltaEntries[0].ATCDelta, 0x01563777u);
  EXPECT_EQ(d.ClipInfo.AtcDeltaEntries[0].FollowingClipInformationFileName, "00008");
  EXPECT_EQ(d.ClipInfo.AtcDeltaEntries[0].ClipCodecIdentifier, "M2TS");
  ASSERT_EQ(d.streams().size(), 3u);
  EXPECT_TRUE(is_video_coding_type(d.streams()[0].StreamCodingInfo.CodingType));
  EXPECT_EQ(d.streams()[0].StreamCodingInfo.Length, 21);
  EXPECT_EQ(d.streams()[0].StreamCodingInfo.VideoFormat, 8);
  EXPECT_EQ(d.streams()[2].StreamCodingInfo.language(), "jpn");
  ASSERT_EQ(d.ep_map().size(), 1u);
  const CKpiFolder& kps = d.ep_map()[0].KeyPoints;
  ASSERT_EQ(kps.size(), 3u);
  const auto& fine = d.ep_map()[0].FineEntriesAsRead;
  ASSERT_EQ(fine.size(), 3u);
  EXPECT_EQ(fine[0].IEndPositionOffset, 2);
  EXPECT_EQ(fine[1].IEndPositionOffset, 3);
  EXPECT_EQ(fine[2].IEndPositionOffset, 1);
  EXPECT_TRUE(fine[0].CoarseStart);
  EXPECT_FALSE(fine[1].CoarseStart);
  EXPECT_EQ(kps[1].PTS, 0x2010000u);
  EXPECT_EQ(kps[2].SpnStart, 0x200u);
  EXPECT_EQ(d.ClipMark.Data, hex_bytes("01020304"));
  EXPECT_EQ(parsed(clip_file("0200", false, false)).Cpi.Length, 0u);
}

// What the in-place rebuild changes: the packet count and the SPNs behind the menu packets. The file
// written back differs from the original exactly at those fields.
TEST(ClpiBytes, ChangingThePacketNumbersChangesOnlyTheirBytes) {
  const Bytes file = clip_file("0300", true, true);
  SClpiData d = parsed(file);
  d.ClipInfo.NumberOfSourcePackets += 0x20;
  d.ep_map()[0].KeyPoints[2].SpnStart += 0x20;
  const Bytes out = write_clpi(d);
  ASSERT_EQ(out.size(), file.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i] != file[i]) changed.push_back(i);
  const std::size_t packets = 40 + 4 + 2 + 1 + 1 + 4 + 4 + 3;  // low byte of NumberOfSourcePackets
  const std::size_t last_fine = file.size() - 8 - 1;          // low byte of the last fine entry
  EXPECT_EQ(changed, (std::vector<std::size_t>{packets, last_fine}));
}

TEST(ClpiBytes, OurToolStampOnNewFilesAndOthersBytesKeptOnRewrite) {
  const SClpiData fresh = new_clpi_data();
  ASSERT_TRUE(fresh.ToolStamp);
  const auto tool = tool_data_of(*fresh.ToolStamp);
  ASSERT_TRUE(tool);
  EXPECT_EQ(tool->Company, kToolMaker);
  EXPECT_EQ(tool->Descriptor, std::string("VELD ") + VELD_VERSION);
  const Bytes made = write_clpi(fresh);
  EXPECT_EQ(std::string(made.begin() + 60, made.begin() + 64), "WQTX");

  // A file another program stamped: its reserved bytes (stamp and what follows it) come back as read.
  Bytes file = clip_file("0200", false, true);
  Bytes stamp(4, 0);
  std::copy_n("WQTX", 4, stamp.begin());
  SExtensionData block = make_tool_stamp("Other", "9").Block;
  write_ext_data(block, stamp);
  std::copy(stamp.begin(), stamp.end(), file.begin() + 60);
  file[60 + 127] = 0x77;  // a byte after the stamp block
  const SClpiData d = parsed(file);
  ASSERT_TRUE(d.ToolStamp);
  EXPECT_EQ(write_clpi(d), file);
}

TEST(ClpiBytes, CountsThatDoNotFitAreErrorsNamingTheElement) {
  const struct {
    const char* element;
    void (*fill)(SClpiData&);
  } cases[] = {
      {"STC", [](SClpiData& d) { d.stc_info().resize(256); }},
      {"streams", [](SClpiData& d) { d.streams().resize(256); }},
      {"ATC delta", [](SClpiData& d) { d.ClipInfo.AtcDeltaEntries.resize(256); }},
      {"EP map entries", [](SClpiData& d) {
         d.ep_map().resize(256);
         for (auto& e : d.ep_map()) e.KeyPoints.resize(1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    SClpiData d = new_clpi_data();
    c.fill(d);
    try {
      write_clpi(d);
      ADD_FAILURE() << "written although the count does not fit";
    } catch (const std::length_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.element), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace veld
