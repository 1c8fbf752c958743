// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/progress.h"

#include <fmt/format.h>

namespace veld {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string cut_utf8(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max;
  // Step back over continuation bytes so that no sequence is split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

int Progress::percentage(int position, int lower, int upper) {
  if (upper <= lower) return 0;
  const long long num = static_cast<long long>(position - lower) * 100;
  const long long den = upper - lower;
  // Round to nearest, halves up (towards +infinity), also for positions below lower.
  const long long twice = 2 * num + den;
  long long q = twice / (2 * den);
  if (twice % (2 * den) != 0 && twice < 0) --q;
  return static_cast<int>(q);
}

bool Progress::command(const ProgressCommand& cmd) {
  if (cancelled()) return false;
  switch (cmd.kind) {
    case ProgressCommand::kSetPosition: {
      if (!bar_visible_) {
        bar_visible_ = true;
        on_bar_visible(true);
      }
      position_ = cmd.value;
      const int pct = percentage(position_, kLower, kUpper);
      if (pct != percent_) {
        percent_ = pct;
        window_title_ = fmt::format("{} [{}%]", title_, pct);
        on_window_title(window_title_);
      }
      on_position(position_, percent_);
      pump();
      break;
    }
    case ProgressCommand::kSetStatus:
      if (!equal_ignoring_case(cmd.text, status_)) {
        status_ = cut_utf8(cmd.text, kMaxStatus);
        on_status(status_);
        pump();
      }
      break;
    case ProgressCommand::kSetTitle:
      if (!equal_ignoring_case(cmd.text, title_)) {
        title_ = cmd.text;
        on_title(title_);
        pump();
      }
      break;
    case ProgressCommand::kHideBar:
      if (bar_visible_) {
        bar_visible_ = false;
        on_bar_visible(false);
      }
      break;
  }
  return !cancelled();
}

}  // namespace veld
