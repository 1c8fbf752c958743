// SPDX-License-Identifier: GPL-3.0-or-later
// veld_remux: remultiplexes one clip of a BDMV folder as the replacement does, for the end-to-end checks
// of the multiplexer by independent tools.
//
//   veld_remux BDMV_FOLDER CLIP_NUMBER OUT_FOLDER [--replace-ig]
//
// Without --replace-ig every stream is kept. With it, every IG stream of the clip is demultiplexed,
// written as a segment file OUT_FOLDER/<clip>_<PID>.ig and put back from that file as a new track.
// Writes OUT_FOLDER/<clip>.m2ts and .clpi and prints one line per stream of the new clip:
//   kept OLD_PID NEW_PID TYPE         (PIDs in hex, type in hex)
//   new  FILE NEW_PID TYPE
// and "offset N" (90 kHz) first. Exit status: 0, or 1 on failure (the reason on stderr).
#include <fmt/format.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "veld/graphics/ig_track.h"
#include "veld/disc/bd_disc.h"
#include "veld/graphics/segment_file.h"
#include "veld/pipeline/remux.h"

using namespace veld;
namespace fs = std::filesystem;

namespace {

class StderrMessenger : public Messenger {
 public:
  void show(MessageKind, std::string_view text) override { std::cerr << text << '\n'; }
  Answer ask(std::string_view) override { return Answer::kNo; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: veld_remux BDMV_FOLDER CLIP_NUMBER OUT_FOLDER [--replace-ig]\n";
    return 1;
  }
  const fs::path bdmv = argv[1];
  const int number = std::stoi(argv[2]);
  const fs::path out = argv[3];
  const bool replace_ig = argc > 4 && std::string(argv[4]) == "--replace-ig";
  StderrMessenger messenger;
  Progress progress;
  CBDDisc disc;
  if (!disc.open(bdmv, messenger)) return 1;
  CClpiObject* clip = disc.clips()->find(number);
  if (!clip) {
    std::cerr << "no clip " << number << '\n';
    return 1;
  }
  fs::create_directories(out);
  const std::string title = fmt::format("{:05d}", number);
  std::vector<std::unique_ptr<SRawTrack>> added;
  std::vector<fs::path> files;
  if (replace_ig) {
    std::vector<SClipIgStream> streams;
    if (LoadClipIgStreams(clip->stream_path, streams, progress, messenger) != 0) return 1;
    for (SClipIgStream& s : streams) {
      const fs::path path = out / fmt::format("{}_{}.ig", title, s.pid);
      std::string error;
      if (!WriteGraphicsStream(path, s.data, &error)) {
        std::cerr << error << '\n';
        return 1;
      }
      CSource source{path};
      int index = 0;
      for (SRipTrack& t : clip->rip_tracks.tracks) {
        if (t.pid != s.pid) continue;
        t.kept = false;
        index = t.index;
        const std::string lang = t.stream_info.StreamCodingInfo.language();
        if (lang.size() == 3) source.language = {lang[0], lang[1], lang[2]};
      }
      auto track = SRawTrack::Open(source, nullptr, &error);
      if (!track) {
        std::cerr << error << '\n';
        return 1;
      }
      track->stream_index = index;
      track->own_offset = NewTrackOwnOffset(*clip, s.time_shift);
      added.push_back(std::move(track));
      files.push_back(path);
    }
  }
  const SRemuxOutcome r = RemultiplexClip(*clip, added, out / (title + ".m2ts"), out / (title + ".clpi"), progress,
                                          messenger);
  if (r.result != 0) return 1;
  std::cout << "offset " << r.time_offset << '\n';
  for (const SNewPid& n : r.order) {
    if (n.stream_index >= 0) {
      std::cout << fmt::format("kept 0x{:04X} 0x{:04X} 0x{:02X}\n", n.old_pid, n.pid, n.stream_type);
    } else {
      std::cout << fmt::format("new {} 0x{:04X} 0x{:02X}\n", files[n.new_track].string(), n.pid, n.stream_type);
    }
  }
  return 0;
}
