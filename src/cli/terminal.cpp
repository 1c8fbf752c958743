// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "veld/base/messages.h"

namespace veld::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void on_sigint(int) { g_interrupted = 1; }

int terminal_width() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace

void install_interrupt_handler() {
  struct sigaction sa {};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // a second Ctrl-C takes the default action
  sigaction(SIGINT, &sa, nullptr);
}

bool interrupted() { return g_interrupted != 0; }

std::string terminal_text(std::string_view text) { return plain_text(text); }

void TerminalMessenger::show(MessageKind kind, std::string_view text) {
  if (progress_) progress_->clear_line();
  const std::string t = terminal_text(text);
  if (kind == MessageKind::kInfo) {
    if (!quiet_) std::cout << t << std::endl;
  } else {
    if (kind == MessageKind::kWarning) ++warnings_;
    std::cerr << message_text(kind == MessageKind::kError ? kCliError : kCliWarning) << t << std::endl;
  }
}

Answer TerminalMessenger::ask(std::string_view text) {
  if (progress_) progress_->clear_line();
  const std::string t = terminal_text(text);
  if (assume_yes_) {
    if (!quiet_) std::cerr << t << message_text(kCliAssumedYes) << std::endl;
    return Answer::kYes;
  }
  if (!::isatty(STDIN_FILENO)) {
    std::cerr << t << message_text(kCliAssumedNo) << std::endl;
    return Answer::kNo;
  }
  for (;;) {
    std::cerr << t << message_text(kCliPromptChoices) << std::flush;
    std::string line;
    if (!std::getline(std::cin, line) || interrupted()) return Answer::kCancel;
    if (line == "y" || line == "Y" || line == "yes") return Answer::kYes;
    if (line == "n" || line == "N" || line == "no" || line.empty()) return Answer::kNo;
    if (line == "c" || line == "C" || line == "cancel") return Answer::kCancel;
  }
}

TerminalProgress::TerminalProgress(bool quiet) : enabled_(!quiet && ::isatty(STDERR_FILENO)) {}

TerminalProgress::~TerminalProgress() { clear_line(); }

void TerminalProgress::clear_line() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
    last_line_.clear();
  }
}

void TerminalProgress::pump() {
  if (interrupted()) cancel();
}

void TerminalProgress::redraw() {
  if (!enabled_) return;
  std::string line = title();
  line += " [" + std::to_string(percent()) + "%]";
  if (!status().empty()) line += " " + status();
  const std::size_t width = static_cast<std::size_t>(terminal_width()) - 1;
  if (line.size() > width) {
    // Keep the end of the status (the file name) visible: cut in the middle.
    const std::size_t keep = width > 5 ? width - 3 : width;
    line = line.substr(0, keep / 2) + "..." + line.substr(line.size() - (keep - keep / 2));
  }
  if (line == last_line_) return;
  last_line_ = line;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace veld::cli
