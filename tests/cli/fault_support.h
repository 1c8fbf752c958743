// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the fault-injection tests: commands run on a disk that fills up (tests/fault/disk_full.c,
// loaded with LD_PRELOAD), a work folder with one edited picture, and how a BDMV folder compares with its
// old and new files.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_support.h"

extern char** environ;

namespace veld::test {

// The environment prefix of a command under the shim: a disk that takes `limit` bytes in all (none when
// negative), the bytes written reported to `report` (when not empty), renames and links slowed by
// slow_us microseconds. The work folder's lock holds the process id, whose digits vary from run to run
// (the ids wrap), so it is left out of the count; a lock that cannot take its text still locks. ASan
// must accept a library loaded before its runtime.
inline std::string disk_full_env(long long limit, const std::filesystem::path& report = {}, long slow_us = 0) {
  std::string env = "LC_ALL=C.UTF-8 LD_PRELOAD=" + shell_quote(VELD_DISK_FULL_SHIM) +
                    " VELD_DISK_FULL_SPARE=veld.lock" +
                    " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"";
  if (limit >= 0) env += " VELD_DISK_FULL_AFTER=" + std::to_string(limit);
  if (!report.empty()) env += " VELD_DISK_FULL_REPORT=" + shell_quote(report.string());
  if (slow_us > 0) env += " VELD_SLOW_RENAME_US=" + std::to_string(slow_us);
  return env;
}

// Runs veld under the shim; *written receives the bytes the run wrote to files (when given).
inline RunResult run_veld_on_disk(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                                  long long limit, long long* written = nullptr) {
  const std::filesystem::path report = scratch / "written.txt";
  std::filesystem::remove(report);
  RunResult r = run_veld(args, scratch, disk_full_env(limit, written ? report : std::filesystem::path()));
  if (written) *written = std::stoll("0" + slurp(report));
  return r;
}

// Starts veld (without waiting) with the shim's renames and links slowed by slow_us microseconds; its output
// goes to scratch/killed-out.txt and killed-err.txt.
inline pid_t start_veld_slow(const std::vector<std::string>& args, const std::filesystem::path& scratch, long slow_us) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("LC_ALL=", 0) == 0 || v.rfind("LD_PRELOAD=", 0) == 0 || v.rfind("ASAN_OPTIONS=", 0) == 0) continue;
    env_strings.push_back(v);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  env_strings.push_back(std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") +
                        "verify_asan_link_order=0");
  env_strings.push_back("LC_ALL=C.UTF-8");
  env_strings.push_back(std::string("LD_PRELOAD=") + VELD_DISK_FULL_SHIM);
  env_strings.push_back("VELD_SLOW_RENAME_US=" + std::to_string(slow_us));
  std::vector<char*> env;
  for (std::string& s : env_strings) env.push_back(s.data());
  env.push_back(nullptr);
  std::vector<std::string> argv_strings{VELD_CLI_PATH};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const std::string out = (scratch / "killed-out.txt").string(), err = (scratch / "killed-err.txt").string();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "r", stdin) || !freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
      _exit(126);
    execve(argv[0], argv.data(), env.data());
    _exit(127);
  }
  return pid;
}

// Limits from..to-1 in `steps` even steps, plus the edges and a few small ones when they lie inside.
inline std::vector<long long> limit_grid(long long from, long long to, int steps) {
  std::vector<long long> out;
  for (long long v : {from, from + 1, from + 512, from + 4096, to - 1})
    if (v >= from && v < to) out.push_back(v);
  for (int k = 1; k < steps; ++k) out.push_back(from + (to - from) * k / steps);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}


// Every entry below a folder: files by their content's hash, folders as "folder" (hidden entries too).
inline std::map<std::string, std::string> tree_content(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = std::filesystem::relative(e.path(), root).string();
    out[rel] = e.is_directory() ? "folder" : e.is_regular_file() ? sha256_hex(read_file(e.path())) : "other";
  }
  return out;
}

// What a BDMV folder holds compared with its old and its new files.
enum class DiscState { kOld, kNew, kMixed };
inline const char* name_of(DiscState s) {
  return s == DiscState::kOld ? "every old file" : s == DiscState::kNew ? "every new file" : "a MIX";
}
inline DiscState disc_state(const std::map<std::string, std::string>& now,
                            const std::map<std::string, std::string>& old_tree,
                            const std::map<std::string, std::string>& new_tree) {
  if (now == old_tree) return DiscState::kOld;
  if (now == new_tree) return DiscState::kNew;
  return DiscState::kMixed;
}

}  // namespace veld::test
