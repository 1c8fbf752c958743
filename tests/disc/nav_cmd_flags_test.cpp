// SPDX-License-Identifier: GPL-3.0-or-later
// Every opcode of the command vocabulary with every combination of its flags: the disassembly names
// the command and assembles back to the same 12 bytes. The opcode table here is written from the
// command layout, not taken from the disassembler.
#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "veld/disc/nav_cmd.h"

namespace veld {
namespace {

// How a command uses one 32-bit operand.
enum class Use {
  kNone,        // not used: the word stays zero, its immediate flag may be set
  kWord,        // a register (GPR, PSR) or, when immediate, any 32-bit value
  kGprOrValue,  // as kWord without player-status registers
  kDestination, // Set's first operand: a GPR; the immediate flag is not used
  kStream,      // SetStream: two 12-bit fields, each behind its own "set" bit
  kButtonPage,  // SetButtonPage: one 16-bit field behind a "set" bit (plus the effect bit in op 2)
};

struct Opcode {
  std::uint8_t b0, b1, b2, b3;
  Use op1, op2;
};

constexpr Opcode kOpcodes[] = {
    {0x00, 0, 0, 0, Use::kNone, Use::kNone},        {0x20, 1, 0, 0, Use::kWord, Use::kNone},
    {0x00, 2, 0, 0, Use::kNone, Use::kNone},        {0x21, 0, 0, 0, Use::kWord, Use::kNone},
    {0x21, 1, 0, 0, Use::kWord, Use::kNone},        {0x21, 2, 0, 0, Use::kWord, Use::kNone},
    {0x21, 3, 0, 0, Use::kWord, Use::kNone},        {0x01, 4, 0, 0, Use::kNone, Use::kNone},
    {0x22, 0, 0, 0, Use::kWord, Use::kNone},        {0x42, 1, 0, 0, Use::kWord, Use::kWord},
    {0x42, 2, 0, 0, Use::kWord, Use::kWord},        {0x02, 3, 0, 0, Use::kNone, Use::kNone},
    {0x22, 4, 0, 0, Use::kWord, Use::kNone},        {0x22, 5, 0, 0, Use::kWord, Use::kNone},
    {0x51, 0, 0, 1, Use::kStream, Use::kStream},    {0x51, 0, 0, 2, Use::kGprOrValue, Use::kGprOrValue},
    {0x51, 0, 0, 3, Use::kButtonPage, Use::kButtonPage},
    {0x31, 0, 0, 4, Use::kWord, Use::kNone},        {0x31, 0, 0, 5, Use::kWord, Use::kNone},
    {0x51, 0, 0, 6, Use::kWord, Use::kWord},        {0x11, 0, 0, 7, Use::kNone, Use::kNone},
    {0x11, 0, 0, 8, Use::kNone, Use::kNone},        {0x11, 0, 0, 9, Use::kNone, Use::kNone},
};

// Sample words for one operand under its use and immediate flag.
std::vector<std::uint32_t> samples(Use use, bool immediate) {
  switch (use) {
    case Use::kNone: return {0};
    case Use::kWord:
      return immediate ? std::vector<std::uint32_t>{0, 7, 0x80000003u, 0xFFFFFFFFu}
                       : std::vector<std::uint32_t>{0, 4095, 0x80000000u, 0x8000007Fu};
    case Use::kGprOrValue:
      return immediate ? std::vector<std::uint32_t>{0, 600, 0xFFFFFFFFu} : std::vector<std::uint32_t>{0, 4095};
    case Use::kDestination: return {0, 12, 4095};
    // Both fields switched off, either on (with its own number), both on; bit 0x40 of the first byte
    // of the second field is the PG display flag (op 1) or nothing in op 2 (kept off).
    case Use::kStream: return {0, 0x80030000u, 0x00008FFFu, 0x8FFF8001u};
    case Use::kButtonPage:  // a register field names GPR0..4095
      return {0, 0x80000003u, immediate ? 0x8000FFFFu : 0x80000FFFu};
  }
  return {};
}

NavCommand make(const Opcode& o, bool imm1, bool imm2, std::uint32_t w1, std::uint32_t w2) {
  NavCommand c{};
  c[0] = o.b0;
  c[1] = static_cast<std::uint8_t>(o.b1 | (imm1 ? 0x80 : 0) | (imm2 ? 0x40 : 0));
  c[2] = o.b2;
  c[3] = o.b3;
  store_be32(&c[4], w1);
  store_be32(&c[8], w2);
  return c;
}

void expect_round_trip(const NavCommand& c, int& checked) {
  const std::string text = disassemble(c);
  ASSERT_NE(text.rfind("Raw ", 0), 0u) << text;
  NavCommand back{};
  ASSERT_TRUE(assemble(text, back)) << text;
  ASSERT_EQ(back, c) << text;
  ++checked;
}

TEST(NavCmdFlags, EveryOpcodeAndFlagCombinationRoundTrips) {
  int checked = 0;
  for (const Opcode& o : kOpcodes) {
    for (int flags = 0; flags < 4; ++flags) {
      const bool imm1 = flags & 2, imm2 = flags & 1;
      for (std::uint32_t w1 : samples(o.op1, imm1)) {
        for (std::uint32_t w2 : samples(o.op2, imm2)) {
          NavCommand c = make(o, imm1, imm2, w1, w2);
          expect_round_trip(c, checked);
          if (o.op1 == Use::kStream && (w1 & 0x8000u)) {  // PG shown flag
            c[6] |= 0x40;
            expect_round_trip(c, checked);
          }
          if (o.op2 == Use::kButtonPage) {  // effect flag
            c[8] |= 0x40;
            expect_round_trip(c, checked);
          }
        }
      }
    }
  }
  // If: every comparison; Set: every operation (Swap exchanges registers: its second operand is never
  // immediate).
  for (std::uint8_t cmp = 1; cmp <= 7; ++cmp) {
    for (int flags = 0; flags < 4; ++flags) {
      for (std::uint32_t w1 : samples(Use::kWord, flags & 2)) {
        for (std::uint32_t w2 : samples(Use::kWord, flags & 1)) {
          expect_round_trip(make({0x48, 0, cmp, 0, Use::kWord, Use::kWord}, flags & 2, flags & 1, w1, w2), checked);
        }
      }
    }
  }
  for (std::uint8_t op = 1; op <= 15; ++op) {
    for (int flags = 0; flags < 4; ++flags) {
      if (op == 2 && (flags & 1)) continue;
      for (std::uint32_t w1 : samples(Use::kDestination, false)) {
        for (std::uint32_t w2 : samples(Use::kWord, flags & 1)) {
          expect_round_trip(make({0x50, 0, 0, op, Use::kDestination, Use::kWord}, flags & 2, flags & 1, w1, w2),
                            checked);
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

// Byte strings as real menus carry them: the flags of switched-off operands are set.
TEST(NavCmdFlags, RealWorldCommandsAreNamed) {
  struct Case {
    const char* hex;
    const char* text;
  };
  const Case cases[] = {
      {"51C00003 80000003 00000000", "SetButtonPage 3 X 0 [imm2]"},
      {"51C00003 00000000 80000001", "SetButtonPage X 1 0 [imm1]"},
      {"51C00003 00000000 00000000", "SetButtonPage X X 0 [imm1] [imm2]"},
      {"51C00001 80020000 00000000", "SetStream 2 X 0 X X [imm2]"},
      {"51C00001 00000000 80018001", "SetStream X X 0 1 1 [imm1]"},
      {"51400001 00000000 00000000", "SetStream X X 0 X X [imm2]"},
      {"51C00001 0000C003 00000000", "SetStream X 3 1 X X [imm2]"},
      {"21C10000 00000003 00000000", "JumpTitle 3 [imm2]"},
      {"31C00004 00000005 00000000", "EnableButton 5 [imm2]"},
      {"50C00001 00000001 00000002", "Set GPR1 = 2 [imm1]"},
      {"11C00007 00000000 00000000", "PopUpMenuOff [imm1] [imm2]"},
  };
  for (const Case& c : cases) {
    const Bytes b = test::hex_bytes(c.hex);
    ASSERT_EQ(b.size(), 12u) << c.hex;
    NavCommand cmd{};
    std::copy(b.begin(), b.end(), cmd.begin());
    EXPECT_EQ(disassemble(cmd), c.text) << c.hex;
    NavCommand back{};
    ASSERT_TRUE(assemble(c.text, back)) << c.text;
    EXPECT_EQ(back, cmd) << c.text;
  }
}

// A flag token is refused where the operand is shown (its kind is in the text) or given twice.
TEST(NavCmdFlags, FlagTokensOnlyForOperandsNotShown) {
  NavCommand c{};
  EXPECT_FALSE(assemble("JumpTitle GPR3 [imm1]", c));
  EXPECT_FALSE(assemble("JumpTitle 3 [imm1]", c));
  EXPECT_FALSE(assemble("SetStream 2 X 0 X X [imm1]", c));
  EXPECT_FALSE(assemble("If GPR1 == 2 [imm2]", c));
  EXPECT_FALSE(assemble("Nop [imm1] [imm1]", c));
  EXPECT_EQ(c, NavCommand{});
  EXPECT_TRUE(assemble("nop [IMM2]", c));
  EXPECT_EQ(c, (NavCommand{0x00, 0x40}));
}

}  // namespace
}  // namespace veld
