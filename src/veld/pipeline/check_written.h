// SPDX-License-Identifier: GPL-3.0-or-later
// The check of a clip made while the multiplexer writes it. The writing thread shows every piece of the
// new stream file to the check right after writing it, while the piece is still in the processor's
// cache; the check scans it as the disc check scans a file, with the streams, PMT PID and PCR PID the
// clip information will list. It models the decoder buffers of the rebuilt streams only: the
// multiplexer sends no packet of any stream before its buffers admit it, by these same models, and
// modelling them all again would double the check's cost on the thread that writes. Once the clip
// information is written, its entry points, sequence and program information are held against what the
// scan saw, and the rebuilt streams' display sets are decoded from their own packets (kept aside with
// the PAT, the PMT and the PCRs). A clip that passes so needs no reading back before its copy-back; one
// that shows any finding is checked from its file, against its original, as before.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/demux.h"
#include "veld/pipeline/check.h"

namespace veld {

class CFindingList;
class CStreamScan;

class CWrittenClipCheck final : public CPacketObserver {
 public:
  // streams: those the new clip information will list; ep_pids: the streams given entry points;
  // rebuilt: the rebuilt streams, whose display sets are decoded.
  CWrittenClipCheck(std::filesystem::path m2ts, const std::vector<STREAM_INFO>& streams,
                    const std::vector<std::uint16_t>& ep_pids, std::vector<std::uint16_t> rebuilt);
  ~CWrittenClipCheck() override;
  CWrittenClipCheck(const CWrittenClipCheck&) = delete;
  CWrittenClipCheck& operator=(const CWrittenClipCheck&) = delete;

  void observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) override;

  // After the clip information file clpi is written: true when the clip has no finding at all. false
  // when it has one, when the scan did not see every packet of the stream file in order, or when the
  // clip information cannot be read or names other streams; false also when cancelled (*cancelled).
  bool passes(const std::filesystem::path& clpi, Progress& progress, bool* cancelled);

 private:
  std::filesystem::path m2ts_;
  SClpiData skeleton_;  // what the scan starts from
  std::vector<std::uint16_t> rebuilt_;
  std::vector<SCheckFinding> findings_;
  std::unique_ptr<CFindingList> list_;
  std::unique_ptr<CStreamScan> scan_;
  bool broken_ = false;
  // The packets the display sets are decoded from, and their numbers.
  Bytes kept_;
  std::vector<std::uint32_t> kept_spns_;
};

}  // namespace veld
