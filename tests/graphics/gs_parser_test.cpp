// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gs_parser.h"

#include <gtest/gtest.h>

#include "graphics/segment_file_test_util.h"
#include "support/test_support.h"
#include "veld/graphics/segment.h"

namespace veld {
namespace {

using test::Frame;
using test::hex_bytes;

TEST(GsParser, IndexesEverySegmentOfAnIgStream) {
  Bytes file;
  test::Append(file, Frame("IG", 9000, 4500, kSegmentIcs, hex_bytes("0780 0438 23 0000 40 C0 000004 C0 00 00 00")));
  test::Append(file, Frame("ig", 0, 4500, kSegmentPds, hex_bytes("00 00")));
  test::Append(file, Frame("IG", 5000, 0, kSegmentEnd, {}));
  test::TempDir dir;
  test::write_file(dir / "a.ig", file);
  CGsParser parser;
  ASSERT_EQ(parser.Parse(dir / "a.ig"), CGsParser::kEnd) << parser.Error();
  ASSERT_EQ(parser.Index().size(), 3u);
  const SGsIndexRecord ics{16 + 3, 10, kSegmentIcs | (1u << 8), 4500 + kGsTimeOffset, 9000 + kGsTimeOffset, 0};
  EXPECT_EQ(parser.Index()[0], ics);
  EXPECT_EQ(parser.Index()[1].Offset, 13u + 16 + 10);
  EXPECT_EQ(parser.Index()[1].Pts, kGsTimeOffset);  // a PTS of 0 is still moved
  EXPECT_EQ(parser.Index()[2].Dts, 0u);             // a DTS of 0 stays absent
  EXPECT_EQ(parser.Index()[2].TypeWord, kSegmentEnd);
  const SGsTrackInfo& info = parser.Info();
  EXPECT_TRUE(parser.IsIg());
  EXPECT_EQ(info.StreamCodingType, 0x91);
  EXPECT_EQ(info.Width, 1920);
  EXPECT_EQ(info.Height, 1080);
  EXPECT_EQ(info.FrameRate, 2);
  EXPECT_EQ(info.FrameRateReserved, 3);
  EXPECT_TRUE(info.StreamModel);
  EXPECT_EQ(info.AccessUnits, 3u);
  EXPECT_EQ(info.TotalBytes, 19u + 5 + 3);
}

TEST(GsParser, PgStreamTypeWordsAndStops) {
  Bytes file;
  test::Append(file, Frame("PG", 100, 90, kSegmentPcs, hex_bytes("02D0 01E0 10 0001 C0 00 00 00")));
  test::Append(file, Frame("PG", 100, 90, kSegmentPcs, hex_bytes("02D0 01E0 10 0002 00 00 00 01 0001 00 00 0000 0000")));
  test::TempDir dir;
  test::write_file(dir / "a.pg", file);
  CGsParser parser;
  ASSERT_EQ(parser.Parse(dir / "a.pg"), CGsParser::kEnd);
  EXPECT_FALSE(parser.IsIg());
  EXPECT_EQ(parser.Info().Width, 720);
  EXPECT_EQ(parser.Index()[0].TypeWord, kSegmentPcs | (3u << 8) | kGsTypeNoObjects);
  EXPECT_EQ(parser.Index()[1].TypeWord, kSegmentPcs);

  Bytes partial_tag = file;
  partial_tag.push_back('P');
  test::write_file(dir / "b.pg", partial_tag);
  EXPECT_EQ(parser.Parse(dir / "b.pg"), CGsParser::kStopped);
  EXPECT_EQ(parser.Index().size(), 2u);
  Bytes bad_tag = file;
  bad_tag[13 + 11] = 'X';  // the second tag
  test::write_file(dir / "c.pg", bad_tag);
  EXPECT_EQ(parser.Parse(dir / "c.pg"), CGsParser::kBadTag);
  Bytes short_body(file.begin(), file.end() - 1);
  test::write_file(dir / "d.pg", short_body);
  EXPECT_EQ(parser.Parse(dir / "d.pg"), CGsParser::kBadHeader);
  Bytes short_header(file.begin(), file.begin() + 13 + 11 + 7);
  test::write_file(dir / "e.pg", short_header);
  EXPECT_EQ(parser.Parse(dir / "e.pg"), CGsParser::kBadHeader);
  EXPECT_EQ(parser.Parse(dir / "missing.pg"), CGsParser::kOpenFailed);
  EXPECT_FALSE(parser.Error().empty());
}

TEST(GsParser, ReportsProgressAndStopsWhenCancelled) {
  Bytes file;
  const Bytes body(65000, 0x11);
  for (int i = 0; i < 140; ++i) test::Append(file, Frame("IG", 0, 0, kSegmentOds, body));  // ~9 MB
  test::TempDir dir;
  test::write_file(dir / "big.ig", file);
  CGsParser parser;
  test::RecordingProgress progress;
  ASSERT_EQ(parser.Parse(dir / "big.ig", &progress), CGsParser::kEnd);
  ASSERT_EQ(progress.positions.size(), 2u);  // after each 4 MiB
  EXPECT_EQ(progress.positions[0], 46);
  test::RecordingProgress cancelling;
  cancelling.cancel_after = 1;
  EXPECT_EQ(parser.Parse(dir / "big.ig", &cancelling), CGsParser::kStopped);
  EXPECT_LT(parser.Index().size(), 140u);
}

}  // namespace
}  // namespace veld
