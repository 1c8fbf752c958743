// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/mapped_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace veld {
namespace {

constexpr int kSlots = 64;

// The guarded mappings. A slot is claimed by setting its start (0: free); the handler reads the slots with
// lock-free atomics only, which is safe in a signal handler.
struct Slot {
  std::atomic<bool> used{false};
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> shortened{false};
};
Slot g_slots[kSlots];
struct sigaction g_previous {};
std::once_flag g_installed;

void on_bus_error(int sig, siginfo_t* info, void* context) {
  const auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& s : g_slots) {
    const std::uintptr_t start = s.start.load(std::memory_order_acquire);
    const std::uintptr_t end = s.end.load(std::memory_order_acquire);
    if (start == 0 || addr < start || addr >= end) continue;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t from = addr / page * page;
    const std::uintptr_t to = (end + page - 1) / page * page;
    void* p = ::mmap(reinterpret_cast<void*>(from), to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (p == MAP_FAILED) break;
    s.shortened.store(true, std::memory_order_release);
    return;  // the access is made again and reads zeros
  }
  // Not a guarded mapping: whoever handled the signal before handles it, or the default action ends the
  // process when the access is made again.
  if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN && g_previous.sa_handler) {
    g_previous.sa_handler(sig);
  } else {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &dfl, nullptr);
  }
}

void install() {
  struct sigaction sa {};
  sa.sa_sigaction = on_bus_error;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGBUS, &sa, &g_previous);
}

}  // namespace

CMappingGuard::CMappingGuard(const void* start, std::size_t size) {
  if (!start || size == 0) return;
  std::call_once(g_installed, install);
  const auto begin = reinterpret_cast<std::uintptr_t>(start);
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = g_slots[i];
    if (s.used.exchange(true, std::memory_order_acq_rel)) continue;
    // The end is set before the start that shows the slot to the handler, so it never sees half a slot.
    s.shortened.store(false);
    s.end.store(begin + size, std::memory_order_release);
    s.start.store(begin, std::memory_order_release);
    slot_ = i;
    return;
  }
}

CMappingGuard::~CMappingGuard() {
  if (slot_ < 0) return;
  g_slots[slot_].start.store(0, std::memory_order_release);
  g_slots[slot_].used.store(false, std::memory_order_release);
}

bool CMappingGuard::shortened() const {
  return slot_ >= 0 && g_slots[slot_].shortened.load(std::memory_order_acquire);
}

}  // namespace veld
