// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/edit_preview.h"

#include <charconv>
#include <functional>
#include <system_error>
#include <utility>

#include "veld/pipeline/output_names.h"
#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/base/messages_menu.h"
#include "veld/base/result.h"
#include "veld/graphics/button_images.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/pipeline/manifest.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// What the import says, kept instead of shown: errors are the refusal, the rest its notes.
class Collect : public Messenger {
 public:
  void show(MessageKind kind, std::string_view text) override {
    std::string& to = kind == MessageKind::kError ? errors : notes;
    if (!to.empty()) to += "\n";
    to += text;
  }
  Answer ask(std::string_view) override { return Answer::kNo; }
  std::string errors;
  std::string notes;
};

fs::path ImageFolder(const SMenuModel& model) { return SOutputNames().image_folder(model.work); }

const CDsData* DisplaySetOf(const CGsData& segments, std::size_t index) {
  for (const CEpochData& epoch : segments.Epochs) {
    if (index < epoch.DisplaySets.size()) return &epoch.DisplaySets[index];
    index -= epoch.DisplaySets.size();
  }
  return nullptr;
}

const SMenuStream* StreamOf(const SMenuModel& model, const SPictureRef& ref) {
  if (ref.clip >= model.clips.size() || ref.stream >= model.clips[ref.clip].streams.size()) return nullptr;
  return &model.clips[ref.clip].streams[ref.stream];
}

// "0002.gif" <-> "0002.png" of the same object.
fs::path OtherPicture(const fs::path& file) {
  fs::path other = file;
  other.replace_extension(file.extension() == ".png" ? ".gif" : ".png");
  return other;
}

std::string Rel(const fs::path& file, const SPictureRef& ref) {
  return (fs::path(ref.rel).parent_path() / file.filename()).generic_string();
}

// Writes through a temporary file beside the target, renamed over it; a picture of the other extension
// goes. "" or the error text.
std::string Install(const fs::path& target, const std::function<std::string(const fs::path&)>& write) {
  const fs::path staged = target.string() + ".veld-new";
  if (std::string e = write(staged); !e.empty()) {
    std::error_code ec;
    fs::remove(staged, ec);
    return e;
  }
  std::error_code ec;
  fs::rename(staged, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(staged, ignored);
    return ec.message();
  }
  fs::remove(OtherPicture(target), ec);
  return {};
}

}  // namespace

std::optional<SPictureRef> FindPictureRef(const SMenuModel& model, const fs::path& file) {
  if (!model.extracted) return std::nullopt;
  std::error_code ec;
  const fs::path rel = fs::relative(file, ImageFolder(model), ec);
  std::vector<std::string> parts;
  for (const fs::path& p : rel) parts.push_back(p.string());
  if (ec || parts.size() != 5 || parts[2] != SOutputNames()[SOutputNames::kEpoch] + "1") return std::nullopt;
  const std::string ds_prefix = SOutputNames()[SOutputNames::kDs];
  const std::string& name = parts[4];
  int ds = 0, number = 0;
  const char* ds_end = parts[3].data() + parts[3].size();
  if (parts[3].rfind(ds_prefix, 0) != 0 ||
      std::from_chars(parts[3].data() + ds_prefix.size(), ds_end, ds).ptr != ds_end || ds < 1)
    return std::nullopt;
  const fs::path stem = fs::path(name).stem();
  const std::string digits = stem.string();
  if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ptr != digits.data() + digits.size() ||
      number < 1 || number > 0x10000)
    return std::nullopt;
  const auto id = static_cast<std::uint16_t>(number - 1);
  if (ImageFileName(fs::path(), id).stem() != stem) return std::nullopt;
  const std::string ext = fs::path(name).extension().string();
  if (ext != ".gif" && ext != ".png") return std::nullopt;
  for (std::size_t c = 0; c < model.clips.size(); ++c) {
    if (model.clips[c].name != parts[0]) continue;
    for (std::size_t s = 0; s < model.clips[c].streams.size(); ++s) {
      const SMenuStream& stream = model.clips[c].streams[s];
      if (std::to_string(stream.pid) != parts[1] || static_cast<std::size_t>(ds) > stream.display_sets.size())
        continue;
      return SPictureRef{c, s, static_cast<std::size_t>(ds - 1), id, rel.generic_string()};
    }
  }
  return std::nullopt;
}

