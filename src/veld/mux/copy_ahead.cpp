// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/copy_ahead.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "veld/mux/range_copy.h"

namespace veld {
namespace fs = std::filesystem;
namespace {

// Copied in pieces of this size, so that an abandoned copy stops soon.
constexpr std::uint64_t kPiece = std::uint64_t{64} << 20;

}  // namespace

std::uint64_t CCopyLane::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  left_.push_back(false);
  return next_++;
}

bool CCopyLane::wait_turn(std::uint64_t turn, const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return serving_ == turn || stop.load(); });
  return !stop.load();
}

void CCopyLane::wake() {
  const std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
}

void CCopyLane::leave(std::uint64_t turn) {
  const std::lock_guard<std::mutex> lock(mutex_);
  left_[turn] = true;
  while (serving_ < next_ && left_[serving_]) ++serving_;
  changed_.notify_all();
}

void CFileCopyAhead::Start(const fs::path& from, const fs::path& to, CCopyLane* lane) {
  from_ = from;
  to_ = to;
  lane_ = lane;
  if (lane_) turn_ = lane_->take();
  started_ = owned_ = true;
  thread_ = std::thread([this] { Run(); });
}

void CFileCopyAhead::Run() {
  if (lane_ && !lane_->wait_turn(turn_, stop_)) {
    lane_->leave(turn_);
    const std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    done_cv_.notify_all();
    return;
  }
  std::string error;
  const int in = ::open(from_.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : ::open(to_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  struct stat st {};
  bool ok = in >= 0 && out >= 0 && ::fstat(in, &st) == 0;
  if (!ok) error = fmt::format("{}: {}", (in < 0 ? from_ : to_).string(), std::strerror(errno));
  const std::uint64_t size = ok ? static_cast<std::uint64_t>(st.st_size) : 0;
  size_.store(size);
  CRangeCopier copier(in, out);
  for (std::uint64_t at = 0; ok && at < size && !stop_.load(); at += kPiece) {
    ok = copier.copy(at, std::min(kPiece, size - at));
    if (!ok) error = fmt::format("{}: {}", to_.string(), copier.error());
    copied_.store(copier.size());
  }
  ok = ok && !stop_.load() && copier.size() == size;
  if (out >= 0) ::close(out);
  if (in >= 0) ::close(in);
  if (lane_) lane_->leave(turn_);
  const std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  ok_ = ok;
  error_ = error;
  done_cv_.notify_all();
}

bool CFileCopyAhead::Adopt(Progress& progress, int lower, int upper, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    if (progress.cancelled()) break;
    if (done_cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) break;
    const std::uint64_t size = std::max<std::uint64_t>(size_.load(), 1);
    progress.set_position(lower + static_cast<int>(copied_.load() * static_cast<std::uint64_t>(upper - lower) / size));
  }
  const bool ok = done_ && ok_ && !progress.cancelled();
  const std::string why = error_;
  lock.unlock();
  if (!ok) {
    Abandon();
    if (error) *error = progress.cancelled() ? std::string() : why;
    return false;
  }
  thread_.join();
  owned_ = false;
  return true;
}

void CFileCopyAhead::Abandon() {
  stop_.store(true);
  if (lane_) lane_->wake();
  if (thread_.joinable()) thread_.join();
  if (!owned_) return;
  std::error_code ec;
  fs::remove(to_, ec);
  owned_ = false;
}

}  // namespace veld
