// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/undo.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <system_error>

#include "veld/base/file.h"
#include "veld/base/path_line.h"
#include "veld/base/messages.h"
#include "veld/base/messages_undo.h"
#include "veld/base/result.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kListHead = "VELD undo 1";

// A decimal or octal number that ends at the next space; the text after it in *rest.
std::optional<std::uint64_t> number(std::string_view s, int base, std::string_view* rest) {
  const std::size_t sp = s.find(' ');
  if (sp == 0 || sp == std::string_view::npos || sp > 20) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s.substr(0, sp)) {
    if (c < '0' || c >= '0' + base) return std::nullopt;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(c - '0');
  }
  *rest = s.substr(sp + 1);
  return v;
}

void sync_path(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

fs::path UndoFolder(const fs::path& work) { return work / "Undo"; }
fs::path UndoEntryPartName(const fs::path& entry) { return fs::path(entry.string() + ".partial"); }
fs::path UndoSavedFile(const fs::path& entry, std::size_t index) { return entry / fmt::format("{:04d}", index); }

fs::path NewUndoEntryName(const fs::path& folder) {
  using namespace std::chrono;
  auto now = time_point_cast<milliseconds>(system_clock::now());
  for (;; now += milliseconds(1)) {
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm {};
    ::gmtime_r(&t, &tm);
    const auto ms = (now.time_since_epoch() % seconds(1)).count();
    const fs::path entry = folder / fmt::format("{:04d}{:02d}{:02d}-{:02d}{:02d}{:02d}-{:03d}", tm.tm_year + 1900,
                                                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(entry, ec)) && !fs::exists(fs::symlink_status(UndoEntryPartName(entry), ec)))
      return entry;
  }
}

void DropUndoEntry(const fs::path& entry) {
  std::error_code ec;
  const fs::path used(entry.string() + ".used");
  fs::remove_all(used, ec);
  fs::rename(entry, used, ec);
  fs::remove_all(used, ec);
  fs::remove_all(entry, ec);  // when it could not be renamed
  sync_path(entry.parent_path());
}

std::vector<fs::path> ListUndoEntries(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find('.') != std::string::npos || !it->is_directory(ec)) continue;
    out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string UndoListText(const SUndoList& list) {
  std::string out(kListHead);
  out += "\nbdmv " + EscapePathLine(list.bdmv) + "\n";
  for (const auto& s : list.saved) out += fmt::format("file {} {:o} {}\n", s.size, s.mode, EscapePathLine(s.target));
  for (const fs::path& p : list.added) out += "added " + EscapePathLine(p) + "\n";
  for (const fs::path& p : list.folders) out += "folder " + EscapePathLine(p) + "\n";
  out += "end\n";
  return out;
}

std::optional<SUndoList> ReadUndoListText(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) return std::nullopt;
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  if (lines.size() < 3 || lines.front() != kListHead || lines.back() != "end") return std::nullopt;
  if (lines[1].substr(0, 5) != "bdmv ") return std::nullopt;
  SUndoList list;
  const auto bdmv = UnescapePathLine(lines[1].substr(5));
  if (!bdmv) return std::nullopt;
  list.bdmv = *bdmv;
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.substr(0, 5) == "file ") {
      std::string_view rest;
      const auto size = number(line.substr(5), 10, &rest);
      const auto mode = size ? number(rest, 8, &rest) : std::nullopt;
      const auto target = mode ? UnescapePathLine(rest) : std::nullopt;
      if (!target || *mode > 07777) return std::nullopt;
      list.saved.push_back({*target, *size, static_cast<std::uint32_t>(*mode)});
    } else if (line.substr(0, 6) == "added " || line.substr(0, 7) == "folder ") {
      const bool added = line[0] == 'a';
      const auto p = UnescapePathLine(line.substr(added ? 6 : 7));
      if (!p) return std::nullopt;
      (added ? list.added : list.folders).push_back(*p);
    } else {
      return std::nullopt;
    }
  }
  return list;
}