bool LoadEditRule(const SMenuModel& model, const SImportOptions& import, CEditRule& rule, Messenger& messenger) {
  if (!rule.Load(SOutputNames(), model.work, messenger)) return false;
  rule.set_import(import);
  return true;
}

bool PictureIsEdited(const SMenuModel& model, const SPictureRef& ref, const CEditRule& rule) {
  const fs::path file = ImageFolder(model) / ref.rel;
  std::error_code ec;
  bool any = false;
  for (const fs::path& f : {file, OtherPicture(file)}) {
    if (!fs::is_regular_file(f, ec)) continue;
    any = true;
    if (rule.Edited(f, Rel(f, ref))) return true;
  }
  return !any;
}

SPicturePreview PreviewPicture(const SMenuModel& model, const SPictureRef& ref, const CEditRule& rule) {
  SPicturePreview out;
  const SMenuStream* stream = StreamOf(model, ref);
  const CDsData* ds = stream ? DisplaySetOf(stream->segments, ref.display_set) : nullptr;
  const std::optional<CIcData> composition = ds ? ParseComposition(*ds) : std::nullopt;
  const std::uint8_t palette = composition ? FindObjectPalette(*composition, ref.object_id) : kNoPalette;
  const std::optional<SObjectBitmap> original =
      palette == kNoPalette ? std::nullopt : DecodeObjectBitmap(*ds, ref.object_id, palette);
  if (!original) return out;
  out.original = IndexedToRgba(original->bitmap, original->palette);
  const fs::path file = ImageFolder(model) / ref.rel;
  fs::path first;
  for (const fs::path& f : {file.parent_path() / ImageFileName({}, ref.object_id, ImageFormat::kGif),
                            file.parent_path() / ImageFileName({}, ref.object_id, ImageFormat::kPng)}) {
    std::error_code ec;
    if (!fs::is_regular_file(f, ec) || fs::is_symlink(f, ec) || !rule.Edited(f, Rel(f, ref))) continue;
    CDsData imported = *ds;
    Collect collect;
    if (!ImportButtonImage(imported, ref.object_id, f, collect, rule.import())) {
      return {EPictureEdit::kRefused, collect.errors, {}, {}, {}, std::move(out.original)};
    }
    std::optional<SObjectBitmap> decoded = DecodeObjectBitmap(imported, ref.object_id, palette);
    if (!decoded || decoded->bitmap == original->bitmap) continue;  // an unchanged re-save is no edit
    if (out.state == EPictureEdit::kEdited && !(decoded->bitmap == out.bitmap)) {
      return {EPictureEdit::kRefused,
              format_message(kMsgEditsDiffer, first.string(), f.string(), int{ref.object_id}, original->bitmap.width,
                             original->bitmap.height),
              {}, {}, {}, std::move(out.original)};
    }
    first = f;
    out.state = EPictureEdit::kEdited;
    out.message = collect.notes;
    out.bitmap = std::move(decoded->bitmap);
    out.palette = decoded->palette;
  }
  if (out.state == EPictureEdit::kEdited) out.image = IndexedToRgba(out.bitmap, out.palette);
  return out;
}

SPicturePreview CopyPreview(const SMenuModel& model, const SPictureRef& ref, const CGsData& segments) {
  SPicturePreview out;
  const SMenuStream* stream = StreamOf(model, ref);
  const CDsData* ds = stream ? DisplaySetOf(stream->segments, ref.display_set) : nullptr;
  const CDsData* edited = DisplaySetOf(segments, ref.display_set);
  const std::optional<CIcData> composition = ds ? ParseComposition(*ds) : std::nullopt;
  const std::uint8_t palette = composition ? FindObjectPalette(*composition, ref.object_id) : kNoPalette;
  if (!edited || palette == kNoPalette) return out;
  const std::optional<SObjectBitmap> original = DecodeObjectBitmap(*ds, ref.object_id, palette);
  std::optional<SObjectBitmap> now = DecodeObjectBitmap(*edited, ref.object_id, palette);
  if (!original || !now || now->bitmap == original->bitmap) return out;
  out.state = EPictureEdit::kEdited;
  out.bitmap = std::move(now->bitmap);
  out.palette = now->palette;
  out.image = IndexedToRgba(out.bitmap, out.palette);
  out.original = IndexedToRgba(original->bitmap, original->palette);
  return out;
}

