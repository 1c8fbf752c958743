// SPDX-License-Identifier: GPL-3.0-or-later
// Playlists of the generated test discs: every one parses and composes back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"
#include "veld/disc/mpls.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> generated_playlists() {
  std::vector<fs::path> out;
  for (const auto& disc : fs::directory_iterator(test::test_discs_dir())) {
    const fs::path dir = disc.path() / "BDMV" / "PLAYLIST";
    if (!fs::is_directory(dir)) continue;
    for (const auto& f : fs::directory_iterator(dir))
      if (f.path().extension() == ".mpls") out.push_back(f.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(MplsGenerated, EveryPlaylistRoundTripsByteForByte) {
  const auto playlists = generated_playlists();
  ASSERT_GE(playlists.size(), 7u);
  for (const auto& p : playlists) {
    SCOPED_TRACE(p.string());
    const Bytes in = test::read_file(p);
    SMplsData d;
    std::string err;
    ASSERT_EQ(parse_mpls(in, d, &err), static_cast<std::int64_t>(in.size())) << err;
    EXPECT_EQ(compose_mpls(d), in);
  }
}

TEST(MplsGenerated, TheSampleDiscsPlaylistsRoundTripToo) {
  const fs::path dir = test::source_dir() / "examples" / "sample-disc" / "BDMV" / "PLAYLIST";
  int count = 0;
  for (const auto& f : fs::directory_iterator(dir)) {
    SCOPED_TRACE(f.path().string());
    const Bytes in = test::read_file(f.path());
    SMplsData d;
    std::string err;
    ASSERT_EQ(parse_mpls(in, d, &err), static_cast<std::int64_t>(in.size())) << err;
    EXPECT_EQ(compose_mpls(d), in);
    ++count;
  }
  EXPECT_GT(count, 0);
}

TEST(MplsGenerated, BackupCopiesAreTheSameFiles) {
  for (const auto& p : generated_playlists()) {
    const fs::path backup = p.parent_path().parent_path() / "BACKUP" / "PLAYLIST" / p.filename();
    ASSERT_TRUE(fs::exists(backup)) << backup;
    SMplsData a, b;
    ASSERT_GT(parse_mpls(test::read_file(p), a), 0);
    ASSERT_GT(parse_mpls(test::read_file(backup), b), 0);
    EXPECT_EQ(a, b) << p;
  }
}

}  // namespace
}  // namespace veld
