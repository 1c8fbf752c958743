// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/manifest.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <set>

namespace veld {
namespace {

// 64-bit FNV-1a: a change detector, not a guard against a forger.
class Fnv64 {
 public:
  void Add(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      hash_ ^= data[i];
      hash_ *= 0x100000001B3ull;
    }
  }
  void Add32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    Add(b, 4);
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

std::uint64_t PaletteHash(const ArgbPalette& palette, int size) {
  Fnv64 h;
  h.Add32(static_cast<std::uint32_t>(size));
  for (int i = 0; i < size && i < 256; ++i) h.Add32(palette[static_cast<std::size_t>(i)]);
  return h.value();
}

bool ParseInt(std::string_view s, int low, int high, int* out) {
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty() || v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseHash(std::string_view s, std::uint64_t* out) {
  if (s.size() != 16) return false;
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  *out = v;
  return true;
}

// A relative path that stays inside the image folder.
bool SafeRelativePath(std::string_view p) {
  if (p.empty() || p.front() == '/') return false;
  std::size_t start = 0;
  while (start <= p.size()) {
    const std::size_t slash = std::min(p.find('/', start), p.size());
    const std::string_view part = p.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

// One entry line; "" or what is wrong with it.
std::string ParseEntry(std::string_view line, SManifestEntry* e) {
  const std::vector<std::string_view> f = SplitTabs(line);
  if (f.size() != 8) return fmt::format("{} fields, expected 8", f.size());
  if (!SafeRelativePath(f[0])) return fmt::format("bad picture path \"{}\"", f[0]);
  e->path = std::string(f[0]);
  if (!ParseInt(f[1], 0, 0xFFFF, &e->object_id)) return fmt::format("bad object id \"{}\"", f[1]);
  if (!ParseInt(f[2], 1, 1 << 24, &e->epoch)) return fmt::format("bad epoch \"{}\"", f[2]);
  if (!ParseInt(f[3], 1, 1 << 24, &e->display_set)) return fmt::format("bad display set \"{}\"", f[3]);
  if (!ParseInt(f[4], 1, 0xFFFF, &e->width)) return fmt::format("bad width \"{}\"", f[4]);
  if (!ParseInt(f[5], 1, 0xFFFF, &e->height)) return fmt::format("bad height \"{}\"", f[5]);
  if (!ParseHash(f[6], &e->hashes.pixels)) return fmt::format("bad pixel hash \"{}\"", f[6]);
  if (!ParseHash(f[7], &e->hashes.palette)) return fmt::format("bad palette hash \"{}\"", f[7]);
  return {};
}

}  // namespace

std::uint64_t PixelHash(const IndexedBitmap& bitmap) {
  Fnv64 h;
  h.Add32(static_cast<std::uint32_t>(bitmap.width));
  h.Add32(static_cast<std::uint32_t>(bitmap.height));
  h.Add(bitmap.pixels.data(), bitmap.pixels.size());
  return h.value();
}

SPictureHashes PictureHashes(const LoadedImage& image) {
  return {PixelHash(image.bitmap), PaletteHash(image.palette, image.palette_size)};
}

SPictureHashes WrittenPictureHashes(const IndexedBitmap& bitmap, const ArgbPalette& palette, ImageFormat format) {
  if (format == ImageFormat::kPng) return {PixelHash(bitmap), PaletteHash(palette, 256)};
  // The GIF writer keeps RGB; its lowest fully transparent entry is the file's transparent colour.
  ArgbPalette file{};
  bool transparent_found = false;
  for (std::size_t i = 0; i < 256; ++i) {
    const bool transparent = !transparent_found && (palette[i] >> 24) == 0;
    transparent_found |= transparent;
    file[i] = (transparent ? 0u : 0xFF000000u) | (palette[i] & 0x00FFFFFFu);
  }
  return {PixelHash(bitmap), PaletteHash(file, 256)};
}

std::string ManifestText(const std::vector<SManifestEntry>& entries) {
  std::string out = std::string(kManifestHeading) + "\n";
  out += "# path\tobject\tepoch\tdisplay set\twidth\theight\tpixels\tpalette\n";
  for (const SManifestEntry& e : entries) {
    out += fmt::format("{}\t{}\t{}\t{}\t{}\t{}\t{:016x}\t{:016x}\n", e.path, e.object_id, e.epoch, e.display_set,
                       e.width, e.height, e.hashes.pixels, e.hashes.palette);
  }
  return out;
}

std::optional<std::vector<SManifestEntry>> ParseManifest(std::string_view text, std::string* error) {
  std::vector<SManifestEntry> entries;
  std::set<std::string, std::less<>> paths;
  bool heading = false;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, nl - start);
    start = nl + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto fail = [&](const std::string& what) -> std::optional<std::vector<SManifestEntry>> {
      if (error) *error = fmt::format("line {}: {}", number, what);
      return std::nullopt;
    };
    if (!heading) {
      if (line != kManifestHeading) return fail(fmt::format("expected \"{}\"", kManifestHeading));
      heading = true;
      continue;
    }
    if (line.empty() || line.front() == '#') continue;
    SManifestEntry e;
    if (std::string why = ParseEntry(line, &e); !why.empty()) return fail(why);
    if (!paths.insert(e.path).second) return fail(fmt::format("picture \"{}\" listed twice", e.path));
    entries.push_back(std::move(e));
  }
  if (!heading) {
    if (error) *error = fmt::format("line 1: expected \"{}\"", kManifestHeading);
    return std::nullopt;
  }
  return entries;
}

std::filesystem::path ManifestPath(const std::filesystem::path& image_folder) {
  return image_folder / std::string(kManifestName);
}

}  // namespace veld
