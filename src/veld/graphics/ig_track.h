// SPDX-License-Identifier: GPL-3.0-or-later
// Extraction of the Interactive Graphics streams of a clip: find them in the PMT, demultiplex each into
// a graphics track file in memory, and parse each file into a CGsData.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "veld/base/file.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/demux.h"
#include "veld/graphics/gs_data.h"

namespace veld {

struct SClipIgStream {
  std::uint16_t pid = 0;
  CGsData data;
  // The segment times of data are the stream's time stamps minus this (90 kHz): the clip's time base,
  // less the adjustment that keeps the first record at least 131,070 ticks after it.
  std::int64_t time_shift = 0;
};

// Receives each display set of each IG stream while the clip is still being scanned, as soon as its END
// has been read: the PID and the display set, in stream order. Called on the scanning thread.
using DisplaySetListener = std::function<void(std::uint16_t pid, const CDsData& ds)>;

// Extracts the IG streams of an opened clip stream file, in PMT order, appending them to out.
// 0 on success; 1 when cancelled; 2 after an error message: no PMT (5086), no IG stream in the PMT
// (5087), a read error, or a stream that does not parse (the streams parsed before it stay in out).
// With a listener, the display sets also go to it during the scan; a stream that turns out malformed
// later may already have handed display sets on before the error is reported. The observer (when given)
// sees every source packet of the pass.
int LoadClipIgStreams(File& clip_stream, std::vector<SClipIgStream>& out, Progress& progress, Messenger& messenger,
                      const DisplaySetListener& listener = {}, CPacketObserver* observer = nullptr);
// The same for a path; a file that cannot be opened is reported with the system's text.
int LoadClipIgStreams(const std::filesystem::path& clip_stream, std::vector<SClipIgStream>& out, Progress& progress,
                      Messenger& messenger, const DisplaySetListener& listener = {});

}  // namespace veld
