// SPDX-License-Identifier: GPL-3.0-or-later
// `veld undo` after a copy-back: the BDMV folder exactly as before (every file, mode and time); an undo
// killed at random moments leaves every old or every new file once the next command has run; and two runs
// on one work folder: the second refuses, naming the first.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <sstream>

#include "cli/fault_support.h"
#include "veld/base/work_lock.h"
#include "veld/pipeline/copy_back.h"
#include "veld/pipeline/undo.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::DiscState;
using test::RunResult;

constexpr long kSlowRenameMicroseconds = 15000;
constexpr int kTrials = 25;

// A copy of the popup disc with some unusual modes, extracted into dir/rip/VELD with one picture edited.
struct Edited {
  test::TempDir dir;
  fs::path pristine = dir / "pristine";
  fs::path work = dir / "rip" / "VELD";

  Edited() {
    test::copy_disc(test::test_discs_dir() / "popup", pristine);
    ::chmod((pristine / "BDMV" / "STREAM" / "00000.m2ts").c_str(), 0600);
    ::chmod((pristine / "BDMV" / "CLIPINF" / "00000.clpi").c_str(), 0444);
    ::chmod((pristine / "BDMV" / "PLAYLIST" / "00000.mpls").c_str(), 0640);
    const RunResult r = test::run_veld({"extract", (pristine / "BDMV").string(), (dir / "rip").string()}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    test::edit_picture_pixels(work / "Images" / "00000" / "5120" / "Epoch1" / "DS1" / "0003.gif",
                              work / "Images" / "VELD.rip");
  }
  RunResult replace(const fs::path& disc, const char* copy = "--copy-back") const {
    return test::run_veld({"replace", (disc / "BDMV").string(), work.string(), copy}, dir.path());
  }
  RunResult undo(bool yes = true) const {
    std::vector<std::string> args{"undo", work.string()};
    if (yes) args.push_back("--yes");
    return test::run_veld(args, dir.path());
  }
};

mode_t mode_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

TEST(UndoCli, CopyBackThenUndoLeavesTheDiscAsItWas) {
  Edited e;
  const fs::path disc = e.dir / "disc";
  test::copy_disc(e.pristine, disc);
  const auto before = test::snapshot_tree(disc);
  RunResult r = e.replace(disc);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_NE(test::snapshot_tree(disc), before);
  // The copy-back kept the modes of the files it replaced.
  EXPECT_EQ(mode_of(disc / "BDMV" / "STREAM" / "00000.m2ts"), 0600u);
  EXPECT_EQ(mode_of(disc / "BDMV" / "CLIPINF" / "00000.clpi"), 0444u);
  EXPECT_EQ(mode_of(disc / "BDMV" / "PLAYLIST" / "00000.mpls"), 0640u);

  // Without --yes and without a terminal the question is answered No: nothing changes.
  r = e.undo(false);
  EXPECT_EQ(r.status, 1) << r.err;
  r = e.undo();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::snapshot_tree(disc), before);  // every file's bytes, mode and time; every folder
  EXPECT_THAT(r.out, HasSubstr("The copy-back of "));
  EXPECT_THAT(r.out, HasSubstr("put back " + (disc / "BDMV" / "STREAM" / "00000.m2ts").string()));
  r = e.undo();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("holds no copy-back to undo"));
  EXPECT_EQ(test::snapshot_tree(disc), before);
  r = test::run_veld({"undo", (e.dir / "rip").string()}, e.dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("VELD"));
}

bool has_leftovers(const std::map<std::string, std::string>& tree) {
  for (const auto& [path, content] : tree)
    if (path.find(".veld-") != std::string::npos) return true;
  return false;
}

