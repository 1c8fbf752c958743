// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/work_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include "veld/base/file.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// This process's command line, its arguments separated by spaces, at most 240 characters.
std::string own_command_line() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text)
    if (c == '\0' || c == '\n' || c == '\r') c = ' ';
  if (text.size() > 240) text.resize(240);
  return text;
}

std::string read_descriptor(int fd) {
  std::string text;
  char buf[512];
  for (off_t at = 0; text.size() < 4096;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

}  // namespace

std::string WorkLockText(long pid, const std::string& command) {
  return "pid " + std::to_string(pid) + "\ncommand " + command + "\n";
}

bool ReadWorkLockText(const std::string& text, long* pid, std::string* command) {
  if (text.rfind("pid ", 0) != 0) return false;
  const std::size_t nl = text.find('\n');
  if (nl == std::string::npos) return false;
  char* end = nullptr;
  const std::string number = text.substr(4, nl - 4);
  const long value = std::strtol(number.c_str(), &end, 10);
  if (number.empty() || *end != '\0' || value <= 0) return false;
  const std::string rest = text.substr(nl + 1);
  if (rest.rfind("command ", 0) != 0 || rest.empty() || rest.back() != '\n') return false;
  *pid = value;
  *command = rest.substr(8, rest.size() - 9);
  return true;
}

CWorkLock::CWorkLock(CWorkLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

CWorkLock& CWorkLock::operator=(CWorkLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

fs::path CWorkLock::path_of(const fs::path& folder) { return folder / "veld.lock"; }

CWorkLock::Result CWorkLock::take(const fs::path& folder, long* holder_pid, std::string* holder_command,
                                  std::string* error) {
  release();
  const fs::path path = path_of(folder);
  // The holder removes the file before it lets the lock go; a lock taken on a file that has been removed
  // (or replaced) in the meantime is no lock, so the check is repeated on the file now at the path.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      if (error) *error = system_error_text(path, errno);
      return Result::kError;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EWOULDBLOCK) {
        long pid = 0;
        std::string command;
        if (!ReadWorkLockText(read_descriptor(fd), &pid, &command)) pid = 0, command.clear();
        if (holder_pid) *holder_pid = pid;
        if (holder_command) *holder_command = command;
      } else if (error) {
        *error = system_error_text(path, err);
      }
      ::close(fd);
      return err == EWOULDBLOCK ? Result::kBusy : Result::kError;
    }
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      // Who holds the folder is only told to a second run: a file that cannot take the text (a full disk)
      // still holds the lock, and the second run then names no process.
      const std::string text = WorkLockText(static_cast<long>(::getpid()), own_command_line());
      if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        (void)::ftruncate(fd, 0);
      fd_ = fd;
      path_ = path;
      return Result::kTaken;
    }
    ::close(fd);
  }
  if (error) *error = system_error_text(path, EAGAIN);
  return Result::kError;
}

void CWorkLock::release() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());  // first, while the lock is still held
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace veld
