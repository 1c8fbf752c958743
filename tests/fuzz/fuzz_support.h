// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: a messenger and a progress that go nowhere, scratch files for the entry
// points that read from a path, and the bundle format that carries a whole BDMV folder in one input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"

namespace veld::fuzz {

// Takes every message; answers every question with No.
class QuietMessenger : public Messenger {
 public:
  void show(MessageKind kind, std::string_view text) override;
  Answer ask(std::string_view) override { return Answer::kNo; }
  int errors = 0;
  int warnings = 0;
};

// A progress that never cancels and draws nothing.
class QuietProgress : public Progress {};

// The folder of this process for the files a target hands to entry points that read a path: under
// $VELD_FUZZ_SCRATCH when set, else /dev/shm (memory) when it exists, else the temporary folder.
// Removed when the process ends normally.
const std::filesystem::path& ScratchFolder();
// Writes data to ScratchFolder()/name (created or truncated) and returns the path.
std::filesystem::path WriteScratchFile(std::string_view name, ByteSpan data);
// ScratchFolder()/name, emptied (or made).
std::filesystem::path FreshScratchFolder(std::string_view name);

// A bundle: records of (name length: 1 byte, name, data length: 4 bytes big-endian, data). Names are
// relative paths of letters, digits, '.', '_' and '/'; a record that runs past the input is cut to what
// is there; names that could leave the folder ("..", a leading '/') are skipped.
using BundleFile = std::pair<std::string, ByteSpan>;
std::vector<BundleFile> ReadBundle(ByteSpan input);
// Writes the files of the bundle below folder (a later file of the same name replaces an earlier one).
void WriteBundle(const std::vector<BundleFile>& files, const std::filesystem::path& folder);

// Stops the process with a message when an invariant of the code under test does not hold: libFuzzer
// reports it as a crash, the replay test as a failure.
[[noreturn]] void Violated(const char* what, const char* file, int line);

}  // namespace veld::fuzz

#define VELD_FUZZ_CHECK(cond) \
  do {                        \
    if (!(cond)) ::veld::fuzz::Violated(#cond, __FILE__, __LINE__); \
  } while (0)
