// SPDX-License-Identifier: GPL-3.0-or-later
// Remultiplexing speed and memory: a whole clip (every stream kept, as when a menu is replaced) against
// `cp` of the same cached file onto the same file system, measured alternately in one run.
//
// The clip is VELD_BENCH_CLIP (its streams from CLIPINF beside STREAM when it lies in a BDMV folder, such
// as the generator's large disc), or a synthetic one of VELD_BENCH_MIB MiB (default 1024, see
// synthetic_clip.h). VELD_BENCH_OUT names the folder for the outputs (default: the temporary folder).
// Reports the best of VELD_BENCH_ROUNDS (default 3) alternating rounds, the ratio to cp (target 2.0,
// aim 1.5), peak RSS and index bytes per access unit.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "synthetic_clip.h"
#include "veld/base/file.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi.h"
#include "veld/clip/rip_index.h"
#include "veld/mux/muxer.h"
#include "veld/mux/rip_mux_track.h"

namespace {

using namespace veld;
namespace fs = std::filesystem;

class NullProgress : public Progress {};
class NullMessenger : public Messenger {
 public:
  void show(MessageKind, std::string_view text) override { std::fprintf(stderr, "%.*s\n", int(text.size()), text.data()); }
  Answer ask(std::string_view) override { return Answer::kNo; }
};

double seconds_since(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// User and system CPU seconds of this process (self) or of its waited-for children.
double cpu_seconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peak_rss_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// The file output, timing its writes.
class TimedOutput : public CMuxOutput {
 public:
  bool open(const fs::path& p) { return file_.open(p); }
  bool write(ByteSpan data) override {
    const auto a = std::chrono::steady_clock::now();
    const bool ok = file_.write(data);
    seconds += seconds_since(a);
    return ok;
  }
  std::uint64_t length() const override { return file_.length(); }
  const fs::path& path() const override { return file_.path(); }
  const std::string& error() const override { return file_.error(); }
  double seconds = 0;

 private:
  CFileOutput file_;
};

struct Remuxed {
  double seconds = 0;
  double index_seconds = 0;
  double write_seconds = 0;
  std::size_t access_units = 0;
  std::size_t index_bytes = 0;
  std::uint64_t packets = 0;
};

// The tracks of a clip: from its clip information when it lies in a BDMV folder (STREAM/x.m2ts beside
// CLIPINF/x.clpi), otherwise the synthetic clip's plan.
SRipTracks clip_tracks(const fs::path& clip) {
  const fs::path clpi = clip.parent_path().parent_path() / "CLIPINF" / (clip.stem().string() + ".clpi");
  std::string error;
  if (const std::optional<Bytes> bytes = read_whole_file(clpi, &error)) {
    CClpiObject info;
    if (info.parse(*bytes) > 0) return info.rip_tracks;
  }
  return bench::synthetic_tracks();
}

// Indexes every stream of the clip and remultiplexes it into out (the work of one rebuilt clip).
Remuxed remux(const fs::path& clip, const fs::path& out) {
  const auto start = std::chrono::steady_clock::now();
  Remuxed r;
  SRipTracks tracks = clip_tracks(clip);
  File file;
  if (!file.open(clip, File::Mode::kRead)) std::exit(2);
  NullProgress progress;
  NullMessenger messenger;
  if (index_kept_tracks(tracks, file, progress) != IndexResult::kOk) std::exit(2);
  r.index_seconds = seconds_since(start);
  for (const SRipTrack& t : tracks.tracks) {
    r.access_units += t.access_units.size();
    r.index_bytes += t.access_units.memory_bytes();
  }
  CClipPacketSource source(file);
  std::vector<std::unique_ptr<CRipMuxTrack>> owned;
  std::vector<SMuxTrack*> kept;
  for (const SRipTrack& t : tracks.tracks) {
    owned.push_back(std::make_unique<CRipMuxTrack>(t, source, 54000000 - 900000));
    kept.push_back(owned.back().get());
  }
  CMuxer muxer;
  std::string error;
  if (!muxer.start(OrderTracks(kept, {}), 1, &error)) std::exit(2);
  TimedOutput m2ts, clpi;
  if (!m2ts.open(out / "remux-bench.m2ts") || !clpi.open(out / "remux-bench.clpi")) std::exit(2);
  if (muxer.run(m2ts, clpi, progress, messenger) != 0) std::exit(2);
  r.packets = muxer.packets_written();
  r.write_seconds = m2ts.seconds;
  r.seconds = seconds_since(start);
  return r;
}

}  // namespace

int main() {
  const fs::path clip = bench::bench_clip();
  const char* out_env = std::getenv("VELD_BENCH_OUT");
  const fs::path out = out_env ? fs::path(out_env) : fs::temp_directory_path();
  const char* rounds_env = std::getenv("VELD_BENCH_ROUNDS");
  const int rounds = rounds_env ? std::max(1, std::atoi(rounds_env)) : 3;
  const std::uint64_t size = fs::file_size(clip);
  const std::string cp = fmt::format("cp '{}' '{}'", clip.string(), (out / "cp-bench.m2ts").string());
  const std::string sync = fmt::format("sync -f '{}'", out.string());
  std::system(fmt::format("cat '{}' > /dev/null", clip.string()).c_str());  // cached for both

  double best_cp = 1e9, best_remux = 1e9, cpu_cp = 1e9, cpu_remux = 1e9;
  Remuxed last;
  for (int round = 0; round < rounds; ++round) {
    // Each starts with the other's output written back, so that neither pays for the other's dirty pages.
    std::system(sync.c_str());
    double c = cpu_seconds(RUSAGE_CHILDREN);
    auto a = std::chrono::steady_clock::now();
    if (std::system(cp.c_str()) != 0) return 2;
    best_cp = std::min(best_cp, seconds_since(a));
    cpu_cp = std::min(cpu_cp, cpu_seconds(RUSAGE_CHILDREN) - c);
    fs::remove(out / "cp-bench.m2ts");
    std::system(sync.c_str());
    c = cpu_seconds(RUSAGE_SELF);
    a = std::chrono::steady_clock::now();
    last = remux(clip, out);
    best_remux = std::min(best_remux, seconds_since(a));
    cpu_remux = std::min(cpu_remux, cpu_seconds(RUSAGE_SELF) - c);
    if (!std::getenv("VELD_BENCH_KEEP")) {
      fs::remove(out / "remux-bench.m2ts");
      fs::remove(out / "remux-bench.clpi");
    }
  }
  std::printf("last remux: indexing %.0f ms, writing the output %.0f ms, the rest %.0f ms\n", last.index_seconds * 1000,
              last.write_seconds * 1000, (last.seconds - last.index_seconds - last.write_seconds) * 1000);
  std::printf("clip %s, %.0f MiB, %zu access units: best of %d alternating rounds: cp %.0f ms, remux %.0f ms "
              "(%.2fx cp; target 2x, aim 1.5x); CPU time cp %.0f ms, remux %.0f ms (%.2fx); %.1f index bytes per "
              "access unit; peak RSS %.0f MiB; %llu packets written\n",
              clip.string().c_str(), static_cast<double>(size) / (1 << 20), last.access_units, rounds, best_cp * 1000,
              best_remux * 1000, best_remux / best_cp, cpu_cp * 1000, cpu_remux * 1000, cpu_remux / cpu_cp,
              last.access_units ? static_cast<double>(last.index_bytes) / static_cast<double>(last.access_units) : 0.0,
              peak_rss_mib(), static_cast<unsigned long long>(last.packets));
  return 0;
}
