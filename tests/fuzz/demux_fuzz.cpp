// SPDX-License-Identifier: GPL-3.0-or-later
// The demultiplexer over a clip stream file: the IG streams of the clip pulled out and parsed as both
// pipelines do (LoadClipIgStreams), and every stream of its PMT indexed access unit by access unit as
// the remultiplexing does.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/clip/demux.h"
#include "veld/graphics/ig_track.h"
#include "veld/clip/rip_index.h"

using namespace veld;

VELD_FUZZ_TARGET(demux) {
  const std::filesystem::path path = fuzz::WriteScratchFile("clip.m2ts", ByteSpan(data, size));
  File file;
  if (!file.open(path, File::Mode::kRead)) return 0;
  fuzz::QuietMessenger messenger;
  fuzz::QuietProgress progress;
  std::vector<SClipIgStream> streams;
  (void)LoadClipIgStreams(file, streams, progress, messenger);

  file.seek(0);
  const std::optional<SPmt> pmt = find_pmt(file);
  if (!pmt) return 0;
  CSiFolder infos;
  for (const SEsInfo& es : pmt->streams) {
    STREAM_INFO si;
    si.StreamPID = es.ElementaryPid;
    si.StreamCodingInfo.CodingType = es.StreamType;
    infos.push_back(si);
  }
  SRipTracks tracks;
  tracks.build(infos);
  std::string error;
  (void)index_kept_tracks(tracks, file, progress, &error);
  return 0;
}
