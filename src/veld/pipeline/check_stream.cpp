// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/check_stream.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "veld/base/file.h"
#include "veld/clip/rip_index.h"
#include "veld/pipeline/check_scan.h"
#include "veld/ts/ts_packet.h"

namespace veld {
namespace {

// The file mapped into memory: the scan looks at the bytes it needs in the page cache instead of copying
// every byte out. false when cancelled; *done false when the file could not be mapped (ScanRead then
// reads it).
bool ScanMapped(File& file, CStreamScan& scan, CFindingList& out, std::uint64_t count, Progress& progress,
                bool* done) {
  CClipPacketSource mapped(file);
  *done = mapped.ok() && mapped.packet_count() > 0;
  if (!*done) return true;
  const int reader = mapped.add_reader();
  const std::uint64_t total = mapped.packet_count();
  constexpr std::uint64_t kBlockPackets = kCheckBlockSize / kSourcePacketSize;
  for (std::uint64_t first = 0; first < total; first += kBlockPackets) {
    const std::uint64_t n = std::min(kBlockPackets, total - first);
    mapped.populate(first, n);
    const ByteSpan block(mapped.packet(first), static_cast<std::size_t>(n) * kSourcePacketSize);
    if (first == 0) scan.first_block(block);
    scan.scan(block);
    if (mapped.shortened()) {  // cut short by another program while it was read
      out.add(check_kind::kClip, -1, scan.spn(), mapped.shortened_error());
      break;
    }
    mapped.reader_at(reader, first + n);
    if (count > 0 && !progress.set_position(static_cast<int>(100 * static_cast<std::uint64_t>(scan.spn()) / count)))
      return false;
  }
  return true;
}

// Reads the file in blocks. false when cancelled.
bool ScanRead(File& file, CStreamScan& scan, CFindingList& out, std::uint64_t count, Progress& progress) {
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCheckBlockSize]);
  for (bool first = true;; first = false) {
    const std::int64_t n = file.read_full(buffer.get(), kCheckBlockSize);
    if (n < 0) {
      out.add(check_kind::kClip, -1, scan.spn(), file.error());
      break;
    }
    const ByteSpan block(buffer.get(), static_cast<std::size_t>(n) / kSourcePacketSize * kSourcePacketSize);
    if (first) scan.first_block(block);
    scan.scan(block);
    if (count > 0 && !progress.set_position(static_cast<int>(100 * static_cast<std::uint64_t>(scan.spn()) / count)))
      return false;
    if (static_cast<std::size_t>(n) < kCheckBlockSize) break;
  }
  return true;
}

}  // namespace

namespace {

// Hands the pieces of another pass over the file to the scan, which must see every packet in order.
class CScanObserver final : public CPacketObserver {
 public:
  explicit CScanObserver(CStreamScan& scan) : scan_(scan) {}
  void observe(std::uint64_t first_spn, const std::uint8_t* packets, std::size_t count) override {
    if (broken_ || static_cast<std::int64_t>(first_spn) != scan_.spn()) {
      broken_ = true;
      return;
    }
    scan_.scan(ByteSpan(packets, count * kSourcePacketSize));
  }
  bool broken() const { return broken_; }

 private:
  CStreamScan& scan_;
  bool broken_ = false;
};

// The scan inside the other pass. false when it did not see the whole file in order (that pass failed
// early): its findings are then taken back. *cancelled when that pass was.
bool ScanInPass(File& file, const SClpiData& clip, CFindingList& out, const SCheckScope& scope, std::uint64_t count,
                const ClipPass& pass, std::int64_t* scanned, bool* cancelled) {
  CStreamScan scan(clip, out, scope);
  scan.prepare_entry_points(count);
  // The clock offset comes from the first block, before any packet is scanned.
  std::unique_ptr<std::uint8_t[]> first(new std::uint8_t[kCheckBlockSize]);
  const std::int64_t n = file.read_full(first.get(), kCheckBlockSize);
  if (n < 0) return false;
  scan.first_block(ByteSpan(first.get(), static_cast<std::size_t>(n) / kSourcePacketSize * kSourcePacketSize));
  CScanObserver observer(scan);
  *cancelled = !pass(observer);
  if (*cancelled || observer.broken() || static_cast<std::uint64_t>(scan.spn()) != count) return false;
  scan.finish();
  *scanned = scan.spn();
  return true;
}

}  // namespace

bool CheckClipStream(const std::filesystem::path& m2ts, const SClpiData& clip, std::vector<SCheckFinding>& findings,
                     Progress& progress, std::uint64_t* packets, const SCheckScope& scope, const ClipPass& pass) {
  CFindingList out(m2ts.string(), findings);
  File file;
  if (!file.open(m2ts, File::Mode::kRead)) {
    out.add(check_kind::kClip, -1, -1, file.error());
    out.finish();
    return true;
  }
  const std::int64_t length = file.length();
  const std::uint64_t count = length > 0 ? static_cast<std::uint64_t>(length) / kSourcePacketSize : 0;
  if (length % static_cast<std::int64_t>(kSourcePacketSize) != 0)
    out.add(check_kind::kPackets, -1, static_cast<std::int64_t>(count),
            fmt::format("the file ends in a partial source packet ({} bytes)", length % 192));
  if (count != clip.ClipInfo.NumberOfSourcePackets)
    out.add(check_kind::kPackets, -1, -1,
            fmt::format("the stream file holds {} source packets, the clip information says {}{}", count,
                        clip.ClipInfo.NumberOfSourcePackets,
                        count < clip.ClipInfo.NumberOfSourcePackets ? " (the file is cut short)" : ""));
  progress.set_status(m2ts.string());
  if (pass && count > 0) {
    // The scan's findings are kept apart from what the other pass finds until the scan is complete.
    std::vector<SCheckFinding> scanned_findings;
    CFindingList in_pass(m2ts.string(), scanned_findings);
    std::int64_t scanned = 0;
    bool cancelled = false;
    if (ScanInPass(file, clip, in_pass, scope, count, pass, &scanned, &cancelled)) {
      in_pass.finish();
      out.finish();
      findings.insert(findings.end(), scanned_findings.begin(), scanned_findings.end());
      if (packets) *packets += static_cast<std::uint64_t>(scanned);
      return true;
    }
    if (cancelled) return false;
    file.seek(0);  // the other pass ended early: the scan runs on its own
  }
  CStreamScan scan(clip, out, scope);
  scan.prepare_entry_points(count);
  bool mapped = false;
  if (!ScanMapped(file, scan, out, count, progress, &mapped)) return false;
  if (!mapped && !ScanRead(file, scan, out, count, progress)) return false;
  scan.finish();
  out.finish();
  if (packets) *packets += static_cast<std::uint64_t>(scan.spn());
  return true;
}

}  // namespace veld
