// SPDX-License-Identifier: GPL-3.0-or-later
// Terminal front end of Messenger and Progress: results on stdout, errors on stderr, questions as a
// prompt on a terminal, one updating progress line on a terminal, Ctrl-C cancels.
#pragma once

#include <csignal>
#include <string>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"

namespace veld::cli {

// The texts of the catalogue keep the original line breaks ("\r\n", "\n\r"); a terminal wants "\n".
std::string terminal_text(std::string_view text);

class TerminalMessenger : public Messenger {
 public:
  TerminalMessenger(bool assume_yes, bool quiet) : assume_yes_(assume_yes), quiet_(quiet) {}
  void show(MessageKind kind, std::string_view text) override;
  Answer ask(std::string_view text) override;
  // Set before a message so that the progress line is cleared first.
  void set_progress(class TerminalProgress* p) { progress_ = p; }
  // Warnings shown so far (the closing summary counts them).
  int warnings() const { return warnings_; }

 private:
  bool assume_yes_;
  bool quiet_;
  int warnings_ = 0;
  TerminalProgress* progress_ = nullptr;
};

class TerminalProgress : public Progress {
 public:
  explicit TerminalProgress(bool quiet);
  ~TerminalProgress() override;
  // Erases the progress line (before other output).
  void clear_line();

 protected:
  void on_window_title(const std::string&) override { redraw(); }
  void on_status(const std::string&) override { redraw(); }
  void on_title(const std::string&) override { redraw(); }
  void on_position(int, int) override { redraw(); }
  void pump() override;

 private:
  void redraw();
  bool enabled_;
  bool drawn_ = false;
  std::string last_line_;
};

// Ctrl-C: the first press asks the running work to stop (the next progress command returns false);
// a second press ends the program at once.
void install_interrupt_handler();
bool interrupted();

}  // namespace veld::cli
