// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/index.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "veld/clip/clpi.h"

namespace veld {
namespace {

void object_ref(ByteWriter& w, std::uint8_t type, std::uint8_t access, std::uint8_t playback, std::uint16_t id,
                std::string_view bdjo = "") {
  w.u8(static_cast<std::uint8_t>((type << 6) | (access << 4)));
  w.zeros(3);
  w.u8(static_cast<std::uint8_t>(playback << 6));
  w.u8(0);
  if (type == 1) {
    w.u16(id);
    w.zeros(4);
  } else {
    w.text(bdjo);
    w.u8(0);
  }
}

// An index file with first playback, top menu, three titles (one BD-J) and, when asked, extension data.
Bytes index_file(bool with_ext) {
  Bytes f;
  ByteWriter w(f);
  w.text("INDX0200");
  w.u32(78);  // IndexsStartAddress: header 40 + AppInfoBDMV 38
  w.u32(0);
  for (int i = 0; i < 24; ++i) w.u8(static_cast<std::uint8_t>(i));
  w.u32(34);
  w.u16(0x1234);
  w.text("provider data, thirty-two bytes!");
  const std::size_t ix = w.pos();
  w.u32(0);
  object_ref(w, 1, 0, 1, 0);       // first playback
  object_ref(w, 1, 0, 0, 1);       // top menu
  w.u16(3);
  object_ref(w, 1, 2, 0, 2);
  object_ref(w, 2, 1, 1, 0, "12345");
  object_ref(w, 1, 0, 1, 0xFFFE);
  w.patch_u32(ix, static_cast<std::uint32_t>(w.pos() - ix - 4));
  if (with_ext) {
    w.patch_u32(12, static_cast<std::uint32_t>(w.pos()));
    SExtensionData ext;
    ext.Entries.push_back({1, 2, 0, 3, {7, 8, 9}});
    write_ext_data(ext, f);
  }
  return f;
}

TEST(IndexParse, HeaderReferencesAndTitles) {
  const Bytes f = index_file(false);
  SIndexData d;
  std::string error;
  ASSERT_EQ(parse_index(f, d, &error), static_cast<int>(f.size())) << error;
  EXPECT_EQ(std::string(d.TypeIndicator.data(), 4), "INDX");
  EXPECT_EQ(std::string(d.Version.data(), 4), "0200");
  EXPECT_EQ(d.IndexsStartAddress, 78u);
  EXPECT_EQ(d.Reserved[23], 23);
  EXPECT_EQ(d.AppInfoBDMVLength, 34u);
  EXPECT_EQ(d.AppInfoFlags, 0x1234);
  EXPECT_EQ(d.ContentProviderUserData[0], 'p');
  EXPECT_EQ(d.IndexesLength, 12u * 5 + 2);
  EXPECT_TRUE(d.FirstPlayback.is_hdmv());
  EXPECT_EQ(d.FirstPlayback.PlaybackType, 1);
  EXPECT_EQ(d.FirstPlayback.MovieObject, 0);
  EXPECT_EQ(d.TopMenu.MovieObject, 1);
  ASSERT_EQ(d.Titles.size(), 3u);
  EXPECT_EQ(d.Titles[0].TitleAccessType, 2);
  EXPECT_EQ(d.Titles[0].MovieObject, 2);
  // A BD-J title carries its object file name, not a movie object id.
  EXPECT_EQ(d.Titles[1].ObjectType, 2);
  EXPECT_EQ(d.Titles[1].BDJO_FileName, "12345");
  EXPECT_EQ(d.Titles[1].MovieObject, 0xFFFF);
  EXPECT_EQ(d.Titles[1].TitleAccessType, 1);
  EXPECT_EQ(d.Titles[2].MovieObject, 0xFFFE);
  EXPECT_FALSE(d.ExtensionData);

  const SIndexObjectRef fresh;
  EXPECT_EQ(fresh.ObjectType, 1);
  EXPECT_EQ(fresh.MovieObject, 0xFFFF);
  EXPECT_EQ(fresh.BDJO_FileName, "00000");
}

TEST(IndexParse, ExtensionDataAndFailures) {
  const Bytes f = index_file(true);
  CIndexObject index;
  ASSERT_EQ(index.parse(f), static_cast<int>(f.size()));
  ASSERT_TRUE(index.data.ExtensionData);
  EXPECT_EQ(index.data.ExtensionData->Entries.at(0).Data, (std::vector<std::uint8_t>{7, 8, 9}));

  for (std::size_t n = 0; n < f.size(); ++n) {
    const Bytes cut(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
    SIndexData d;
    EXPECT_EQ(parse_index(cut, d), 0) << n;
  }
  Bytes g = index_file(false);
  store_be16(&g[78 + 4 + 24], 6);  // more titles than the block holds
  SIndexData d;
  std::string error;
  EXPECT_EQ(parse_index(g, d, &error), 0);
  EXPECT_THAT(error, testing::HasSubstr("Indexes"));
  g = index_file(false);
  store_be32(&g[8], 0xFFFFFF00u);
  EXPECT_EQ(parse_index(g, d), 0);
}

}  // namespace
}  // namespace veld
