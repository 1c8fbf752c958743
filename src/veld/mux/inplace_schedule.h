// SPDX-License-Identifier: GPL-3.0-or-later
// Scheduling a rebuilt IG stream into the arrival slots of the stream it replaces. The old stream's
// source packets are the slots: display set k of the new stream takes the slots of display set k of the
// old one, in order. Surplus slots are left out; a display set that needs more packets gets extra
// arrival times in the gaps between the clip's existing packets (never closer to a neighbour than one
// packet time at the clip's recording rate), as early as the IG decoder's transport and coded-data
// buffers allow and before the decoding time of its segment. Everything here works on value types; the
// clip stream file is seen only through a packet walker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veld {

// 90 kHz time stamps and the 27 MHz system clock wrap at 2^33 ticks of 90 kHz.
inline constexpr std::uint64_t kStcModulus = (std::uint64_t{1} << 33) * 300;

// An old packet of the IG stream: its source packet number and arrival time (27 MHz, unwrapped).
struct SIgSlot {
  std::uint32_t spn = 0;
  std::uint64_t atc = 0;
};

// One transport packet of the rebuilt stream as the scheduler sees it.
struct SNewIgPacket {
  std::uint32_t display_set = 0;
  std::uint32_t payload = 0;        // PES bytes in the packet (header included)
  std::uint64_t deadline = 0;       // 90 kHz: the DTS of its segment, or the PTS without one
  bool unit_start = false;          // the first packet of a segment
  std::uint64_t dts = 0, pts = 0;   // 90 kHz, of its segment (dts = pts without a DTS)
};

// Arrival time to system time: the PCR samples of the clip (arrival time, PCR in 27 MHz ticks). A time
// maps through the latest sample at or before it, or the first one.
class CClockMap {
 public:
  void add(std::uint64_t atc, std::uint64_t pcr) { samples_.push_back({atc, pcr}); }
  bool empty() const { return samples_.empty(); }
  std::uint64_t stc(std::uint64_t atc) const;
  // The 27 MHz ticks from system time `stc` to the 90 kHz time `t90`, signed, across the wrap.
  static std::int64_t until(std::uint64_t t90, std::uint64_t stc);

 private:
  struct Sample {
    std::uint64_t atc;
    std::uint64_t pcr;
  };
  std::vector<Sample> samples_;
};

// Reads the arrival times of the clip's packets from spn `from` (whose arrival time is atc_from) up to
// and including `to`, in order, calling visit(spn, atc); visit returns false to stop. false when the
// file cannot be read.
using PacketWalker = std::function<bool(std::uint32_t from, std::uint32_t to, std::uint64_t atc_from,
                                        const std::function<bool(std::uint32_t, std::uint64_t)>& visit)>;

// Where one packet of the rebuilt stream goes.
struct SPlacement {
  std::uint32_t spn = 0;   // in_slot: the old slot it takes; else the old packet it follows
  std::uint64_t atc = 0;   // its arrival time
  bool in_slot = true;
};

enum class ScheduleFailure { kNone, kDisplaySets, kNoRoom, kLate, kRead };

struct SPidSchedule {
  std::vector<SPlacement> placements;  // one per new packet, in order
  std::vector<std::uint32_t> dropped;  // old slots left out, ascending
  ScheduleFailure failure = ScheduleFailure::kNone;
  std::string where;                   // the display set and packet that failed
};

struct SScheduleInput {
  const std::vector<SIgSlot>* slots = nullptr;
  // Index into slots of the first slot of each old display set, ascending; slots[ds_first[0]] is the first.
  const std::vector<std::uint32_t>* ds_first = nullptr;
  const std::vector<SNewIgPacket>* packets = nullptr;
  const CClockMap* clock = nullptr;
  std::uint32_t total_packets = 0;   // source packets of the old clip stream file
  std::uint64_t packet_ticks = 846;  // one packet time at the recording rate
  // Old packets after which an earlier stream already placed packets: their gaps are not free.
  const std::vector<std::uint32_t>* taken_gaps = nullptr;
};

// The packet time (27 MHz ticks, rounded up) of a 188-byte transport packet at a recording rate in bytes
// per second; 846 for 6,000,000 (48 Mbit/s) and for a rate of 0.
std::uint64_t PacketTicks(std::uint32_t recording_rate_bytes);

SPidSchedule ScheduleInPlace(const SScheduleInput& in, const PacketWalker& walk);

}  // namespace veld
