// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/bd_disc.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/disc/paths.h"

namespace veld {

namespace fs = std::filesystem;

namespace {

const CCofObject* g_current_clips = nullptr;

// 5071 with the path, followed by what the parser found wrong (element and offset).
std::string parse_error_text(const fs::path& path, const std::string& reason) {
  std::string text = format_message(kMsgParseError, path.string());
  if (!reason.empty()) text += "\n" + reason;
  return text;
}

void show_parse_error(Messenger& messenger, const fs::path& path, const std::string& reason) {
  messenger.show(MessageKind::kError, parse_error_text(path, reason));
}

// Reads a file whole and hands it to parse(bytes, &reason, &unread), which is true when the file parsed.
// On false, *problem says why the file cannot be used: the system's text or the parse error.
template <typename Parse>
bool read_and_parse(const fs::path& path, Parse& parse, std::string* problem, CUnreadBytes* unread) {
  std::string error;
  unread->clear();
  const auto bytes = read_whole_file(path, &error);
  if (!bytes) {
    *problem = error;
    return false;
  }
  if (!parse(ByteSpan(*bytes), &error, unread)) {
    *problem = parse_error_text(path, error);
    return false;
  }
  return true;
}

// A block of a file that holds more than its content: a warning naming the file, the block and where the
// bytes that were not read start.
void show_unread(Messenger& messenger, const fs::path& path, const CUnreadBytes& unread) {
  for (const SUnreadBytes& u : unread)
    messenger.show(MessageKind::kWarning, format_message(kMsgBytesUnread, path.string(), u.element, u.offset, u.count));
}

// Reads and parses a disc file; when it cannot be read or does not parse, its copy in BACKUP is used
// instead, as players do, and a warning says so in one line. Returns the path that was used, or nothing
// after an error that says why the file (and its copy, when there is one) cannot be used.
template <typename Parse>
std::optional<fs::path> read_with_backup(const fs::path& path, const std::optional<fs::path>& backup,
                                         Messenger& messenger, Parse parse) {
  std::string problem;
  CUnreadBytes unread;
  if (read_and_parse(path, parse, &problem, &unread)) {
    show_unread(messenger, path, unread);
    return path;
  }
  std::error_code ec;
  if (backup && fs::exists(*backup, ec)) {
    std::string backup_problem;
    if (read_and_parse(*backup, parse, &backup_problem, &unread)) {
      messenger.show(MessageKind::kWarning, format_message(kMsgUsingBackup, path.string(), backup->string()));
      show_unread(messenger, *backup, unread);
      return *backup;
    }
    problem += "\n" + backup_problem;
  }
  messenger.show(MessageKind::kError, problem);
  return std::nullopt;
}

bool is_playlist_file_name(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext != ".mpls") return false;
  const std::string title = p.stem().string();
  return title.size() == 5 &&
         std::all_of(title.begin(), title.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The path with exactly one trailing separator.
fs::path with_trailing_separator(const fs::path& p) {
  fs::path out = p.lexically_normal();
  if (!out.has_filename()) return out;
  return out / "";
}

}  // namespace

const CCofObject* current_clips_folder() { return g_current_clips; }

CBDDisc::~CBDDisc() { clear(); }

void CBDDisc::clear() {
  if (clips_ && g_current_clips == clips_.get()) g_current_clips = nullptr;
  index_.reset();
  movie_objects_.reset();
  playlists_.reset();
  clips_.reset();
}

const SRipTracks* CBDDisc::clip_tracks(int clip_id) const {
  const CClpiObject* clip = clips_ ? clips_->find(clip_id) : nullptr;
  return clip ? &clip->rip_tracks : nullptr;
}

SRipTracks* CBDDisc::clip_tracks(int clip_id) {
  CClpiObject* clip = clips_ ? clips_->find(clip_id) : nullptr;
  return clip ? &clip->rip_tracks : nullptr;
}

bool CBDDisc::open(const fs::path& folder, Messenger& messenger) {
  folder_ = with_trailing_separator(folder);
  clear();
  if (folder_.empty()) {
    // No folder names no file: report it as the index file that cannot be found.
    const fs::path index = fmt::format("{}.{}", bdmv_names::kIndex, bdmv_names::kExtBdmv);
    messenger.show(MessageKind::kError, system_error_text(index, ENOENT));
    return false;
  }
  if (!load_navigation(messenger)) return false;
  if (!load_playlists(messenger)) return false;
  if (!load_clips(messenger)) return false;
  g_current_clips = clips_.get();
  return true;
}

namespace {

// Reads a navigation file (or its backup copy) whole and parses it into a new object named after the
// file (with its extension); the object remembers the path that was read.
template <typename Object>
std::unique_ptr<Object> load_navigation_file(const fs::path& path, const std::optional<fs::path>& backup,
                                             Messenger& messenger) {
  auto object = std::make_unique<Object>();
  const auto used = read_with_backup(path, backup, messenger,
                                     [&](ByteSpan bytes, std::string* error, CUnreadBytes* unread) {
                                       return object->parse(bytes, error, unread) > 0;
                                     });
  if (!used) return nullptr;
  object->name = path.filename().string();
  object->path = *used;
  return object;
}

}  // namespace

bool CBDDisc::load_navigation(Messenger& messenger) {
  index_ = load_navigation_file<CIndexObject>(*index_file_path(folder_), backup_index_file_path(folder_),
                                              messenger);
  if (!index_) return false;
  movie_objects_ = load_navigation_file<CMoObject>(*movie_object_file_path(folder_),
                                                   backup_movie_object_file_path(folder_), messenger);
  return movie_objects_ != nullptr;
}

bool CBDDisc::load_playlists(Messenger& messenger) {
  if (!playlists_) playlists_ = std::make_unique<CPofObject>();
  std::vector<fs::path> found;
  if (auto dir = playlist_folder(folder_)) {
    std::error_code ec;
    for (fs::directory_iterator it(*dir, ec), end; !ec && it != end; it.increment(ec))
      if (is_playlist_file_name(it->path())) found.push_back(it->path());
  }
  if (found.empty()) {
    messenger.show(MessageKind::kError, format_message(kMsgNoPlaylist));
    return false;
  }
  std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
    return a.string() < b.string();
  });
  const fs::path backup_folder = *backup_playlist_folder(folder_);
  for (const fs::path& path : found) {
    CMplsObject& playlist = playlists_->add();
    playlist.name = path.stem().string();
    const auto used = read_with_backup(path, backup_folder / path.filename(), messenger,
                                       [&](ByteSpan bytes, std::string* error, CUnreadBytes* unread) {
                                         return playlist.parse(bytes, error, unread) > 0;
                                       });
    if (!used) return false;
    playlist.path = *used;
    playlist.id = leading_number(playlist.name);
    if (!playlist.data.PlayItems.empty()) playlist.build_tracks();
  }
  return true;
}