TEST(UndoCli, KilledUndoLeavesEveryOldOrEveryNewFile) {
  Edited e;
  const auto old_tree = test::tree_content(e.pristine);
  const fs::path reference = e.dir / "reference";
  test::copy_disc(e.pristine, reference);
  RunResult r = e.replace(reference);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto new_tree = test::tree_content(reference);
  ASSERT_NE(new_tree, old_tree);
  // How long a whole undo with slow renames takes.
  const auto started = std::chrono::steady_clock::now();
  const pid_t whole = test::start_veld_slow({"undo", e.work.string(), "--yes"}, e.dir.path(), kSlowRenameMicroseconds);
  int status = 0;
  ASSERT_EQ(waitpid(whole, &status, 0), whole);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::slurp(e.dir / "killed-err.txt");
  ASSERT_EQ(test::tree_content(reference), old_tree);

  std::mt19937 random(20261209);
  std::uniform_int_distribution<long> moment(0, took.count());
  std::map<std::string, int> outcomes;
  int inside = 0;
  std::ostringstream log;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const fs::path disc = e.dir / ("trial" + std::to_string(trial));
    test::copy_disc(e.pristine, disc);
    r = e.replace(disc);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(test::tree_content(disc), new_tree);
    const long delay = moment(random);
    const pid_t pid = test::start_veld_slow({"undo", e.work.string(), "--yes"}, e.dir.path(), kSlowRenameMicroseconds);
    usleep(static_cast<useconds_t>(delay));
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const bool journal = fs::exists(CopyBackJournalPath(e.work));
    if (journal) ++inside;

    // The next command finishes or rolls back the interrupted undo, saying so in one line.
    r = e.replace(disc, "--no-copy-back");
    ASSERT_EQ(r.status, 0) << r.err;
    const bool finished = r.err.find("undo in " + (disc / "BDMV").string() + " has been finished") != std::string::npos;
    const bool rolled_back = r.err.find("undo in " + (disc / "BDMV").string() + " has been rolled back") != std::string::npos;
    EXPECT_EQ(finished || rolled_back, journal) << r.err;
    const auto after_next = test::tree_content(disc);
    const DiscState state = test::disc_state(after_next, old_tree, new_tree);
    EXPECT_NE(state, DiscState::kMixed);
    EXPECT_FALSE(has_leftovers(after_next));
    EXPECT_FALSE(fs::exists(CopyBackJournalPath(e.work)));
    if (finished) {
      EXPECT_EQ(state, DiscState::kOld);
    }
    if (rolled_back) {
      EXPECT_EQ(state, DiscState::kNew);
    }
    // The entry is gone exactly when the undo happened; an undo still to do takes the disc back.
    const auto entries = ListUndoEntries(UndoFolder(e.work));
    EXPECT_EQ(entries.size(), state == DiscState::kNew ? 1u : 0u);
    if (state == DiscState::kNew) {
      r = e.undo();
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(test::tree_content(disc), old_tree);
    }
    const std::string outcome = std::string(WIFSIGNALED(status) ? "killed" : "done before the kill") +
                                (journal ? ", journal" : "") + "; next command: " +
                                (finished ? "finished it, " : rolled_back ? "rolled it back, " : "") + test::name_of(state);
    ++outcomes[outcome];
    log << "trial " << trial << ": kill after " << delay / 1000.0 << " ms of " << took.count() / 1000.0 << ": "
        << outcome << "\n";
    fs::remove_all(disc);
    fs::remove_all(UndoFolder(e.work));
  }
  std::cout << log.str() << "Summary of " << kTrials << " kills:\n";
  for (const auto& [outcome, n] : outcomes) std::cout << "  " << n << " x " << outcome << "\n";
  EXPECT_GE(inside, kTrials / 10);
}

// Reads the pid in a work folder's lock file (0 while there is none).
long lock_holder(const fs::path& work) {
  long pid = 0;
  std::string command;
  const std::string text = test::slurp(CWorkLock::path_of(work));
  return ReadWorkLockText(text, &pid, &command) ? pid : 0;
}

TEST(UndoCli, ASecondRunOnTheWorkFolderRefusesNamingTheFirst) {
  Edited e;
  const fs::path disc = e.dir / "disc";
  test::copy_disc(e.pristine, disc);
  // The first run, frozen while it holds the folder.
  const pid_t first = test::start_veld_slow({"replace", (disc / "BDMV").string(), e.work.string(), "--copy-back"},
                                            e.dir.path(), kSlowRenameMicroseconds);
  int status = 0;
  while (lock_holder(e.work) != first) {
    ASSERT_EQ(waitpid(first, &status, WNOHANG), 0) << "the first run ended before it was seen holding the folder";
    usleep(1000);
  }
  ASSERT_EQ(kill(first, SIGSTOP), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"undo", e.work.string(), "--yes"},
        std::vector<std::string>{"replace", (disc / "BDMV").string(), e.work.string(), "--no-copy-back"},
        std::vector<std::string>{"extract", (disc / "BDMV").string(), (e.dir / "rip").string(), "--yes"}}) {
    SCOPED_TRACE(args[0]);
    const RunResult r = test::run_veld(args, e.dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("The work folder " + e.work.string() + " is in use by process " +
                                 std::to_string(first) + " (" + VELD_CLI_PATH + " replace "));
  }
  ASSERT_EQ(kill(first, SIGCONT), 0);
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::slurp(e.dir / "killed-err.txt");
  EXPECT_FALSE(fs::exists(CWorkLock::path_of(e.work)));
  // Free again: the undo runs.
  const RunResult r = e.undo();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::tree_content(disc), test::tree_content(e.pristine));
}

}  // namespace
}  // namespace veld
