// SPDX-License-Identifier: GPL-3.0-or-later
// Builds small clip streams in tests: PES packets cut into transport packets (the last one padded with
// adaptation-field stuffing), PSI and PCR packets, wrapped in 192-byte source packets.
#pragma once

#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/ts/ts_packet.h"
#include "veld/ts/psi.h"

namespace veld::test {

inline Bytes pes_header_bytes(std::uint8_t stream_id, std::optional<std::uint64_t> pts,
                              std::optional<std::uint64_t> dts) {
  SPesHeader h;
  h.StreamID = stream_id;
  h.DataAlignmentIndicator = true;
  if (pts) {
    h.PTS_DTS_Flag = dts ? 3 : 2;
    h.PTS = {static_cast<std::uint8_t>(dts ? 3 : 2), *pts};
    if (dts) h.DTS = {1, *dts};
  }
  Bytes b(h.written_size());
  h.write(b.data(), b.size());
  return b;
}

// Transport packets (188 bytes each) of one PES packet.
inline std::vector<Bytes> pes_packets(std::uint16_t pid, std::uint8_t stream_id, std::optional<std::uint64_t> pts,
                                      std::optional<std::uint64_t> dts, ByteSpan payload, bool priority = false) {
  Bytes data = pes_header_bytes(stream_id, pts, dts);
  data.insert(data.end(), payload.begin(), payload.end());
  std::vector<Bytes> out;
  std::size_t pos = 0;
  bool first = true;
  do {
    const std::size_t chunk = std::min<std::size_t>(184, data.size() - pos);
    Bytes p(188, 0xFF);
    STsHeader h;
    h.PID = pid;
    h.PayloadUnitStartIndicator = first;
    h.TransportPriority = priority;
    std::size_t at = 4;
    if (chunk < 184) {
      h.AdapationFieldControl = 3;
      SAdaptationField f;
      if (184 - chunk == 1) {
        f.Empty = true;
      } else {
        f.StuffingSize = 184 - chunk - 2;
      }
      at += f.write(p.data() + 4, 184);
    }
    h.write(p.data());
    std::memcpy(p.data() + at, data.data() + pos, chunk);
    pos += chunk;
    first = false;
    out.push_back(std::move(p));
  } while (pos < data.size());
  return out;
}

inline Bytes pcr_packet(std::uint64_t base) {
  Bytes p(188, 0xFF);
  SPsiPacketContext c;
  c.header.PID = kPidPcr;
  c.header.PayloadUnitStartIndicator = false;
  c.header.AdapationFieldControl = 2;
  SAdaptationField f;
  f.PCR_Flag = true;
  f.PCR.Base = base;
  f.StuffingSize = 176;
  c.adaptation_field = f;
  write_psi_packet(c, p.data());
  return p;
}

inline Bytes pmt_packet(SPmt pmt) {
  Bytes sec;
  pmt.write(sec);
  Bytes p(188, 0xFF);
  SPsiPacketContext c;
  c.header.PID = kPidPmt;
  write_pmt_packet(c, p.data(), sec, true);
  return p;
}

inline SPmt pmt_of(std::initializer_list<std::pair<std::uint16_t, std::uint8_t>> streams) {
  SPmt pmt;
  for (auto [pid, type] : streams) {
    SEsInfo es;
    es.ElementaryPid = pid;
    es.StreamType = type;
    pmt.streams.push_back(es);
  }
  return pmt;
}

// A clip stream: source packets with rising arrival times and per-PID continuity counters.
class ClipBuilder {
 public:
  // Appends a transport packet; returns its source packet number.
  std::uint32_t put(Bytes ts) {
    const std::uint16_t pid = ts_pid(ts.data());
    std::uint8_t& cc = cc_[pid];
    ts[3] = static_cast<std::uint8_t>((ts[3] & 0xF0) | (cc++ & 0x0F));
    SSourcePacketHeader sh;
    sh.ArriveTimeStamp = static_cast<std::uint32_t>(bytes.size() / 192 * 846);
    bytes.resize(bytes.size() + 4);
    sh.write(bytes.data() + bytes.size() - 4);
    bytes.insert(bytes.end(), ts.begin(), ts.end());
    return static_cast<std::uint32_t>(bytes.size() / 192 - 1);
  }
  void put_all(const std::vector<Bytes>& packets) {
    for (const Bytes& p : packets) put(p);
  }
  const std::uint8_t* ts(std::uint32_t spn) const { return bytes.data() + std::size_t{spn} * 192 + 4; }

  Bytes bytes;

 private:
  std::map<std::uint16_t, std::uint8_t> cc_;
};

}  // namespace veld::test
