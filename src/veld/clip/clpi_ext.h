// SPDX-License-Identifier: GPL-3.0-or-later
// Typed payloads of extension-data entries. An entry's bytes are kept raw in SExtDataEntry; a payload
// object reads them, writes them back and prints them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "veld/base/bytes.h"
#include "veld/clip/clpi_data.h"

namespace veld {

class SExtDataBase {
 public:
  virtual ~SExtDataBase() = default;
  // Called with the entry the payload was made for; does nothing unless a payload needs it.
  virtual void attach(const SExtDataEntry&) {}
  // Reads the entry's bytes; false when they are malformed.
  virtual bool parse(ByteSpan data) = 0;
  // Writes the payload to out (which must hold the size) and returns its size; given no buffer it
  // returns the size only.
  virtual std::size_t serialise(std::uint8_t* out) const = 0;
  virtual std::string print(std::string_view indent) const = 0;
};

// The tool text of the "WQTX" stamp (entry ID1 0x1000, ID2 1).
class SWqtxToolPayload : public SExtDataBase {
 public:
  SWqtxToolPayload() = default;
  explicit SWqtxToolPayload(SWqtxToolData data) : data_(std::move(data)) {}
  bool parse(ByteSpan data) override;
  std::size_t serialise(std::uint8_t* out) const override;
  std::string print(std::string_view indent) const override;
  const SWqtxToolData& data() const { return data_; }

 private:
  SWqtxToolData data_;
};

// The payload object for an entry's IDs: 0x1000/1 gives the tool text. Other IDs (including 1/1, the
// picture-in-picture metadata that only playlists carry and the playlist codec reads) give nullptr.
std::unique_ptr<SExtDataBase> make_ext_payload(std::uint16_t id1, std::uint16_t id2);

}  // namespace veld
