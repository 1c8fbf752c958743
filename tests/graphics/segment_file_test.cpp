// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/segment_file.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"
#include "graphics/segment_file_test_util.h"

namespace veld {
namespace {

using test::hex_bytes;
using test::Frame;

// Two IG display sets in the writer's order (ICS, PDS, ODS, END), with reserved bits set here and there.
Bytes TwoDisplaySets() {
  Bytes s;
  test::Append(s, Frame("IG", 9000, 4500, kSegmentIcs, hex_bytes("0780 0438 23 0000 80 C0 000004 80 00 00 00")));
  test::Append(s, Frame("IG", 0, 4500, kSegmentPds, hex_bytes("00 00 00 10 80 80 FF 01 EB 80 80 40")));
  test::Append(s, Frame("IG", 5000, 4600, kSegmentOds, hex_bytes("0000 00 C1 000009 0001 0002 01 00 00 01 00 00")));
  test::Append(s, Frame("IG", 5000, 0, kSegmentEnd, {}));
  test::Append(s, Frame("IG", 20000, 18000, kSegmentIcs, hex_bytes("0780 0438 20 0001 00 C0 000004 80 00 00 00")));
  test::Append(s, Frame("IG", 20000, 0, kSegmentEnd, {}));
  return s;
}

TEST(SegmentFile, UnchangedStreamIsWrittenBackByteForByte) {
  const Bytes file = TwoDisplaySets();
  CGsData gs;
  std::string error;
  ASSERT_TRUE(ReadGraphicsStream(file, gs, &error)) << error;
  ASSERT_EQ(gs.Epochs.size(), 1u);
  ASSERT_EQ(gs.Epochs[0].DisplaySets.size(), 2u);
  const CDsData& first = gs.Epochs[0].DisplaySets[0];
  EXPECT_EQ(first.State, kEpochStart);
  EXPECT_EQ(gs.Epochs[0].DisplaySets[1].State, kNormalCase);
  ASSERT_EQ(first.OdsArray.size(), 1u);
  EXPECT_EQ(first.OdsArray[0].FileOffset, (13u + 16) + (13 + 12) + 10);  // the type byte of the third segment
  EXPECT_EQ(first.OdsArray[0].PTS, 5000u);
  EXPECT_EQ(first.OdsArray[0].DTS, 4600u);
  EXPECT_EQ(gs.Width, 1920);
  EXPECT_EQ(gs.Height, 1080);
  EXPECT_EQ(gs.FrameRate, 2);
  EXPECT_EQ(gs.FrameRateReserved, 3);
  EXPECT_TRUE(gs.HasIcs);

  Bytes out;
  ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
  EXPECT_EQ(out, file);
}

TEST(SegmentFile, PrintsADisplaySetInTheWritersOrder) {
  CGsData gs;
  ASSERT_TRUE(ReadGraphicsStream(TwoDisplaySets(), gs));
  EXPECT_EQ(PrintDisplaySet(gs.Epochs[0].DisplaySets[1]), R"(State: 0 (Normal Case)
ICS
  SegmentType: 0x18 (ICS)
  SegmentLength: 16
  PTS: 20000
  DTS: 18000
  Width: 1920
  Height: 1080
  FrameRate: 2 (24)
  CompositionNumber: 1
  CompositionState: 0 (Normal Case)
  FirstFlag: 1
  LastFlag: 1
  FragmentSize: 7
END
  SegmentType: 0x80 (END)
  SegmentLength: 0
  PTS: 20000
  DTS: 0
)");
  const std::string first = PrintDisplaySet(gs.Epochs[0].DisplaySets[0]);
  EXPECT_NE(first.find("PDS\n  SegmentType: 0x14 (PDS)\n  SegmentLength: 12\n  PTS: 0\n  DTS: 4500\n  PaletteId: 0\n"
                       "  PaletteVersion: 0\n  PaletteEntryCount: 2\n    Entry 0: Y 16 Cr 128 Cb 128 T 255\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("ODS\n  SegmentType: 0x15 (ODS)\n  SegmentLength: 17\n  PTS: 5000\n  DTS: 4600\n  ObjectId: 0\n"
                       "  ObjectVersion: 0\n  FirstFlag: 1\n  LastFlag: 1\n  FragmentSize: 13\n"),
            std::string::npos)
      << first;
}

TEST(SegmentFile, TagsInAnyCaseAreReadAndWrittenUpperCase) {
  Bytes file = TwoDisplaySets();
  Bytes lower = file;
  lower[0] = 'i';
  lower[1] = 'g';
  std::size_t at = 0;
  int n = 0;
  while (at < lower.size()) {  // every second segment gets the mixed-case tag "iG"
    if (n++ % 2) lower[at] = 'i';
    at += kSegmentFrameHeader + load_be16(lower.data() + at + 11);
  }
  CGsData gs;
  std::string error;
  ASSERT_TRUE(ReadGraphicsStream(lower, gs, &error)) << error;
  Bytes out;
  ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
  EXPECT_EQ(out, file);
}

TEST(SegmentFile, MissingEndIsMadeUpAndOtherOrdersAreRegrouped) {
  CGsData gs;
  CEpochData& epoch = gs.Epochs.emplace_back();
  CDsData& ds = epoch.DisplaySets.emplace_back();
  // Read a display set stored as END-less segments in the order ODS, PDS, ICS.
  Bytes in;
  test::Append(in, Frame("IG", 7, 6, kSegmentOds, hex_bytes("0001 00 C0 AB")));
  test::Append(in, Frame("IG", 5, 0, kSegmentPds, hex_bytes("00 00")));
  test::Append(in, Frame("IG", 9, 8, kSegmentIcs, hex_bytes("02D0 01E0 10 0000 80 C0")));
  ByteReader r(in);
  EXPECT_EQ(ReadDisplaySet(r, ds), kDisplaySetFileEnded);
  EXPECT_EQ(ds.State, kEpochStart);
  EXPECT_FALSE(ds.End.has_value());

  Bytes out;
  std::string error;
  ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
  Bytes expected;
  test::Append(expected, Frame("IG", 9, 8, kSegmentIcs, hex_bytes("02D0 01E0 10 0000 80 C0")));
  test::Append(expected, Frame("IG", 5, 0, kSegmentPds, hex_bytes("00 00")));
  test::Append(expected, Frame("IG", 7, 6, kSegmentOds, hex_bytes("0001 00 C0 AB")));
  test::Append(expected, Frame("IG", 0, 0, kSegmentEnd, {}));
  EXPECT_EQ(out, expected);
}

TEST(SegmentFile, PgDisplaySetGetsItsStateAndPgTags) {
  Bytes in;
  test::Append(in, Frame("PG", 100, 90, kSegmentPcs, hex_bytes("0780 0438 10 0001 40 00 00 00")));
  test::Append(in, Frame("PG", 90, 0, kSegmentWds, hex_bytes("01 00 0000 0000 0780 0438")));
  test::Append(in, Frame("PG", 90, 0, kSegmentPds, hex_bytes("00 00")));
  test::Append(in, Frame("PG", 90, 0, kSegmentEnd, {}));
  CGsData gs;
  std::string error;
  ASSERT_TRUE(ReadGraphicsStream(in, gs, &error)) << error;
  EXPECT_FALSE(gs.HasIcs);
  EXPECT_EQ(gs.Epochs[0].DisplaySets[0].State, kAcquisitionPoint);
  Bytes out;
  ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
  EXPECT_EQ(out, in);
  // The display set's state goes into the PCS.
  gs.Epochs[0].DisplaySets[0].State = kEpochStart;
  out.clear();
  ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
  EXPECT_EQ(out[13 + 7], 0x80);
}

TEST(SegmentFile, ReadFailures) {
  const Bytes good = TwoDisplaySets();
  CGsData gs;
  std::string error;

  Bytes bad_tag = good;
  bad_tag[1] = 'X';
  EXPECT_FALSE(ReadGraphicsStream(bad_tag, gs, &error));
  EXPECT_NE(error.find("tag"), std::string::npos) << error;
  EXPECT_TRUE(gs.Epochs.empty());  // nothing survives a failed read

  Bytes bad_type = good;
  bad_type[10] = 0x19;
  EXPECT_FALSE(ReadGraphicsStream(bad_type, gs, &error));
  EXPECT_NE(error.find("unknown segment type 0x19"), std::string::npos) << error;

  Bytes two_ends;
  test::Append(two_ends, Frame("IG", 0, 0, kSegmentIcs, hex_bytes("0780 0438 20 0000 80 C0")));
  Bytes twice = two_ends;
  test::Append(twice, Frame("PG", 0, 0, kSegmentPcs, hex_bytes("0780 0438 20 0000 80 00 00 00")));
  test::Append(twice, Frame("PG", 0, 0, kSegmentPcs, hex_bytes("0780 0438 20 0000 80 00 00 00")));
  EXPECT_FALSE(ReadGraphicsStream(twice, gs, &error));
  EXPECT_NE(error.find("second PCS"), std::string::npos) << error;

  EXPECT_FALSE(ReadGraphicsStream(Bytes{}, gs, &error));
  EXPECT_EQ(error, "no complete display set");
  EXPECT_FALSE(ReadGraphicsStream(two_ends, gs, &error));  // no END at all

  // Segments after the last END are dropped.
  Bytes tail = good;
  test::Append(tail, Frame("IG", 0, 0, kSegmentIcs, hex_bytes("0780 0438 20 0000 80 C0")));
  ASSERT_TRUE(ReadGraphicsStream(tail, gs, &error)) << error;
  EXPECT_EQ(gs.DisplaySetCount(), 2u);

  EXPECT_FALSE(ReadGraphicsStream(std::filesystem::path("/nonexistent/x.ig"), gs, &error));
  EXPECT_NE(error.find("/nonexistent/x.ig"), std::string::npos) << error;
}

TEST(SegmentFile, WriteFailures) {
  CGsData empty;
  Bytes out;
  std::string error;
  EXPECT_FALSE(WriteGraphicsStream(out, empty, &error));
  empty.Epochs.emplace_back();
  EXPECT_FALSE(WriteGraphicsStream(out, empty, &error));

  // The second display set fails its check: nothing of the epoch is written.
  CGsData gs;
  ASSERT_TRUE(ReadGraphicsStream(TwoDisplaySets(), gs, &error));
  gs.Epochs[0].DisplaySets[1].PdsFolder.clear();
  gs.Epochs[0].DisplaySets[1].State = kEpochStart;
  EXPECT_FALSE(WriteGraphicsStream(out, gs, &error));
  EXPECT_EQ(error, "display set 2: IG display set without PDS");
  EXPECT_TRUE(out.empty());

  // A file is only created when the whole stream could be composed.
  test::TempDir dir;
  EXPECT_FALSE(WriteGraphicsStream(dir / "x.ig", gs, &error));
  EXPECT_FALSE(std::filesystem::exists(dir / "x.ig"));
  gs.Epochs[0].DisplaySets[1].State = kNormalCase;
  ASSERT_TRUE(WriteGraphicsStream(dir / "x.ig", gs, &error)) << error;
  EXPECT_EQ(test::read_file(dir / "x.ig"), TwoDisplaySets());

  // A PG display set with a WDS of three windows cannot be written.
  CDsData pg;
  pg.Pcs.emplace();
  pg.State = kNormalCase;
  pg.Wds.emplace();
  pg.Wds->Windows.resize(3);
  out = {1, 2};
  EXPECT_FALSE(WriteDisplaySet(out, pg, &error));
  EXPECT_EQ(out, (Bytes{1, 2}));
}

TEST(SegmentFile, TruncatedAndFlippedFilesAreRejectedWithoutCrash) {
  const Bytes good = TwoDisplaySets();
  CGsData gs;
  CDsData first;
  ByteReader in(good);
  ASSERT_EQ(ReadDisplaySet(in, first), kDisplaySetComplete);
  const std::size_t first_end = in.pos();
  for (std::size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    // A cut before the first END leaves no display set. After it, that display set is read and the rest,
    // whole segments or a cut one, is the incomplete second display set, left out and reported.
    CGraphicsStreamReader reader;
    reader.Feed(cut);
    ASSERT_EQ(reader.Finish(gs), n >= first_end) << reader.error();
    if (n < first_end) continue;
    EXPECT_EQ(gs.DisplaySetCount(), 1u);
    ASSERT_EQ(reader.incomplete().has_value(), n > first_end);
    if (n > first_end) {
      EXPECT_EQ(reader.incomplete()->offset, first_end);
    }
  }
  std::mt19937 rng(42);
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    if (ReadGraphicsStream(bad, gs)) {
      Bytes out;
      WriteGraphicsStream(out, gs);  // whatever was read can be written or refused, never crash
    }
  }
}

// What a read gave: success, the error, and the stream written back with every segment's file offset.
struct ReadOutcome {
  bool ok = false;
  std::string error;
  Bytes written;
  std::vector<std::uint64_t> offsets;
  bool operator==(const ReadOutcome&) const = default;
};

ReadOutcome Describe(bool ok, const std::string& error, CGsData& gs) {
  ReadOutcome r;
  r.ok = ok;
  r.error = ok ? std::string() : error;
  if (!ok) return r;
  for (auto& epoch : gs.Epochs) {
    for (auto& ds : epoch.DisplaySets) {
      for (const auto& s : ds.IcsArray) r.offsets.push_back(s.FileOffset);
      for (const auto& s : ds.PdsFolder) r.offsets.push_back(s.FileOffset);
      for (const auto& s : ds.OdsArray) r.offsets.push_back(s.FileOffset);
      if (ds.End) r.offsets.push_back(ds.End->FileOffset);
      WriteDisplaySet(r.written, ds);
    }
  }
  return r;
}

ReadOutcome ReadWhole(const Bytes& file) {
  CGsData gs;
  std::string error;
  const bool ok = ReadGraphicsStream(file, gs, &error);
  return Describe(ok, error, gs);
}

// Feeds the file in pieces of the given sizes (cycled); counts the display sets handed on.
ReadOutcome ReadInPieces(const Bytes& file, const std::vector<std::size_t>& sizes, std::size_t* handed = nullptr) {
  std::size_t count = 0;
  CGraphicsStreamReader reader([&](const CDsData&) { ++count; });
  std::size_t at = 0;
  for (std::size_t i = 0; at < file.size(); ++i) {
    const std::size_t n = std::min(sizes[i % sizes.size()], file.size() - at);
    reader.Feed(ByteSpan(file).subspan(at, n));
    at += n;
  }
  CGsData gs;
  const bool ok = reader.Finish(gs);
  if (handed) *handed = count;
  return Describe(ok, reader.error(), gs);
}

TEST(SegmentFile, ReadingInPiecesGivesWhatReadingWholeGives) {
  std::vector<Bytes> files = {TwoDisplaySets()};
  for (const char* name : {"menu/ig/00000_0x1400.ig", "popup/ig/00000_0x1400.ig"}) {
    files.push_back(test::read_file(test::test_discs_dir() / name));
  }
  // Damaged copies: cut at odd places, a bad tag and a bad type in the middle, flipped bits.
  std::mt19937 rng(7);
  const std::size_t originals = files.size();
  for (std::size_t f = 0; f < originals; ++f) {
    const Bytes good = files[f];  // a copy: files grows below
    for (int k = 0; k < 12; ++k) {
      Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(rng() % good.size()));
      files.push_back(cut);
      Bytes flipped = good;
      flipped[rng() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      files.push_back(flipped);
    }
  }
  const std::vector<std::vector<std::size_t>> pieces = {{1}, {2}, {13}, {7, 1, 300}, {4096}, {65536}, {1u << 30}};
  for (std::size_t f = 0; f < files.size(); ++f) {
    const ReadOutcome whole = ReadWhole(files[f]);
    if (f < originals) {
      ASSERT_TRUE(whole.ok) << f << ": " << whole.error;
    }
    for (const auto& sizes : pieces) {
      std::size_t handed = 0;
      const ReadOutcome part = ReadInPieces(files[f], sizes, &handed);
      ASSERT_EQ(part, whole) << "file " << f << ", first piece " << sizes[0] << ": " << part.error << " / "
                             << whole.error;
    }
  }
}

TEST(SegmentFile, EachDisplaySetIsHandedOnWhenItsEndArrives) {
  const Bytes file = TwoDisplaySets();
  // The END of the first display set ends at byte (13 + 16) + (13 + 12) + (13 + 17) + 13 = 97.
  const std::size_t first_end = 97;
  std::vector<std::size_t> seen;
  std::size_t fed = 0;
  CGraphicsStreamReader reader([&](const CDsData& ds) {
    seen.push_back(fed);
    EXPECT_TRUE(ds.End.has_value());
  });
  for (; fed < file.size();) {
    ++fed;
    ASSERT_TRUE(reader.Feed(ByteSpan(file).subspan(fed - 1, 1)));
  }
  EXPECT_EQ(seen, (std::vector<std::size_t>{first_end, file.size()}));
  CGsData gs;
  ASSERT_TRUE(reader.Finish(gs)) << reader.error();
  EXPECT_EQ(gs.DisplaySetCount(), 2u);

  // A malformed segment stops the reader at once; later bytes change nothing.
  Bytes bad = file;
  bad[first_end + 10] = 0x42;  // type of the second display set's ICS
  CGraphicsStreamReader stopped;
  EXPECT_FALSE(stopped.Feed(bad));
  EXPECT_EQ(stopped.display_sets(), 1u);
  EXPECT_NE(stopped.error().find("unknown segment type 0x42 at offset 107"), std::string::npos) << stopped.error();
  EXPECT_FALSE(stopped.Feed(file));
  EXPECT_FALSE(stopped.Finish(gs));
  EXPECT_TRUE(gs.Epochs.empty());
}

}  // namespace
}  // namespace veld
