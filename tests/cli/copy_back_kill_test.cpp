// SPDX-License-Identifier: GPL-3.0-or-later
// A copy-back killed at random moments. `veld replace --copy-back` runs on a generated disc and gets SIGKILL
// after a random delay; renames and links are slowed down (tests/fault shim) so that many of the moments
// fall inside the copy-back. After each kill the BDMV folder must hold every old file or every new one, at
// the latest once the next command has found the journal of the interrupted copy-back and finished or
// undone it (saying so in one line); the work folder's pictures are intact and a rerun succeeds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>

#include "cli/fault_support.h"
#include "veld/pipeline/copy_back.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::DiscState;
using test::RunResult;

constexpr long kSlowRenameMicroseconds = 15000;
constexpr int kTrials = 50;

pid_t start_veld(const std::vector<std::string>& args, const fs::path& scratch) {
  return test::start_veld_slow(args, scratch, kSlowRenameMicroseconds);
}

bool has_leftovers(const std::map<std::string, std::string>& tree) {
  for (const auto& [path, content] : tree)
    if (path.find(".veld-") != std::string::npos) return true;
  return false;
}

TEST(CopyBackKilled, EveryOldOrEveryNewFileAfterFiftyKills) {
  test::TempDir dir;
  const fs::path pristine = dir / "pristine";
  test::copy_disc(test::test_discs_dir() / "popup", pristine);
  const fs::path work = dir / "rip" / "VELD";
  RunResult r = test::run_veld({"extract", (pristine / "BDMV").string(), (dir / "rip").string()}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  test::edit_picture_pixels(work / "Images" / "00000" / "5120" / "Epoch1" / "DS1" / "0003.gif",
                            work / "Images" / "VELD.rip");
  const auto images = test::snapshot_tree(work / "Images");

  // The old and the new disc, and how long a whole run with slow renames takes.
  const auto old_tree = test::tree_content(pristine);
  const fs::path reference = dir / "reference";
  test::copy_disc(pristine, reference);
  const auto started = std::chrono::steady_clock::now();
  const pid_t whole = start_veld({"replace", (reference / "BDMV").string(), work.string(), "--copy-back"}, dir.path());
  int status = 0;
  ASSERT_EQ(waitpid(whole, &status, 0), whole);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::slurp(dir / "killed-err.txt");
  const auto new_tree = test::tree_content(reference);
  ASSERT_NE(new_tree, old_tree);

  std::mt19937 random(20260608);
  std::uniform_int_distribution<long> moment(0, took.count());
  std::map<std::string, int> outcomes;
  int inside_copy_back = 0;
  std::ostringstream log;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const fs::path disc = dir / ("trial" + std::to_string(trial));
    test::copy_disc(pristine, disc);
    const long delay = moment(random);
    const pid_t pid = start_veld({"replace", (disc / "BDMV").string(), work.string(), "--copy-back"}, dir.path());
    usleep(static_cast<useconds_t>(delay));
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const bool killed = WIFSIGNALED(status);

    // Right after the kill: the real names hold whole files; staged files and the journal may remain.
    const auto after_kill = test::tree_content(disc);
    std::map<std::string, std::string> visible;
    for (const auto& [path, content] : after_kill)
      if (path.find(".veld-") == std::string::npos) visible[path] = content;
    const DiscState kill_state = test::disc_state(visible, old_tree, new_tree);
    const bool journal = fs::exists(work / "CopyBack.journal");
    if (journal) ++inside_copy_back;

    // The next command finds the journal, finishes or undoes the copy-back, and says so in one line.
    r = test::run_veld({"replace", (disc / "BDMV").string(), work.string(), "--no-copy-back"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const bool finished = r.err.find("has been finished") != std::string::npos;
    const bool undone = r.err.find("has been undone") != std::string::npos;
    EXPECT_EQ(finished || undone, journal) << r.err;
    if (finished || undone) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_THAT(r.err, HasSubstr((disc / "BDMV").string()));
    }
    const auto after_next = test::tree_content(disc);
    const DiscState next_state = test::disc_state(after_next, old_tree, new_tree);
    EXPECT_NE(next_state, DiscState::kMixed);
    EXPECT_FALSE(has_leftovers(after_next));
    EXPECT_FALSE(fs::exists(work / "CopyBack.journal"));
    if (!journal) {
      EXPECT_EQ(next_state, kill_state) << "without a journal the next command changes nothing";
    }
    if (finished) {
      EXPECT_EQ(next_state, DiscState::kNew);
    }
    if (undone) {
      EXPECT_EQ(next_state, DiscState::kOld);
    }
    EXPECT_EQ(test::snapshot_tree(work / "Images"), images);

    // A rerun succeeds; on the old disc it leaves every new file (on the new one it rebuilds the menu of a
    // disc that has it already).
    r = test::run_veld({"replace", (disc / "BDMV").string(), work.string(), "--copy-back"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    if (next_state == DiscState::kOld) {
      EXPECT_EQ(test::tree_content(disc), new_tree);
    }
    EXPECT_FALSE(has_leftovers(test::tree_content(disc)));

    const std::string outcome = std::string(killed ? "killed" : "done before the kill") + "; real names: " +
                                test::name_of(kill_state) + (has_leftovers(after_kill) ? ", staged files" : "") +
                                (journal ? ", journal" : "") + "; next command: " +
                                (finished ? "finished it, " : undone ? "undid it, " : "") + test::name_of(next_state);
    ++outcomes[outcome];
    log << "trial " << trial << ": kill after " << delay / 1000.0 << " ms of " << took.count() / 1000.0 << ": "
        << outcome << "\n";
    fs::remove_all(disc);
  }
  std::cout << log.str() << "Summary of " << kTrials << " kills:\n";
  for (const auto& [outcome, n] : outcomes) std::cout << "  " << n << " x " << outcome << "\n";
  // The slow renames make the copy-back most of a run, so many kills land inside it.
  EXPECT_GE(inside_copy_back, kTrials / 10);
}

// The extract command looks for the journal too (in the work folder it is about to reuse), before it
// reads the disc.
TEST(CopyBackKilled, ExtractFinishesAnInterruptedCopyBackFirst) {
  test::TempDir dir;
  const fs::path disc = dir / "disc";
  test::copy_disc(test::test_discs_dir() / "popup", disc);
  const fs::path work = dir / "rip" / "VELD";
  RunResult r = test::run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path picture = work / "Images" / "00000" / "5120" / "Epoch1" / "DS1" / "0003.gif";
  test::edit_picture_pixels(picture, work / "Images" / "VELD.rip");
  const std::vector<std::uint8_t> edited = test::read_gif(picture).indices;
  // The full route, so that a playlist is among the files (the in-place route writes none).
  r = test::run_veld({"replace", (disc / "BDMV").string(), work.string(), "--no-copy-back", "--remux", "full"},
                     dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // A copy-back killed after its second rename, as it leaves the disc.
  SReplacedFiles files;
  files.clip_streams = {{0, work / "Stream" / "00000.m2ts"}};
  files.clip_infos = {{0, work / "Stream" / "00000.clpi"}};
  files.playlists = {{0, work / "Stream" / "00000.mpls"}};
  SCopyBackJournal journal;
  journal.state = SCopyBackJournal::State::kRenaming;
  journal.bdmv = disc / "BDMV";
  std::map<std::string, Bytes> expected;
  for (const SCopyItem& item : CopyBackPlan(files, disc / "BDMV")) {
    journal.items.push_back({item.to, true});
    fs::copy_file(item.from, StagedNewFile(item.to));
    expected[item.to.string()] = test::read_file(item.from);
  }
  ASSERT_TRUE(WriteCopyBackJournal(CopyBackJournalPath(work), journal, nullptr));
  for (std::size_t i = 0; i < 2; ++i) {
    fs::create_hard_link(journal.items[i].target, KeptOldFile(journal.items[i].target));
    fs::rename(StagedNewFile(journal.items[i].target), journal.items[i].target);
  }

  r = test::run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string(), "--yes"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("The interrupted copy-back into " + (disc / "BDMV").string() + " has been finished"));
  for (const auto& [target, bytes] : expected) EXPECT_EQ(test::read_file(target), bytes) << target;
  EXPECT_FALSE(has_leftovers(test::tree_content(disc)));
  EXPECT_FALSE(fs::exists(CopyBackJournalPath(work)));
  // The pictures come from the disc as it now is: its menu holds the edited picture.
  EXPECT_EQ(test::read_gif(picture).indices, edited);
}

}  // namespace
}  // namespace veld
