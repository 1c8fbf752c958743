// SPDX-License-Identifier: GPL-3.0-or-later
// A fixed set of threads that run the tasks of one batch in parallel, the calling thread among them:
// ForEach(n, task) calls task(0) ... task(n - 1), each once, and returns when all are done. Batches of
// one pool run one at a time. An exception of a task is thrown by ForEach once the batch is over.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace veld {

class CTaskPool {
 public:
  // threads: helpers besides the calling thread; 0 runs every task on the caller.
  explicit CTaskPool(unsigned threads);
  ~CTaskPool();
  CTaskPool(const CTaskPool&) = delete;
  CTaskPool& operator=(const CTaskPool&) = delete;

  void ForEach(std::size_t n, const std::function<void(std::size_t)>& task);
  unsigned helpers() const { return static_cast<unsigned>(threads_.size()); }

  // Helpers for a machine's cores: one less than the hardware threads (the caller is one), at most `cap`.
  static unsigned HelpersForThisMachine(unsigned cap = 7);

 private:
  void Run();
  // Takes and runs tasks of the current batch until none is left.
  void Work(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable batch_done_;
  const std::function<void(std::size_t)>* task_ = nullptr;
  std::size_t next_ = 0, count_ = 0, running_ = 0;
  bool stopping_ = false;
  std::exception_ptr thrown_;  // the first exception of a task of the batch, thrown again by ForEach
  std::vector<std::thread> threads_;
};

}  // namespace veld
