// SPDX-License-Identifier: GPL-3.0-or-later
// Index file (index.bdmv), as the disc opening reads it.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/disc/index.h"

using namespace veld;

VELD_FUZZ_TARGET(index) {
  CIndexObject index;
  std::string error;
  (void)index.parse(ByteSpan(data, size), &error);
  return 0;
}
