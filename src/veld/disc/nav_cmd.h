// SPDX-License-Identifier: GPL-3.0-or-later
// HDMV navigation commands: the 12-byte command of movie objects and button programs, a text assembler
// for it and the matching disassembler.
//
// Byte 0: operand count (bits 7-5), command group (4-3: 0 branch, 1 compare, 2 set), sub-group (2-0).
// Byte 1: first/second operand immediate (bits 7/6), branch option (3-0). Byte 2: compare option (3-0).
// Byte 3: set option (4-0). Bytes 4-7 and 8-11: the operands. A register operand is "GPRn" (0..4095,
// encoded as n) or "PSRn" (0..127, encoded as 0x80000000 | n); an immediate is a decimal number.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"

namespace veld {

using NavCommand = std::array<std::uint8_t, 12>;

// A named, ordered list of commands; each command is kept as its 12 raw bytes.
struct CNavCmds {
  std::string name;
  std::vector<NavCommand> commands;
  bool operator==(const CNavCmds&) const = default;
};

// Archive form: the count (32 bits), then for each command a 32-bit zero and its 12 bytes.
Bytes store_nav_cmds(const CNavCmds& cmds);
// Reads the archive form; false (and cmds unchanged) when it is malformed.
bool load_nav_cmds(ByteSpan archive, CNavCmds& cmds);

// Assembles one command text ("JumpTitle 3", "Set GPR5 + 10", "If PSR1 == GPR4095"). The 12 bytes are
// cleared first; false for an empty text, an unknown mnemonic or an invalid operand.
bool assemble(std::string_view text, NavCommand& out);

// The text form of a command, which assemble() turns back into the same 12 bytes. The immediate flag
// of an operand that the command does not use (real discs set it, e.g. on a SetStream field that is
// switched off) follows the operands as "[imm1]" / "[imm2]"; assemble() takes these tokens only for
// such operands. A command outside the vocabulary, or with other bits its text cannot carry, gives
// "Raw " and its 24 hex digits in three groups (which assemble() refuses).
std::string disassemble(const NavCommand& cmd);

// The 25 mnemonics of the vocabulary, "Nop" first, "StillOff" last.
const std::vector<std::string_view>& nav_mnemonics();

}  // namespace veld
