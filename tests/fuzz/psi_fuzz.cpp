// SPDX-License-Identifier: GPL-3.0-or-later
// PSI sections: the input as a PAT, a SIT and a PMT section, and as the payload of the packets that
// carry a PMT (the assembler the demultiplexer uses). A section that parses is written back as the
// multiplexer writes its own and must read again.
#include <algorithm>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/ts/psi.h"

using namespace veld;

namespace {

// A section that parses is written again, and what is written parses.
template <typename Section>
void CheckRoundTrip(ByteSpan in) {
  Section section;
  if (section.parse(in) <= 0) return;
  Bytes out;
  section.write(out);
  Section back;
  VELD_FUZZ_CHECK(back.parse(out) > 0);
}

}  // namespace

VELD_FUZZ_TARGET(psi) {
  const ByteSpan in(data, size);
  CheckRoundTrip<SPat>(in);
  CheckRoundTrip<SSit>(in);
  CheckRoundTrip<SPmt>(in);
  // The same bytes as a PMT spread over packet payloads: 183 bytes after the pointer field, then 184.
  CPmtAssembler assembler;
  std::size_t at = std::min<std::size_t>(size, 183);
  if (assembler.read_header(in.first(at))) {
    while (!assembler.complete() && at < size) {
      const std::size_t n = std::min<std::size_t>(size - at, 184);
      assembler.append(in.subspan(at, n));
      at += n;
    }
    if (assembler.complete()) (void)assembler.take();
  }
  return 0;
}