bool KeepReplacedFiles(const SCopyBackJournal& journal, std::string* error) {
  const fs::path part = UndoEntryPartName(journal.keep);
  std::error_code ec;
  const auto fail = [&](const fs::path& file, int err) {
    if (error) *error = system_error_text(file, err);
    fs::remove_all(part, ec);
    return false;
  };
  fs::create_directories(journal.keep.parent_path(), ec);
  if (ec) return fail(journal.keep.parent_path(), ec.value());
  fs::remove_all(part, ec);
  if (::mkdir(part.c_str(), 0755) != 0) return fail(part, errno);
  SUndoList list;
  list.bdmv = journal.bdmv;
  list.folders = journal.folders;
  for (const auto& item : journal.items) {
    if (item.remove) continue;
    if (!item.existed) {
      list.added.push_back(item.target);
      continue;
    }
    struct stat st {};
    if (::lstat(item.target.c_str(), &st) != 0) return fail(item.target, errno);
    if (!S_ISREG(st.st_mode)) return fail(item.target, EINVAL);
    const fs::path saved = UndoSavedFile(part, list.saved.size());
    if (::link(item.target.c_str(), saved.c_str()) != 0) {
      // Another file system (or one without hard links): a copy of its own, in the same mode.
      if (const int err = CopyFileFlushed(item.target, saved)) return fail(saved, err);
      if (::chmod(saved.c_str(), st.st_mode & 07777) != 0) return fail(saved, errno);
    }
    list.saved.push_back({item.target, static_cast<std::uint64_t>(st.st_size), static_cast<std::uint32_t>(st.st_mode & 07777)});
  }
  const std::string text = UndoListText(list);
  File f;
  if (!f.open(part / "list", File::Mode::kCreate) || !f.write(text.data(), text.size()) || !f.sync()) {
    const std::string why = f.error();
    f.close();
    fs::remove_all(part, ec);
    if (error) *error = why;
    return false;
  }
  f.close();
  sync_path(part);
  if (::rename(part.c_str(), journal.keep.c_str()) != 0) return fail(journal.keep, errno);
  sync_path(journal.keep.parent_path());
  return true;
}

namespace {

// Reads the list of an entry and checks that every saved file is there with its size; the reason in *why.
std::optional<SUndoList> ReadEntry(const fs::path& entry, std::string* why) {
  std::string error;
  const std::optional<Bytes> bytes = read_whole_file(entry / "list", &error);
  if (!bytes) {
    *why = error;
    return std::nullopt;
  }
  auto list = ReadUndoListText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!list) {
    *why = (entry / "list").string();
    return std::nullopt;
  }
  for (std::size_t i = 0; i < list->saved.size(); ++i) {
    const fs::path saved = UndoSavedFile(entry, i);
    struct stat st {};
    if (::lstat(saved.c_str(), &st) != 0) {
      *why = system_error_text(saved, errno);
      return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != list->saved[i].size) {
      *why = fmt::format("{}: {} bytes, {} expected", saved.string(), st.st_size, list->saved[i].size);
      return std::nullopt;
    }
  }
  return list;
}

}  // namespace

SUndoOutcome UndoLastCopyBack(const fs::path& work, Messenger& messenger) {
  SUndoOutcome out;
  const fs::path folder = UndoFolder(work);
  std::error_code ec;
  // What an interrupted run left: entries half made or half dropped.
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(".partial") || name.ends_with(".used")) fs::remove_all(it->path(), ec);
  }
  const std::vector<fs::path> entries = ListUndoEntries(folder);
  if (entries.empty()) {
    messenger.show(MessageKind::kInfo, format_message(kMsgNothingToUndo, work.string()));
    return out;
  }
  const fs::path entry = entries.back();
  std::string why;
  const std::optional<SUndoList> list = ReadEntry(entry, &why);
  if (!list) {
    messenger.show(MessageKind::kError, format_message(kMsgUndoDamaged, entry.string(), why));
    out.result = kResultFailed;
    return out;
  }
  const std::string when = entry.filename().string();
  if (messenger.ask(format_message(kMsgAskUndo, list->bdmv.string(), static_cast<int>(list->saved.size()), when,
                                   static_cast<int>(list->added.size()))) != Answer::kYes) {
    out.result = kResultCancelled;
    return out;
  }
  std::vector<SCopyItem> plan;
  for (std::size_t i = 0; i < list->saved.size(); ++i)
    plan.push_back({UndoSavedFile(entry, i), list->saved[i].target, true, false, list->saved[i].mode});
  for (const fs::path& p : list->added) plan.push_back({fs::path(), p, false, true, std::nullopt});
  SCopyBackJournal journal;
  journal.bdmv = list->bdmv;
  journal.consume = entry;
  journal.drop_folders = list->folders;
  if (CommitFiles(plan, journal, CopyBackJournalPath(work), messenger) != kResultOk) {
    messenger.show(MessageKind::kError, message_text(kMsgUndoFailed));
    out.result = kResultFailed;
    return out;
  }
  std::string text = format_message(kMsgUndoDone, when, list->bdmv.string());
  for (const auto& s : list->saved) text += "\n  " + format_message(kMsgUndoRestored, s.target.string());
  for (const fs::path& p : list->added) text += "\n  " + format_message(kMsgUndoRemoved, p.string());
  messenger.show(MessageKind::kInfo, text);
  out.entry = entry;
  out.list = *list;
  return out;
}

}  // namespace veld
