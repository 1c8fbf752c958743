// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/range_copy.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veld {
namespace {

constexpr std::size_t kPendingLimit = 1 << 20;
constexpr std::size_t kBounceSize = 4 << 20;
constexpr std::uint64_t kCloneBlock = 4096;
// Shorter aligned stretches are not worth an ioctl.
constexpr std::uint64_t kCloneMinimum = 64 * kCloneBlock;

}  // namespace

CRangeCopier::CRangeCopier(int in, int out) : in_(in), out_(out) { pending_.reserve(kPendingLimit); }

bool CRangeCopier::fail(const char* what) {
  error_ = std::string(what) + ": " + std::strerror(errno);
  return false;
}

bool CRangeCopier::flush() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::pwrite(out_, pending_.data() + done, pending_.size() - done,
                               static_cast<off_t>(out_off_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("write");
    done += static_cast<std::size_t>(n);
  }
  out_off_ += pending_.size();
  pending_.clear();
  return true;
}

bool CRangeCopier::write(const std::uint8_t* data, std::size_t len) {
  if (pending_.size() + len > kPendingLimit && !flush()) return false;
  pending_.insert(pending_.end(), data, data + len);
  return true;
}

bool CRangeCopier::copy(std::uint64_t from, std::uint64_t len) {
  if (len == 0) return true;
  if (!flush()) return false;
  // An aligned middle stretch may be shared instead of copied: both offsets must sit alike in a block.
  if (try_clone_ && from % kCloneBlock == out_off_ % kCloneBlock) {
    const std::uint64_t head = (kCloneBlock - from % kCloneBlock) % kCloneBlock;
    if (len > head + kCloneMinimum) {
      const std::uint64_t body = (len - head) / kCloneBlock * kCloneBlock;
      if (!kernel_copy(from, head)) return false;
      if (clone(from + head, body)) return kernel_copy(from + head + body, len - head - body);
      return kernel_copy(from + head, len - head);
    }
  }
  return kernel_copy(from, len);
}

bool CRangeCopier::clone(std::uint64_t from, std::uint64_t len) {
  file_clone_range r{};
  r.src_fd = in_;
  r.src_offset = from;
  r.src_length = len;
  r.dest_offset = out_off_;
  if (::ioctl(out_, FICLONERANGE, &r) != 0) {
    try_clone_ = false;  // no shared extents here (other file system, or none that shares)
    return false;
  }
  out_off_ += len;
  cloned += len;
  return true;
}

bool CRangeCopier::kernel_copy(std::uint64_t from, std::uint64_t len) {
  loff_t off_in = static_cast<loff_t>(from);
  std::uint64_t left = len;
  while (left > 0 && try_kernel_) {
    loff_t off_out = static_cast<loff_t>(out_off_);
    const ssize_t n = ::copy_file_range(in_, &off_in, out_, &off_out, left, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
      try_kernel_ = false;
      break;
    }
    if (n < 0) return fail("copy_file_range");
    if (n == 0) {
      errno = EIO;
      return fail("copy_file_range: the input ends early");
    }
    out_off_ += static_cast<std::uint64_t>(n);
    kernel_copied += static_cast<std::uint64_t>(n);
    left -= static_cast<std::uint64_t>(n);
  }
  return left == 0 || user_copy(static_cast<std::uint64_t>(off_in), left);
}

bool CRangeCopier::user_copy(std::uint64_t from, std::uint64_t len) {
  if (bounce_.empty()) bounce_.resize(kBounceSize);
  while (len > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(len, bounce_.size()));
    const ssize_t n = ::pread(in_, bounce_.data(), want, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("read");
    if (n == 0) {
      errno = EIO;
      return fail("read: the input ends early");
    }
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(n)) {
      const ssize_t w = ::pwrite(out_, bounce_.data() + done, static_cast<std::size_t>(n) - done,
                                 static_cast<off_t>(out_off_ + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return fail("write");
      done += static_cast<std::size_t>(w);
    }
    out_off_ += done;
    user_copied += done;
    from += done;
    len -= done;
  }
  return true;
}

}  // namespace veld
