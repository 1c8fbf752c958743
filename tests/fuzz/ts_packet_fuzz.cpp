// SPDX-License-Identifier: GPL-3.0-or-later
// Transport packets: every 188 bytes of the input through the packet reader the demultiplexer uses
// (header, adaptation field, PES header, the PAT, SIT and PMT assembled across packets), each decoded
// packet written back as the multiplexer does; the bytes after the last whole packet go straight to the
// adaptation-field and PES-header parsers.
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/ts/transport.h"

using namespace veld;

VELD_FUZZ_TARGET(ts_packet) {
  CTsPacketReader reader;
  std::size_t at = 0;
  for (; at + kTsPacketSize <= size; at += kTsPacketSize) {
    // Each packet in a buffer of its own size, so that a read past its end is caught.
    const std::unique_ptr<std::uint8_t[]> packet(new std::uint8_t[kTsPacketSize]);
    std::memcpy(packet.get(), data + at, kTsPacketSize);
    (void)ts_payload_offset(packet.get());
    const int offset = reader.read(packet.get());
    VELD_FUZZ_CHECK(offset >= 0 && offset <= static_cast<int>(kTsPacketSize));
    if (offset > 0) {
      std::uint8_t out[kTsPacketSize] = {};
      (void)reader.write(out);
    }
    (void)reader.pmt();
  }
  const std::size_t rest = size - at;
  const std::unique_ptr<std::uint8_t[]> tail(new std::uint8_t[rest ? rest : 1]);
  if (rest) std::memcpy(tail.get(), data + at, rest);
  SAdaptationField field;
  if (field.parse(ByteSpan(tail.get(), rest)) > 0) {
    std::uint8_t out[kTsPacketSize];
    (void)field.write(out, sizeof out);
  }
  SPesHeader pes;
  if (pes.parse(ByteSpan(tail.get(), rest)) > 0) {
    std::uint8_t out[512];
    (void)pes.write(out, sizeof out);
  }
  return 0;
}
