// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/button_images.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <optional>

#include "veld/base/messages.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/object_resize.h"
#include "veld/graphics/rle.h"

namespace veld {
namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;
std::uint32_t alpha_of(std::uint32_t argb) { return argb >> 24; }

// Does the picture's colour `file` stand for the menu entry `menu`?
bool same_colour(std::uint32_t file, std::uint32_t menu, ImageFormat format) {
  if ((file & kRgbMask) != (menu & kRgbMask)) return false;
  if (format == ImageFormat::kPng) return alpha_of(file) == alpha_of(menu);
  // GIF holds one transparent colour and no other alpha: its transparent index must land on a fully
  // transparent entry; its other colours carry no alpha to compare.
  return alpha_of(file) != 0 || alpha_of(menu) == 0;
}

}  // namespace

bool MatchPicturePalette(LoadedImage& image, const ArgbPalette& menu, std::string* foreign, int* x, int* y) {
  std::array<bool, 256> used{};
  for (std::uint8_t p : image.bitmap.pixels) used[p] = true;
  // Indices past the file's colour table have no colour of their own: they are taken as they are.
  const auto colour_known = [&](int i) { return i < image.palette_size; };
  bool unchanged = true;
  for (int i = 0; i < 256 && unchanged; ++i) {
    if (used[static_cast<std::size_t>(i)] && colour_known(i))
      unchanged = same_colour(image.palette[static_cast<std::size_t>(i)], menu[static_cast<std::size_t>(i)], image.format);
  }
  if (unchanged) return true;

  std::array<int, 256> map{};
  for (int i = 0; i < 256; ++i) {
    map[static_cast<std::size_t>(i)] = i;
    if (!used[static_cast<std::size_t>(i)] || !colour_known(i)) continue;
    const std::uint32_t c = image.palette[static_cast<std::size_t>(i)];
    if (same_colour(c, menu[static_cast<std::size_t>(i)], image.format)) continue;
    int found = -1;
    for (int j = 0; j < 256; ++j) {
      if (!same_colour(c, menu[static_cast<std::size_t>(j)], image.format)) continue;
      if (found < 0) found = j;
      // An opaque GIF colour prefers an opaque entry over a translucent one of the same RGB.
      if (image.format == ImageFormat::kGif && alpha_of(c) != 0 && alpha_of(menu[static_cast<std::size_t>(j)]) == 0xFF) {
        found = j;
        break;
      }
      if (image.format != ImageFormat::kGif || alpha_of(c) == 0) break;
    }
    if (found < 0) {
      const std::uint32_t rgb = c & kRgbMask;
      if (foreign) {
        *foreign = image.format == ImageFormat::kPng ? fmt::format("#{:06X}{:02X}", rgb, alpha_of(c))
                                                     : fmt::format("#{:06X}", rgb);
      }
      const auto& px = image.bitmap.pixels;
      const std::size_t at = static_cast<std::size_t>(std::find(px.begin(), px.end(), static_cast<std::uint8_t>(i)) - px.begin());
      const int w = std::max(image.bitmap.width, 1);
      if (x) *x = static_cast<int>(at % static_cast<std::size_t>(w));
      if (y) *y = static_cast<int>(at / static_cast<std::size_t>(w));
      return false;
    }
    map[static_cast<std::size_t>(i)] = found;
  }
  for (std::uint8_t& p : image.bitmap.pixels) p = static_cast<std::uint8_t>(map[p]);
  return true;
}

