// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clpi_dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "veld/clip/clpi.h"
#include "veld/clip/clpi_ext.h"

namespace veld {
namespace {

using testing::HasSubstr;

TEST(ClpiDump, NamesEveryFieldAsTheFormatDoes) {
  SClpiData d;
  d.ClipInfo.ApplicationType = 5;
  d.stc_info().push_back({0x1001, 0, 100, 200});
  STREAM_INFO v;
  v.StreamPID = 0x1011;
  v.StreamCodingInfo.CodingType = 0x1B;
  v.StreamCodingInfo.VideoFormat = 6;
  v.StreamCodingInfo.FrameRate = 4;
  v.StreamCodingInfo.AspectRatio = 3;
  STREAM_INFO ig;
  ig.StreamPID = 0x1400;
  ig.StreamCodingInfo.CodingType = 0x91;
  ig.StreamCodingInfo.set_language("eng");
  d.streams() = {v, ig};
  STREAM_PID_ENTRY e;
  e.StreamPid = 0x1011;
  e.KeyPoints = {KEY_POINT_INFO{0, 512, 3, 0}};
  d.ep_map() = {e};
  d.ToolStamp = make_tool_stamp("VELD", "1.0.0");
  SClpiData p;
  ASSERT_GT(parse_clpi(write_clpi(d), p), 0);
  const std::string text = dump_clpi(p);
  EXPECT_THAT(text, HasSubstr("SequenceInfoStartAddress: 220\n"));
  EXPECT_THAT(text, HasSubstr("  ApplicationType: 5 (SubTS for a SubPath of Interactive Graphics menu)\n"));
  EXPECT_THAT(text, HasSubstr("    StartPTS: 100\n"));
  EXPECT_THAT(text, HasSubstr("    StreamPID: 0x1011\n    StreamCodingType: H.264(0x1B)\n    Attributes: 1080p, 29.97, 16:9\n"));
  EXPECT_THAT(text, HasSubstr("StreamCodingType: IG(0x91)\n    Attributes: eng\n"));
  EXPECT_THAT(text, HasSubstr("  NumberOfPidEnties: 1\n"));
  EXPECT_THAT(text, HasSubstr("    KeyPointCount: 1\n    KeyPoint: PTS 512, Spn Start 3, Spn End 0\n"));
  EXPECT_THAT(text, HasSubstr("ToolStamp: WQTX\n"));
  EXPECT_THAT(text, HasSubstr("  Company: VELD\n  Descriptor: VELD 1.0.0\n"));
  EXPECT_EQ(coding_type_name(0x20), "Unknown");
}

TEST(ClpiExtPayload, ToolTextThroughThePayloadInterface) {
  EXPECT_EQ(make_ext_payload(1, 1), nullptr);
  EXPECT_EQ(make_ext_payload(0x1000, 2), nullptr);
  auto payload = make_ext_payload(0x1000, 1);
  ASSERT_NE(payload, nullptr);
  const Bytes bytes = serialise_tool_data({"VELD", "VELD, Version 2.0"});
  ASSERT_TRUE(payload->parse(bytes));
  EXPECT_EQ(payload->serialise(nullptr), bytes.size());
  Bytes out(bytes.size());
  payload->serialise(out.data());
  EXPECT_EQ(out, bytes);
  EXPECT_EQ(payload->print(""), "Company: VELD\nDescriptor: VELD, Version 2.0\n");
  EXPECT_FALSE(payload->parse(ByteSpan(bytes).first(3)));
}

}  // namespace
}  // namespace veld
