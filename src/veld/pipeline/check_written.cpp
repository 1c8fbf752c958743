// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/check_written.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "veld/base/file.h"
#include "veld/clip/clpi.h"
#include "veld/pipeline/check_scan.h"
#include "veld/ts/ts_packet.h"

namespace veld {
namespace fs = std::filesystem;

CWrittenClipCheck::CWrittenClipCheck(fs::path m2ts, const std::vector<STREAM_INFO>& streams,
                                     const std::vector<std::uint16_t>& ep_pids, std::vector<std::uint16_t> rebuilt)
    : m2ts_(std::move(m2ts)), rebuilt_(std::move(rebuilt)) {
  skeleton_.streams() = streams;
  STC_INFO stc;
  stc.PcrPid = kPidPcr;
  skeleton_.stc_info() = {stc};
  list_ = std::make_unique<CFindingList>(m2ts_.string(), findings_);
  SCheckScope scope;  // the buffers of the rebuilt streams (see the header)
  scope.all_buffers = false;
  scope.buffer_pids = rebuilt_;
  scan_ = std::make_unique<CStreamScan>(skeleton_, *list_, scope);
  scan_->defer_entry_points(ep_pids);
}

CWrittenClipCheck::~CWrittenClipCheck() = default;

void CWrittenClipCheck::observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) {
  if (broken_ || static_cast<std::int64_t>(first_spn) != scan_->spn() || first_spn + count > 0xFFFFFFFFu) {
    broken_ = true;
    return;
  }
  const ByteSpan piece(packets, count * kSourcePacketSize);
  if (first_spn == 0) {
    // The clock before the first PCR is that of the first PCR, which the multiplexer writes among the
    // first packets.
    scan_->first_block(piece);
    if (!scan_->clock_known()) {
      broken_ = true;
      return;
    }
  }
  scan_->scan(piece);
  const std::uint16_t pmt = skeleton_.ProgramInfo.ProgramSequenceInfo.ProgramMapPid;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* sp = packets + i * kSourcePacketSize;
    const std::uint16_t pid = ts_pid(sp + 4);
    if (pid == kPidPat || pid == pmt || pid == kPidPcr ||
        std::find(rebuilt_.begin(), rebuilt_.end(), pid) != rebuilt_.end()) {
      kept_.insert(kept_.end(), sp, sp + kSourcePacketSize);
      kept_spns_.push_back(static_cast<std::uint32_t>(first_spn + i));
    }
  }
}

bool CWrittenClipCheck::passes(const fs::path& clpi, Progress& progress, bool* cancelled) {
  *cancelled = false;
  const std::optional<Bytes> bytes = read_whole_file(clpi, nullptr);
  SClpiData clip;
  if (!bytes || parse_clpi(*bytes, clip) <= 0) return false;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(m2ts_, ec);
  const std::uint64_t count = static_cast<std::uint64_t>(scan_->spn());
  if (broken_ || ec || count == 0 || size != count * kSourcePacketSize || clip.ClipInfo.NumberOfSourcePackets != count)
    return false;
  if (!scan_->settle(clip)) return false;
  list_->finish();
  if (!findings_.empty()) return false;
  std::string error;  // a sub-clip that cannot be written leaves the check to the reading back
  return SubClipPasses(m2ts_, clpi, clip, kept_, kept_spns_, rebuilt_, progress, cancelled, &error);
}

}  // namespace veld
