// SPDX-License-Identifier: GPL-3.0-or-later
// The manifest of an extraction: the parser refuses every malformed line with its number, the writer and
// parser round trip, and the hashes the extraction records equal those of the files read back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/graphics/image_file.h"
#include "veld/pipeline/edits.h"
#include "veld/pipeline/manifest.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kLine = "00000/5120/Epoch1/DS1/0001.gif\t0\t1\t1\t400\t80\t0123456789abcdef\tfedcba9876543210\n";

TEST(Manifest, RoundTrips) {
  std::vector<SManifestEntry> entries = {
      {"00000/5120/Epoch1/DS1/0001.gif", 0, 1, 1, 400, 80, {0x0123456789ABCDEFull, 0xFEDCBA9876543210ull}},
      {"00001/5121/Epoch1/DS12/65536.png", 65535, 1, 12, 1, 65535, {0, ~0ull}}};
  std::string error;
  const auto parsed = ParseManifest(ManifestText(entries), &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(*parsed, entries);
  EXPECT_TRUE(ParseManifest(std::string(kManifestHeading) + "\r\n\n# note\n" + kLine, &error)) << error;
}

TEST(Manifest, RefusesMalformedLines) {
  const std::string head = std::string(kManifestHeading) + "\n";
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", "line 1: expected"},
      {"VELD manifest 2\n" + kLine, "line 1: expected"},
      {head + "a\tb\n", "line 2: 2 fields"},
      {head + kLine + kLine, "line 3: picture \"00000/5120/Epoch1/DS1/0001.gif\" listed twice"},
      {head + "/abs/0001.gif\t0\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad picture path"},
      {head + "a/../../0001.gif\t0\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad picture path"},
      {head + "a//0001.gif\t0\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad picture path"},
      {head + "\t0\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad picture path"},
      {head + "a.gif\t65536\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad object id"},
      {head + "a.gif\t-1\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad object id"},
      {head + "a.gif\t1x\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad object id"},
      {head + "a.gif\t1\t0\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad epoch"},
      {head + "a.gif\t1\t1\t\t4\t8\t0123456789abcdef\t0123456789abcdef\n", "bad display set"},
      {head + "a.gif\t1\t1\t1\t0\t8\t0123456789abcdef\t0123456789abcdef\n", "bad width"},
      {head + "a.gif\t1\t1\t1\t4\t99999999999\t0123456789abcdef\t0123456789abcdef\n", "bad height"},
      {head + "a.gif\t1\t1\t1\t4\t8\t0123456789abcde\t0123456789abcdef\n", "bad pixel hash"},
      {head + "a.gif\t1\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdeg\n", "bad palette hash"},
      {head + "a.gif\t1\t1\t1\t4\t8\t0123456789abcdef\t0123456789abcdef\t\n", "9 fields"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(ParseManifest(c.text, &error));
    EXPECT_THAT(error, HasSubstr(c.expected));
  }
}

// What the extraction records without reading its files back equals what reading them gives, for both
// formats and for palettes with several transparent and translucent entries.
TEST(Manifest, RecordedHashesEqualThoseOfTheWrittenFiles) {
  test::TempDir dir;
  IndexedBitmap bitmap{7, 5, {}};
  for (int i = 0; i < 35; ++i) bitmap.pixels.push_back(static_cast<std::uint8_t>(i * 7));
  ArgbPalette palette{};
  for (std::size_t i = 0; i < 256; ++i) palette[i] = (static_cast<std::uint32_t>(i * 37 % 256) << 24) | (i * 0x010203u);
  palette[3] = 0x00123456;  // transparent entries with colours
  palette[9] = 0x00654321;
  for (const ImageFormat format : {ImageFormat::kGif, ImageFormat::kPng}) {
    const fs::path path = ImageFileName(dir.path(), 0, format);
    ASSERT_EQ(SaveObjectImage(bitmap, palette, path, format), "");
    const LoadedImage image = LoadIndexedImage(path);
    ASSERT_EQ(image.check, ImageCheck::kOk);
    EXPECT_EQ(PictureHashes(image), WrittenPictureHashes(bitmap, palette, format));
    IndexedBitmap other = bitmap;
    other.pixels[17] ^= 1;
    EXPECT_NE(WrittenPictureHashes(other, palette, format), WrittenPictureHashes(bitmap, palette, format));
  }
}

TEST(Manifest, DisplaySetLists) {
  EXPECT_EQ(DisplaySetList({{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}}), "DS1-DS6");
  EXPECT_EQ(DisplaySetList({{1, 4}, {1, 1}, {1, 3}, {2, 1}}), "DS1, DS3-DS4, Epoch2/DS1");
  EXPECT_EQ(DisplaySetList({{1, 2}}), "DS2");
}

}  // namespace
}  // namespace veld
