// SPDX-License-Identifier: GPL-3.0-or-later
// A whole-file copy made on a thread of its own while the caller works out whether it needs one: a clip
// rebuilt in place whose menu keeps its packet count is the old file with some packets overwritten, so
// the copy (the costly part) can run while the menu is still being read and rebuilt. The copy goes
// through CRangeCopier (a shared extent where the file system can, else copy_file_range). Until the
// caller adopts the copy, the file is the object's: abandoned or destroyed, it removes it.
//
// Copies that share a lane run one after another in the order they were started, so that the copies of
// several clips, all started at the beginning of a run, neither fight over the disk nor delay the first
// clip's copy behind a later one's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "veld/base/progress.h"

namespace veld {

// Turns in the order they were taken: a copy waits until every copy that took a turn before it has
// finished or been abandoned.
class CCopyLane {
 public:
  std::uint64_t take();
  // Waits for the turn; false when `stop` was set first (whoever sets it calls wake()).
  bool wait_turn(std::uint64_t turn, const std::atomic<bool>& stop);
  // Has the waiting copies look at their stop flags.
  void wake();
  // The turn is over (also for a copy that stopped before it came).
  void leave(std::uint64_t turn);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t next_ = 0;
  std::uint64_t serving_ = 0;
  std::vector<bool> left_;  // by turn
};

class CFileCopyAhead {
 public:
  CFileCopyAhead() = default;
  CFileCopyAhead(const CFileCopyAhead&) = delete;
  CFileCopyAhead& operator=(const CFileCopyAhead&) = delete;
  ~CFileCopyAhead() { Abandon(); }

  // Starts copying the whole of `from` into `to` (created, or emptied when it exists), after the copies
  // of the lane started before it when a lane is given (it must outlive this object).
  void Start(const std::filesystem::path& from, const std::filesystem::path& to, CCopyLane* lane = nullptr);
  bool started() const { return started_; }
  const std::filesystem::path& target() const { return to_; }
  // Waits for the copy, moving progress from `lower` to `upper` percent as it goes. true: `to` is a whole
  // copy of `from` as it was when the copy began, and now the caller's. false: *error says why (nothing
  // when cancelled), and `to` is gone.
  bool Adopt(Progress& progress, int lower, int upper, std::string* error);
  // The copy is not needed: stops it and removes `to` (nothing once adopted).
  void Abandon();

 private:
  void Run();

  std::filesystem::path from_, to_;
  CCopyLane* lane_ = nullptr;
  std::uint64_t turn_ = 0;
  std::thread thread_;
  bool started_ = false;
  bool owned_ = false;  // `to` is this object's to remove
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> copied_{0};
  std::atomic<std::uint64_t> size_{0};
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;  // under mutex_
  bool ok_ = false;
  std::string error_;
};

}  // namespace veld
