// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/export_worker.h"

namespace veld {

std::size_t DisplaySetBytes(const CDsData& ds) {
  std::size_t n = 0;
  for (const auto& ics : ds.IcsArray) n += ics.Fragment.size() + 16;
  for (const auto& pds : ds.PdsFolder) n += pds.Entries.size() * 5 + 16;
  for (const auto& ods : ds.OdsArray) n += ods.Fragment.size() + 16;
  return n;
}

CExportWorker::CExportWorker(std::size_t max_queued_bytes)
    : max_queued_bytes_(max_queued_bytes), pool_(CTaskPool::HelpersForThisMachine()), thread_([this] { Run(); }) {}

CExportWorker::~CExportWorker() { Stop(true); }

std::size_t CExportWorker::AddStream(std::unique_ptr<CStreamExporter> exporter) {
  std::lock_guard lock(mutex_);
  exporter->set_pool(&pool_);
  streams_.push_back(std::move(exporter));
  return streams_.size() - 1;
}

void CExportWorker::Post(std::size_t stream, const CDsData& ds) {
  Job job;
  job.stream = stream;
  job.bytes = DisplaySetBytes(ds);
  std::unique_lock lock(mutex_);
  // A display set larger than the whole budget still goes through, alone.
  room_ready_.wait(lock, [&] { return stopping_ || !error_.empty() || queued_bytes_ == 0 ||
                                      queued_bytes_ + job.bytes <= max_queued_bytes_; });
  if (stopping_ || !error_.empty()) return;
  lock.unlock();
  job.ds = std::make_unique<CDsData>(ds);  // copied outside the lock
  lock.lock();
  queued_bytes_ += job.bytes;
  jobs_.push_back(std::move(job));
  work_ready_.notify_one();
}

void CExportWorker::Close(std::size_t stream) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  Job job;
  job.stream = stream;
  job.close = true;
  jobs_.push_back(std::move(job));
  work_ready_.notify_one();
}

bool CExportWorker::failed() const {
  std::lock_guard lock(mutex_);
  return !error_.empty();
}

void CExportWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, nothing left
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    CStreamExporter* exporter = job.stream < streams_.size() ? streams_[job.stream].get() : nullptr;
    const bool skip = !error_.empty() || !exporter;
    lock.unlock();
    ExtractStats done;
    std::string error;
    if (!skip) error = job.close ? exporter->Finish(done) : exporter->Add(*job.ds, done);
    job.ds.reset();
    lock.lock();
    queued_bytes_ -= job.bytes;
    stats_ += done;
    if (!error.empty() && error_.empty()) error_ = std::move(error);
    room_ready_.notify_all();
  }
}

void CExportWorker::Stop(bool drop_pending) {
  {
    std::lock_guard lock(mutex_);
    if (drop_pending) {
      for (const Job& job : jobs_) queued_bytes_ -= job.bytes;
      jobs_.clear();
    }
    stopping_ = true;
  }
  work_ready_.notify_all();
  room_ready_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string CExportWorker::Finish(ExtractStats& stats) {
  Stop(false);
  std::lock_guard lock(mutex_);
  stats += stats_;
  stats_ = ExtractStats{};
  return error_;
}

void CExportWorker::Cancel() { Stop(true); }

}  // namespace veld
