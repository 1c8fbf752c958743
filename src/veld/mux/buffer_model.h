// SPDX-License-Identifier: GPL-3.0-or-later
// Decoder buffer models: when may the next transport packet of a track enter the multiplex so that the
// decoder's buffers never overflow?
//
// A model is a chain of buffers that a track's packets pass through (ISO/IEC 13818-1 2.4.2, the T-STD):
// transport buffers that leak at a fixed rate, and an elementary buffer from which each access unit is
// removed at its decoding time. Every buffer gives an admission time: the earliest arrival time at which
// the next packet fits (0 = no constraint). The multiplexer never sends a packet before the admission time
// of the model the current access unit uses.
//
// Times: arrival times t are 27 MHz ticks of the new file's arrival clock; system times s are the 27 MHz
// system clock at that arrival (the PCR mapping); decoding time stamps are 90 kHz.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>

namespace veld {

inline constexpr std::uint64_t kSystemClock = 27000000;  // ticks per second
inline constexpr std::uint32_t kTransportBufferSize = 512;

// A transport buffer of `size` bytes that leaks at `rate` bit/s. Every packet brings 188 bytes.
class CTransBuffer {
 public:
  CTransBuffer() = default;
  CTransBuffer(std::uint32_t size, std::uint64_t rate)
      : size_(size), rate_(rate), rate_inverse_(rate ? ~std::uint64_t{0} / rate : 0) {}

  // A packet arrives at time t.
  void packet(std::uint64_t t);
  std::uint64_t admission_time() const { return admission_; }
  std::uint32_t fullness() const { return fullness_; }
  std::uint32_t size() const { return size_; }
  std::uint64_t rate() const { return rate_; }
  // Ticks needed to leak `bytes` (rounded up).
  std::uint64_t drain_ticks(std::uint64_t bytes) const;

 private:
  std::uint32_t size_ = kTransportBufferSize;
  std::uint64_t rate_ = 48000000;
  // floor((2^64 - 1) / rate): every packet divides by the rate, a multiplication is several times cheaper.
  std::uint64_t rate_inverse_ = ~std::uint64_t{0} / 48000000;
  std::uint32_t fullness_ = 0;
  std::uint64_t last_time_ = 0;
  std::uint64_t empty_time_ = 0;
  std::uint64_t admission_ = 0;
};

// An elementary buffer of `size` bytes holding access units until their decoding time; optionally at most
// `max_units` units at once (0 = no limit).
class CElementaryBuffer {
 public:
  CElementaryBuffer() = default;
  CElementaryBuffer(std::uint32_t size, std::uint32_t max_units) : size_(size), max_units_(max_units) {}

  // A new access unit, still empty; the following packets fill it.
  void add_unit(std::uint32_t dts, std::uint32_t pts);
  // A packet with `bytes` payload bytes arrives at time t, when the system clock reads s.
  void packet(std::uint64_t t, std::uint64_t s, std::uint32_t bytes);
  std::uint64_t admission_time() const { return admission_; }
  std::uint64_t occupancy() const { return occupancy_; }
  std::size_t units() const { return units_.size(); }
  std::uint32_t size() const { return size_; }

 private:
  struct Unit {
    std::uint32_t dts;
    std::uint32_t pts;
    std::uint64_t bytes;
  };
  std::uint32_t size_ = 0;
  std::uint32_t max_units_ = 0;
  std::deque<Unit> units_;
  std::uint64_t occupancy_ = 0;
  std::uint64_t admission_ = 0;
  std::uint64_t empty_time_ = 0;
};

// The buffer model of one decoder for one stream type: up to two transport buffers in a row (video:
// the transport buffer leaking at the first rate, then the multiplexing buffer leaking at the second),
// an elementary buffer, and for the TrueHD model a second elementary buffer for the AC-3 frames that the
// TrueHD decoder receives on the same PID. A text subtitle model counts nothing.
struct SBufferModel {
  std::string_view name;  // "CAvcStd", ...
  std::optional<CTransBuffer> tb;
  std::optional<CTransBuffer> mb;
  CElementaryBuffer eb;
  std::optional<CElementaryBuffer> eb2;
  bool counts_packets = true;

  // A new unit; `core` units of a stream with a second elementary buffer go there.
  void add_unit(std::uint32_t dts, std::uint32_t pts, bool core = false);
  void packet(std::uint64_t t, std::uint64_t s, std::uint32_t payload_bytes, bool core = false);
  std::uint64_t admission_time(bool core = false) const;
};

// ---- the models by stream type -------------------------------------------------------------------------

// Graphics: elementary buffer only.
SBufferModel MakePgStd();  // 0x90: 1 MiB, at most 128 units
SBufferModel MakeIgStd();  // 0x91: 1 MiB, at most 5000 units
SBufferModel MakeTxtStStd();  // 0x92: units registered, packets not counted
// Audio: transport buffer and elementary buffer.
SBufferModel MakeAc3Std();    // AC-3 part of 0x81, 0x83, 0x84, 0xA1
SBufferModel MakeDdpStd();    // Dolby Digital Plus part of 0x84, 0xA1
SBufferModel MakeDtsStd();    // core of 0x82, 0x85, 0x86, 0xA2
SBufferModel MakeDtsHdStd();  // extension of 0x85, 0x86, 0xA2
SBufferModel MakeLpcmStd();   // 0x80
SBufferModel MakeMlpStd();    // TrueHD part of 0x83
// Video: by level (AVC, VC-1) or by profile x 16 + level (MPEG-2); see the .cpp for the tables. A value
// of 0 means "not told": the default (AVC level 41, MPEG-2 0x44, VC-1 the default row).
SBufferModel MakeAvcStd(int level = 0);
SBufferModel MakeMpeg2Std(int profile_level = 0);
SBufferModel MakeVc1Std(int told = 0, bool primary = true);

// The pair of models of a kept or new stream: the first for every unit the basic decoder sees, a second
// one for streams with an extension part (TrueHD, DD+, DTS-HD) which sees every unit. Units that only the
// second model sees are extension units.
struct SStreamModels {
  SBufferModel first;
  std::optional<SBufferModel> second;
};

// The models of a stream type; video models are told their level (see Make*Std). nullopt for a type
// without a model.
std::optional<SStreamModels> MakeStreamModels(std::uint8_t stream_type, int video_told = 0, bool primary = true);

}  // namespace veld
