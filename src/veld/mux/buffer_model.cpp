// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/buffer_model.h"

#include <algorithm>

namespace veld {
namespace {

constexpr std::uint64_t kTsBytes = 188;
// The multiplexer reserves room for one more packet: a transport buffer keeps two packets' worth free
// beyond the packet that just arrived, an elementary buffer one payload's worth.
constexpr std::int64_t kTbReserve = 376;
constexpr std::int64_t kEbReserve = 184;
// A transport buffer must not stay non-empty for a second; 0.98 s keeps a margin.
constexpr std::uint64_t kTbMaxBusy = 26460000;

constexpr std::uint64_t kBitsTicks = 8 * kSystemClock;  // bits per byte x ticks per second

}  // namespace

// ---- transport buffer ---------------------------------------------------------------------------------

std::uint64_t CTransBuffer::drain_ticks(std::uint64_t bytes) const {
  if (rate_ == 0) return 0;
  // n / rate through the inverse: for n below 2^63 the estimate is the quotient or one less.
  const std::uint64_t n = bytes * kBitsTicks + rate_ - 1;
  std::uint64_t q = static_cast<std::uint64_t>((static_cast<unsigned __int128>(n) * rate_inverse_) >> 64);
  if (n - q * rate_ >= rate_) ++q;
  return q;
}

void CTransBuffer::packet(std::uint64_t t) {
  // A buffer that leaks at the multiplex rate or faster is empty again by the next packet, which comes
  // 846 ticks later at the earliest: it never holds back a packet.
  if (rate_ >= 48000000) return;
  if (fullness_ > 0) {
    const std::uint64_t dt = t > last_time_ ? t - last_time_ : 0;
    // Bytes leaked since the last packet, truncated; a long pause empties the buffer.
    const std::uint64_t leaked = dt >= drain_ticks(fullness_) ? fullness_ : dt * rate_ / kBitsTicks;
    if (leaked >= fullness_) {
      fullness_ = 0;
      empty_time_ = t;
    } else {
      fullness_ -= static_cast<std::uint32_t>(leaked);
    }
  } else {
    empty_time_ = t;
  }
  fullness_ += kTsBytes;
  last_time_ = t;
  const std::int64_t room = std::int64_t{size_} - (std::int64_t{fullness_} - std::int64_t{kTsBytes}) - kTbReserve;
  admission_ = room < 0 ? t + drain_ticks(static_cast<std::uint64_t>(-room)) : 0;
  // The buffer must drain completely before it would have held data for too long.
  const std::uint64_t empty_at = t + drain_ticks(fullness_);
  if (empty_time_ + kTbMaxBusy <= empty_at) admission_ = std::max(admission_, empty_at);
}

// ---- elementary buffer --------------------------------------------------------------------------------

void CElementaryBuffer::add_unit(std::uint32_t dts, std::uint32_t pts) { units_.push_back({dts, pts, 0}); }

void CElementaryBuffer::packet(std::uint64_t t, std::uint64_t s, std::uint32_t bytes) {
  if (units_.empty()) {
    empty_time_ = t;
  } else {
    units_.back().bytes += bytes;
    occupancy_ += bytes;
  }
  // Units decoded by now leave the buffer; the newest stays until it is complete.
  while (units_.size() > 1 && std::uint64_t{units_.front().dts} * 300 <= s) {
    occupancy_ -= units_.front().bytes;
    units_.pop_front();
  }
  if (occupancy_ == 0) empty_time_ = t;
  // Arrival time at which the system clock reaches a decoding time stamp.
  const auto arrival_at = [&](std::uint32_t dts) -> std::uint64_t {
    const std::int64_t a = static_cast<std::int64_t>(std::uint64_t{dts} * 300) + static_cast<std::int64_t>(t) -
                           static_cast<std::int64_t>(s);
    return a > 0 ? static_cast<std::uint64_t>(a) : 0;
  };
  const std::int64_t room = std::int64_t{size_} - static_cast<std::int64_t>(occupancy_) - kEbReserve;
  admission_ = 0;
  if (room < 0) {
    // The first unit whose removal, with the units before it, makes room.
    std::uint64_t freed = 0;
    for (const Unit& u : units_) {
      freed += u.bytes;
      if (freed >= static_cast<std::uint64_t>(-room)) {
        admission_ = arrival_at(u.dts);
        break;
      }
    }
    if (admission_ == 0 && !units_.empty()) admission_ = arrival_at(units_.back().dts);
  }
  if (max_units_ != 0 && units_.size() >= max_units_) admission_ = std::max(admission_, arrival_at(units_.front().dts));
}

// ---- models -------------------------------------------------------------------------------------------

void SBufferModel::add_unit(std::uint32_t dts, std::uint32_t pts, bool core) {
  if (core && eb2) {
    eb2->add_unit(dts, pts);
  } else {
    eb.add_unit(dts, pts);
  }
}

void SBufferModel::packet(std::uint64_t t, std::uint64_t s, std::uint32_t payload_bytes, bool core) {
  if (!counts_packets) return;
  if (tb) tb->packet(t);
  if (mb) mb->packet(t);
  if (core && eb2) {
    eb2->packet(t, s, payload_bytes);
  } else {
    eb.packet(t, s, payload_bytes);
  }
}

std::uint64_t SBufferModel::admission_time(bool core) const {
  if (!counts_packets) return 0;
  std::uint64_t a = core && eb2 ? eb2->admission_time() : eb.admission_time();
  if (tb) a = std::max(a, tb->admission_time());
  if (mb) a = std::max(a, mb->admission_time());
  return a;
}

namespace {

SBufferModel audio_model(std::string_view name, std::uint64_t rate, std::uint32_t eb) {
  SBufferModel m;
  m.name = name;
  m.tb = CTransBuffer(kTransportBufferSize, rate);
  m.eb = CElementaryBuffer(eb, 0);
  return m;
}

SBufferModel video_model(std::string_view name, std::uint64_t rate, std::uint64_t mb_rate, std::uint32_t mb_size,
                         std::uint32_t eb) {
  SBufferModel m;
  m.name = name;
  m.tb = CTransBuffer(kTransportBufferSize, rate);
  m.mb = CTransBuffer(mb_size, mb_rate);
  m.eb = CElementaryBuffer(eb, 0);
  return m;
}

SBufferModel graphics_model(std::string_view name, std::uint32_t max_units) {
  SBufferModel m;
  m.name = name;
  m.eb = CElementaryBuffer(0x100000, max_units);
  return m;
}

}  // namespace

SBufferModel MakePgStd() { return graphics_model("CPgStd", 128); }
SBufferModel MakeIgStd() { return graphics_model("CIgStd", 5000); }

SBufferModel MakeTxtStStd() {
  SBufferModel m = graphics_model("CTxtStStd", 0);
  m.counts_packets = false;
  return m;
}

SBufferModel MakeAc3Std() { return audio_model("CAc3Std", 2000000, 18640); }

// Dolby Digital Plus on this disc format carries at most 1.7 Mbit/s for the independent and dependent
// substreams together. The model scales the AC-3 one: its transport buffer leaks at a bit more than
// twice that peak (as the AC-3 model's 2 Mbit/s does for AC-3's 640 kbit/s peak, three times), and its
// elementary buffer holds the same time of audio at the peak rate as the AC-3 buffer at 640 kbit/s
// (18,640 bytes x 1.7 / 0.64, rounded up to whole 188-byte packets).
SBufferModel MakeDdpStd() { return audio_model("CDdpStd", 4000000, 49632); }

SBufferModel MakeDtsStd() { return audio_model("CDtsStd", 5000000, 43972); }
SBufferModel MakeDtsHdStd() { return audio_model("CDtsHdStd", 48000000, 713563); }
SBufferModel MakeLpcmStd() { return audio_model("CLpcmStd", 20000000, 0x83100); }

// The TrueHD decoder receives the whole PID: its MLP units go to the elementary buffer of 404,250 bytes,
// and the interleaved AC-3 frames, which it does not decode, wait in a second elementary buffer of
// 120,000 bytes until their decoding time, under the same admission rule as the first.
SBufferModel MakeMlpStd() {
  SBufferModel m = audio_model("CMlpStd", 48000000, 404250);
  m.eb2 = CElementaryBuffer(120000, 0);
  return m;
}

SBufferModel MakeAvcStd(int level) {
  // Level: rate of the transport buffer, leak rate of the multiplexing buffer, elementary buffer.
  struct Row {
    int level;
    std::uint64_t rate;
    std::uint64_t mb_rate;
    std::uint32_t eb;
  };
  static constexpr Row kRows[] = {
      {30, 14400000, 12000000, 1500000}, {31, 20160000, 16800000, 2100000}, {32, 28800000, 24000000, 3000000},
      {40, 28800000, 24000000, 3750000}, {41, 48000000, 40000000, 3750000},
  };
  if (level == 0) level = 41;
  Row row{0, 18000000, 15000000, 1500000};
  for (const Row& r : kRows)
    if (r.level == level) row = r;
  return video_model("CAvcStd", row.rate, row.mb_rate, 40000, row.eb);
}

SBufferModel MakeMpeg2Std(int profile_level) {
  switch (profile_level) {
    case 0x46: return video_model("CMpeg2Std", 48000000, 42000000, 40000, 0xE0000);
    case 0x48: return video_model("CMpeg2Std", 18000000, 15000000, 10000, 0x38000);
    default: return video_model("CMpeg2Std", 48000000, 42000000, 53333, 1222656);  // 0x44
  }
}

SBufferModel MakeVc1Std(int told, bool primary) {
  if (told == 2) return video_model("CVc1Std", 24000000, 20000000, 26666, primary ? 3750000 : 1500000);
  return video_model("CVc1Std", 48000000, 40000000, 26666, 3750000);
}

std::optional<SStreamModels> MakeStreamModels(std::uint8_t type, int video_told, bool primary) {
  switch (type) {
    case 0x02: return SStreamModels{MakeMpeg2Std(video_told), std::nullopt};
    case 0x1B: return SStreamModels{MakeAvcStd(video_told), std::nullopt};
    case 0xEA: return SStreamModels{MakeVc1Std(video_told, primary), std::nullopt};
    case 0x80: return SStreamModels{MakeLpcmStd(), std::nullopt};
    case 0x81: return SStreamModels{MakeAc3Std(), std::nullopt};
    case 0x82: return SStreamModels{MakeDtsStd(), std::nullopt};
    case 0x83: return SStreamModels{MakeAc3Std(), MakeMlpStd()};
    case 0x84:
    case 0xA1: return SStreamModels{MakeAc3Std(), MakeDdpStd()};
    case 0x85:
    case 0x86:
    case 0xA2: return SStreamModels{MakeDtsStd(), MakeDtsHdStd()};
    case 0x90: return SStreamModels{MakePgStd(), std::nullopt};
    case 0x91: return SStreamModels{MakeIgStd(), std::nullopt};
    case 0x92: return SStreamModels{MakeTxtStStd(), std::nullopt};
    default: return std::nullopt;
  }
}

}  // namespace veld
