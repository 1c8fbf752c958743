// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/segment.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/graphics/display_set.h"

namespace veld {
namespace {

using test::hex_bytes;

// Parses body into seg and writes it back; returns what Write produced after the type and length.
template <typename T>
Bytes RoundTrip(T& seg, const Bytes& body) {
  seg.SegmentLength = static_cast<std::uint16_t>(body.size());
  EXPECT_EQ(seg.Parse(body), static_cast<long>(body.size()));
  Bytes out;
  const std::size_t n = seg.Write(out);
  EXPECT_EQ(n, out.size());
  EXPECT_GE(out.size(), 3u);
  EXPECT_EQ(out[0], seg.SegmentType);
  EXPECT_EQ(load_be16(out.data() + 1), out.size() - 3);
  return Bytes(out.begin() + 3, out.end());
}

TEST(Segment, IcsKeepsReservedBitsAndItsFragment) {
  // 1920 x 1080, frame rate 6 with reserved nibble 5, composition 7, state 2 with reserved 0x15,
  // first flag only with reserved 0x03, fragment of three bytes.
  const Bytes body = hex_bytes("0780 0438 65 0007 95 83 AA BB CC");
  CIcs ics;
  EXPECT_EQ(RoundTrip(ics, body), body);
  EXPECT_EQ(ics.Video.Width, 1920);
  EXPECT_EQ(ics.Video.Height, 1080);
  EXPECT_EQ(ics.Video.FrameRate, 6);
  EXPECT_EQ(ics.Video.Reserved, 5);
  EXPECT_EQ(FrameRateText(ics.Video.FrameRate), "50");
  EXPECT_EQ(ics.Composition.CompositionNumber, 7);
  EXPECT_EQ(ics.Composition.CompositionState, kEpochStart);
  EXPECT_EQ(CompositionStateText(ics.Composition.CompositionState), "Epoch Start");
  EXPECT_EQ(ics.Composition.Reserved, 0x15);
  EXPECT_TRUE(ics.FirstFlag);
  EXPECT_FALSE(ics.LastFlag);
  EXPECT_EQ(ics.SequenceReserved, 3);
  EXPECT_EQ(ics.FragmentSize(), 3u);

  CIcs empty;  // a header without fragment is accepted
  EXPECT_EQ(RoundTrip(empty, hex_bytes("0780 0438 20 0001 00 C0")), hex_bytes("0780 0438 20 0001 00 C0"));
  EXPECT_EQ(empty.FragmentSize(), 0u);
  CIcs short_ics;  // a body shorter than the header is malformed
  std::string error;
  EXPECT_LT(short_ics.Parse(hex_bytes("0780 0438 20"), &error), 0);
  EXPECT_NE(error.find("unexpected end"), std::string::npos) << error;
}

TEST(Segment, OdsFlagsAndFragment) {
  const Bytes body = hex_bytes("0102 03 7F 000009 0002 0001 05 05 00 00");
  COds ods;
  EXPECT_EQ(RoundTrip(ods, body), body);
  EXPECT_EQ(ods.ObjectId, 0x0102);
  EXPECT_EQ(ods.ObjectVersion, 3);
  EXPECT_FALSE(ods.FirstFlag);
  EXPECT_TRUE(ods.LastFlag);
  EXPECT_EQ(ods.Reserved, 0x3F);
  EXPECT_EQ(ods.FragmentSize(), 11u);

  const COds fresh;
  EXPECT_EQ(fresh.SegmentType, kSegmentOds);
  EXPECT_TRUE(fresh.FirstFlag && fresh.LastFlag);
  Bytes out;
  EXPECT_EQ(fresh.Write(out), 7u);
  EXPECT_EQ(out, hex_bytes("15 0004 0000 00 C0"));
  EXPECT_LT(COds().Parse(hex_bytes("00 01 02")), 0);
}

TEST(Segment, PdsEntriesAndAFull256EntryPaletteWrittenWhole) {
  const Bytes body = hex_bytes("03 01 00 10 80 80 FF 07 EB 80 80 00");
  CPds pds;
  EXPECT_EQ(RoundTrip(pds, body), body);
  EXPECT_EQ(pds.PaletteId, 3);
  EXPECT_EQ(pds.PaletteVersion, 1);
  ASSERT_EQ(pds.PaletteEntryCount(), 2u);
  EXPECT_EQ(pds.Entries[1].id, 7);
  EXPECT_EQ(pds.Entries[1].y, 0xEB);
  EXPECT_EQ(pds.Entries[1].t, 0);

  CPds full;
  for (int i = 0; i < 256; ++i) {
    SPaletteEntry& e = full.AddEntry();
    EXPECT_EQ(e.y, 255);
    EXPECT_EQ(e.t, 255);
    e.id = static_cast<std::uint8_t>(i);
  }
  Bytes out;
  EXPECT_EQ(full.Write(out), 3u + 2 + 256 * 5);
  EXPECT_EQ(load_be16(out.data() + 1), 2 + 256 * 5);
  EXPECT_EQ(out[3 + 2 + 255 * 5], 255);  // the last entry, id 255, is written too
  CPds back;
  ASSERT_GT(back.Parse(ByteSpan(out).subspan(3)), 0);  // the body after type and length
  EXPECT_EQ(back.Entries, full.Entries);

  EXPECT_LT(CPds().Parse(hex_bytes("03 01 00 10 80")), 0);  // a partial entry
}

TEST(Segment, PcsWithCroppedAndPlainCompositionObjects) {
  const Bytes body = hex_bytes(
      "0780 0438 20 0005 80 80 02 03"
      "0001 00 40 0010 0020"                    // forced on, not cropped
      "0002 01 80 0030 0040 0001 0002 0003 0004"  // cropped
      "0003 00 15 0050 0060");                   // reserved bits set, carried
  CPcs pcs;
  EXPECT_EQ(RoundTrip(pcs, body), body);
  EXPECT_EQ(pcs.Composition.CompositionState, kEpochStart);
  EXPECT_TRUE(pcs.PaletteUpdateFlag);
  EXPECT_EQ(pcs.PaletteIdRef, 2);
  ASSERT_EQ(pcs.CompositionObjects.size(), 3u);
  EXPECT_EQ(pcs.CompositionObjects[2].Reserved, 0x15);
  EXPECT_TRUE(pcs.CompositionObjects[0].ForcedOnFlag);
  EXPECT_FALSE(pcs.CompositionObjects[0].ObjectCroppedFlag);
  EXPECT_EQ(pcs.CompositionObjects[1].ObjectCroppingHeight, 4);
  // A count larger than the objects present is malformed.
  EXPECT_LT(CPcs().Parse(hex_bytes("0780 0438 20 0005 80 00 00 02 0001 00 00 0010 0020")), 0);
}

TEST(Segment, WdsWindowsAndTheTwoWindowLimit) {
  const Bytes body = hex_bytes("02 00 0000 0000 0780 0438 01 0010 0020 0030 0040");
  CWds wds;
  EXPECT_EQ(RoundTrip(wds, body), body);
  ASSERT_EQ(wds.Windows.size(), 2u);
  EXPECT_EQ(wds.Windows[1].Height, 0x40);
  wds.Windows.push_back(wds.Windows[0]);
  Bytes out = {0xAA};
  EXPECT_EQ(wds.Write(out), 0u);
  EXPECT_EQ(out, Bytes{0xAA});  // a refused segment leaves the buffer as it was
  EXPECT_LT(CWds().Parse(hex_bytes("02 00 0000 0000 0780 0438")), 0);
}

TEST(Segment, EndAndTheBaseWriteOnlyTypeAndLength) {
  CEs end;
  end.SegmentLength = 5;  // recomputed on write
  Bytes out;
  EXPECT_EQ(end.Write(out), 3u);
  EXPECT_EQ(out, hex_bytes("80 0000"));
  CIcs src;
  src.PTS = 11;
  src.DTS = 7;
  src.SegmentLength = 40;
  CEs copy;
  copy.CopyFrom(src);
  EXPECT_EQ(copy.PTS, 11u);
  EXPECT_EQ(copy.DTS, 7u);
  EXPECT_EQ(copy.SegmentType, kSegmentIcs);
  EXPECT_EQ(copy.SegmentLength, 40);
}

TEST(Segment, BodyOverTheLengthFieldIsRefused) {
  COds ods;
  ods.Fragment.assign(kMaxSegmentBody - 4, 1);
  Bytes out;
  EXPECT_EQ(ods.Write(out), 3 + kMaxSegmentBody);
  ods.Fragment.push_back(1);
  out.clear();
  EXPECT_EQ(ods.Write(out), 0u);
  EXPECT_TRUE(out.empty());
}

TEST(SplitObjectData, CutsAt65515Bytes) {
  Bytes data(65515);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  auto one = SplitObjectData(data, 9);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_TRUE(one[0].FirstFlag && one[0].LastFlag);
  EXPECT_EQ(one[0].ObjectId, 9);
  EXPECT_EQ(one[0].ObjectVersion, 0);
  EXPECT_EQ(one[0].Fragment, data);

  data.push_back(0x5A);
  auto two = SplitObjectData(data, 9);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].FragmentSize(), 65515u);
  EXPECT_EQ(two[1].FragmentSize(), 1u);
  EXPECT_TRUE(two[0].FirstFlag && !two[0].LastFlag);
  EXPECT_TRUE(!two[1].FirstFlag && two[1].LastFlag);
  EXPECT_EQ(two[1].Fragment[0], 0x5A);
  Bytes seg;
  EXPECT_EQ(two[0].Write(seg), 3u + 4 + 65515);  // the largest ODS still fits one segment

