// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_schedule.h"

#include <fmt/format.h>

#include <algorithm>

#include "veld/mux/buffer_model.h"

namespace veld {
namespace {

// The IG decoder's transport buffer: 512 bytes leaking at 16 Mbit/s.
constexpr std::uint64_t kIgTransportRate = 16000000;
// System times handed to the buffer model count from this far before the stream's first slot, so that
// the model's 32-bit decoding times never wrap inside a clip.
constexpr std::uint64_t kModelLead = 10 * kSystemClock;

// The IG decoder model, with the system clock counted from an origin.
class CIgDecoder {
 public:
  CIgDecoder(const CClockMap& clock, std::uint64_t first_atc) : clock_(clock) {
    model_ = MakeIgStd();
    model_.tb = CTransBuffer(kTransportBufferSize, kIgTransportRate);
    const std::uint64_t s = clock.stc(first_atc);
    origin_ = (s + kStcModulus - kModelLead) % kStcModulus;
  }
  // The model's system time at arrival time t.
  std::uint64_t system(std::uint64_t t) const { return (clock_.stc(t) + kStcModulus - origin_) % kStcModulus; }
  std::uint32_t local90(std::uint64_t t90, std::uint64_t t) const {
    const std::int64_t v = static_cast<std::int64_t>(system(t)) + CClockMap::until(t90, clock_.stc(t));
    return v <= 0 ? 0 : static_cast<std::uint32_t>(v / 300);
  }
  // Whether a packet may arrive at t as far as the buffers go.
  bool admits(std::uint64_t t) const {
    const std::uint64_t a = model_.admission_time();
    return a == 0 || a <= t;
  }
  void send(const SNewIgPacket& p, std::uint64_t t) {
    if (p.unit_start) model_.add_unit(local90(p.dts, t), local90(p.pts, t));
    model_.packet(t, system(t), p.payload);
  }

 private:
  const CClockMap& clock_;
  SBufferModel model_;
  std::uint64_t origin_ = 0;
};

bool on_time(const CClockMap& clock, const SNewIgPacket& p, std::uint64_t atc) {
  return CClockMap::until(p.deadline, clock.stc(atc)) >= 0;
}

struct SDsRange {
  std::uint32_t slot_begin, slot_end;      // into slots
  std::uint32_t packet_begin, packet_end;  // into packets
  std::uint32_t window_end;                // spn of the next display set's first slot (or the file end)
};

class CScheduler {
 public:
  CScheduler(const SScheduleInput& in, const PacketWalker& walk, SPidSchedule& out)
      : in_(in), walk_(walk), out_(out), decoder_(*in.clock, (*in.slots)[0].atc) {}

  bool fit(const SDsRange& r) {
    const std::uint32_t m = r.slot_end - r.slot_begin, n = r.packet_end - r.packet_begin;
    if (n <= m) {
      for (std::uint32_t i = 0; i < n; ++i) {
        const SIgSlot& s = (*in_.slots)[r.slot_begin + i];
        if (!place(r.packet_begin + i, s.spn, s.atc, true)) return false;
      }
      for (std::uint32_t i = r.slot_begin + n; i < r.slot_end; ++i) out_.dropped.push_back((*in_.slots)[i].spn);
      return true;
    }
    return grow(r);
  }

 private:
  bool place(std::uint32_t j, std::uint32_t spn, std::uint64_t atc, bool in_slot) {
    const SNewIgPacket& p = (*in_.packets)[j];
    if (!on_time(*in_.clock, p, atc)) return fail(ScheduleFailure::kLate, p, j);
    decoder_.send(p, atc);
    out_.placements.push_back({spn, atc, in_slot});
    return true;
  }
  bool fail(ScheduleFailure f, const SNewIgPacket& p, std::uint32_t j) {
    out_.failure = f;
    out_.where = fmt::format("display set {}, packet {}", p.display_set + 1, j + 1);
    return false;
  }
  bool gap_taken(std::uint32_t spn) const {
    return in_.taken_gaps && std::binary_search(in_.taken_gaps->begin(), in_.taken_gaps->end(), spn);
  }

