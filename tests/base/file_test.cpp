// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"
#include "veld/base/file_list.h"

namespace veld {
namespace {

TEST(File, WritesReadsSeeksAndReportsLength) {
  test::TempDir dir;
  File f;
  ASSERT_TRUE(f.open(dir / "a.bin", File::Mode::kCreate)) << f.error();
  const Bytes data = test::hex_bytes("00 11 22 33 44 55 66 77");
  ASSERT_TRUE(f.write(data));
  EXPECT_EQ(f.length(), 8);
  f.close();
  ASSERT_TRUE(f.open(dir / "a.bin", File::Mode::kRead));
  ASSERT_TRUE(f.seek(5));
  std::uint8_t buf[8] = {};
  EXPECT_EQ(f.read(buf, 8), 3);
  EXPECT_EQ(buf[0], 0x55);
  EXPECT_EQ(f.position(), 8);
  EXPECT_EQ(f.read(buf, 8), 0);
}

TEST(File, ErrorsCarryThePathAndTheSystemText) {
  test::TempDir dir;
  File f;
  EXPECT_FALSE(f.open(dir / "missing.bin", File::Mode::kRead));
  EXPECT_NE(f.error().find("missing.bin"), std::string::npos);
  EXPECT_NE(f.error().find("No such file or directory"), std::string::npos);
  EXPECT_FALSE(f.open(dir.path(), File::Mode::kRead));  // a folder is not a file
  std::string err;
  EXPECT_FALSE(read_whole_file(dir / "missing.bin", &err).has_value());
  EXPECT_FALSE(err.empty());
  // Long paths are cut at the limit.
  const std::string long_name(400, 'x');
  EXPECT_EQ(system_error_text(long_name, ENOENT).size(), kMaxErrorText);
}

TEST(File, FailedWholeFileWriteLeavesNoPartialFile) {
  test::TempDir dir;
  const std::filesystem::path path = dir / "big.bin";
  // In a child whose files may not grow past 4 bytes: the first 4 of 8 bytes are written, then the
  // write fails with the system's text and the file is gone.
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool ok = write_whole_file(path, test::hex_bytes("00 11 22 33 44 55 66 77"), &error);
    const bool reported = error.find("File too large") != std::string::npos && error.find("big.bin") != std::string::npos;
    _exit(!ok && reported && !std::filesystem::exists(path) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  std::string error;
  EXPECT_TRUE(write_whole_file(path, test::hex_bytes("00 11"), &error)) << error;
  EXPECT_EQ(std::filesystem::file_size(path), 2u);
}

TEST(CFileList, ArchiveStoresRelativePathsAndResolvesThemOnLoad) {
  test::TempDir dir;
  test::write_file(dir / "a.h264", test::hex_bytes("01 02 03"));
  test::write_file(dir / "sub" / "b.h264", test::hex_bytes("01 02 03 04 05"));
  CFileList list;
  list.value = 7;
  list.items = {{dir / "a.h264", 1}, {dir / "sub" / "b.h264", 2}, {dir / "missing.h264", 3}};
  EXPECT_EQ(list.total_size(), 8u);

  const Bytes stored = list.store(dir / "list.rsif");
  // Leading zero, value, count, then the first item with its relative path.
  EXPECT_EQ(stored[0], 0);
  EXPECT_EQ(stored[1], 7);
  EXPECT_EQ(stored[5], 3);
  EXPECT_EQ(stored[11], 6);  // counted string "a.h264"
  auto loaded = CFileList::load(stored, dir / "list.rsif");
  ASSERT_TRUE(loaded.has_value());
  ASSERT_EQ(loaded->items.size(), 3u);
  EXPECT_EQ(loaded->items[1].path, dir / "sub" / "b.h264");
  EXPECT_EQ(loaded->items[2].value, 3u);
  EXPECT_EQ(loaded->value, 7u);

  for (std::size_t n = 0; n < stored.size(); ++n) {
    EXPECT_FALSE(CFileList::load(ByteSpan(stored).first(n), dir / "list.rsif").has_value()) << n;
  }
  Bytes huge_count = stored;
  huge_count[8] = 0x7F;
  EXPECT_FALSE(CFileList::load(huge_count, dir / "list.rsif").has_value());
}

}  // namespace
}  // namespace veld
