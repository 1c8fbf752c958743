// SPDX-License-Identifier: GPL-3.0-or-later
// Files over POSIX descriptors: 64-bit positions and lengths, RAII close, and the system's error text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "veld/base/bytes.h"

namespace veld {

// The longest system error text shown to the user.
inline constexpr std::size_t kMaxErrorText = 260;

// "path: strerror(err)", cut at kMaxErrorText characters.
std::string system_error_text(const std::filesystem::path& path, int err);

class File {
 public:
  enum class Mode {
    kRead,       // existing file, read only
    kCreate,     // create or truncate, write only
    kReadWrite,  // existing file, read and write
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // false on failure; error() then holds the system's text.
  bool open(const std::filesystem::path& path, Mode mode);
  void close();
  bool is_open() const { return fd_ >= 0; }

  // Reads up to n bytes; returns the count read (short at the end), or -1 on error.
  std::int64_t read(void* buf, std::size_t n);
  // Reads exactly n bytes unless the end comes first; returns the count read, -1 on error.
  std::int64_t read_full(void* buf, std::size_t n);
  // Writes all n bytes; false (with error()) on failure, for example a full disk.
  bool write(const void* buf, std::size_t n);
  bool write(ByteSpan data) { return write(data.data(), data.size()); }
  // Absolute position; false on error.
  bool seek(std::int64_t offset);
  std::int64_t position() const { return pos_; }
  // Length in bytes, -1 on error.
  std::int64_t length() const;
  // Flushes written data to the device.
  bool sync();

  const std::filesystem::path& path() const { return path_; }
  // The open file's descriptor (for mapping it into memory), -1 when closed.
  int descriptor() const { return fd_; }
  const std::string& error() const { return error_; }

 private:
  void set_error(int err);
  int fd_ = -1;
  std::int64_t pos_ = 0;
  std::filesystem::path path_;
  std::string error_;
};

// Reads a whole file; std::nullopt with the system's text in *error on failure.
std::optional<Bytes> read_whole_file(const std::filesystem::path& path, std::string* error);
// Creates or truncates path and writes data; false with the system's text in *error on failure, and
// then the file is removed (a failed write leaves no partial file).
bool write_whole_file(const std::filesystem::path& path, ByteSpan data, std::string* error);

}  // namespace veld
