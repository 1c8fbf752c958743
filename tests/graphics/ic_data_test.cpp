// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/ic_data.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

namespace veld {
namespace {

using test::hex_bytes;

// One page, no effects, one BOG with one button and one command ("JumpTitle 3").
const char* const kSmallComposition =
    "00004C 80 000000 01"
    // page: id, version, UMT, in and out effects (no windows, no effects), frame rate, default
    // selected, default activated, palette, BOG count
    "00 00 0102030405060708 00 00 00 00 00 0001 FFFF 00 01"
    // BOG: default button, button count
    "0001 01"
    // button: id, numeric value, auto action, position, neighbours
    "0001 FFFF 00 0010 0020 0001 0001 0001 0001"
    // normal (start, end, repeat), selected (sound, start, end, repeat), activated (sound, start, end)
    "0001 0002 80 FF 0003 0003 00 FF 0004 0004"
    // commands
    "0001 21 81 00 00 00 00 00 03 00 00 00 00";

TEST(IcData, ParsesAndWritesEveryElement) {
  const Bytes data = hex_bytes(kSmallComposition);
  CIcData ic;
  std::string error;
  ASSERT_EQ(ic.Parse(data, &error), static_cast<long>(data.size())) << error;
  EXPECT_EQ(ic.CompositionLength, 0x4Cu);
  EXPECT_TRUE(ic.StreamModel);
  EXPECT_FALSE(ic.UserInterfaceModel);
  ASSERT_EQ(ic.Pages.size(), 1u);
  const CPage& page = ic.Pages[0];
  EXPECT_EQ(page.PageId, 0);
  EXPECT_EQ(page.UMT[7], 8);
  EXPECT_EQ(page.DefaultSelectedButtonId, 1);
  EXPECT_EQ(page.DefaultActivatedButtonId, 0xFFFF);
  EXPECT_EQ(page.PaletteIdRef, 0);
  ASSERT_EQ(page.Bogs.size(), 1u);
  ASSERT_EQ(page.Bogs[0].Buttons.size(), 1u);
  const CBdButton& b = page.Bogs[0].Buttons[0];
  EXPECT_EQ(b.Id, 1);
  EXPECT_EQ(b.NumbericValue, 0xFFFF);
  EXPECT_EQ(b.HorPos, 0x10);
  EXPECT_EQ(b.VerPos, 0x20);
  EXPECT_EQ(b.Normal.StartObjectId, 1);
  EXPECT_EQ(b.Normal.EndObjectId, 2);
  EXPECT_TRUE(b.Normal.RepeatFlag);
  EXPECT_EQ(b.Selected.SoundId, 0xFF);
  EXPECT_EQ(b.Activated.StartObjectId, 4);
  EXPECT_FALSE(b.Activated.RepeatFlag);
  ASSERT_EQ(b.Commands.commands.size(), 1u);
  EXPECT_EQ(b.Commands.commands[0][0], 0x21);
  EXPECT_EQ(b.ButtonType, 0);

  Bytes out;
  EXPECT_EQ(ic.Write(&out), data.size());
  EXPECT_EQ(out, data);
  EXPECT_EQ(ic.Write(nullptr), data.size());  // the size alone

  // Each element on its own: the page starts after the composition header (3 + 1 + 3 + 1 bytes).
  const ByteSpan page_bytes = ByteSpan(data).subspan(8);
  CPage page_only;
  EXPECT_EQ(page_only.Parse(page_bytes), static_cast<long>(page_bytes.size()));
  EXPECT_EQ(page_only, page);
  EXPECT_EQ(page_only.Write(nullptr), page_bytes.size());
  const ByteSpan bog_bytes = page_bytes.subspan(21);
  CBog bog;
  EXPECT_EQ(bog.Parse(bog_bytes), 50);
  EXPECT_EQ(bog.Write(nullptr), 50u);
  CBdButton button;
  EXPECT_EQ(button.Parse(bog_bytes.subspan(3)), 47);
  EXPECT_EQ(button, b);
}

TEST(IcData, CountsAndLengthsAreRecomputed) {
  CIcData ic;
  ASSERT_GT(ic.Parse(hex_bytes(kSmallComposition)), 0);
  CBdButton second = ic.Pages[0].Bogs[0].Buttons[0];
  second.Id = 2;
  second.Commands.commands.push_back(BreakCommand());
  ic.Pages[0].Bogs[0].Buttons.push_back(second);
  ic.CompositionLength = 1;  // a stored value, never written
  Bytes out;
  ASSERT_EQ(ic.Write(&out), 79u + 47 + 12);
  EXPECT_EQ(load_be24(out.data()), out.size() - 3);
  CIcData again;
  ASSERT_EQ(again.Parse(out), static_cast<long>(out.size()));
  EXPECT_EQ(again, ic);
  EXPECT_EQ(again.Pages[0].Bogs[0].Buttons[1].Commands.commands.size(), 2u);

  ic.Pages[0].Bogs[0].Buttons.resize(256);
  out.clear();
  EXPECT_EQ(ic.Write(&out), 0u);  // 256 buttons do not fit their count
  EXPECT_TRUE(out.empty());
}

TEST(IcData, TimeOutsArePresentOnlyWithoutStreamModel) {
  CIcData ic;
  ic.StreamModel = false;
  ic.UserInterfaceModel = true;
  ic.CompositionTimeOutPts = 0x100000001ull;
  ic.SelectionTimeOutPts = 0x0ABCDEF01ull;
  ic.UserTimeOutDuration = 0x123456;
  Bytes out;
  ASSERT_EQ(ic.Write(&out), 3u + 1 + 10 + 3 + 1);
  EXPECT_EQ(out, hex_bytes("00000F 40 01 00000001 00 ABCDEF01 123456 00"));
  // Reserved bits before each 33-bit time-out are read over and written as zeros.
  CIcData read;
  ASSERT_GT(read.Parse(hex_bytes("00000F 7F FF 00000001 FE ABCDEF01 123456 00")), 0);
  EXPECT_EQ(read.CompositionTimeOutPts, 0x100000001ull);
  EXPECT_EQ(read.SelectionTimeOutPts, 0x0ABCDEF01ull);
  EXPECT_TRUE(read.UserInterfaceModel);
  out.clear();
  read.Write(&out);
  EXPECT_EQ(out, hex_bytes("00000F 40 01 00000001 00 ABCDEF01 123456 00"));
}

TEST(IcData, EffectDurationsHaveTheWindowFloor) {
  CEffectSequence seq;
  seq.Windows.push_back({0, 0, 0, 720, 480});
  EXPECT_EQ(seq.DurationFloor(), 1944u);
  CEffect short_effect;
  short_effect.Duration = 100;
  short_effect.CompositionObjects.push_back({});
  CEffect long_effect;
  long_effect.Duration = 5000;
  seq.Effects = {short_effect, long_effect};
  Bytes out;
  ASSERT_EQ(seq.Write(&out), 1u + 9 + 1 + (5 + 8) + 5);
  EXPECT_EQ(load_be24(out.data() + 11), 1944u);
  EXPECT_EQ(load_be24(out.data() + 11 + 13), 5000u);
  EXPECT_EQ(seq.Effects[0].Duration, 100u);  // the model keeps its own value
  // Two windows add up, each rounded up: 10 x 10 x 0.005625 = 0.5625 -> 1.
  seq.Windows.push_back({1, 0, 0, 10, 10});
  EXPECT_EQ(seq.DurationFloor(), 1945u);
  CEffectSequence none;
  none.Effects = {short_effect};
  out.clear();
  none.Write(&out);
  EXPECT_EQ(load_be24(out.data() + 2), 100u);  // no windows, no floor

  CEffectSequence parsed;
  ASSERT_EQ(parsed.Parse(hex_bytes("01 00 0000 0000 02D0 01E0 01 000064 03 01 0007 00 80 0001 0002 0000 0000 0010 0010")),
            1 + 9 + 1 + 5 + 16);
  ASSERT_EQ(parsed.Effects.size(), 1u);
  EXPECT_EQ(parsed.Effects[0].PaletteIdRef, 3);
  EXPECT_TRUE(parsed.Effects[0].CompositionObjects[0].ObjectCroppedFlag);
  EXPECT_EQ(parsed.Effects[0].CompositionObjects[0].ObjectIdRef, 7);
}

TEST(IcData, MarkerCommandCarriesTheButtonType) {
  EXPECT_EQ(BreakCommand(), (NavCommand{0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  NavCommand assembled{};
  ASSERT_TRUE(assemble("Break", assembled));
  EXPECT_EQ(BreakCommand(), assembled);
  const NavCommand marker = MarkerCommand(16, 0x0102032A);
  EXPECT_EQ(marker, (NavCommand{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03, 0x2A, 0, 0, 0, 16}));
  EXPECT_EQ(ButtonTypeText(16), "Break");
  EXPECT_EQ(ButtonTypeText(27), "Global Menu");

  CIcData ic;
  ASSERT_GT(ic.Parse(hex_bytes(kSmallComposition)), 0);
  CBdButton& b = ic.Pages[0].Bogs[0].Buttons[0];
  b.Commands.commands.assign(63, NavCommand{0x21, 0x81, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0});
  b.Commands.commands.push_back(marker);
  Bytes raw;
  ASSERT_GT(b.Write(&raw, SIcWriteOptions{true}), 0u);
  CBdButton typed;
  ASSERT_EQ(typed.Parse(raw), static_cast<long>(raw.size()));
  EXPECT_EQ(typed.ButtonType, 16);
  EXPECT_EQ(typed.TypeParameter, 0x0102032Au);

  // Without the keep-commands option a typed button is written as 63 "Break" commands and the marker.
  Bytes out;
  ASSERT_EQ(typed.Write(&out), raw.size());
  CBdButton rewritten;
  ASSERT_GT(rewritten.Parse(out), 0);
  ASSERT_EQ(rewritten.Commands.commands.size(), 64u);
  for (std::size_t i = 0; i < 63; ++i) EXPECT_EQ(rewritten.Commands.commands[i], BreakCommand()) << i;
  EXPECT_EQ(rewritten.Commands.commands[63], marker);
  EXPECT_EQ(rewritten.ButtonType, 16);

  // 63 or 65 commands, or a last command that is not a marker, give no type.
  typed.Commands.commands.pop_back();
  raw.clear();
  typed.Write(&raw, SIcWriteOptions{true});
  CBdButton plain;
  ASSERT_GT(plain.Parse(raw), 0);
  EXPECT_EQ(plain.ButtonType, 0);
}

TEST(IcData, MalformedCompositionsAreRejected) {
  const Bytes data = hex_bytes(kSmallComposition);
  for (std::size_t n = 0; n < data.size(); ++n) {
    CIcData ic;
    std::string error;
    EXPECT_LT(ic.Parse(ByteSpan(data).first(n), &error), 0) << n;
    EXPECT_FALSE(error.empty());
  }
  // A declared length shorter than the pages: the pages are read within the declared length only.
  Bytes short_length = data;
  short_length[2] = 0x40;
  CIcData ic;
  EXPECT_LT(ic.Parse(short_length), 0);
  // Counts that promise more than the data holds fail before anything is allocated.
  Bytes many_pages = data;
  many_pages[7] = 0xFF;
  EXPECT_LT(ic.Parse(many_pages), 0);
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = data;
    bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    CIcData any;
    if (any.Parse(bad) > 0) any.Write(nullptr);
  }
}


TEST(IcData, PrintsTheTreeAsFieldLines) {
  CIcData ic;
  ASSERT_GT(ic.Parse(test::hex_bytes(kSmallComposition)), 0);
  std::string text;
  ic.Print(text);
  EXPECT_EQ(text, R"(StreamModel: 1
UserInterfaceModel: 0
UserTimeOutDuration: 0
NumberOfPages: 1
Page#0
  PageId: 0
  Version: 0
  UMT: 01 02 03 04 05 06 07 08
  In Effect
    NumberOfWindows: 0
    NumberOfEffects: 0
  Out Effect
    NumberOfWindows: 0
    NumberOfEffects: 0
  AnimationFrameRateCode: 0
  DefaultSelectedButtonId: 1
  DefaultActivatedButtonId: 65535
  PaletteIdRef: 0
  NumberOfBogs: 1
  Bog#0
    DefaultButtonIdRef: 1
    NumberOfButtons: 1
    Button#1
      Id: 1
      NumbericValue: 65535
      AutoActionFlag: 0
      HorPos: 16
      VerPos: 32
      Up: 1
      Down: 1
      Left: 1
      Right: 1
      Normal
        StartObjectId: 1
        EndObjectId: 2
        RepeatFlag: 1
      Selected
        SoundId: 255
        StartObjectId: 3
        EndObjectId: 3
        RepeatFlag: 0
      Activated
        SoundId: 255
        StartObjectId: 4
        EndObjectId: 4
      NumberOfCommands: 1
        Command: JumpTitle 3
)");
  // Effects, windows, composition objects and a typed button.
  CPage& page = ic.Pages[0];
  page.InEffects.Windows.push_back({2, 0, 0, 720, 480});
  page.InEffects.Effects.emplace_back().CompositionObjects.push_back({});
  page.Bogs[0].Buttons[0].ButtonType = 21;
  text.clear();
  ic.Print(text);
  EXPECT_NE(text.find("  In Effect\n    NumberOfWindows: 1\n    Window\n      WindowID: 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Effect\n      Duration: 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("      Composition Object\n        ObjectIdRef: 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("      ButtonType: 21 (Top Menu)\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace veld
