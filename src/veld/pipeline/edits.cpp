// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/edits.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <system_error>
#include <tuple>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/graphics/button_images.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/gif_frames.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/object_resize.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// "0002.gif" -> "0002.png" and back; "" for other names.
std::string OtherExtension(const std::string& rel) {
  if (rel.size() < 4) return {};
  const std::string stem = rel.substr(0, rel.size() - 4);
  if (rel.compare(rel.size() - 4, 4, ".gif") == 0) return stem + ".png";
  if (rel.compare(rel.size() - 4, 4, ".png") == 0) return stem + ".gif";
  return {};
}

bool IsPictureName(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".gif" || ext == ".png";
}

// A name the extraction gives pictures: digits, then ".gif" or ".png".
bool IsObjectPictureName(const fs::path& p) {
  static const std::regex name(R"(\d{4,}\.(gif|png))", std::regex::icase);
  return std::regex_match(p.filename().string(), name);
}

}  // namespace

std::optional<std::int64_t> FileTimeNs(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool CEditRule::Load(const SOutputNames& names, const fs::path& work, Messenger& messenger) {
  const fs::path manifest = ManifestPath(names.image_folder(work));
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(manifest, ec))) {
    SetMarkerTime(FileTimeNs(names.marker_path(work)));
    extracted_ns_ = marker_ns_;
    return true;
  }
  std::string error;
  const std::optional<Bytes> bytes = read_whole_file(manifest, &error);
  std::optional<std::vector<SManifestEntry>> entries;
  if (bytes) {
    entries = ParseManifest(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), &error);
  }
  if (!entries) {
    messenger.show(MessageKind::kError, format_message(kMsgBadManifest, manifest.string(), error));
    return false;
  }
  SetManifest(*entries);
  extracted_ns_ = FileTimeNs(manifest);
  return true;
}

void CEditRule::SetManifest(const std::vector<SManifestEntry>& entries) {
  by_content_ = true;
  manifest_.clear();
  cache_.clear();
  for (const SManifestEntry& e : entries) manifest_[e.path] = e.hashes;
}

void CEditRule::SetMarkerTime(std::optional<std::int64_t> marker_ns) {
  by_content_ = false;
  manifest_.clear();
  cache_.clear();
  marker_ns_ = marker_ns;
}

bool CEditRule::Edited(const fs::path& file, const std::string& rel) const {
  if (!by_content_) {
    if (!marker_ns_) return true;
    const std::optional<std::int64_t> t = FileTimeNs(file);
    return !t || *t > *marker_ns_;
  }
  if (const auto it = cache_.find(rel); it != cache_.end()) return it->second;
  auto entry = manifest_.find(rel);
  if (entry == manifest_.end()) entry = manifest_.find(OtherExtension(rel));
  bool edited = true;
  if (entry != manifest_.end()) {
    const LoadedImage image = LoadIndexedImage(file);
    edited = image.check != ImageCheck::kOk || PictureHashes(image) != entry->second;
  }
  cache_[rel] = edited;
  return edited;
}

bool CEditRule::Touched(const fs::path& file) const {
  const std::optional<std::int64_t> t = FileTimeNs(file);
  return !t || !extracted_ns_ || *t > *extracted_ns_;
}

std::string DisplaySetList(std::vector<std::pair<int, int>> sets) {
  std::sort(sets.begin(), sets.end());
  sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
  std::string out;
  for (std::size_t i = 0; i < sets.size();) {
    std::size_t j = i;
    while (j + 1 < sets.size() && sets[j + 1].first == sets[i].first && sets[j + 1].second == sets[j].second + 1) ++j;
    const std::string epoch = sets[i].first == 1 ? "" : fmt::format("Epoch{}/", sets[i].first);
    if (!out.empty()) out += ", ";
    out += fmt::format("{}DS{}", epoch, sets[i].second);
    if (j > i) out += fmt::format("-DS{}", sets[j].second);
    i = j + 1;
  }
  return out;
}

