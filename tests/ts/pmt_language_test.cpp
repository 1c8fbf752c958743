// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/pmt_language.h"

#include <gtest/gtest.h>

#include <cstring>

#include "veld/base/crc32.h"
#include "veld/ts/psi.h"
#include "veld/ts/transport.h"

namespace veld {
namespace {

SPmt menu_pmt() {
  SPmt pmt;
  SEsInfo video;
  video.StreamType = 0x1B;
  video.ElementaryPid = 0x1011;
  SEsInfo ig;
  ig.StreamType = 0x91;
  ig.ElementaryPid = 0x1400;
  ig.LanguageDescriptor = SIso639LanguageDescriptor{{'e', 'n', 'g'}, 0};
  SEsInfo bare = ig;
  bare.ElementaryPid = 0x1401;
  bare.LanguageDescriptor.reset();
  pmt.streams = {video, ig, bare};
  return pmt;
}

std::array<std::uint8_t, 188> pmt_packet(SPmt pmt, Bytes* section = nullptr) {
  Bytes sec;
  pmt.write(sec);
  SPsiPacketContext ctx;
  ctx.header.PID = kPidPmt;
  std::array<std::uint8_t, 188> p{};
  p.fill(0xFF);
  EXPECT_EQ(write_pmt_packet(ctx, p.data(), sec, true), sec.size());
  if (section) *section = sec;
  return p;
}

// The IG stream's language is renamed where it stands: three bytes and the CRC change, the section
// still parses with the new code; a stream without a language or not listed changes nothing.
TEST(PmtLanguage, RenamesOnlyTheCodeAndTheCrc) {
  Bytes sec;
  const std::array<std::uint8_t, 188> old = pmt_packet(menu_pmt(), &sec);
  struct Case {
    std::uint16_t pid;
    PmtLanguagePatch want;
  } const cases[] = {{0x1400, PmtLanguagePatch::kDone}, {0x1401, PmtLanguagePatch::kNoLanguage},
                     {0x1011, PmtLanguagePatch::kNoLanguage}, {0x1402, PmtLanguagePatch::kNoStream}};
  for (const Case& c : cases) {
    std::array<std::uint8_t, 188> p = old;
    EXPECT_EQ(SetPmtLanguage(p, c.pid, {'f', 'r', 'a'}), c.want) << c.pid;
    int changed = 0;
    for (std::size_t i = 0; i < 188; ++i) changed += p[i] != old[i];
    EXPECT_EQ(changed > 0, c.want == PmtLanguagePatch::kDone) << c.pid;
    EXPECT_LE(changed, 7) << c.pid;
    SPmt again;
    ASSERT_GT(again.parse(ByteSpan(p.data() + 5, sec.size())), 0);
    EXPECT_EQ(crc32_mpeg(ByteSpan(p.data() + 5, sec.size())), 0u);
    SPmt want;
    ASSERT_GT(want.parse(sec), 0);
    if (c.want == PmtLanguagePatch::kDone) want.streams[1].LanguageDescriptor->Language = {'f', 'r', 'a'};
    EXPECT_EQ(again.streams, want.streams) << c.pid;
  }
}

// What cannot be renamed in one packet is said so, without reading past the packet: a continuation
// packet, a section longer than the packet, lengths that run past it.
TEST(PmtLanguage, SectionsThatDoNotFitOnePacketAreUnfit) {
  const std::array<std::uint8_t, 188> good = pmt_packet(menu_pmt());
  const auto damaged = [&](auto edit) {
    std::array<std::uint8_t, 188> p = good;
    edit(p);
    return SetPmtLanguage(p, 0x1400, {'f', 'r', 'a'});
  };
  EXPECT_EQ(damaged([](auto& p) { p[1] &= ~0x40; }), PmtLanguagePatch::kUnfit);           // no unit start
  EXPECT_EQ(damaged([](auto& p) { p[4] = 180; }), PmtLanguagePatch::kUnfit);              // pointer field
  EXPECT_EQ(damaged([](auto& p) { p[7] = 0xFF; }), PmtLanguagePatch::kUnfit);             // section length
  EXPECT_EQ(damaged([](auto& p) { p[0] = 0x00; }), PmtLanguagePatch::kUnfit);             // sync byte
  EXPECT_EQ(damaged([](auto& p) { p[3] = (p[3] & 0xCF) | 0x20; }), PmtLanguagePatch::kUnfit);  // no payload
  // The first stream entry's ES_info_length runs past the section.
  EXPECT_EQ(damaged([](auto& p) {
              const std::size_t es = 5 + 12 + (((p[5 + 10] & 0x0F) << 8) | p[5 + 11]);
              p[es + 3] = 0x0F;
              p[es + 4] = 0xFF;
            }),
            PmtLanguagePatch::kUnfit);
}

}  // namespace
}  // namespace veld
