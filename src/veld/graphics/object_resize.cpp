// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/object_resize.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "veld/base/messages.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/ic_data.h"

namespace veld {
namespace {

struct SSize {
  int width = 0;
  int height = 0;
};

// The size of an object once object_id has the size `size`.
SSize SizeOf(const CDsData& ds, std::uint16_t id, std::uint16_t object_id, SSize size) {
  if (id == object_id) return size;
  const SObjectSize s = ObjectSize(ds, id);
  return {s.width, s.height};
}

bool Shows(const CBdButton& b, int id) { return b.Normal.Covers(id) || b.Selected.Covers(id) || b.Activated.Covers(id); }

// The box of a button: the largest width and height of the objects it shows.
SSize ButtonBox(const CDsData& ds, const CBdButton& b, std::uint16_t object_id, SSize size) {
  SSize box;
  for (std::uint16_t id : ListObjects(ds)) {
    if (!Shows(b, id)) continue;
    const SSize s = SizeOf(ds, id, object_id, size);
    box.width = std::max(box.width, s.width);
    box.height = std::max(box.height, s.height);
  }
  return box;
}

// Everything a check needs to word its refusal.
struct SContext {
  const CDsData& ds;
  std::uint16_t object_id;
  SSize old_size;
  SSize new_size;
  SSize frame;
  ButtonAnchor anchor;
  const std::string& picture;
};

// Checks one button that shows the object; adds its move when it has one.
std::string CheckButton(const SContext& c, const CPage& page, const CBdButton& b, SResizePlan& plan) {
  const SSize old_box = ButtonBox(c.ds, b, c.object_id, c.old_size);
  const SSize new_box = ButtonBox(c.ds, b, c.object_id, c.new_size);
  int x = b.HorPos, y = b.VerPos;
  if (c.anchor == ButtonAnchor::kCentre) {
    x += (old_box.width - new_box.width) / 2;
    y += (old_box.height - new_box.height) / 2;
  }
  if (x < 0 || y < 0 || x + new_box.width > c.frame.width || y + new_box.height > c.frame.height) {
    const int most_w = std::max(0, c.frame.width - std::max(x, 0) - (new_box.width - c.new_size.width));
    const int most_h = std::max(0, c.frame.height - std::max(y, 0) - (new_box.height - c.new_size.height));
    return format_message(kMsgImageOutOfFrame, c.picture, c.new_size.width, c.new_size.height, c.old_size.width,
                          c.old_size.height, b.Id, page.PageId, x, y, c.frame.width, c.frame.height,
                          std::min(most_w, c.new_size.width), std::min(most_h, c.new_size.height));
  }
  if (x != b.HorPos || y != b.VerPos) plan.moves.push_back(SMove{true, page.PageId, b.Id, b.HorPos, b.VerPos, x, y});
  return {};
}

// Checks the composition objects of one effect sequence that show the object.
std::string CheckEffects(const SContext& c, const CPage& page, const CEffectSequence& sequence, SResizePlan& plan) {
  for (const CEffect& effect : sequence.Effects) {
    for (const SCompositionObject& o : effect.CompositionObjects) {
      if (o.ObjectIdRef != c.object_id) continue;
      const auto window = std::find_if(sequence.Windows.begin(), sequence.Windows.end(),
                                       [&](const SWindow& w) { return w.WindowID == o.WindowIdRef; });
      int x = o.CompositionObjectHorPos, y = o.CompositionObjectVerPos;
      if (c.anchor == ButtonAnchor::kCentre) {
        x += (c.old_size.width - c.new_size.width) / 2;
        y += (c.old_size.height - c.new_size.height) / 2;
      }
      const SWindow w = window != sequence.Windows.end() ? *window : SWindow{};
      const bool inside = x >= w.HorPos && y >= w.VerPos && x + c.new_size.width <= w.HorPos + w.Width &&
                          y + c.new_size.height <= w.VerPos + w.Height;
      if (o.ObjectCroppedFlag || !inside) {
        return format_message(o.ObjectCroppedFlag ? kMsgImageCropped : kMsgImageOutOfWindow, c.picture,
                              c.new_size.width, c.new_size.height, c.old_size.width, c.old_size.height,
                              page.PageId, int{w.WindowID}, int{w.Width}, int{w.Height}, int{w.HorPos},
                              int{w.VerPos}, x, y);
      }
      if (x != o.CompositionObjectHorPos || y != o.CompositionObjectVerPos) {
        plan.moves.push_back(
            SMove{false, page.PageId, c.object_id, o.CompositionObjectHorPos, o.CompositionObjectVerPos, x, y});
      }
    }
  }
  return {};
}

std::string CheckDecoder(const SContext& c) {
  const SDecodeTiming before = DecodeTiming(c.ds, c.object_id, c.old_size.width, c.old_size.height);
  const SDecodeTiming after = DecodeTiming(c.ds, c.object_id, c.new_size.width, c.new_size.height);
  if (after.buffer > kObjectBufferSize) {
    return format_message(kMsgImageObjectBuffer, c.picture, c.new_size.width, c.new_size.height, after.buffer,
                          kObjectBufferSize, c.old_size.width, c.old_size.height);
  }
  if (after.finish > 0 && after.finish > before.finish) {
    return format_message(kMsgImageDecodeTime, c.picture, c.new_size.width, c.new_size.height, after.finish,
                          std::max<std::int64_t>(before.finish, 0), c.old_size.width, c.old_size.height);
  }
  return {};
}

}  // namespace

std::uint32_t ObjectDecodeTicks(int width, int height) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(width, 0)) * static_cast<std::uint64_t>(std::max(height, 0));
  return static_cast<std::uint32_t>((pixels * 9 + 799) / 800);
}