namespace {

// One object of a display set that the extraction gave a picture.
struct SMember {
  int epoch = 0;
  int ds_number = 0;
  CDsData* ds = nullptr;
  std::uint8_t palette = kNoPalette;
  fs::path folder;      // its display-set folder
  std::string rel_folder;
};

// Copies: the members of one object id with the same pixels.
struct SCopies {
  std::uint16_t id = 0;
  IndexedBitmap original;
  std::vector<SMember> members;
};

// An edited picture of one member, imported into a copy of its display set.
struct SEdit {
  std::size_t member = 0;
  fs::path path;
  std::string rel;
  CDsData imported;
  IndexedBitmap bitmap;
};

std::vector<SCopies> CollectCopies(CGsData& stream, const SOutputNames& names, const fs::path& stream_folder,
                                   const std::string& stream_rel) {
  std::vector<SCopies> groups;
  std::map<std::tuple<std::uint16_t, int, int, std::uint64_t>, std::vector<std::size_t>> by_key;
  int e = 0;
  for (CEpochData& epoch : stream.Epochs) {
    const fs::path epoch_folder = names.epoch_folder(stream_folder, ++e);
    int d = 0;
    for (CDsData& ds : epoch.DisplaySets) {
      const fs::path ds_folder = names.ds_folder(epoch_folder, ++d);
      const std::string rel_folder = stream_rel + "/" + ds_folder.lexically_relative(stream_folder).generic_string();
      const std::optional<CIcData> composition = ParseComposition(ds);
      std::vector<std::uint16_t> ids = ListObjects(ds);
      std::sort(ids.begin(), ids.end());
      ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
      for (const std::uint16_t id : ids) {
        const std::uint8_t palette = composition ? FindObjectPalette(*composition, id) : kNoPalette;
        if (palette == kNoPalette) continue;  // no picture was extracted
        std::optional<SObjectBitmap> decoded = DecodeObjectBitmap(ds, id, palette);
        if (!decoded) continue;
        const auto key = std::make_tuple(id, decoded->bitmap.width, decoded->bitmap.height, PixelHash(decoded->bitmap));
        SMember member{e, d, &ds, palette, ds_folder, rel_folder};
        std::vector<std::size_t>& candidates = by_key[key];
        const auto same = std::find_if(candidates.begin(), candidates.end(),
                                       [&](std::size_t g) { return groups[g].original == decoded->bitmap; });
        if (same != candidates.end()) {
          groups[*same].members.push_back(member);
          continue;
        }
        candidates.push_back(groups.size());
        groups.push_back({id, std::move(decoded->bitmap), {member}});
      }
    }
  }
  return groups;
}

// The picture files of a member that count as edits (GIF and PNG), with the warnings for entries that
// are skipped.
std::vector<std::pair<fs::path, std::string>> EditedFiles(const SMember& m, std::uint16_t id, const CEditRule& rule,
                                                          Messenger& messenger, SEditReport& report) {
  std::vector<std::pair<fs::path, std::string>> out;
  for (const ImageFormat format : {ImageFormat::kGif, ImageFormat::kPng}) {
    const fs::path path = ImageFileName(m.folder, id, format);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status)) continue;
    if (fs::is_symlink(status)) {
      messenger.show(MessageKind::kWarning, format_message(kMsgSkippedLink, path.string()));
      continue;
    }
    if (!fs::is_regular_file(status)) {
      messenger.show(MessageKind::kWarning, format_message(kMsgSkippedFolder, path.string()));
      continue;
    }
    const std::string rel = m.rel_folder + "/" + path.filename().string();
    report.seen.insert(rel);
    // An animation is told of even when its first frame is unchanged: the edit may be in another.
    std::string error;
    if (const std::optional<Bytes> bytes = read_whole_file(path, &error)) {
      if (const int frames = CountGifFrames(*bytes); frames > 1)
        messenger.show(MessageKind::kWarning, format_message(kMsgAnimatedGif, path.string(), frames));
    }
    if (rule.Edited(path, rel)) out.emplace_back(path, rel);
  }
  return out;
}

// Imports every edited picture of the copies; the edits that change the object (an unchanged re-save is
// none). false after a reported failure.
bool ImportCopies(const SCopies& copies, const CEditRule& rule, Messenger& messenger, SEditReport& report,
                  std::vector<SEdit>& edits) {
  for (std::size_t i = 0; i < copies.members.size(); ++i) {
    const SMember& m = copies.members[i];
    for (auto& [path, rel] : EditedFiles(m, copies.id, rule, messenger, report)) {
      SEdit edit{i, path, rel, *m.ds, {}};
      if (!ImportButtonImage(edit.imported, copies.id, path, messenger, rule.import())) return false;
      std::optional<SObjectBitmap> decoded = DecodeObjectBitmap(edit.imported, copies.id, m.palette);
      if (!decoded || decoded->bitmap == copies.original) continue;
      edit.bitmap = std::move(decoded->bitmap);
      edits.push_back(std::move(edit));
    }
  }
  return true;
}

std::vector<COds> ObjectSegments(const CDsData& ds, std::uint16_t id) {
  std::vector<COds> out;
  for (const COds& ods : ds.OdsArray)
    if (ods.ObjectId == id) out.push_back(ods);
  return out;
}

// Puts the one edit of the copies into every member: its own display set as the import left it, the
// others get its object segments, and where the picture changed size their buttons move as the anchor
// places them (planned for every member before any changes). false after a reported refusal.
bool ApplyEdit(SCopies& copies, std::vector<SEdit>& edits, ButtonAnchor anchor, Messenger& messenger) {
  const SEdit& first = edits.front();
  const std::vector<COds> segments = ObjectSegments(first.imported, copies.id);
  const bool resized = first.bitmap.width != copies.original.width || first.bitmap.height != copies.original.height;
  std::vector<bool> done(copies.members.size(), false);
  for (const SEdit& e : edits) done[e.member] = true;
  std::vector<SResizePlan> plans(copies.members.size());
  for (std::size_t i = 0; i < copies.members.size() && resized; ++i) {
    if (done[i]) continue;
    plans[i] = PlanResize(*copies.members[i].ds, copies.id, first.bitmap.width, first.bitmap.height, anchor,
                          first.path.string());
    if (!plans[i].ok) {
      messenger.show(MessageKind::kError, plans[i].refusal);
      return false;
    }
  }
  for (std::size_t i = 0; i < copies.members.size(); ++i) {
    if (done[i] || !resized) continue;
    std::string why;
    if (!ApplyMoves(*copies.members[i].ds, plans[i].moves, &why)) {
      messenger.show(MessageKind::kError, fmt::format("{}: {}", first.path.string(), why));
      return false;
    }
  }
  std::fill(done.begin(), done.end(), false);
  for (SEdit& e : edits) {
    if (done[e.member]) continue;
    *copies.members[e.member].ds = std::move(e.imported);
    done[e.member] = true;
  }
  for (std::size_t i = 0; i < copies.members.size(); ++i)
    if (!done[i]) ReplaceObjectSegments(*copies.members[i].ds, copies.id, segments);
  return true;
}

