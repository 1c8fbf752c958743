// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/file_list.h"

#include <system_error>

namespace veld {
namespace fs = std::filesystem;

namespace {

void put_le16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put_le32(Bytes& out, std::uint32_t v) {
  put_le16(out, static_cast<std::uint16_t>(v));
  put_le16(out, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t get_le16(ByteReader& r) {
  auto b = r.bytes(2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
std::uint32_t get_le32(ByteReader& r) {
  std::uint32_t lo = get_le16(r);
  return lo | (std::uint32_t{get_le16(r)} << 16);
}

}  // namespace

void write_counted_string(Bytes& out, const std::string& s) {
  if (s.size() < 0xFF) {
    out.push_back(static_cast<std::uint8_t>(s.size()));
  } else if (s.size() < 0xFFFF) {
    out.push_back(0xFF);
    put_le16(out, static_cast<std::uint16_t>(s.size()));
  } else {
    out.push_back(0xFF);
    put_le16(out, 0xFFFF);
    put_le32(out, static_cast<std::uint32_t>(s.size()));
  }
  out.insert(out.end(), s.begin(), s.end());
}

std::string read_counted_string(ByteReader& r) {
  std::uint32_t n = r.u8();
  if (n == 0xFF) {
    n = get_le16(r);
    if (n == 0xFFFF) n = get_le32(r);
  }
  return r.text(n);
}

std::uint64_t CFileList::total_size() const {
  std::uint64_t total = 0;
  for (const auto& item : items) {
    std::error_code ec;
    auto size = fs::file_size(item.path, ec);
    if (!ec) total += size;
  }
  return total;
}

Bytes CFileList::store(const fs::path& archive_file) const {
  Bytes out;
  out.push_back(0);
  put_le32(out, value);
  put_le32(out, static_cast<std::uint32_t>(items.size()));
  const fs::path base = archive_file.parent_path();
  for (const auto& item : items) {
    put_le16(out, 0);
    fs::path stored = item.path;
    if (item.path.is_absolute() && !base.empty()) {
      std::error_code ec;
      fs::path rel = fs::relative(item.path, base, ec);
      if (!ec && !rel.empty()) stored = rel;
    }
    write_counted_string(out, stored.string());
    put_le32(out, item.value);
  }
  return out;
}

std::optional<CFileList> CFileList::load(ByteSpan data, const fs::path& archive_file) {
  try {
    ByteReader r(data, "file list");
    if (r.u8() != 0) return std::nullopt;
    CFileList list;
    list.value = get_le32(r);
    const std::uint32_t count = get_le32(r);
    // Each item takes at least 7 bytes: refuse counts the data cannot hold before allocating.
    if (count > r.remaining() / 7) return std::nullopt;
    const fs::path base = archive_file.parent_path();
    for (std::uint32_t i = 0; i < count; ++i) {
      if (get_le16(r) != 0) return std::nullopt;
      fs::path p = read_counted_string(r);
      if (p.is_relative() && !base.empty()) p = (base / p).lexically_normal();
      list.items.push_back({p, get_le32(r)});
    }
    return list;
  } catch (const ParseError&) {
    return std::nullopt;
  }
}

}  // namespace veld
