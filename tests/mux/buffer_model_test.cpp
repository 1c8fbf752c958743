// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/buffer_model.h"

#include <gtest/gtest.h>

namespace veld {
namespace {

constexpr std::uint64_t kTick = 846;  // one 188-byte packet at 48 Mbit/s

// A transport buffer never holds more than its size when every packet arrives no earlier than the
// admission time the buffer gave after the one before.
TEST(TransBufferTest, AdmissionKeepsTheBufferWithinItsSize) {
  for (const std::uint64_t rate : {2000000ull, 5000000ull, 14400000ull, 48000000ull}) {
    CTransBuffer tb(512, rate);
    std::uint64_t t = 1000;
    std::uint64_t bytes_in = 0;
    for (int i = 0; i < 500; ++i) {
      tb.packet(t);
      bytes_in += 188;
      EXPECT_LE(tb.fullness(), 512u) << "rate " << rate << " packet " << i;
      t = std::max(t + kTick, tb.admission_time());
    }
    // Sent as fast as allowed, the long-run rate is the leak rate (within a packet).
    const double seconds = static_cast<double>(t - 1000) / kSystemClock;
    EXPECT_NEAR(static_cast<double>(bytes_in) * 8 / seconds, std::min<double>(rate, 48e6), rate * 0.02 + 188 * 8 / seconds);
  }
}

// The drain time is the rounded-up quotient, for every rate a stream can have and every fullness.
TEST(TransBufferTest, DrainTicksIsTheRoundedUpQuotient) {
  const std::uint64_t k = 8 * kSystemClock;
  for (const std::uint64_t rate : {1ull, 3ull, 1000ull, 1200000ull, 2000000ull, 5000000ull, 14400000ull, 40000000ull,
                                   47999999ull, 48000000ull, 96000000ull, 4294967295ull, 8000000000ull}) {
    const CTransBuffer tb(512, rate);
    for (const std::uint64_t bytes : {0ull, 1ull, 187ull, 188ull, 376ull, 511ull, 512ull, 1000000ull, 4294967295ull,
                                      (1ull << 34) + 7}) {
      EXPECT_EQ(tb.drain_ticks(bytes), (bytes * k + rate - 1) / rate) << "rate " << rate << ", " << bytes << " bytes";
    }
    for (std::uint64_t bytes = 0; bytes < 20000; ++bytes)
      ASSERT_EQ(tb.drain_ticks(bytes), (bytes * k + rate - 1) / rate) << "rate " << rate << ", " << bytes << " bytes";
  }
}

TEST(TransBufferTest, AtTheMultiplexRateNothingWaits) {
  CTransBuffer tb(512, 48000000);
  for (std::uint64_t t = 0; t < 100 * kTick; t += kTick) {
    tb.packet(t);
    EXPECT_EQ(tb.admission_time(), 0u);
  }
}

TEST(TransBufferTest, EmptiesAtLeastOnceASecond) {
  // A 40,000-byte buffer leaking at 1 Mbit/s, offered packets at 4 Mbit/s: without the busy rule it would
  // never empty. Every packet that finds it empty starts a busy period; none may last a second.
  CTransBuffer mb(40000, 1000000);
  const std::uint64_t step = 188 * 8 * kSystemClock / 4000000;
  std::uint64_t t = 0;
  std::uint64_t busy_since = 0;
  std::uint64_t longest = 0;
  int periods = 0;
  for (int i = 0; i < 6000; ++i) {
    mb.packet(t);
    if (mb.fullness() == 188) {
      busy_since = t;
      ++periods;
    }
    longest = std::max(longest, t + mb.drain_ticks(mb.fullness()) - busy_since);
    t = std::max(t + step, mb.admission_time());
  }
  EXPECT_GT(periods, 3);
  EXPECT_LE(longest, 26460000u + mb.drain_ticks(188));
}

TEST(ElementaryBufferTest, UnitsLeaveAtTheirDecodingTime) {
  CElementaryBuffer eb(10000, 0);
  // System time s runs 1000 ticks ahead of the arrival time t.
  const auto s_of = [](std::uint64_t t) { return t + 1000; };
  eb.add_unit(100, 100);  // decoded at s = 30,000
  eb.packet(0, s_of(0), 4000);
  eb.add_unit(200, 200);  // decoded at s = 60,000
  eb.packet(10, s_of(10), 4000);
  EXPECT_EQ(eb.occupancy(), 8000u);
  // 8000 + 184 more fits (room 10000 - 8000 - 184 >= 0).
  EXPECT_EQ(eb.admission_time(), 0u);
  eb.packet(20, s_of(20), 1900);
  // Now full: the next packet waits until unit 0 is decoded (s = 30,000, t = 29,000).
  EXPECT_EQ(eb.admission_time(), 29000u);
  eb.add_unit(300, 300);
  eb.packet(29000, s_of(29000), 100);
  EXPECT_EQ(eb.units(), 2u);
  EXPECT_EQ(eb.occupancy(), 6000u);
  EXPECT_EQ(eb.admission_time(), 0u);
}

TEST(ElementaryBufferTest, UnitLimitHoldsBackTheNextUnit) {
  CElementaryBuffer eb(0x100000, 3);
  for (std::uint32_t i = 0; i < 3; ++i) {
    eb.add_unit(1000 + i, 1000 + i);
    eb.packet(i, i, 50);
  }
  // Three units held, none decoded yet (s far before their times): wait for the oldest.
  EXPECT_EQ(eb.admission_time(), 1000u * 300);
}

TEST(BufferModelTest, InteractiveGraphicsNeverWaitForATransportBuffer) {
  SBufferModel ig = MakeIgStd();
  EXPECT_FALSE(ig.tb.has_value());
  EXPECT_FALSE(ig.mb.has_value());
  // A burst of packets at one instant: only the 1 MiB elementary buffer counts.
  ig.add_unit(90000, 90000);
  for (int i = 0; i < 6000; ++i) {
    ig.packet(100, 100, 184);
    if (ig.eb.occupancy() + 184 * 2 <= 0x100000) {
      EXPECT_EQ(ig.admission_time(), 0u) << i;
    }
  }
  EXPECT_GT(ig.admission_time(), 0u);
}

TEST(BufferModelTest, ModelsByStreamTypeAndLevel) {
  struct Row {
    std::uint8_t type;
    int told;
    std::uint64_t tb_rate;
    std::uint32_t eb;
    bool second;
  };
  const Row rows[] = {
      {0x1B, 0, 48000000, 3750000, false},  {0x1B, 30, 14400000, 1500000, false},
      {0x1B, 31, 20160000, 2100000, false}, {0x1B, 40, 28800000, 3750000, false},
      {0x1B, 50, 18000000, 1500000, false}, {0x02, 0x48, 18000000, 0x38000, false},
      {0x02, 0x46, 48000000, 0xE0000, false}, {0x02, 0, 48000000, 1222656, false},
      {0xEA, 2, 24000000, 3750000, false},  {0x80, 0, 20000000, 0x83100, false},
      {0x81, 0, 2000000, 18640, false},     {0x82, 0, 5000000, 43972, false},
      {0x83, 0, 2000000, 18640, true},      {0x84, 0, 2000000, 18640, true},
      {0x86, 0, 5000000, 43972, true},      {0xA2, 0, 5000000, 43972, true},
  };
  for (const Row& r : rows) {
    const auto m = MakeStreamModels(r.type, r.told);
    ASSERT_TRUE(m) << int{r.type};
    ASSERT_TRUE(m->first.tb) << int{r.type};
    EXPECT_EQ(m->first.tb->rate(), r.tb_rate) << int{r.type} << " told " << r.told;
    EXPECT_EQ(m->first.eb.size(), r.eb) << int{r.type} << " told " << r.told;
    EXPECT_EQ(m->second.has_value(), r.second) << int{r.type};
  }
  EXPECT_EQ(MakeVc1Std(2, false).eb.size(), 1500000u);
  EXPECT_EQ(MakeMlpStd().eb2->size(), 120000u);
  EXPECT_EQ(MakeDtsHdStd().eb.size(), 713563u);
  EXPECT_FALSE(MakeStreamModels(0x92)->first.counts_packets);
  EXPECT_FALSE(MakeStreamModels(0x55).has_value());
}

}  // namespace
}  // namespace veld
