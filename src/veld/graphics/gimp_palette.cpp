// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gimp_palette.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "veld/graphics/button_images.h"
#include "veld/graphics/image_file.h"

namespace veld {

std::string GimpPaletteText(std::span<const SPaletteEntry> entries, ColourMatrix matrix, const std::string& name) {
  std::string out = fmt::format("GIMP Palette\nName: {}\nColumns: 16\n#\n", name);
  for (const SPaletteEntry& e : entries) {
    const Rgb c = YCbCrToRgb(e.y, e.cr, e.cb, matrix);
    out += fmt::format("{:3d} {:3d} {:3d}\tentry {} alpha {}\n", c.r, c.g, c.b, e.id, e.t);
  }
  return out;
}

std::string SaveGimpPalettes(const CDsData& ds, const std::filesystem::path& folder, ColourMatrix matrix,
                             const std::string& name_prefix) {
  std::vector<int> done;
  // The last PDS of an id holds: walk backwards and keep the first seen.
  for (auto pds = ds.PdsFolder.rbegin(); pds != ds.PdsFolder.rend(); ++pds) {
    if (std::find(done.begin(), done.end(), pds->PaletteId) != done.end()) continue;
    done.push_back(pds->PaletteId);
    const std::string text =
        GimpPaletteText(pds->Entries, matrix, fmt::format("{} palette {}", name_prefix, pds->PaletteId));
    const std::filesystem::path path = folder / GimpPaletteName(pds->PaletteId);
    const ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (std::string e = WritePictureFile(path, bytes); !e.empty()) return e;
  }
  return {};
}

}  // namespace veld
