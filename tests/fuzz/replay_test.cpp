// SPDX-License-Identifier: GPL-3.0-or-later
// Replays the regression corpus: every input that once broke a fuzz target (tests/fuzz/regress/<target>/)
// goes through the same target again in the normal test build, so that a fault that was fixed stays
// fixed without clang or libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "support/test_support.h"

namespace veld::fuzz {
namespace {

std::map<std::string, TargetFunction>& Registry() {
  static std::map<std::string, TargetFunction> targets;
  return targets;
}

std::vector<std::string> TargetNames() {
  std::vector<std::string> names;
  for (const auto& [name, function] : Registry()) names.push_back(name);
  return names;
}

const std::filesystem::path kRegressDir = VELD_FUZZ_REGRESS_DIR;

std::vector<std::filesystem::path> Inputs(const std::string& target) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(kRegressDir / target, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

Registration::Registration(const char* name, TargetFunction function) { Registry()[name] = function; }

namespace {

TEST(FuzzRegress, EveryCorpusFolderNamesATarget) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(kRegressDir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory()) continue;
    EXPECT_TRUE(Registry().count(it->path().filename().string()))
        << it->path() << " is not the corpus of a fuzz target";
  }
  EXPECT_EQ(Registry().size(), 16u) << "a fuzz target was added or lost: update this count";
}

class FuzzReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzReplay, RegressionInputs) {
  const TargetFunction target = Registry().at(GetParam());
  // The smallest inputs first: empty, one byte.
  const std::uint8_t byte = 0;
  EXPECT_EQ(target(&byte, 0), 0);
  EXPECT_EQ(target(&byte, 1), 0);
  for (const std::filesystem::path& file : Inputs(GetParam())) {
    SCOPED_TRACE(file.string());
    const Bytes input = test::read_file(file);
    // An input of its own size on the heap, so that a read past its end is caught by the sanitizers.
    std::vector<std::uint8_t> copy(input.begin(), input.end());
    EXPECT_EQ(target(copy.data(), copy.size()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(TargetNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace veld::fuzz
