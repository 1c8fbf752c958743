// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzz target per parser entry point. A target is written once with VELD_FUZZ_TARGET(name) and built
// two ways:
// - with libFuzzer (VELD_FUZZ=ON, clang): each target is its own binary veld_fuzz_<name>, whose
//   LLVMFuzzerTestOneInput is the target's body;
// - in the normal test build: every target is compiled into one replay test, which registers the body
//   under its name and runs every input of tests/fuzz/regress/<name>/ through it.
// A target returns 0 and must not leak, crash or read out of bounds on any input: a malformed input is
// an error the code reports, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

// Registers a target for the replay test (the libFuzzer build does not use it).
struct Registration {
  Registration(const char* name, TargetFunction function);
};

}  // namespace veld::fuzz

#if defined(VELD_LIBFUZZER)
#define VELD_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#else
#define VELD_FUZZ_TARGET(name)                                                          \
  static int veld_fuzz_##name(const std::uint8_t* data, std::size_t size);              \
  static const ::veld::fuzz::Registration veld_fuzz_registration_##name(#name, veld_fuzz_##name); \
  static int veld_fuzz_##name(const std::uint8_t* data, std::size_t size)
#endif
