// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/page_render.h"

#include <algorithm>
#include <cstring>

#include "veld/graphics/rle.h"

namespace veld {
namespace {

// A rectangle of an object: the part that is drawn.
struct SRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Copies the rectangle `part` of the object to (x, y) of the plane, clipped to the plane.
void DrawObject(RgbaImage& plane, const IndexedBitmap& object, const ArgbPalette& palette, int x, int y, SRect part) {
  // The part must lie within the object.
  part.width = std::min(part.width, object.width - part.x);
  part.height = std::min(part.height, object.height - part.y);
  if (part.x < 0 || part.y < 0 || part.width <= 0 || part.height <= 0) return;
  for (int row = 0; row < part.height; ++row) {
    const int py = y + row;
    if (py < 0 || py >= plane.height) continue;
    const std::uint8_t* src = object.pixels.data() + static_cast<std::size_t>(part.y + row) * object.width + part.x;
    for (int col = 0; col < part.width; ++col) {
      const int px = x + col;
      if (px < 0 || px >= plane.width) continue;
      const std::uint32_t argb = palette[src[col]];
      std::uint8_t* p = plane.pixel(px, py);
      p[0] = static_cast<std::uint8_t>(argb >> 16);
      p[1] = static_cast<std::uint8_t>(argb >> 8);
      p[2] = static_cast<std::uint8_t>(argb);
      p[3] = static_cast<std::uint8_t>(argb >> 24);
    }
  }
}

void DrawWhole(RgbaImage& plane, const IndexedBitmap& object, const ArgbPalette& palette, int x, int y) {
  DrawObject(plane, object, palette, x, y, SRect{0, 0, object.width, object.height});
}

const CBdButton* FindButton(const CBog& bog, int id) {
  for (const auto& b : bog.Buttons) {
    if (b.Id == id) return &b;
  }
  return nullptr;
}

const CButtonStateInfo* ShownState(const CBdButton& button, int selected_button, EPageButtons buttons) {
  switch (buttons) {
    case EPageButtons::kNormal:
      return &button.Normal;
    case EPageButtons::kSelected:
      return &button.Selected;
    case EPageButtons::kActivated:
      return &button.Activated;
    case EPageButtons::kAsPlayer:
      break;
  }
  if (button.Id != selected_button) return &button.Normal;
  return button.AutoActionFlag ? &button.Activated : &button.Selected;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Decoder state

void CDecodedGraphics::Clear() {
  objects_.clear();
  palettes_.clear();
}

void CDecodedGraphics::Add(const CDsData& ds) {
  if (ds.State == kEpochStart) Clear();
  for (const CPds& pds : ds.PdsFolder) {
    std::vector<SPaletteEntry>& entries = palettes_[pds.PaletteId];
    const bool update = ds.State == kNormalCase && !entries.empty();
    if (!update) entries.clear();
    for (const SPaletteEntry& e : pds.Entries) {
      const auto same = std::find_if(entries.begin(), entries.end(), [&](const SPaletteEntry& x) { return x.id == e.id; });
      if (same != entries.end()) {
        *same = e;
      } else {
        entries.push_back(e);
      }
    }
  }
  // The fragments of an object run from the one with the first flag to the one with the last flag.
  std::map<std::uint16_t, Bytes> open;
  for (const COds& ods : ds.OdsArray) {
    Bytes& data = open[ods.ObjectId];
    if (ods.FirstFlag) data.clear();
    data.insert(data.end(), ods.Fragment.begin(), ods.Fragment.end());
    if (ods.LastFlag) {
      SObject& object = objects_[ods.ObjectId];
      object.data = std::move(data);
      object.decoded = false;
      object.bitmap.reset();
      open.erase(ods.ObjectId);
    }
  }
}

const IndexedBitmap* CDecodedGraphics::Object(std::uint16_t id) const {
  const auto it = objects_.find(id);
  if (it == objects_.end()) return nullptr;
  const SObject& object = it->second;
  if (!object.decoded) {
    object.bitmap = DecodeObjectData(object.data);
    object.decoded = true;
  }
  return object.bitmap ? &*object.bitmap : nullptr;
}

const std::vector<SPaletteEntry>* CDecodedGraphics::Palette(std::uint8_t id) const {
  const auto it = palettes_.find(id);
  return it == palettes_.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------------
// Pages and effects

int InitialSelectedButton(const CPage& page) {
  for (const auto& bog : page.Bogs) {
    if (bog.DefaultButtonIdRef == page.DefaultSelectedButtonId && FindButton(bog, bog.DefaultButtonIdRef)) {
      return page.DefaultSelectedButtonId;
    }
  }
  for (const auto& bog : page.Bogs) {
    if (FindButton(bog, bog.DefaultButtonIdRef)) return bog.DefaultButtonIdRef;
  }
  return -1;
}

SPagePicture RenderPage(const CPage& page, const CDecodedGraphics& graphics, int width, int height,
                        ColourMatrix matrix, EPageButtons buttons, SButtonStateOverride override_state) {
  SPagePicture out;
  out.image = RgbaImage(width, height);
  const std::vector<SPaletteEntry>* entries = graphics.Palette(static_cast<std::uint8_t>(page.PaletteIdRef));
  if (!entries) return out;
  out.has_palette = true;
  const ArgbPalette palette = PaletteToArgb(*entries, matrix);
  out.selected_button = InitialSelectedButton(page);
  for (const auto& bog : page.Bogs) {
    const CBdButton* chosen = override_state.button_id < 0 ? nullptr : FindButton(bog, override_state.button_id);
    const CBdButton* button = chosen ? chosen : FindButton(bog, bog.DefaultButtonIdRef);
    if (!button) continue;
    const CButtonStateInfo* state = ShownState(*button, out.selected_button, chosen ? override_state.state : buttons);
    if (state->StartObjectId < 0) continue;
    const IndexedBitmap* object = graphics.Object(static_cast<std::uint16_t>(state->StartObjectId));
    if (object) DrawWhole(out.image, *object, palette, button->HorPos, button->VerPos);
  }
  return out;
}

RgbaImage RenderEffect(const CEffect& effect, const CDecodedGraphics& graphics, int width, int height,
                       ColourMatrix matrix) {
  RgbaImage plane(width, height);
  const std::vector<SPaletteEntry>* entries = graphics.Palette(effect.PaletteIdRef);
  if (!entries) return plane;
  const ArgbPalette palette = PaletteToArgb(*entries, matrix);
  for (const SCompositionObject& o : effect.CompositionObjects) {
    const IndexedBitmap* object = graphics.Object(o.ObjectIdRef);
    if (!object) continue;
    SRect part{0, 0, object->width, object->height};
    if (o.ObjectCroppedFlag) {
      part = SRect{o.ObjectCroppingHorPos, o.ObjectCroppingVerPos, o.ObjectCroppingWidth, o.ObjectCroppingHeight};
    }
    DrawObject(plane, *object, palette, o.CompositionObjectHorPos, o.CompositionObjectVerPos, part);
  }
  return plane;
}

// ---------------------------------------------------------------------------------------------------
// Contact sheets

RgbaImage ShrinkImage(const RgbaImage& image, int factor) {
  factor = std::max(factor, 1);
  const int w = std::max(1, image.width / factor);
  const int h = std::max(1, image.height / factor);
  RgbaImage out(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint64_t sum[3] = {0, 0, 0};
      std::uint64_t alpha = 0;
      int count = 0;
      for (int dy = 0; dy < factor && y * factor + dy < image.height; ++dy) {
        for (int dx = 0; dx < factor && x * factor + dx < image.width; ++dx) {
          const std::uint8_t* p = image.pixel(x * factor + dx, y * factor + dy);
          for (int c = 0; c < 3; ++c) sum[c] += std::uint64_t{p[c]} * p[3];
          alpha += p[3];
          ++count;
        }
      }
      std::uint8_t* q = out.pixel(x, y);
      if (count == 0 || alpha == 0) continue;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + alpha / 2) / alpha);
      q[3] = static_cast<std::uint8_t>((alpha + static_cast<std::uint64_t>(count) / 2) / static_cast<std::uint64_t>(count));
    }
  }
  return out;
}

RgbaImage ContactSheet(const std::vector<std::vector<RgbaImage>>& rows) {
  constexpr int kGap = 16;
  constexpr int kCheck = 8;
  constexpr std::uint8_t kBackground = 40;
  int width = kGap;
  int height = kGap;
  for (const auto& row : rows) {
    int row_width = kGap;
    int row_height = 0;
    for (const auto& picture : row) {
      row_width += picture.width + kGap;
      row_height = std::max(row_height, picture.height);
    }
    width = std::max(width, row_width);
    height += row_height + kGap;
  }
  RgbaImage sheet(width, height);
  for (std::size_t i = 0; i < sheet.pixels.size(); i += 4) {
    sheet.pixels[i] = sheet.pixels[i + 1] = sheet.pixels[i + 2] = kBackground;
    sheet.pixels[i + 3] = 255;
  }
  int top = kGap;
  for (const auto& row : rows) {
    int left = kGap;
    int row_height = 0;
    for (const auto& picture : row) {
      for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
          const std::uint8_t* p = picture.pixel(x, y);
          const int check = ((x / kCheck) + (y / kCheck)) % 2 ? 153 : 102;
          std::uint8_t* q = sheet.pixel(left + x, top + y);
          for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((p[c] * p[3] + check * (255 - p[3]) + 127) / 255);
          q[3] = 255;
        }
      }
      left += picture.width + kGap;
      row_height = std::max(row_height, picture.height);
    }
    top += row_height + kGap;
  }
  return sheet;
}

}  // namespace veld
