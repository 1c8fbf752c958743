// SPDX-License-Identifier: GPL-3.0-or-later
// A file mapped into memory that another program cuts short while it is read: an access past the new end
// raises SIGBUS. A guarded mapping catches that signal: the handler replaces the mapping from the faulting
// page to its end with zero pages (so the access, and every later one, reads zeros instead of stopping the
// process) and marks the mapping as shortened. Readers check shortened() after each block they read and
// then fail naming the file; the zeros they read meanwhile are never used.
#pragma once

#include <cstddef>

namespace veld {

class CMappingGuard {
 public:
  // Guards [start, start + size) of a read-only mapping; the handler is installed on first use. At most 64
  // mappings are guarded at once; more are read unguarded (guarded() is then false).
  CMappingGuard(const void* start, std::size_t size);
  ~CMappingGuard();
  CMappingGuard(const CMappingGuard&) = delete;
  CMappingGuard& operator=(const CMappingGuard&) = delete;

  bool guarded() const { return slot_ >= 0; }
  // The file behind the mapping became shorter than the mapping while it was read.
  bool shortened() const;

 private:
  int slot_ = -1;
};

}  // namespace veld
