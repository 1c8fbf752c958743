// SPDX-License-Identifier: GPL-3.0-or-later
// A worker thread that writes the pictures of display sets while the clip scan goes on: the scanning
// thread posts each display set as soon as it is complete, the worker decodes and encodes it, its objects
// in parallel on helper threads (one per further core). The work of one stream is done in the order it
// was posted.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "veld/base/task_pool.h"
#include "veld/graphics/display_set.h"
#include "veld/pipeline/stream_export.h"

namespace veld {

class CExportWorker {
 public:
  // The scanning thread waits while more than max_queued_bytes of display sets wait for the worker.
  explicit CExportWorker(std::size_t max_queued_bytes = 64u << 20);
  // Drops the work not yet done and joins the thread.
  ~CExportWorker();
  CExportWorker(const CExportWorker&) = delete;
  CExportWorker& operator=(const CExportWorker&) = delete;

  // Adds a stream whose display sets will be posted; returns its number.
  std::size_t AddStream(std::unique_ptr<CStreamExporter> exporter);
  // The next display set of a stream (copied). Ignored once the worker has failed or was cancelled.
  void Post(std::size_t stream, const CDsData& ds);
  // The stream's last display set has been posted: its contact sheet follows.
  void Close(std::size_t stream);
  // Waits until every posted job is done and stops the thread. Returns "" or the first error text; the
  // counts of the work done are added to stats.
  std::string Finish(ExtractStats& stats);
  // Drops the jobs not yet started, then stops the thread (the job under way ends first).
  void Cancel();
  // Whether a job has failed (the first error is returned by Finish).
  bool failed() const;

 private:
  struct Job {
    std::size_t stream = 0;
    bool close = false;
    std::unique_ptr<CDsData> ds;
    std::size_t bytes = 0;
  };
  void Run();
  void Stop(bool drop_pending);

  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable room_ready_;
  std::deque<Job> jobs_;
  std::size_t queued_bytes_ = 0;
  std::size_t max_queued_bytes_;
  bool stopping_ = false;
  std::string error_;
  ExtractStats stats_;
  std::vector<std::unique_ptr<CStreamExporter>> streams_;
  CTaskPool pool_;  // the worker's helpers for the objects of a display set
  std::thread thread_;
};

// Bytes of segment data a display set holds (a measure of the work and memory it takes).
std::size_t DisplaySetBytes(const CDsData& ds);

}  // namespace veld