namespace {

// The palette id the object is shown with and which entry ids its last PDS of that id defines.
std::array<bool, 256> DefinedEntries(const CDsData& ds, std::uint16_t object_id, int* palette_id) {
  std::array<bool, 256> defined{};
  const std::optional<CIcData> composition = ParseComposition(ds);
  *palette_id = composition ? FindObjectPalette(*composition, object_id) : kNoPalette;
  const auto pds = std::find_if(ds.PdsFolder.rbegin(), ds.PdsFolder.rend(),
                                [&](const CPds& p) { return p.PaletteId == *palette_id; });
  if (pds != ds.PdsFolder.rend()) {
    for (const SPaletteEntry& e : pds->Entries) defined[e.id] = true;
  }
  return defined;
}

// The picture's pixels as colours.
SPictureColours ColoursOf(const LoadedImage& image) {
  SPictureColours c;
  c.alpha_known = image.format == ImageFormat::kPng;
  if (image.true_colour) {
    c.width = image.rgba.width;
    c.height = image.rgba.height;
    const auto& p = image.rgba.pixels;
    c.argb.resize(p.size() / 4);
    for (std::size_t i = 0; i < c.argb.size(); ++i) {
      c.argb[i] = (std::uint32_t{p[4 * i + 3]} << 24) | (std::uint32_t{p[4 * i]} << 16) |
                  (std::uint32_t{p[4 * i + 1]} << 8) | p[4 * i + 2];
    }
    return c;
  }
  c.width = image.bitmap.width;
  c.height = image.bitmap.height;
  c.argb.resize(image.bitmap.pixels.size());
  for (std::size_t i = 0; i < c.argb.size(); ++i) {
    const std::uint8_t index = image.bitmap.pixels[i];
    if (index < image.palette_size) {
      c.argb[i] = image.palette[index];
    } else {
      // An index past the file's colour table has no colour of its own: it is taken as it is.
      if (c.fixed.empty()) c.fixed.assign(c.argb.size(), -1);
      c.fixed[i] = index;
    }
  }
  return c;
}

std::string ColourText(std::uint32_t argb, bool with_alpha) {
  return with_alpha ? fmt::format("#{:06X}{:02X}", argb & kRgbMask, alpha_of(argb)) : fmt::format("#{:06X}", argb & kRgbMask);
}

// The object's pixels before the edit, where they lie in a picture of the new size: at its top-left
// corner or its centre, as the anchor places the button; pixels beyond the old picture take the nearest
// old pixel, so that a widened border keeps deciding between entries of one colour as before.
IndexedBitmap PlaceOriginal(const IndexedBitmap& old, int width, int height, ButtonAnchor anchor) {
  if (old.width == width && old.height == height) return old;
  IndexedBitmap out{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height))};
  if (old.width <= 0 || old.height <= 0) return out;
  const int ox = anchor == ButtonAnchor::kCentre ? (width - old.width) / 2 : 0;
  const int oy = anchor == ButtonAnchor::kCentre ? (height - old.height) / 2 : 0;
  for (int y = 0; y < height; ++y) {
    const int sy = std::clamp(y - oy, 0, old.height - 1);
    for (int x = 0; x < width; ++x) {
      const int sx = std::clamp(x - ox, 0, old.width - 1);
      out.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          old.pixels[static_cast<std::size_t>(sy) * static_cast<std::size_t>(old.width) + static_cast<std::size_t>(sx)];
    }
  }
  return out;
}

// The object's new pixels in entry ids of its palette, or nothing after a reported refusal.
std::optional<IndexedBitmap> PictureEntries(const CDsData& ds, std::uint16_t object_id, const LoadedImage& image,
                                            const std::filesystem::path& path, const SImportOptions& options,
                                            Messenger& messenger) {
  // The colours the extraction gave the picture: the GIF conversion for a GIF, the matrix of the video for
  // a PNG; a picture an editor converted from the other format is taken with the other conversion.
  const ColourMatrix png = PictureMatrix(ds);
  const ColourMatrix own = image.format == ImageFormat::kPng ? png : ColourMatrix::kGif;
  const ColourMatrix other = image.format == ImageFormat::kPng ? ColourMatrix::kGif : png;
  int palette_id = kNoPalette;
  const std::array<bool, 256> defined = DefinedEntries(ds, object_id, &palette_id);
  const std::optional<ArgbPalette> menu = ObjectPalette(ds, object_id, own);
  if (!menu) return image.true_colour ? std::nullopt : std::optional<IndexedBitmap>(image.bitmap);
  const std::optional<ArgbPalette> menu_other = ObjectPalette(ds, object_id, other);
  if (!image.true_colour) {
    // An unchanged palette: the indices as they are.
    std::array<bool, 256> used{};
    for (std::uint8_t p : image.bitmap.pixels) used[p] = true;
    bool same = true;
    for (int i = 0; i < std::min(image.palette_size, 256) && same; ++i) {
      if (used[static_cast<std::size_t>(i)]) same = same_colour(image.palette[static_cast<std::size_t>(i)], (*menu)[static_cast<std::size_t>(i)], image.format);
    }
    if (same) return image.bitmap;
  }
  const std::optional<SObjectBitmap> before = DecodeObjectBitmap(ds, object_id, static_cast<std::uint8_t>(palette_id));
  const SPictureColours colours = ColoursOf(image);
  std::optional<IndexedBitmap> placed;
  if (before) placed = PlaceOriginal(before->bitmap, colours.width, colours.height, options.anchor);
  const IndexedBitmap* original = placed ? &*placed : nullptr;
  SImportOptions exact = options;
  exact.colours = ColourMode::kExact;
  SColourMatch m = MatchColours(colours, *menu, defined, original, exact);
  if (!m.ok && menu_other) {
    if (SColourMatch o = MatchColours(colours, *menu_other, defined, original, exact); o.ok) m = std::move(o);
  }
  const std::string gpl = GimpPaletteName(palette_id);
  if (!m.ok && options.colours == ColourMode::kExact) {
    messenger.show(MessageKind::kError, format_message(kMsgImageForeignColourHelp, path.string(),
                                                       ColourText(m.foreign, colours.alpha_known), m.foreign_x,
                                                       m.foreign_y, gpl));
    return std::nullopt;
  }
  if (!m.ok) m = MatchColours(colours, *menu, defined, original, options);
  if (m.mapped > 0) {
    messenger.show(MessageKind::kWarning,
                   format_message(kMsgImageColoursMapped, path.string(), m.mapped, m.largest,
                                  ColourText(m.largest_colour, colours.alpha_known), m.largest_x, m.largest_y, gpl));
  }
  if (m.ambiguous > 0) {
    messenger.show(MessageKind::kWarning, format_message(kMsgImageColoursAmbiguous, path.string(), m.ambiguous,
                                                         m.ambiguous_x, m.ambiguous_y,
                                                         ColourText(m.ambiguous_colour, false)));
  }
  return std::move(m.bitmap);
}

