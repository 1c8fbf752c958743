// SPDX-License-Identifier: GPL-3.0-or-later
// Progress reporting and cancellation for long work.
//
// Long loops (demultiplexer, indexer, multiplexer) report through command() and stop when it returns
// false. The rules here are the same for every front end; drawing is left to the hooks:
//   kind 0: show the bar and set the position (a percentage 0..100); when the rounded percentage differs
//           from the last one shown the window title becomes "<title> [<n>%]";
//   kind 1: take a new status text unless it equals the current one ignoring case (at most 4,095
//           characters);
//   kind 2: take a new title unless it equals the current one ignoring case;
//   kind 3: hide the bar.
// Once cancelled, every later command does nothing and returns false. cancel() may be called from
// another thread (a signal handler's flag, a window's Cancel button).
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace veld {

struct ProgressCommand {
  enum Kind : int { kSetPosition = 0, kSetStatus = 1, kSetTitle = 2, kHideBar = 3 };
  Kind kind = kSetPosition;
  int value = 0;
  std::string text;
};

class Progress {
 public:
  static constexpr std::size_t kMaxStatus = 4095;
  static constexpr int kLower = 0;
  static constexpr int kUpper = 100;

  virtual ~Progress() = default;

  // true to go on, false once the user has cancelled.
  bool command(const ProgressCommand& cmd);
  bool set_position(int percent) { return command({ProgressCommand::kSetPosition, percent, {}}); }
  bool set_status(std::string_view text) { return command({ProgressCommand::kSetStatus, 0, std::string(text)}); }
  bool set_title(std::string_view text) { return command({ProgressCommand::kSetTitle, 0, std::string(text)}); }
  bool hide_bar() { return command({ProgressCommand::kHideBar, 0, {}}); }

  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }

  const std::string& title() const { return title_; }
  const std::string& status() const { return status_; }
  const std::string& window_title() const { return window_title_; }
  int position() const { return position_; }
  int percent() const { return percent_; }
  bool bar_visible() const { return bar_visible_; }

  // Rounded percentage of a position in [lower, upper], halves up; 0 when upper <= lower.
  static int percentage(int position, int lower, int upper);

 protected:
  // Drawing hooks; pump() is where a front end notices its Cancel button or Esc and calls cancel().
  virtual void on_window_title(const std::string& /*text*/) {}
  virtual void on_status(const std::string& /*text*/) {}
  virtual void on_title(const std::string& /*text*/) {}
  virtual void on_position(int /*position*/, int /*percent*/) {}
  virtual void on_bar_visible(bool /*visible*/) {}
  virtual void pump() {}

 private:
  std::atomic<bool> cancelled_{false};
  std::string title_;
  std::string status_;
  std::string window_title_;
  int position_ = 0;
  int percent_ = 0;  // last percentage shown
  bool bar_visible_ = true;
};

// Case-insensitive equality for ASCII letters; other bytes compare exactly.
bool equal_ignoring_case(std::string_view a, std::string_view b);
// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string cut_utf8(std::string_view text, std::size_t max);

}  // namespace veld
