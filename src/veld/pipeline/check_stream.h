// SPDX-License-Identifier: GPL-3.0-or-later
// The stream part of the disc check: one pass over a clip stream file against its clip information.
// The file is read in blocks into one buffer; per source packet only the bytes the checks need are
// looked at, and nothing is allocated (findings are rare and made only when one is found).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/demux.h"
#include "veld/pipeline/check.h"

namespace veld {

inline constexpr std::size_t kCheckBlockSize = 32768 * 192;  // 6 MiB of source packets
// At most this many findings of one kind on one PID are listed; the rest are counted in one more.
inline constexpr int kMaxFindingsPerCheck = 8;

// Scans the stream file against clip: packet count, arrival times, PAT and PMT, entry-point map,
// sequence and program information, decoding times and decoder buffers. Findings are appended with
// `file` naming the stream file. false only when cancelled. *packets receives the packets scanned. The
// decoder buffers are modelled for the streams of the scope. With a pass, the scan rides on that pass
// over the file (which must hand every packet over in order; it returns false when cancelled) instead of
// reading the file itself; when that pass ends early, the file is scanned on its own.
using ClipPass = std::function<bool(CPacketObserver&)>;
bool CheckClipStream(const std::filesystem::path& m2ts, const SClpiData& clip, std::vector<SCheckFinding>& findings,
                     Progress& progress, std::uint64_t* packets = nullptr, const SCheckScope& scope = {},
                     const ClipPass& pass = {});

// Whether the first bytes of an access unit (its elementary-stream bytes from the PES payload on) make a
// random access point for the coding type: H.264 a sequence parameter set before the first slice, which
// is an IDR or I slice; MPEG-2 a sequence header and an I picture; VC-1 a sequence header; graphics a
// composition segment (PCS or ICS) whose state is not "normal case". Other types pass. *why says what is
// missing when the answer is false.
bool IsRandomAccessPoint(std::uint8_t coding_type, ByteSpan es, std::string* why);

}  // namespace veld