std::string EditLine(const SCopies& copies, const std::vector<SEdit>& edits) {
  const std::string& rel = edits.front().rel;
  std::string line = edits.size() == 1 ? format_message(kMsgEditOne, rel)
                                       : format_message(kMsgEdits, rel, static_cast<int>(edits.size()));
  if (copies.members.size() > 1) {
    std::vector<std::pair<int, int>> sets;
    for (const SMember& m : copies.members) sets.emplace_back(m.epoch, m.ds_number);
    line += format_message(kMsgEditCopies, static_cast<int>(copies.members.size()), DisplaySetList(sets));
  }
  return line;
}

}  // namespace

bool ImportStreamEdits(CGsData& stream, const SOutputNames& names, const fs::path& image_folder,
                       const std::string& stream_rel, const CEditRule& rule, bool& changed, Messenger& messenger,
                       SEditReport& report) {
  const fs::path stream_folder = image_folder / stream_rel;
  std::vector<SCopies> groups = CollectCopies(stream, names, stream_folder, stream_rel);
  for (SCopies& copies : groups) {
    std::vector<SEdit> edits;
    if (!ImportCopies(copies, rule, messenger, report, edits)) return false;
    if (edits.empty()) continue;
    for (const SEdit& e : edits) {
      if (e.bitmap == edits.front().bitmap) continue;
      messenger.show(MessageKind::kError,
                     format_message(kMsgEditsDiffer, edits.front().path.string(), e.path.string(), copies.id,
                                    copies.original.width, copies.original.height));
      return false;
    }
    report.lines.push_back(EditLine(copies, edits));
    if (!ApplyEdit(copies, edits, rule.import().anchor, messenger)) return false;
    report.pictures += static_cast<int>(edits.size());
    report.objects += static_cast<int>(copies.members.size());
    changed = true;
  }
  return true;
}

bool HasEditedPicture(const fs::path& image_folder, const std::string& clip_rel, const CEditRule& rule) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(image_folder / clip_rel, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (!it->is_regular_file(fec) || it->is_symlink(fec) || !IsPictureName(it->path())) continue;
    if (rule.Edited(it->path(), it->path().lexically_relative(image_folder).generic_string())) return true;
  }
  return false;
}

bool HasTouchedPicture(const fs::path& image_folder, const std::string& clip_rel, const CEditRule& rule) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(image_folder / clip_rel, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (it->is_regular_file(fec) && !it->is_symlink(fec) && IsPictureName(it->path()) && rule.Touched(it->path()))
      return true;
  }
  return false;
}

bool CheckEditsFoundTheirObjects(const fs::path& image_folder, const CEditRule& rule, const SEditReport& report,
                                 Messenger& messenger) {
  std::vector<std::string> lost;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(image_folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (it->is_symlink(fec) || !it->is_regular_file(fec) || !IsObjectPictureName(it->path())) continue;
    const std::string rel = it->path().lexically_relative(image_folder).generic_string();
    if (report.seen.count(rel) == 0 && rule.Edited(it->path(), rel)) lost.push_back(it->path().string());
  }
  if (lost.empty()) return true;
  std::sort(lost.begin(), lost.end());
  std::string names;
  constexpr std::size_t kShown = 5;
  for (std::size_t i = 0; i < lost.size() && i < kShown; ++i) names += (i ? "\r\n" : "") + lost[i];
  if (lost.size() > kShown) names += fmt::format("\r\n(+{})", lost.size() - kShown);
  messenger.show(MessageKind::kError, format_message(kMsgEditNoObject, names));
  return false;
}

int CountEditedPictures(const SOutputNames& names, const fs::path& work) {
  struct : Messenger {
    void show(MessageKind, std::string_view) override {}
    Answer ask(std::string_view) override { return Answer::kNo; }
  } quiet;
  CEditRule rule;
  if (!rule.Load(names, work, quiet)) rule.SetMarkerTime(FileTimeNs(names.marker_path(work)));
  const fs::path images = names.image_folder(work);
  int edited = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(images, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    // Only the pictures of objects ("0004.gif"): other files the user left are no edits of the menu.
    if (!it->is_regular_file(fec) || !IsObjectPictureName(it->path())) continue;
    if (rule.Edited(it->path(), it->path().lexically_relative(images).generic_string())) ++edited;
  }
  return edited;
}

}  // namespace veld
