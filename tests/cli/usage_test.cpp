// SPDX-License-Identifier: GPL-3.0-or-later
// The suggestions of the command line's usage errors and the terminal form of catalogue texts.
#include <gtest/gtest.h>

#include "terminal.h"
#include "usage.h"

namespace veld::cli {
namespace {

TEST(ClosestName, SuggestsOnlyWhatIsCloseToATypo) {
  const std::vector<std::string> commands = {"extract", "replace", "show"};
  const std::vector<std::string> options = {"--help", "-h", "--yes", "-y", "--quiet", "-q", "--version"};
  struct Case {
    const char* word;
    const std::vector<std::string>& candidates;
    const char* expected;
  };
  const Case cases[] = {
      {"extrct", commands, "extract"},   // one letter missing
      {"exrtact", commands, "extract"},  // two letters swapped: one edit
      {"extracts", commands, "extract"},
      {"rplace", commands, "replace"},
      {"shwo", commands, "show"},
      {"ext", commands, "extract"},  // the only command it starts
      {"export", commands, ""},      // three edits from extract
      {"x", commands, ""},
      {"so", commands, ""},  // two edits from show, but half of it
      {"", commands, ""},
      {"--yse", options, "--yes"},
      {"--verison", options, "--version"},
      {"--quite", options, "--quiet"},
      {"--yes-all", options, ""},
      {"-z", options, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ClosestName(c.word, c.candidates), c.expected) << c.word;
}

TEST(TerminalText, LineBreaksOfTheCatalogueBecomeOneNewlineWithoutTrailingBlanks) {
  const std::pair<const char*, const char*> cases[] = {
      {"a ! \r\nb", "a !\nb"},
      {"a:\n\rb", "a:\nb"},
      {"a\rb", "a\nb"},
      {"x ! \ny ! ", "x !\ny !"},
      {"/w/VELD/\n exists, overwrite ? ", "/w/VELD/\n exists, overwrite ?"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(terminal_text(in), out) << in;
}

}  // namespace
}  // namespace veld::cli
