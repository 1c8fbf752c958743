// SPDX-License-Identifier: GPL-3.0-or-later
// The `.ig` reader of a new track: a segment file opened as the replacement opens a rebuilt IG stream
// (SRawTrack::Open, which indexes it with CGsParser and keeps the analysis in a stream-information
// cache), opened again from that cache, and multiplexed into a clip of its own.
#include <system_error>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/clip/clpi.h"
#include "veld/mux/muxer.h"
#include "veld/mux/raw_track.h"

using namespace veld;

namespace {

class MemoryOutput : public CMuxOutput {
 public:
  bool write(ByteSpan data) override {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  std::uint64_t length() const override { return bytes.size(); }
  const std::filesystem::path& path() const override { return path_; }
  const std::string& error() const override { return error_; }
  Bytes bytes;

 private:
  std::filesystem::path path_{"memory"};
  std::string error_;
};

}  // namespace

VELD_FUZZ_TARGET(raw_track) {
  const std::filesystem::path path = fuzz::WriteScratchFile("stream.ig", ByteSpan(data, size));
  // A cache left by the previous input could match this file's size and time stamp.
  std::error_code ec;
  std::filesystem::remove(StreamInfoCachePath(path), ec);
  const CSource source{path};
  std::string error;
  std::unique_ptr<SRawTrack> track = SRawTrack::Open(source, nullptr, &error);
  if (!track) return 0;
  // The second opening takes the cache the first one wrote; it holds the same analysis.
  std::unique_ptr<SRawTrack> cached = SRawTrack::Open(source, nullptr, &error);
  VELD_FUZZ_CHECK(cached && cached->index() == track->index());

  std::vector<SMuxTrack*> added{track.get()};
  const std::vector<SMuxTrack*> ordered = OrderTracks({}, added);
  CMuxer muxer;
  if (!muxer.start(ordered, 1, &error)) return 0;
  MemoryOutput m2ts, clpi;
  fuzz::QuietMessenger messenger;
  fuzz::QuietProgress progress;
  if (muxer.run(m2ts, clpi, progress, messenger) != 0) return 0;
  SClpiData info;
  VELD_FUZZ_CHECK(parse_clpi(clpi.bytes, info, &error) > 0);
  return 0;
}
