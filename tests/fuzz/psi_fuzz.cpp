// PSI sections: the input as a PAT, a SIT and a PMT section, and as the payload of the packets that
// carry a PMT (the assembler the demultiplexer uses). A section that parses is written back as the
// multiplexer writes its own and must read again.
#include <algorithm>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/ts/psi.h"

using namespace veld;

VELD_FUZZ_TARGET(psi) {
  const ByteSpan in(data, size);
  std::string error;
  SPat pat;
  if (pat.parse(in) > 0) {
    Bytes out;
    pat.write(out);
    SPat back;
    VELD_FUZZ_CHECK(back.parse(out) > 0);
  }
  SSit sit;
  if (sit.parse(in) > 0) {
    Bytes out;
    sit.write(out);
    SSit back;
    VELD_FUZZ_CHECK(back.parse(out) > 0);
  }
  SPmt pmt;
  if (pmt.parse(in) > 0) {
    Bytes out;
    pmt.write(out);
    SPmt back;
    VELD_FUZZ_CHECK(back.parse(out) > 0);
  }
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
