// SPDX-License-Identifier: GPL-3.0-or-later
// Navigation commands: every 12 bytes of the input as a command (its text, assembled again), the whole
// input as the archive form of a command list, and as the text of one command.
#include <algorithm>
#include <string_view>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/disc/nav_cmd.h"

using namespace veld;

VELD_FUZZ_TARGET(nav_cmd) {
  for (std::size_t at = 0; at + 12 <= size; at += 12) {
    NavCommand command;
    std::copy_n(data + at, 12, command.begin());
    const std::string text = disassemble(command);
    if (text.rfind("Raw ", 0) == 0) continue;
    // A command that has a text form gives the same 12 bytes again.
    NavCommand back;
    VELD_FUZZ_CHECK(assemble(text, back));
    VELD_FUZZ_CHECK(back == command);
  }
  CNavCmds list;
  if (load_nav_cmds(ByteSpan(data, size), list)) (void)store_nav_cmds(list);
  NavCommand assembled;
  if (assemble(std::string_view(reinterpret_cast<const char*>(data), size), assembled)) (void)disassemble(assembled);
  return 0;
}
