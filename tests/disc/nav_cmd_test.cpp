// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/nav_cmd.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

namespace veld {
namespace {

Bytes assembled(std::string_view text) {
  NavCommand c;
  c.fill(0xEE);
  EXPECT_TRUE(assemble(text, c)) << text;
  return Bytes(c.begin(), c.end());
}

bool refused(std::string_view text) {
  NavCommand c;
  c.fill(0xEE);
  const bool ok = assemble(text, c);
  EXPECT_EQ(c, NavCommand{}) << "bytes are cleared: " << text;
  return !ok;
}

TEST(NavCmdAssemble, ByteExactExamples) {
  EXPECT_EQ(assembled("Break"), test::hex_bytes("00 02 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(assembled("jumptitle 3"), test::hex_bytes("21 81 00 00 00 00 00 03 00 00 00 00"));
  EXPECT_EQ(assembled("JumpTitle 3"), assembled("jumptitle 3"));
  EXPECT_EQ(assembled("Set GPR5 + 10"), test::hex_bytes("50 40 00 03 00 00 00 05 00 00 00 0A"));
  EXPECT_EQ(assembled("If PSR1 == GPR4095"), test::hex_bytes("48 00 02 00 80 00 00 01 00 00 0F FF"));
  EXPECT_EQ(assembled("\t Nop  extra tokens\r\n"), test::hex_bytes("00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(assembled("PlayPlaylistAtMark GPR1 2"), test::hex_bytes("42 42 00 00 00 00 00 01 00 00 00 02"));
  EXPECT_EQ(assembled("If 7 >= gpr3"), test::hex_bytes("48 80 04 00 00 00 00 07 00 00 00 03"));
  EXPECT_EQ(assembled("Set GPR1 Swap PSR2"), test::hex_bytes("50 00 00 02 00 00 00 01 80 00 00 02"));
  EXPECT_EQ(assembled("Set GPR0 >> 1"), test::hex_bytes("50 40 00 0F 00 00 00 00 00 00 00 01"));
  EXPECT_EQ(assembled("Set GPR2 = abc"), test::hex_bytes("50 40 00 01 00 00 00 02 00 00 00 00"));
  EXPECT_EQ(assembled("Set GPR2 = 12px"), test::hex_bytes("50 40 00 01 00 00 00 02 00 00 00 0C"));
  EXPECT_EQ(assembled("StillOff"), test::hex_bytes("11 00 00 09 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(assembled("EnableButton 5"), test::hex_bytes("31 80 00 04 00 00 00 05 00 00 00 00"));
  EXPECT_EQ(assembled("SetNVTimer 2 600"), test::hex_bytes("51 C0 00 02 00 00 00 02 00 00 02 58"));
}

TEST(NavCmdAssemble, SetStreamAndSetButtonPage) {
  // Audio 2, PG 3 shown, IG and angle unset.
  EXPECT_EQ(assembled("SetStream 2 3 1 X X"), test::hex_bytes("51 80 00 01 80 02 C0 03 00 00 00 00"));
  // IG from GPR300 and angle from GPR1; audio and PG unset.
  EXPECT_EQ(assembled("SetStream X X 0 GPR300 GPR1"), test::hex_bytes("51 00 00 01 00 00 00 00 81 2C 80 01"));
  EXPECT_TRUE(refused("SetStream 2 GPR3 0 X X"));   // audio and PG of different kinds
  EXPECT_TRUE(refused("SetStream X X 0 1 GPR1"));   // IG and angle of different kinds
  EXPECT_TRUE(refused("SetStream PSR1 X 0 X X"));   // player-status registers refused
  EXPECT_TRUE(refused("SetStream 1 2 0 3"));        // five fields
  EXPECT_EQ(assembled("SetButtonPage 3 1 1"), test::hex_bytes("51 C0 00 03 80 00 00 03 C0 00 00 01"));
  EXPECT_EQ(assembled("SetButtonPage GPR7 X 0"), test::hex_bytes("51 00 00 03 80 00 00 07 00 00 00 00"));
  EXPECT_TRUE(refused("SetButtonPage PSR1 1 0"));
}

TEST(NavCmdAssemble, RefusedTexts) {
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused("   \t "));
  EXPECT_TRUE(refused("Set PSR1 = 3"));       // Set writes a general-purpose register only
  EXPECT_TRUE(refused("GoTo GPR4096"));      // register out of range
  EXPECT_TRUE(refused("If PSR128 == 1"));
  EXPECT_TRUE(refused("JumpTitle 0x10"));    // hexadecimal is not accepted
  EXPECT_TRUE(refused("Jump 3"));            // unknown mnemonic
  EXPECT_TRUE(refused("If GPR1 =< 3"));      // unknown comparison
  EXPECT_TRUE(refused("Set GPR1 * 3"));      // unknown operation
  EXPECT_TRUE(refused("Set GPR1 Swap 3"));   // Swap needs a register
  EXPECT_TRUE(refused("JumpTitle"));         // missing operand
  EXPECT_TRUE(refused("SetNVTimer PSR1 3"));
  EXPECT_TRUE(refused("JumpTitle 99999999999"));
  EXPECT_TRUE(refused("GoTo GPR"));          // register without a number
}

// One text of every mnemonic, with the operand kinds each accepts.
const char* const kSamples[] = {
    "Nop", "GoTo 5", "Break", "JumpObject 1", "JumpTitle GPR2", "CallObject PSR3", "CallTitle 4", "Resume",
    "PlayPlaylist 0", "PlayPlaylistAtPlayItem 1 GPR2", "PlayPlaylistAtMark GPR3 4", "TerminatePlaylist",
    "LinkPlayItem 2", "LinkMark GPR9", "If GPR1 & 3", "If 1 == 2", "If PSR10 != GPR0", "If GPR1 >= GPR2",
    "If GPR1 > 9", "If GPR1 <= 9", "If GPR1 < PSR4", "Set GPR0 = 1", "Set GPR0 Swap GPR1", "Set GPR0 + PSR1",
    "Set GPR0 - 1", "Set GPR0 x 2", "Set GPR0 / 3", "Set GPR0 % 4", "Set GPR0 Random 5", "Set GPR0 & 6",
    "Set GPR0 | 7", "Set GPR0 Xor 8", "Set GPR0 BitSet 9", "Set GPR0 BitClear 10", "Set GPR0 << 11",
    "Set GPR4095 >> 4294967295", "SetStream 1 2 1 3 4", "SetStream GPR1 GPR2 0 X X", "SetStream X X 1 X X",
    "SetStream X 4095 0 GPR4095 X", "SetNVTimer GPR1 300", "SetButtonPage 1 2 0", "SetButtonPage X GPR2 1",
    "EnableButton 3", "DisableButton GPR4", "SetSecondaryStream 2147483649 65536", "PopUpMenuOff", "StillOn",
    "StillOff"};

TEST(NavCmdDisassemble, EveryMnemonicRoundTrips) {
  std::vector<bool> seen(nav_mnemonics().size());
  ASSERT_EQ(nav_mnemonics().size(), 25u);
  EXPECT_EQ(nav_mnemonics().front(), "Nop");
  EXPECT_EQ(nav_mnemonics().back(), "StillOff");
  for (const char* text : kSamples) {
    NavCommand c{};
    ASSERT_TRUE(assemble(text, c)) << text;
    const std::string back = disassemble(c);
    EXPECT_EQ(back, text);  // the samples are in the disassembler's own form
    NavCommand again{};
    ASSERT_TRUE(assemble(back, again)) << back;
    EXPECT_EQ(again, c) << text;
    const std::string mnemonic = back.substr(0, back.find(' '));
    for (std::size_t i = 0; i < nav_mnemonics().size(); ++i) {
      if (nav_mnemonics()[i] == mnemonic) seen[i] = true;
    }
  }
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << nav_mnemonics()[i];
  EXPECT_EQ(disassemble(NavCommand{0x21, 0x01, 0, 0, 0, 0, 0x01, 0x02}), "JumpTitle GPR258");
}

TEST(NavCmdDisassemble, AnythingElseIsRawAndNeverMisread) {
  EXPECT_EQ(disassemble(NavCommand{0x50, 0x40, 0, 0x01, 0x80, 0, 0, 1, 0, 0, 0, 2}), "Raw 50400001 80000001 00000002");
  EXPECT_EQ(disassemble(NavCommand{0x48, 0, 0x08}), "Raw 48000800 00000000 00000000");  // comparison 8
  EXPECT_EQ(disassemble(NavCommand{0x21, 0x01, 0, 0, 0x40, 0, 0, 1}), "Raw 21010000 40000001 00000000");
  NavCommand c{};
  EXPECT_FALSE(assemble("Raw 50C00001 00000001 00000002", c));
  // Random commands built on the vocabulary's first bytes: the text either reassembles to the very
  // same bytes or is marked raw.
  std::mt19937 rng(11);
  const std::uint8_t firsts[] = {0x00, 0x20, 0x21, 0x01, 0x22, 0x42, 0x02, 0x48, 0x50, 0x51, 0x31, 0x11};
  int named = 0;
  auto operand = [&](NavCommand& cmd, std::size_t at) {
    switch (rng() % 4) {
      case 0: store_be32(&cmd[at], static_cast<std::uint32_t>(rng() % 4096)); break;            // GPR
      case 1: store_be32(&cmd[at], 0x80000000u | static_cast<std::uint32_t>(rng() % 128)); break;  // PSR
      case 2: store_be32(&cmd[at], static_cast<std::uint32_t>(rng())); break;                   // any
      default: cmd[at + (rng() % 4)] = static_cast<std::uint8_t>(rng()); break;
    }
  };
  for (int i = 0; i < 20000; ++i) {
    NavCommand cmd{};
    cmd[0] = firsts[rng() % std::size(firsts)];
    const int group = (cmd[0] >> 3) & 3;
    cmd[1] = static_cast<std::uint8_t>(rng() & (group == 0 ? 0xC7 : 0xC0));
    if (group == 1) cmd[2] = static_cast<std::uint8_t>(rng() % 9);
    if (group == 2) cmd[3] = static_cast<std::uint8_t>(rng() % 17);
    if (rng() % 8 == 0) cmd[rng() % 4] |= static_cast<std::uint8_t>(1u << (rng() % 8));  // stray bit
    operand(cmd, 4);
    operand(cmd, 8);
    if (rng() % 3 == 0) store_be32(&cmd[8], 0);
    const std::string text = disassemble(cmd);
    if (text.rfind("Raw ", 0) == 0) continue;
    ++named;
    NavCommand back{};
    ASSERT_TRUE(assemble(text, back)) << text;
    ASSERT_EQ(back, cmd) << text;
  }
  EXPECT_GT(named, 1000);
}

TEST(NavCmds, ArchiveRoundTrip) {
  CNavCmds cmds;
  NavCommand a{}, b{};
  assemble("JumpTitle 3", a);
  assemble("Break", b);
  cmds.commands = {a, b};
  const Bytes ar = store_nav_cmds(cmds);
  ASSERT_EQ(ar.size(), 4u + 2 * 16);
  EXPECT_EQ(load_be32(&ar[0]), 2u);
  EXPECT_EQ(load_be32(&ar[4]), 0u);
  EXPECT_EQ(ar[8], 0x21);
  CNavCmds back;
  ASSERT_TRUE(load_nav_cmds(ar, back));
  EXPECT_EQ(back.commands, cmds.commands);
  for (std::size_t n = 0; n < ar.size(); ++n) {
    const Bytes cut(ar.begin(), ar.begin() + static_cast<std::ptrdiff_t>(n));
    CNavCmds c;
    EXPECT_FALSE(load_nav_cmds(cut, c)) << n;
  }
}

}  // namespace
}  // namespace veld
