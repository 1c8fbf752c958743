// SPDX-License-Identifier: GPL-3.0-or-later
// A synthetic clip stream for the benchmarks: H.264-sized video frames, a TrueHD-like audio track with
// 1,200 access units per second, an AC-3 track, an IG stream at the start, PCR and PSI, at about
// 48 Mbit/s.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "veld/base/bytes.h"
#include "veld/clip/rip_track.h"
#include "veld/ts/psi.h"
#include "veld/ts/transport.h"
#include "veld/ts/ts_packet.h"

namespace veld::bench {

// Appends one PES packet as transport packets (last one padded with adaptation-field stuffing).
class Writer {
 public:
  explicit Writer(std::FILE* f) : f_(f) {}
  void pes(std::uint16_t pid, std::uint8_t stream_id, std::uint64_t pts, std::uint64_t dts, std::size_t size,
           std::uint8_t first_byte) {
    SPesHeader h;
    h.StreamID = stream_id;
    h.PTS_DTS_Flag = pts != dts ? 3 : 2;
    h.PTS = {static_cast<std::uint8_t>(pts != dts ? 3 : 2), pts};
    h.DTS = {1, dts};
    std::uint8_t head[32];
    const std::size_t hs = h.write(head, sizeof head);
    std::size_t left = hs + size;
    bool first = true;
    while (left > 0) {
      std::uint8_t p[192];
      store_be32(p, static_cast<std::uint32_t>(spn_ * 846));
      std::uint8_t* ts = p + 4;
      const std::size_t chunk = std::min<std::size_t>(184, left);
      STsHeader th;
      th.PID = pid;
      th.PayloadUnitStartIndicator = first;
      th.ContinuityCounter = cc_[pid]++ & 15;
      std::size_t at = 4;
      if (chunk < 184) {
        th.AdapationFieldControl = 3;
        SAdaptationField af;
        af.Empty = chunk == 183;
        af.StuffingSize = chunk == 183 ? 0 : 184 - chunk - 2;
        at += af.write(ts + 4, 184);
      }
      th.write(ts);
      std::size_t k = 0;
      if (first) {
        std::memcpy(ts + at, head, hs);
        k = hs;
        ts[at + k] = first_byte;
        ++k;
      }
      std::memset(ts + at + k, 0x5A, chunk - k);
      left -= chunk;
      first = false;
      put(p);
    }
  }
  void pcr(std::uint64_t base) {
    std::uint8_t p[192];
    store_be32(p, static_cast<std::uint32_t>(spn_ * 846));
    SPsiPacketContext c;
    c.header.PID = kPidPcr;
    c.header.PayloadUnitStartIndicator = false;
    c.header.AdapationFieldControl = 2;
    SAdaptationField af;
    af.PCR_Flag = true;
    af.PCR.Base = base;
    af.StuffingSize = 176;
    c.adaptation_field = af;
    write_psi_packet(c, p + 4);
    put(p);
  }
  void pmt(SPmt pmt) {
    Bytes sec;
    pmt.write(sec);
    std::uint8_t p[192];
    std::memset(p, 0xFF, sizeof p);
    store_be32(p, static_cast<std::uint32_t>(spn_ * 846));
    SPsiPacketContext c;
    c.header.PID = kPidPmt;
    c.header.ContinuityCounter = cc_[kPidPmt]++ & 15;
    write_pmt_packet(c, p + 4, sec, true);
    put(p);
  }
  std::uint64_t bytes() const { return spn_ * 192; }

 private:
  void put(const std::uint8_t* p) {
    std::fwrite(p, 1, 192, f_);
    ++spn_;
  }
  std::FILE* f_;
  std::uint64_t spn_ = 0;
  std::uint8_t cc_[8192] = {};
};

inline void synthesise(const std::filesystem::path& path, std::uint64_t target) {
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  if (!f) {
    std::perror("bench clip");
    std::exit(2);
  }
  std::setvbuf(f, nullptr, _IOFBF, 1 << 22);
  Writer w(f);
  SPmt pmt;
  for (auto [pid, type] : {std::pair{0x1011, 0x1B}, {0x1100, 0x83}, {0x1101, 0x81}, {0x1400, 0x91}}) {
    SEsInfo es;
    es.ElementaryPid = static_cast<std::uint16_t>(pid);
    es.StreamType = static_cast<std::uint8_t>(type);
    pmt.streams.push_back(es);
  }
  const std::uint64_t t0 = 900000;  // 10 s
  for (std::uint64_t tick = 0; w.bytes() < target; ++tick) {  // 1,200 ticks per second (75 90-kHz ticks)
    const std::uint64_t t = t0 + tick * 75;
    if (tick % 120 == 0) w.pmt(pmt);
    if (tick % 60 == 0) w.pcr(t - 27000);
    if (tick < 40) w.pes(0x1400, 0xBD, t + 45000, t + 45000, 2000, tick % 4 == 0 ? 0x18 : 0x15);
    if (tick % 50 == 0) w.pes(0x1011, 0xE0, t + 9000, t + 6000, 200000, 0x00);
    w.pes(0x1100, 0xBD, t + 3000, t + 3000, 300, 0xF8);  // TrueHD-like: 1,200 units per second
    if (tick % 38 == 0) w.pes(0x1101, 0xBD, t + 3000, t + 3000, 640, 0x0B);
  }
  std::fclose(f);
}

// The stream plan of the synthetic clip: (PID, coding type).
inline constexpr std::pair<std::uint16_t, std::uint8_t> kSyntheticStreams[] = {
    {0x1011, 0x1B}, {0x1100, 0x83}, {0x1101, 0x81}, {0x1400, 0x91}};

// The tracks of the synthetic clip, one per stream of the plan.
inline SRipTracks synthetic_tracks() {
  CSiFolder streams(std::size(kSyntheticStreams));
  for (std::size_t i = 0; i < streams.size(); ++i) {
    streams[i].StreamPID = kSyntheticStreams[i].first;
    streams[i].StreamCodingInfo.CodingType = kSyntheticStreams[i].second;
  }
  SRipTracks tracks;
  tracks.build(streams);
  return tracks;
}

// The clip of VELD_BENCH_CLIP, or a synthetic one of VELD_BENCH_MIB MiB (default 1024) made once in the
// temporary folder.
inline std::filesystem::path bench_clip() {
  const char* mib = std::getenv("VELD_BENCH_MIB");
  const std::uint64_t target = (mib ? std::strtoull(mib, nullptr, 10) : 1024) << 20;
  if (const char* clip = std::getenv("VELD_BENCH_CLIP")) return clip;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("veld-demux-bench-" + std::to_string(target >> 20) + ".m2ts");
  std::error_code ec;
  const auto have = std::filesystem::file_size(path, ec);
  if (ec || have < target) synthesise(path, target);
  return path;
}

}  // namespace veld::bench
