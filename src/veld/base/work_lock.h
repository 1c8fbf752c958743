// SPDX-License-Identifier: GPL-3.0-or-later
// One run per work folder: the commands that read or write a work folder (extract, replace, undo, and the
// window while it runs one of them) hold an exclusive flock on its lock file. The holder writes its process
// id and command line into the file, so that a second run can say who holds the folder.
#pragma once

#include <filesystem>
#include <string>

namespace veld {

class CWorkLock {
 public:
  enum class Result { kTaken, kBusy, kError };

  CWorkLock() = default;
  ~CWorkLock() { release(); }
  CWorkLock(CWorkLock&& other) noexcept;
  CWorkLock& operator=(CWorkLock&& other) noexcept;
  CWorkLock(const CWorkLock&) = delete;
  CWorkLock& operator=(const CWorkLock&) = delete;

  // The lock file of a work folder: "<folder>/veld.lock".
  static std::filesystem::path path_of(const std::filesystem::path& folder);

  // Takes the lock of folder (which must exist) without waiting. kBusy: *holder_pid and *holder_command
  // name the process that holds it (0 and "" when it has not written them yet); kError: *error holds the
  // system's text.
  Result take(const std::filesystem::path& folder, long* holder_pid, std::string* holder_command, std::string* error);
  bool held() const { return fd_ >= 0; }
  // Removes the lock file and lets the lock go (also done by the destructor).
  void release();

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

// "pid N\ncommand TEXT\n" and back; false when the text is not of that form.
std::string WorkLockText(long pid, const std::string& command);
bool ReadWorkLockText(const std::string& text, long* pid, std::string* command);

}  // namespace veld
