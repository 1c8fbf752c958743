// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the multiplexer's output on a second thread: the multiplexer fills one piece while the pieces
// before it are written, so that the kernel's copy into the page cache does not hold up the packet work.
// Pieces are written in order, each in one call; the first failure stops the writing and is reported by
// the next submit() or finish(). An observer sees each piece on the writing thread once it is written,
// while it is still in the cache; the pieces must then hold whole source packets.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/clip/demux.h"

namespace veld {

class CMuxOutput;

class CBackgroundWriter {
 public:
  // `pieces` buffers of `piece_size` bytes each; one is filled while the others wait or are written.
  CBackgroundWriter(CMuxOutput& out, std::size_t piece_size, int pieces, CPacketObserver* observer = nullptr);
  ~CBackgroundWriter();  // abandons what is not written yet
  CBackgroundWriter(const CBackgroundWriter&) = delete;
  CBackgroundWriter& operator=(const CBackgroundWriter&) = delete;

  // The piece being filled.
  std::uint8_t* piece() { return filling_->data(); }
  std::size_t piece_size() const { return piece_size_; }
  // Hands the first `bytes` of the piece over for writing and starts a new one (waits for a free
  // buffer). false once a write has failed.
  bool submit(std::size_t bytes);
  // Waits until everything submitted is written. false when a write failed.
  bool finish();

 private:
  void run();

  CMuxOutput& out_;
  CPacketObserver* observer_;
  std::uint64_t observed_ = 0;  // source packets shown to the observer
  std::size_t piece_size_;
  std::vector<Bytes> buffers_;
  Bytes* filling_ = nullptr;
  std::deque<std::pair<Bytes*, std::size_t>> queue_;  // submitted, not written yet
  std::vector<Bytes*> free_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool failed_ = false;
  bool stopping_ = false;
  bool writing_ = false;
  std::thread thread_;
};

}  // namespace veld
