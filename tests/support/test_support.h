// SPDX-License-Identifier: GPL-3.0-or-later
// Test doubles and helpers shared by the unit and end-to-end tests.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"

namespace veld::test {

// Records every message and answers questions from a queue (then with the default answer).
class RecordingMessenger : public Messenger {
 public:
  struct Shown {
    MessageKind kind;
    std::string text;
  };
  void show(MessageKind kind, std::string_view text) override { shown.push_back({kind, std::string(text)}); }
  Answer ask(std::string_view text) override {
    asked.emplace_back(text);
    if (answers.empty()) return default_answer;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  // All shown texts joined by newlines, for EXPECT_THAT(..., HasSubstr(...)).
  std::string all_text() const;

  std::vector<Shown> shown;
  std::vector<std::string> asked;
  std::deque<Answer> answers;
  Answer default_answer = Answer::kNo;
};

// Records what a window would draw; cancels itself after cancel_after commands when set.
class RecordingProgress : public Progress {
 public:
  std::vector<std::string> window_titles;
  std::vector<std::string> statuses;
  std::vector<int> positions;
  int redraws = 0;
  int cancel_after = -1;  // cancels in this pump (1 = the first), -1 never

 protected:
  void on_window_title(const std::string& t) override { window_titles.push_back(t); }
  void on_status(const std::string& s) override {
    statuses.push_back(s);
    ++redraws;
  }
  void on_title(const std::string&) override { ++redraws; }
  void on_position(int pos, int) override { positions.push_back(pos); }
  void pump() override {
    if (cancel_after >= 0 && --cancel_after <= 0) cancel();
  }
};

// A fresh empty folder under the system's temporary folder, removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Folder of the generated test discs (<build>/test-discs); the tests that use it require the
// generator's CTest fixture, so a missing folder is a failure, not a skip.
std::filesystem::path test_discs_dir();
// The source tree (for checked-in inputs such as examples/sample-disc).
std::filesystem::path source_dir();

// Every entry below folder (relative path -> kind, mode, and for files the last-write time and the
// SHA-256 of the content; links are not followed), for checking that a run left a folder tree exactly as it was. An absent folder
// gives an empty snapshot.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot snapshot_tree(const std::filesystem::path& folder);

Bytes read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, ByteSpan data);
Bytes hex_bytes(std::string_view hex);  // "00 B0 11" -> bytes; spaces ignored
std::string sha256_hex(ByteSpan data);

}  // namespace veld::test