SStreamEdits ApplyStreamEdits(const SMenuModel& model, std::size_t clip, std::size_t stream, const CEditRule& rule) {
  SStreamEdits out;
  const SMenuStream* s = StreamOf(model, SPictureRef{clip, stream, 0, 0, {}});
  if (!s || !model.extracted) return out;
  CGsData segments = s->segments;
  Collect collect;
  SEditReport report;
  bool changed = false;
  const std::string stream_rel = model.clips[clip].name + "/" + std::to_string(s->pid);
  if (!ImportStreamEdits(segments, SOutputNames(), ImageFolder(model), stream_rel, rule, changed, collect, report)) {
    out.refused = true;
    out.refusal = collect.errors;
    return out;
  }
  out.lines = std::move(report.lines);
  if (changed) out.segments = std::move(segments);
  return out;
}

int PutPicture(const SMenuModel& model, const SPictureRef& ref, const fs::path& chosen, Messenger& messenger) {
  const LoadedImage image = LoadPicture(chosen, true);
  if (image.check != ImageCheck::kOk) {
    messenger.show(MessageKind::kError, ImageCheckMessage(image.check, chosen));
    return kResultFailed;
  }
  std::string error;
  const std::optional<Bytes> bytes = read_whole_file(chosen, &error);
  const fs::path target = ImageFolder(model) / ref.rel;
  if (bytes) {
    error = Install(target, [&](const fs::path& staged) {
      std::string e;
      return write_whole_file(staged, *bytes, &e) ? std::string() : e;
    });
  }
  if (error.empty()) return kResultOk;
  messenger.show(MessageKind::kError, format_message(kStrEditWriteFailed, target.string(), error));
  return kResultFailed;
}

int RevertPicture(const SMenuModel& model, const SPictureRef& ref, Messenger& messenger) {
  const fs::path images = ImageFolder(model);
  fs::path target = images / ref.rel;
  std::optional<SPictureHashes> expected;
  std::string error;
  if (const std::optional<Bytes> text = read_whole_file(ManifestPath(images), &error)) {
    const auto entries = ParseManifest(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()), &error);
    const std::string other = Rel(OtherPicture(target), ref);
    for (const SManifestEntry& e : entries ? *entries : std::vector<SManifestEntry>{}) {
      if (e.path != ref.rel && e.path != other) continue;
      target = images / e.path;
      expected = e.hashes;
    }
  }
  const ImageFormat format = target.extension() == ".png" ? ImageFormat::kPng : ImageFormat::kGif;
  const SMenuStream* stream = StreamOf(model, ref);
  const CDsData* ds = stream ? DisplaySetOf(stream->segments, ref.display_set) : nullptr;
  const std::optional<CIcData> composition = ds ? ParseComposition(*ds) : std::nullopt;
  const std::uint8_t palette = composition ? FindObjectPalette(*composition, ref.object_id) : kNoPalette;
  const int height = ds && !ds->IcsArray.empty() ? ds->IcsArray.front().Video.Height : 0;
  const ColourMatrix matrix = format == ImageFormat::kGif ? ColourMatrix::kGif : ColourMatrixForHeight(height);
  const std::optional<SObjectBitmap> original =
      palette == kNoPalette ? std::nullopt : DecodeObjectBitmap(*ds, ref.object_id, palette, matrix);
  if (!original || (expected && WrittenPictureHashes(original->bitmap, original->palette, format) != *expected)) {
    messenger.show(MessageKind::kError, format_message(kStrEditRevertGone, target.string()));
    return kResultFailed;
  }
  error = Install(target, [&](const fs::path& staged) {
    return SaveObjectImage(original->bitmap, original->palette, staged, format);
  });
  if (error.empty()) return kResultOk;
  messenger.show(MessageKind::kError, format_message(kStrEditWriteFailed, target.string(), error));
  return kResultFailed;
}

}  // namespace veld
