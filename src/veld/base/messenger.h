// SPDX-License-Identifier: GPL-3.0-or-later
// How the core talks to the user: messages to show and questions to ask. The command line prints and
// prompts on a terminal; the desktop window shows message boxes. The core never includes a UI header.
#pragma once

#include <string_view>

namespace veld {

enum class MessageKind { kInfo, kWarning, kError };
enum class Answer { kYes, kNo, kCancel };

class Messenger {
 public:
  virtual ~Messenger() = default;
  virtual void show(MessageKind kind, std::string_view text) = 0;
  // A question with Yes, No and Cancel.
  virtual Answer ask(std::string_view text) = 0;
};

}  // namespace veld