SDecodeTiming DecodeTiming(const CDsData& ds, std::uint16_t object_id, int width, int height) {
  SDecodeTiming t;
  const std::uint32_t pts = ds.IcsArray.empty() ? 0 : ds.IcsArray.front().PTS;
  std::optional<std::int64_t> clock;
  std::vector<std::uint16_t> seen;
  for (std::uint16_t id : ListObjects(ds)) {
    if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
    seen.push_back(id);
    const auto first = std::find_if(ds.OdsArray.begin(), ds.OdsArray.end(), [&](const COds& o) { return o.ObjectId == id; });
    // Time stamps are 32-bit here: the difference is taken modulo 2^32.
    const std::int64_t dts = static_cast<std::int32_t>(first->DTS - pts);
    const SSize s = SizeOf(ds, id, object_id, SSize{width, height});
    clock = std::max(clock.value_or(dts), dts) + ObjectDecodeTicks(s.width, s.height);
    t.buffer += std::int64_t{s.width} * s.height;
  }
  t.finish = clock.value_or(std::numeric_limits<std::int64_t>::min());
  return t;
}

SResizePlan PlanResize(const CDsData& ds, std::uint16_t object_id, int width, int height, ButtonAnchor anchor,
                       const std::string& picture) {
  SResizePlan plan;
  const SObjectSize old = ObjectSize(ds, object_id);
  const std::optional<CIcData> composition = ParseComposition(ds);
  if (!composition || ds.IcsArray.empty()) {
    plan.refusal = format_message(kMsgImageNoComposition, picture, width, height, old.width, old.height);
    return plan;
  }
  const SVideoDescriptor& video = ds.IcsArray.front().Video;
  const SContext c{ds, object_id, {old.width, old.height}, {width, height}, {video.Width, video.Height}, anchor, picture};
  for (const CPage& page : composition->Pages) {
    for (const CBog& bog : page.Bogs) {
      for (const CBdButton& b : bog.Buttons) {
        if (!Shows(b, object_id)) continue;
        if (std::string r = CheckButton(c, page, b, plan); !r.empty()) return {false, std::move(r), {}};
      }
    }
    for (const CEffectSequence* s : {&page.InEffects, &page.OutEffects}) {
      if (std::string r = CheckEffects(c, page, *s, plan); !r.empty()) return {false, std::move(r), {}};
    }
  }
  if (std::string r = CheckDecoder(c); !r.empty()) return {false, std::move(r), {}};
  plan.ok = true;
  return plan;
}

bool ApplyMoves(CDsData& ds, const std::vector<SMove>& moves, std::string* error) {
  if (moves.empty()) return true;
  const Bytes joined = JoinIcsFragments(ds);
  std::optional<CIcData> ic = ParseComposition(ds, error);
  if (!ic) return false;
  const SIcWriteOptions as_read{true};
  Bytes again;
  ic->Write(&again, as_read);
  if (again != joined) {
    if (error) *error = "the interactive composition does not write back byte for byte";
    return false;
  }
  for (const SMove& m : moves) {
    for (CPage& page : ic->Pages) {
      if (page.PageId != m.page) continue;
      for (CBog& bog : page.Bogs) {
        for (CBdButton& b : bog.Buttons) {
          if (!m.button || b.Id != m.id) continue;
          b.HorPos = static_cast<std::uint16_t>(m.to_x);
          b.VerPos = static_cast<std::uint16_t>(m.to_y);
        }
      }
      for (CEffectSequence* s : {&page.InEffects, &page.OutEffects}) {
        for (CEffect& e : s->Effects) {
          for (SCompositionObject& o : e.CompositionObjects) {
            if (m.button || o.ObjectIdRef != m.id || o.CompositionObjectHorPos != m.from_x ||
                o.CompositionObjectVerPos != m.from_y) {
              continue;
            }
            o.CompositionObjectHorPos = static_cast<std::uint16_t>(m.to_x);
            o.CompositionObjectVerPos = static_cast<std::uint16_t>(m.to_y);
          }
        }
      }
    }
  }
  Bytes moved;
  ic->Write(&moved, as_read);
  if (moved.size() != joined.size()) {
    if (error) *error = "the moved composition changed its length";
    return false;
  }
  std::size_t at = 0;
  for (CIcs& ics : ds.IcsArray) {
    std::copy(moved.begin() + static_cast<std::ptrdiff_t>(at),
              moved.begin() + static_cast<std::ptrdiff_t>(at + ics.Fragment.size()), ics.Fragment.begin());
    at += ics.Fragment.size();
  }
  return true;
}

}  // namespace veld