// Tells which buttons and effect objects moved.
void ReportMoves(const std::vector<SMove>& moves, const std::filesystem::path& path, Messenger& messenger) {
  for (const SMove& m : moves) {
    messenger.show(MessageKind::kInfo, format_message(m.button ? kMsgButtonMoved : kMsgEffectObjectMoved,
                                                      path.filename().string(), m.id, m.page, m.from_x, m.from_y,
                                                      m.to_x, m.to_y));
  }
}

}  // namespace

std::string GimpPaletteName(int palette_id) { return fmt::format("palette{}.gpl", palette_id); }

bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger, const SImportOptions& options) {
  const LoadedImage image = LoadPicture(path, true);
  const SObjectSize size = ObjectSize(ds, object_id);
  ImageCheck check = image.check;
  if (check == ImageCheck::kOk && size.width == 0 && size.height == 0) check = ImageCheck::kSizeMismatch;
  if (check != ImageCheck::kOk) {
    messenger.show(MessageKind::kError, ImageCheckMessage(check, path));
    return false;
  }
  const int width = image.true_colour ? image.rgba.width : image.bitmap.width;
  const int height = image.true_colour ? image.rgba.height : image.bitmap.height;
  const bool resized = width != size.width || height != size.height;
  SResizePlan plan{true, {}, {}};
  if (resized) plan = PlanResize(ds, object_id, width, height, options.anchor, path.string());
  if (!plan.ok) {
    messenger.show(MessageKind::kError, plan.refusal);
    return false;
  }
  const std::optional<IndexedBitmap> entries = PictureEntries(ds, object_id, image, path, options, messenger);
  if (!entries) {
    if (image.true_colour && !ObjectPalette(ds, object_id)) messenger.show(MessageKind::kError, ImageCheckMessage(ImageCheck::kNot256, path));
    return false;
  }
  const Bytes data = EncodeBitmap(*entries);
  std::string why;
  // The moves are checked and written first: a composition that cannot be changed leaves the object as it was.
  if (data.empty() || !ApplyMoves(ds, plan.moves, &why) ||
      !ReplaceObjectSegments(ds, object_id, SplitObjectData(data, object_id))) {
    messenger.show(MessageKind::kError, why.empty() ? ImageCheckMessage(ImageCheck::kSizeMismatch, path)
                                                    : fmt::format("{}: {}", path.string(), why));
    return false;
  }
  if (resized) {
    messenger.show(MessageKind::kInfo, format_message(kMsgImageResized, path.filename().string(), width, height,
                                                      size.width, size.height));
  }
  ReportMoves(plan.moves, path, messenger);
  return true;
}

}  // namespace veld