  // A display set that needs more packets than it had: walk the clip from its first slot, filling every
  // old slot and, while more packets are needed than old slots remain, the free times in the gaps.
  bool grow(const SDsRange& r) {
    const auto& slots = *in_.slots;
    std::uint32_t j = r.packet_begin, si = r.slot_begin;
    bool ok = true, have_prev = false;
    std::uint32_t prev_spn = 0;
    std::uint64_t prev_atc = 0;
    const auto extras_needed = [&] {
      return static_cast<std::int64_t>(r.packet_end - j) - static_cast<std::int64_t>(r.slot_end - si);
    };
    const auto fill_gap = [&](std::uint64_t until) {
      if (gap_taken(prev_spn)) return true;
      for (std::uint64_t t = prev_atc + in_.packet_ticks; t + in_.packet_ticks <= until && extras_needed() > 0;
           t += in_.packet_ticks) {
        const SNewIgPacket& p = (*in_.packets)[j];
        if (!on_time(*in_.clock, p, t)) return fail(ScheduleFailure::kLate, p, j);
        if (!decoder_.admits(t)) continue;
        if (!place(j++, prev_spn, t, false)) return false;
      }
      return true;
    };
    const std::uint32_t first = slots[r.slot_begin].spn;
    const bool read = walk_(first, r.window_end, slots[r.slot_begin].atc, [&](std::uint32_t spn, std::uint64_t atc) {
      if (have_prev && extras_needed() > 0 && !(ok = fill_gap(atc))) return false;
      if (spn >= r.window_end || j == r.packet_end) return false;
      if (si < r.slot_end && slots[si].spn == spn) {
        if (!(ok = place(j++, spn, atc, true))) return false;
        ++si;
      }
      have_prev = true;
      prev_spn = spn;
      prev_atc = atc;
      return extras_needed() > 0;
    });
    if (!ok) return false;
    if (!read) {
      out_.failure = ScheduleFailure::kRead;
      return false;
    }
    // Past the last packet of the file: room at the end.
    if (j < r.packet_end && have_prev && r.window_end >= in_.total_packets && !(ok = fill_gap(UINT64_MAX)))
      return false;
    // Enough room found: the rest go into the remaining old slots.
    while (j < r.packet_end && extras_needed() <= 0) {
      if (!place(j++, slots[si].spn, slots[si].atc, true)) return false;
      ++si;
    }
    if (j < r.packet_end) return fail(ScheduleFailure::kNoRoom, (*in_.packets)[j], j);
    for (; si < r.slot_end; ++si) out_.dropped.push_back(slots[si].spn);
    return true;
  }

  const SScheduleInput& in_;
  const PacketWalker& walk_;
  SPidSchedule& out_;
  CIgDecoder decoder_;
};

}  // namespace

std::uint64_t CClockMap::stc(std::uint64_t atc) const {
  if (samples_.empty()) return atc;
  auto it = std::upper_bound(samples_.begin(), samples_.end(), atc,
                             [](std::uint64_t a, const Sample& s) { return a < s.atc; });
  const Sample& s = it == samples_.begin() ? *it : *(it - 1);
  const std::int64_t d = static_cast<std::int64_t>(atc) - static_cast<std::int64_t>(s.atc);
  const std::int64_t v = static_cast<std::int64_t>(s.pcr) + d;
  const std::int64_t m = static_cast<std::int64_t>(kStcModulus);
  return static_cast<std::uint64_t>(((v % m) + m) % m);
}

std::int64_t CClockMap::until(std::uint64_t t90, std::uint64_t stc) {
  const std::int64_t m = static_cast<std::int64_t>(kStcModulus);
  std::int64_t d = (static_cast<std::int64_t>((t90 * 300) % kStcModulus) - static_cast<std::int64_t>(stc % kStcModulus)) % m;
  if (d < -m / 2) d += m;
  if (d >= m / 2) d -= m;
  return d;
}

std::uint64_t PacketTicks(std::uint32_t recording_rate_bytes) {
  if (recording_rate_bytes == 0) return 846;
  const std::uint64_t bits = std::uint64_t{recording_rate_bytes} * 8;
  return (188 * 8 * kSystemClock + bits - 1) / bits;
}

SPidSchedule ScheduleInPlace(const SScheduleInput& in, const PacketWalker& walk) {
  SPidSchedule out;
  const auto& slots = *in.slots;
  const auto& firsts = *in.ds_first;
  const auto& packets = *in.packets;
  const std::uint32_t sets = packets.empty() ? 0 : packets.back().display_set + 1;
  if (slots.empty() || firsts.size() != sets || firsts.front() != 0) {
    out.failure = ScheduleFailure::kDisplaySets;
    out.where = fmt::format("{} display sets in the clip, {} rebuilt", firsts.size(), sets);
    return out;
  }
  out.placements.reserve(packets.size());
  CScheduler scheduler(in, walk, out);
  std::uint32_t p = 0;
  for (std::uint32_t k = 0; k < sets; ++k) {
    SDsRange r{};
    r.slot_begin = firsts[k];
    r.slot_end = k + 1 < sets ? firsts[k + 1] : static_cast<std::uint32_t>(slots.size());
    r.packet_begin = p;
    while (p < packets.size() && packets[p].display_set == k) ++p;
    r.packet_end = p;
    r.window_end = k + 1 < sets ? slots[r.slot_end].spn : in.total_packets;
    if (r.slot_end <= r.slot_begin || r.packet_end == r.packet_begin) {
      out.failure = ScheduleFailure::kDisplaySets;
      out.where = fmt::format("display set {} is empty", k + 1);
      return out;
    }
    if (!scheduler.fit(r)) return out;
  }
  return out;
}

}  // namespace veld
