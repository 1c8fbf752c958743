// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clpi_ext.h"

#include <algorithm>

#include "veld/clip/clpi.h"

namespace veld {

bool SWqtxToolPayload::parse(ByteSpan data) {
  auto tool = parse_tool_data(data);
  if (!tool) return false;
  data_ = std::move(*tool);
  return true;
}

std::size_t SWqtxToolPayload::serialise(std::uint8_t* out) const {
  const Bytes bytes = serialise_tool_data(data_);
  if (out) std::copy(bytes.begin(), bytes.end(), out);
  return bytes.size();
}

std::string SWqtxToolPayload::print(std::string_view indent) const { return print_tool_data(data_, indent); }

std::unique_ptr<SExtDataBase> make_ext_payload(std::uint16_t id1, std::uint16_t id2) {
  if (id1 == kExtIdToolData1 && id2 == kExtIdToolData2) return std::make_unique<SWqtxToolPayload>();
  return nullptr;
}

}  // namespace veld