  data.resize(3 * 65515);
  auto three = SplitObjectData(data, 1);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[2].FragmentSize(), 65515u);
  EXPECT_TRUE(SplitObjectData({}, 1).empty());
}

TEST(CheckDisplaySet, CompositionStatesAndRequiredSegments) {
  CDsData ig;
  ig.IcsArray.emplace_back();
  ig.OdsArray.emplace_back();
  ig.State = kEpochStart;
  std::string error;
  EXPECT_FALSE(CheckDisplaySet(ig, &error));  // ICS without PDS in Epoch Start
  EXPECT_EQ(error, "IG display set without PDS");
  ig.State = kNormalCase;
  EXPECT_FALSE(CheckDisplaySet(ig));  // Normal Case with an ODS
  ig.OdsArray.clear();
  EXPECT_TRUE(CheckDisplaySet(ig));
  ASSERT_TRUE(ig.End.has_value());  // an END was made up
  EXPECT_EQ(ig.End->PTS, 0u);
  EXPECT_EQ(ig.End->DTS, 0u);
  ig.State = kAcquisitionPoint;
  ig.PdsFolder.emplace_back();
  EXPECT_TRUE(CheckDisplaySet(ig));
  ig.Wds.emplace();
  EXPECT_FALSE(CheckDisplaySet(ig));  // IG never carries a WDS
  ig.Wds.reset();
  ig.Pcs.emplace();
  EXPECT_FALSE(CheckDisplaySet(ig));  // both PCS and ICS
  ig.Pcs.reset();
  ig.State = 4;
  EXPECT_FALSE(CheckDisplaySet(ig));

  CDsData pg;
  pg.Pcs.emplace();
  pg.State = kNormalCase;
  EXPECT_TRUE(CheckDisplaySet(pg));
  pg.State = kEpochContinue;
  EXPECT_FALSE(CheckDisplaySet(pg));  // no WDS
  pg.Wds.emplace();
  EXPECT_FALSE(CheckDisplaySet(pg));  // no PDS
  pg.PdsFolder.emplace_back();
  EXPECT_TRUE(CheckDisplaySet(pg));

  CDsData none;
  EXPECT_FALSE(CheckDisplaySet(none));
  EXPECT_FALSE(none.End.has_value());
}

TEST(DisplaySet, JoinsFragmentsInArrayOrder) {
  CDsData ds;
  for (int i = 0; i < 3; ++i) {
    CIcs& ics = ds.IcsArray.emplace_back();
    ics.Fragment = {static_cast<std::uint8_t>(i), 0xEE};
  }
  EXPECT_EQ(JoinIcsFragments(ds), hex_bytes("00 EE 01 EE 02 EE"));
  for (int id : {4, 5, 4}) {
    COds& ods = ds.OdsArray.emplace_back();
    ods.ObjectId = static_cast<std::uint16_t>(id);
    ods.Fragment = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(ds.OdsArray.size())};
  }
  EXPECT_EQ(JoinObjectFragments(ds, 4), hex_bytes("04 01 04 03"));
  EXPECT_EQ(JoinObjectFragments(ds, 5), hex_bytes("05 02"));
  EXPECT_TRUE(JoinObjectFragments(ds, 6).empty());
  EXPECT_TRUE(JoinIcsFragments(CDsData{}).empty());
}

}  // namespace
}  // namespace veld
