// SPDX-License-Identifier: GPL-3.0-or-later
// The copy made ahead: adopted, it is the whole source and stays; abandoned, cancelled or destroyed
// unadopted, it is gone; a source that cannot be read is an error that names it. Copies on one lane
// run in the order they were started, and one abandoned before its turn does not hold up the rest.
#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"
#include "veld/base/file.h"
#include "veld/mux/copy_ahead.h"

namespace veld {
namespace {
namespace fs = std::filesystem;

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
  return b;
}

TEST(CopyAhead, AdoptedIsWholeOtherwiseGone) {
  test::TempDir dir;
  const fs::path from = dir / "in.m2ts", to = dir / "out.m2ts";
  const Bytes data = Pattern((3u << 20) + 192 * 7);
  ASSERT_TRUE(write_whole_file(from, data, nullptr));
  Progress progress;
  {
    CFileCopyAhead ahead;
    ahead.Start(from, to);
    std::string error;
    ASSERT_TRUE(ahead.Adopt(progress, 0, 100, &error)) << error;
  }
  EXPECT_EQ(read_whole_file(to, nullptr), data);  // the adopted copy outlives the object
  {
    CFileCopyAhead ahead;
    ahead.Start(from, to);
    ahead.Abandon();
    EXPECT_FALSE(fs::exists(to));
  }
  {
    CFileCopyAhead ahead;
    ahead.Start(from, to);
  }
  EXPECT_FALSE(fs::exists(to));
  {
    Progress cancelled;
    cancelled.cancel();
    CFileCopyAhead ahead;
    ahead.Start(from, to);
    std::string error = "?";
    EXPECT_FALSE(ahead.Adopt(cancelled, 0, 100, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::exists(to));
  }
  {
    CFileCopyAhead ahead;
    ahead.Start(dir / "missing.m2ts", to);
    std::string error;
    EXPECT_FALSE(ahead.Adopt(progress, 0, 100, &error));
    EXPECT_NE(error.find("missing.m2ts"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(to));
  }
}

TEST(CopyAhead, ALaneCopiesInTurnAndSkipsTheAbandoned) {
  test::TempDir dir;
  const fs::path from = dir / "in.m2ts";
  const Bytes data = Pattern((2u << 20) + 192 * 3);
  ASSERT_TRUE(write_whole_file(from, data, nullptr));
  Progress progress;
  CCopyLane lane;
  CFileCopyAhead first, second, third;
  first.Start(from, dir / "1.m2ts", &lane);
  second.Start(from, dir / "2.m2ts", &lane);
  third.Start(from, dir / "3.m2ts", &lane);
  second.Abandon();  // before or during its turn: its file is gone either way
  std::string error;
  ASSERT_TRUE(third.Adopt(progress, 0, 100, &error)) << error;
  // The third's turn came after the first's: that one is whole too, although nobody waited for it.
  std::error_code ec;
  EXPECT_EQ(fs::file_size(dir / "1.m2ts", ec), data.size());
  ASSERT_TRUE(first.Adopt(progress, 0, 100, &error)) << error;
  EXPECT_EQ(read_whole_file(dir / "1.m2ts", nullptr), data);
  EXPECT_FALSE(fs::exists(dir / "2.m2ts"));
  EXPECT_EQ(read_whole_file(dir / "3.m2ts", nullptr), data);
}

}  // namespace
}  // namespace veld
