// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a file as runs copied from another file plus small pieces of its own: runs go through
// copy_file_range (the kernel copies without a trip through user space, and shares extents where the
// file system can), aligned stretches first as a reflinked range (FICLONERANGE) where the file system
// supports it; either falls back to read and write. Small pieces are gathered in one buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veld {

class CRangeCopier {
 public:
  // Descriptors owned by the caller; out is written from offset 0.
  CRangeCopier(int in, int out);
  // Copies len bytes of the input at offset from to the end of the output.
  bool copy(std::uint64_t from, std::uint64_t len);
  // Appends bytes to the output.
  bool write(const std::uint8_t* data, std::size_t len);
  // Writes what is gathered.
  bool flush();
  std::uint64_t size() const { return out_off_ + pending_.size(); }
  const std::string& error() const { return error_; }
  // Bytes that went through each path (for the benchmark's report).
  std::uint64_t cloned = 0, kernel_copied = 0, user_copied = 0;

 private:
  bool clone(std::uint64_t from, std::uint64_t len);
  bool kernel_copy(std::uint64_t from, std::uint64_t len);
  bool user_copy(std::uint64_t from, std::uint64_t len);
  bool fail(const char* what);

  int in_, out_;
  std::uint64_t out_off_ = 0;
  bool try_clone_ = true, try_kernel_ = true;
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> bounce_;
  std::string error_;
};

}  // namespace veld
