// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/background_writer.h"

#include "veld/mux/muxer.h"
#include "veld/ts/ts_packet.h"

namespace veld {

CBackgroundWriter::CBackgroundWriter(CMuxOutput& out, std::size_t piece_size, int pieces, CPacketObserver* observer)
    : out_(out), observer_(observer), piece_size_(piece_size), buffers_(static_cast<std::size_t>(std::max(pieces, 2)), Bytes(piece_size)) {
  for (std::size_t i = 1; i < buffers_.size(); ++i) free_.push_back(&buffers_[i]);
  filling_ = &buffers_[0];
  thread_ = std::thread([this] { run(); });
}

CBackgroundWriter::~CBackgroundWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

bool CBackgroundWriter::submit(std::size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) return false;
  if (bytes > 0) queue_.emplace_back(filling_, bytes);
  changed_.notify_all();
  changed_.wait(lock, [&] { return !free_.empty() || failed_; });
  if (failed_) return false;
  if (bytes > 0) {
    filling_ = free_.back();
    free_.pop_back();
  }
  return true;
}

bool CBackgroundWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return (queue_.empty() && !writing_) || failed_; });
  return !failed_;
}

void CBackgroundWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const auto [buffer, bytes] = queue_.front();
    queue_.pop_front();
    writing_ = true;
    lock.unlock();
    const bool ok = out_.write(ByteSpan(buffer->data(), bytes));
    if (ok && observer_) {
      const std::size_t count = bytes / kSourcePacketSize;
      observer_->observe(observed_, buffer->data(), count);
      observed_ += count;
    }
    lock.lock();
    writing_ = false;
    free_.push_back(buffer);
    if (!ok) {
      failed_ = true;
      queue_.clear();
    }
    changed_.notify_all();
  }
}

}  // namespace veld
