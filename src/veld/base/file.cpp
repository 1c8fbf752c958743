// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace veld {

std::string system_error_text(const std::filesystem::path& path, int err) {
  std::string text = path.string() + ": " + std::strerror(err);
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  return text;
}

File::~File() { close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      pos_(other.pos_),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    pos_ = other.pos_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

void File::set_error(int err) { error_ = system_error_text(path_, err); }

bool File::open(const std::filesystem::path& path, Mode mode) {
  close();
  path_ = path;
  error_.clear();
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kCreate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    set_error(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    set_error(EISDIR);
    return false;
  }
  pos_ = 0;
  return true;
}

void File::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::int64_t File::read(void* buf, std::size_t n) {
  if (fd_ < 0) {
    set_error(EBADF);
    return -1;
  }
  ssize_t got;
  do {
    got = ::read(fd_, buf, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    set_error(errno);
    return -1;
  }
  pos_ += got;
  return got;
}

std::int64_t File::read_full(void* buf, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(buf);
  std::size_t done = 0;
  while (done < n) {
    auto got = read(p + done, n - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool File::write(const void* buf, std::size_t n) {
  if (fd_ < 0) {
    set_error(EBADF);
    return false;
  }
  const auto* p = static_cast<const std::uint8_t*>(buf);
  while (n > 0) {
    ssize_t put = ::write(fd_, p, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      set_error(errno);
      return false;
    }
    p += put;
    n -= static_cast<std::size_t>(put);
    pos_ += put;
  }
  return true;
}

bool File::seek(std::int64_t offset) {
  if (fd_ < 0) {
    set_error(EBADF);
    return false;
  }
  off_t r = ::lseek(fd_, offset, SEEK_SET);
  if (r < 0) {
    set_error(errno);
    return false;
  }
  pos_ = r;
  return true;
}

std::int64_t File::length() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::sync() {
  if (fd_ < 0 || ::fsync(fd_) != 0) {
    set_error(fd_ < 0 ? EBADF : errno);
    return false;
  }
  return true;
}

std::optional<Bytes> read_whole_file(const std::filesystem::path& path, std::string* error) {
  File f;
  if (!f.open(path, File::Mode::kRead)) {
    if (error) *error = f.error();
    return std::nullopt;
  }
  auto len = f.length();
  if (len < 0) {
    if (error) *error = system_error_text(path, errno);
    return std::nullopt;
  }
  Bytes data(static_cast<std::size_t>(len));
  auto got = f.read_full(data.data(), data.size());
  if (got < 0) {
    if (error) *error = f.error();
    return std::nullopt;
  }
  data.resize(static_cast<std::size_t>(got));
  return data;
}

bool write_whole_file(const std::filesystem::path& path, ByteSpan data, std::string* error) {
  File f;
  if (!f.open(path, File::Mode::kCreate)) {
    if (error) *error = f.error();
    return false;
  }
  if (!f.write(data)) {
    // A full disk leaves no partial file behind.
    if (error) *error = f.error();
    f.close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return false;
  }
  return true;
}

}  // namespace veld
