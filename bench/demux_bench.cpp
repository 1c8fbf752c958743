// SPDX-License-Identifier: GPL-3.0-or-later
// Clip stream scanning speed and access-unit index size.
//
// A clip of VELD_BENCH_MIB MiB (default 1024) is synthesised once in the temporary folder (or taken
// from VELD_BENCH_CLIP): H.264-sized video frames, a TrueHD-like audio track with 1,200 access units per
// second, an AC-3 track, an IG stream at the start, PCR and PSI, at about 48 Mbit/s. Measured in the same
// run on the same cached file:
//   cat      `cat FILE > /dev/null`, the baseline;
//   scan_ig  demultiplexing the IG PIDs into track files (the extraction's scan);
//   index    indexing every elementary stream into access units (bytes per unit, peak RSS);
//   replay   replaying every indexed stream in decoding order (file bytes read per byte of file).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "veld/base/file.h"
#include "veld/base/progress.h"
#include "veld/clip/demux.h"
#include "veld/clip/rip_index.h"
#include "veld/ts/transport.h"
#include "synthetic_clip.h"

namespace {

using namespace veld;

std::filesystem::path g_clip;
std::uint64_t g_size = 0;

double seconds_since(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

class NullProgress : public Progress {};

void BM_Cat(benchmark::State& state) {
  const std::string cmd = fmt::format("cat '{}' > /dev/null", g_clip.string());

  for (auto _ : state) {
    const auto a = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("cat failed");
    const double s = seconds_since(a);
    state.SetIterationTime(s);

  }
  state.SetBytesProcessed(static_cast<std::int64_t>(g_size * state.iterations()));
}

// The extraction's scan: the IG PID into a track file in memory. Returns the IG bytes found.
std::uint64_t scan_ig() {
  CTrackInfoMap map;
  STrackInfo info;
  info.coding_type = 0x91;
  info.track = std::make_unique<SIgTrackFile>();
  info.track->attach(std::make_unique<CMemorySink>());
  map.add(0x1400, std::move(info));
  File f;
  f.open(g_clip, File::Mode::kRead);
  NullProgress progress;
  demux_to_track_files(map, f, progress);
  return static_cast<std::uint64_t>(map.find(0x1400)->track->sink()->length());
}

void BM_ScanIg(benchmark::State& state) {

  std::uint64_t ig_bytes = 0;
  for (auto _ : state) {
    const auto a = std::chrono::steady_clock::now();
    ig_bytes = scan_ig();
    const double s = seconds_since(a);
    state.SetIterationTime(s);

  }
  state.counters["ig_bytes"] = static_cast<double>(ig_bytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(g_size * state.iterations()));
}

double peak_rss_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_Index(benchmark::State& state) {
  std::size_t aus = 0, bytes = 0, ranges = 0;
  for (auto _ : state) {
    SRipTracks tracks = bench::synthetic_tracks();
    File f;
    f.open(g_clip, File::Mode::kRead);
    NullProgress progress;
    index_kept_tracks(tracks, f, progress);
    aus = bytes = ranges = 0;
    for (auto& t : tracks.tracks) {
      aus += t.access_units.size();
      bytes += t.access_units.memory_bytes();
      ranges += t.access_units.range_count();
    }
  }
  state.counters["access_units"] = static_cast<double>(aus);
  state.counters["ranges"] = static_cast<double>(ranges);
  state.counters["bytes_per_au"] = aus ? static_cast<double>(bytes) / static_cast<double>(aus) : 0;
  state.counters["peak_rss_mib"] = peak_rss_mib();
  state.SetBytesProcessed(static_cast<std::int64_t>(g_size * state.iterations()));
}

void BM_Replay(benchmark::State& state) {
  SRipTracks tracks = bench::synthetic_tracks();
  {
    File f;
    f.open(g_clip, File::Mode::kRead);
    NullProgress progress;
    index_kept_tracks(tracks, f, progress);
  }
  std::uint64_t read = 0;
  for (auto _ : state) {
    File f;
    f.open(g_clip, File::Mode::kRead);
    CClipPacketSource source(f);
    std::vector<std::unique_ptr<CTrackReplay>> replays;
    for (auto& t : tracks.tracks) {
      replays.push_back(std::make_unique<CTrackReplay>(t, source));
      replays.back()->prepare(0, 1 << 30, 90000, t.pid);
      replays.back()->advance();
    }
    for (;;) {
      CTrackReplay* next = nullptr;
      for (auto& r : replays)
        if (r->current() && (!next || r->current()->DTS < next->current()->DTS)) next = r.get();
      if (!next) break;
      int n = 0;
      while (next->next_packet(&n)) {
      }
      next->advance();
    }
    read = source.bytes_read();
  }
  state.counters["read_per_file_byte"] = static_cast<double>(read) / static_cast<double>(g_size);
  state.counters["peak_rss_mib"] = peak_rss_mib();
  state.SetBytesProcessed(static_cast<std::int64_t>(g_size * state.iterations()));
}

BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_ScanIg)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Index)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Replay)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  g_clip = bench::bench_clip();
  g_size = std::filesystem::file_size(g_clip);
  // Warm the page cache so that both the baseline and the scan read cached data.
  std::system(fmt::format("cat '{}' > /dev/null", g_clip.string()).c_str());

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The comparison itself: cat and the scan alternate, and the best time of each counts, so that load
  // from other processes on the machine hits both alike.
  const std::string cat = fmt::format("cat '{}' > /dev/null", g_clip.string());
  double best_cat = 1e9, best_scan = 1e9;
  for (int round = 0; round < 7; ++round) {
    auto a = std::chrono::steady_clock::now();
    if (std::system(cat.c_str()) != 0) return 2;
    best_cat = std::min(best_cat, seconds_since(a));
    a = std::chrono::steady_clock::now();
    scan_ig();
    best_scan = std::min(best_scan, seconds_since(a));
  }
  std::printf("clip %s, %.0f MiB: best of 7 alternating runs: cat %.0f ms, scan_ig %.0f ms; "
              "scan_ig reaches %.0f%% of cat's throughput (target 80%%)\n",
              g_clip.string().c_str(), static_cast<double>(g_size) / (1 << 20), best_cat * 1000, best_scan * 1000,
              100.0 * best_cat / best_scan);
  return 0;
}
