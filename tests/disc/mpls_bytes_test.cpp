// SPDX-License-Identifier: GPL-3.0-or-later
// Playlist bytes from real discs and real-shaped whole files: each is read and written back byte for
// byte (write(parse(x)) == x), including what the reader does not interpret.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/disc/mpls.h"

namespace veld {
namespace {

using test::hex_bytes;

template <typename Read, typename Write>
Bytes round_trip(const Bytes& in, Read read, Write write) {
  ByteReader r(in);
  const auto v = read(r, nullptr);
  EXPECT_TRUE(r.at_end()) << r.remaining() << " bytes left";
  Bytes out;
  ByteWriter w(out);
  write(w, v);
  return out;
}

struct Vector {
  const char* what;
  const char* hex;
};

TEST(MplsBytes, StreamAttributesComeBackAsRead) {
  const Vector vectors[] = {
      {"UHD HEVC: format 2160p, 23.976, dynamic range and colour space", "05 24 81 01 00 00"},
      {"HEVC with HDR10+ and copy-restriction bits", "05 24 86 12 C0 00"},
      {"AVC with bytes after the frame rate", "05 1B 61 A0 B0 C0"},
      {"IG with the byte after the language", "05 91 6A 70 6E 30"},
      {"type we do not know", "05 20 01 02 03 04"},
      {"type we do not know, no attributes", "01 20"},
      {"audio with a longer block", "07 81 31 65 6E 67 99 99"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.what);
    const Bytes in = hex_bytes(v.hex);
    EXPECT_EQ(round_trip(in, read_stream_attributes, write_stream_attributes), in);
  }
}

TEST(MplsBytes, HevcIsVideoWithItsOwnFields) {
  EXPECT_EQ(stream_class(0x24), StreamClass::kVideo);
  const Bytes in = hex_bytes("05 24 81 12 00 00");
  ByteReader r(in);
  const STREAM_ATTRIBUTES a = read_stream_attributes(r);
  EXPECT_EQ(a.VideoFormat, 8);
  EXPECT_EQ(a.FrameRate, 1);
  EXPECT_EQ(a.DynamicRangeType, 1);
  EXPECT_EQ(a.ColorSpace, 2);
  EXPECT_NE(print_mpls([&] {
              SMplsData d;
              d.PlayItems.emplace_back().StnTable.PrimaryVideoStreamEntries.push_back({{}, a});
              return d;
            }()).find("ColorSpace: 2"),
            std::string::npos);
}

TEST(MplsBytes, StreamEntriesComeBackAsRead) {
  const Vector vectors[] = {
      {"type 1", "09 01 10 11 00 00 00 00 00 00"},
      {"type 2 with reserved bytes set", "09 02 01 02 14 00 AA 00 00 01"},
      {"type 3", "09 03 05 12 00 00 00 00 00 00"},
      {"type 4 with a body", "09 04 01 02 03 04 05 06 07 08"},
      {"type 1 with a longer body", "0B 01 10 11 00 00 00 00 00 00 EE EE"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.what);
    const Bytes in = hex_bytes(v.hex);
    EXPECT_EQ(round_trip(in, read_stream_entry, write_stream_entry), in);
  }
}

// An STN table of a UHD disc: one HEVC base layer and one Dolby Vision enhancement layer (count at byte
// 11), both type-1 entries in the main clip.
const char* const kDolbyVisionStn =
    "002E 0000 01 00 00 00 00 00 00 01 00000000"
    "09 01 1011 0000 0000 0000  05 24 81 01 00 00"
    "09 01 1015 0000 0000 0000  05 24 81 01 00 00";

TEST(MplsBytes, DolbyVisionEntriesAreReadAndWritten) {
  const Bytes in = hex_bytes(kDolbyVisionStn);
  EXPECT_EQ(round_trip(in, read_stn_table, write_stn_table), in);
  ByteReader r(in);
  const STN_TABLE t = read_stn_table(r);
  ASSERT_EQ(t.DolbyVisionStreamEntries.size(), 1u);
  EXPECT_EQ(t.DolbyVisionStreamEntries[0].StreamEntry.RefToStreamPID_OfMainClip, 0x1015);
  EXPECT_EQ(t.PrimaryVideoStreamEntries.size(), 1u);
  EXPECT_TRUE(t.Tail.empty());
}

Bytes with_len32(const Bytes& body) {
  Bytes out(4);
  store_be32(out.data(), static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
Bytes with_len16(const Bytes& body) {
  Bytes out(2);
  store_be16(out.data(), static_cast<std::uint16_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A whole UHD playlist of version 0300: one play item whose STN table holds the HEVC attribute and a
// Dolby Vision entry, with reserved bits set where other authoring programs set them, a mark, and
// padding before the mark block.
Bytes uhd_playlist(const char* version, const Bytes& pad_before_marks) {
  const Bytes item = with_len16(cat({hex_bytes("3030303031 4D325453 00 01 00 00000000 00015F90"),
                                     hex_bytes("0000000000000000 80 00 0000"), hex_bytes(kDolbyVisionStn)}));
  const Bytes playlist = with_len32(cat({hex_bytes("0000 0001 0000"), item}));
  const Bytes marks = with_len32(hex_bytes("0001 00 01 0000 00000000 FFFF 00000000"));
  const Bytes app = with_len32(hex_bytes("00 01 0000 0000000000000000 40 00"));
  Bytes header = cat({hex_bytes("4D504C53"), Bytes(version, version + 4), Bytes(12, 0), Bytes(20, 0)});
  const std::size_t pl_at = header.size() + app.size();
  const std::size_t mk_at = pl_at + playlist.size() + pad_before_marks.size();
  store_be32(&header[8], static_cast<std::uint32_t>(pl_at));
  store_be32(&header[12], static_cast<std::uint32_t>(mk_at));
  return cat({header, app, playlist, pad_before_marks, marks});
}

TEST(MplsBytes, WholeUhdPlaylistsComeBackByteForByte) {
  const struct {
    const char* what;
    Bytes file;
  } files[] = {
      {"version 0300", uhd_playlist("0300", {})},
      {"version 0200", uhd_playlist("0200", {})},
      {"version 0100, padded before the marks", uhd_playlist("0100", hex_bytes("00 00 00 00"))},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    SMplsData d;
    std::string err;
    CUnreadBytes unread;
    ASSERT_EQ(parse_mpls(f.file, d, &err, &unread), static_cast<std::int64_t>(f.file.size())) << err;
    EXPECT_TRUE(unread.empty());
    EXPECT_EQ(compose_mpls(d), f.file);
    ASSERT_EQ(d.PlayItems.size(), 1u);
    EXPECT_EQ(d.PlayItems[0].StnTable.DolbyVisionStreamEntries.size(), 1u);
  }
}

TEST(MplsBytes, CountsThatDoNotFitNameTheirElement) {
  STN_TABLE t;
  t.DolbyVisionStreamEntries.resize(256);
  Bytes out;
  ByteWriter w(out);
  try {
    write_stn_table(w, t);
    FAIL() << "256 entries written into an 8-bit count";
  } catch (const std::length_error& e) {
    EXPECT_NE(std::string(e.what()).find("DolbyVisionStreamEntries"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace veld
