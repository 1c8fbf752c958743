// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/task_pool.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace veld {

CTaskPool::CTaskPool(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

CTaskPool::~CTaskPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& t : threads_) t.join();
}

unsigned CTaskPool::HelpersForThisMachine(unsigned cap) {
  const unsigned hardware = std::thread::hardware_concurrency();
  return std::min(cap, hardware > 1 ? hardware - 1 : 0u);
}

void CTaskPool::Work(std::unique_lock<std::mutex>& lock) {
  while (task_ && next_ < count_) {
    const std::size_t i = next_++;
    ++running_;
    const std::function<void(std::size_t)>& task = *task_;
    lock.unlock();
    std::exception_ptr thrown;
    try {
      task(i);
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    if (thrown && !thrown_) thrown_ = thrown;
    --running_;
  }
  if (task_ && next_ >= count_ && running_ == 0) batch_done_.notify_all();
}

void CTaskPool::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [&] { return stopping_ || (task_ && next_ < count_); });
    if (stopping_) return;
    Work(lock);
  }
}

void CTaskPool::ForEach(std::size_t n, const std::function<void(std::size_t)>& task) {
  if (n == 0) return;
  if (threads_.empty() || n == 1) {
    std::exception_ptr thrown;
    for (std::size_t i = 0; i < n; ++i) {
      try {
        task(i);
      } catch (...) {
        if (!thrown) thrown = std::current_exception();
      }
    }
    if (thrown) std::rethrow_exception(thrown);
    return;
  }
  std::unique_lock lock(mutex_);
  task_ = &task;
  next_ = 0;
  count_ = n;
  work_ready_.notify_all();
  Work(lock);
  batch_done_.wait(lock, [&] { return next_ >= count_ && running_ == 0; });
  task_ = nullptr;
  if (std::exception_ptr thrown = std::exchange(thrown_, nullptr)) std::rethrow_exception(thrown);
}

}  // namespace veld
