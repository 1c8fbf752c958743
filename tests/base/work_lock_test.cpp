// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/work_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;

TEST(WorkLock, TextRoundTrip) {
  long pid = 0;
  std::string command;
  ASSERT_TRUE(ReadWorkLockText(WorkLockText(4242, "veld replace /a b"), &pid, &command));
  EXPECT_EQ(pid, 4242);
  EXPECT_EQ(command, "veld replace /a b");
  for (const char* bad : {"", "pid \ncommand x\n", "pid 12\n", "pid 12x\ncommand x\n", "pid 12\ncommand x", "pid -3\ncommand\n"})
    EXPECT_FALSE(ReadWorkLockText(bad, &pid, &command)) << bad;
}

// A second holder is refused and told who holds the folder, in this process (two open files) and in
// another; once the first lets go the lock file is gone and the folder can be taken again.
TEST(WorkLock, SecondHolderIsRefusedNamingTheFirst) {
  test::TempDir dir;
  CWorkLock first;
  std::string error;
  ASSERT_EQ(first.take(dir.path(), nullptr, nullptr, &error), CWorkLock::Result::kTaken) << error;
  long pid = 0;
  std::string command;
  CWorkLock second;
  EXPECT_EQ(second.take(dir.path(), &pid, &command, &error), CWorkLock::Result::kBusy);
  EXPECT_EQ(pid, static_cast<long>(::getpid()));
  EXPECT_NE(command.find("veld_base_tests"), std::string::npos) << command;
  EXPECT_FALSE(second.held());

  const pid_t child = fork();
  if (child == 0) {
    CWorkLock other;
    long holder = 0;
    const auto r = other.take(dir.path(), &holder, nullptr, nullptr);
    _exit(r == CWorkLock::Result::kBusy && holder == static_cast<long>(getppid()) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  first.release();
  EXPECT_FALSE(fs::exists(CWorkLock::path_of(dir.path())));
  EXPECT_EQ(second.take(dir.path(), nullptr, nullptr, &error), CWorkLock::Result::kTaken) << error;
  CWorkLock moved = std::move(second);
  EXPECT_TRUE(moved.held());
  EXPECT_EQ(first.take(dir.path(), &pid, nullptr, nullptr), CWorkLock::Result::kBusy);
}

TEST(WorkLock, AFolderThatCannotTakeTheFileIsAnError) {
  test::TempDir dir;
  CWorkLock lock;
  std::string error;
  EXPECT_EQ(lock.take(dir / "missing", nullptr, nullptr, &error), CWorkLock::Result::kError);
  EXPECT_NE(error.find("missing/veld.lock"), std::string::npos) << error;
}

}  // namespace
}  // namespace veld