bool collect_clip_numbers(const CPofObject& playlists, std::vector<int>& numbers, const CMplsObject** bad) {
  numbers.clear();
  auto add = [&](const std::string& clip_name) {
    const int n = leading_number(clip_name);
    if (n < 0) return false;
    if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) numbers.push_back(n);
    return true;
  };
  for (std::size_t i = 0; i < playlists.size(); ++i) {
    const CMplsObject& p = playlists[i];
    bool ok = true;
    for (const auto& item : p.data.PlayItems) ok = ok && add(item.ClipInformationFileName);
    for (const auto& path : p.data.SubPaths)
      for (const auto& sub : path.SubPlayItems) ok = ok && add(sub.ClipInformationFileName);
    if (!ok) {
      if (bad) *bad = &p;
      return false;
    }
  }
  std::sort(numbers.begin(), numbers.end());
  return true;
}

bool CBDDisc::load_clips(Messenger& messenger) {
  std::vector<int> numbers;
  const CMplsObject* bad = nullptr;
  if (!collect_clip_numbers(*playlists_, numbers, &bad)) {
    show_parse_error(messenger, bad->path, "a clip name is not a five-digit clip number");
    return false;
  }
  if (!clips_) clips_ = std::make_unique<CCofObject>();
  if (numbers.empty()) {
    messenger.show(MessageKind::kError, format_message(kMsgNoClipInfo));
    return false;
  }
  for (int number : numbers) {
    const fs::path info_path = *clip_info_path(folder_, number);
    CClpiObject& clip = clips_->add_clip();
    clip.id = number;
    clip.name = info_path.stem().string();
    const auto used = read_with_backup(info_path, backup_clip_info_path(folder_, number), messenger,
                                       [&](ByteSpan bytes, std::string* error, CUnreadBytes* unread) {
                                         return clip.parse(bytes, error, unread) >= 1;
                                       });
    if (!used) return false;
    clip.clpi_path = *used;
    const fs::path stream = *clip_stream_path(folder_, number);
    File probe;
    std::error_code ec;
    if (!probe.open(stream, File::Mode::kRead) || !fs::is_regular_file(stream, ec)) {
      std::string text = format_message(kMsgNoClipStream, stream.string());
      if (!probe.error().empty()) text += "\n" + probe.error();
      messenger.show(MessageKind::kError, text);
      return false;
    }
    probe.close();
    clip.stream_path = stream;  // the clip built its track list when it parsed
  }
  return true;
}

}  // namespace veld
