// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/copy_back.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>

#include "veld/base/file.h"
#include "veld/base/path_line.h"
#include "veld/base/messages.h"
#include "veld/base/messages_undo.h"
#include "veld/base/result.h"
#include "veld/pipeline/undo.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// The nearest folder of path that exists (the target folders may still have to be made).
fs::path existing_folder(fs::path p) {
  std::error_code ec;
  while (!p.empty() && !fs::is_directory(p, ec)) {
    const fs::path parent = p.parent_path();
    if (parent == p) break;
    p = parent;
  }
  return p;
}

std::optional<dev_t> device_of(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return st.st_dev;
}

fs::path staged_name(const fs::path& target, std::string_view suffix) {
  return target.parent_path() / ("." + target.filename().string() + std::string(suffix));
}

std::string human_size(std::uint64_t bytes) {
  if (bytes >= (1ull << 30)) return fmt::format("{:.1f} GiB", static_cast<double>(bytes) / (1ull << 30));
  if (bytes >= (1ull << 20)) return fmt::format("{:.1f} MiB", static_cast<double>(bytes) / (1ull << 20));
  return fmt::format("{} bytes", bytes);
}

}  // namespace

int CopyFileFlushed(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    return err;
  }
  int err = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
    if (n > 0) continue;
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
      err = errno;
      break;
    }
    // No kernel copy between these file systems: plain reads and writes from where it stopped.
    std::vector<char> buffer(8u << 20);
    for (;;) {
      const ssize_t r = ::read(in, buffer.data(), buffer.size());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) err = errno;
      if (r <= 0) break;
      for (ssize_t done = 0; done < r;) {
        const ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(r - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
          err = errno;
          break;
        }
        done += w;
      }
      if (err) break;
    }
    break;
  }
  if (!err && ::fsync(out) != 0) err = errno;
  if (::close(out) != 0 && !err) err = errno;
  ::close(in);
  return err;
}

namespace {

void sync_folder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::vector<SCopyItem> CopyBackPlan(const SReplacedFiles& files, const fs::path& bdmv) {
  std::vector<SCopyItem> plan;
  const auto name = [](int number, std::string_view ext) { return fmt::format("{:05d}.{}", number, ext); };
  for (const SReplacedFile& f : files.clip_streams) plan.push_back({f.path, bdmv / "STREAM" / name(f.number, "m2ts"), true});
  for (const SReplacedFile& f : files.clip_infos) {
    plan.push_back({f.path, bdmv / "CLIPINF" / name(f.number, "clpi")});
    plan.push_back({f.path, bdmv / "BACKUP" / "CLIPINF" / name(f.number, "clpi")});
  }
  for (const SReplacedFile& f : files.playlists) {
    plan.push_back({f.path, bdmv / "PLAYLIST" / name(f.number, "mpls")});
    plan.push_back({f.path, bdmv / "BACKUP" / "PLAYLIST" / name(f.number, "mpls")});
  }
  return plan;
}

std::vector<SRoomNeed> CopyBackRoom(const std::vector<SCopyItem>& plan) {
  std::map<dev_t, SRoomNeed> by_device;
  for (const SCopyItem& item : plan) {
    const fs::path folder = existing_folder(item.to.parent_path());
    const std::optional<dev_t> target = device_of(folder);
    if (!target) continue;
    SRoomNeed& need = by_device[*target];
    if (need.folder.empty()) {
      need.folder = folder;
      struct statvfs vfs {};
      if (::statvfs(folder.c_str(), &vfs) == 0) need.free = std::uint64_t{vfs.f_bavail} * vfs.f_frsize;
    }
    const std::optional<dev_t> source = device_of(item.from);
    if (item.link && source && *source == *target) continue;  // hard-linked: no room needed
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(item.from, ec);
    if (!ec) need.needed += size;
  }
  std::vector<SRoomNeed> out;
  for (auto& [dev, need] : by_device) out.push_back(need);
  return out;
}

// ---- the journal ---------------------------------------------------------------------------------------

namespace {

constexpr std::string_view kJournalHead = "VELD copy-back journal 1";

}  // namespace

fs::path CopyBackJournalPath(const fs::path& work) { return work / "CopyBack.journal"; }

fs::path StagedNewFile(const fs::path& target) { return staged_name(target, ".veld-new"); }
fs::path KeptOldFile(const fs::path& target) { return staged_name(target, ".veld-old"); }

std::string CopyBackJournalText(const SCopyBackJournal& j) {
  std::string out(kJournalHead);
  out += "\nstate ";
  out += j.state == SCopyBackJournal::State::kStaging ? "staging" : "renaming";
  out += "\nbdmv " + EscapePathLine(j.bdmv) + "\n";
  for (const fs::path& f : j.folders) out += "folder " + EscapePathLine(f) + "\n";
  for (const auto& item : j.items)
    out += fmt::format("{} {} {}\n", item.remove ? "gone" : "file", item.existed ? 1 : 0, EscapePathLine(item.target));
  if (!j.keep.empty()) out += "keep " + EscapePathLine(j.keep) + "\n";
  if (!j.consume.empty()) out += "consume " + EscapePathLine(j.consume) + "\n";
  for (const fs::path& f : j.drop_folders) out += "drop " + EscapePathLine(f) + "\n";
  out += "end\n";
  return out;
}

std::optional<SCopyBackJournal> ReadCopyBackJournalText(std::string_view text) {
  SCopyBackJournal j;
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) return std::nullopt;  // every line ends, the last one too
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  if (lines.size() < 4 || lines.front() != kJournalHead || lines.back() != "end") return std::nullopt;
  if (lines[1] == "state staging") j.state = SCopyBackJournal::State::kStaging;
  else if (lines[1] == "state renaming") j.state = SCopyBackJournal::State::kRenaming;
  else return std::nullopt;
  if (lines[2].substr(0, 5) != "bdmv ") return std::nullopt;
  const auto bdmv = UnescapePathLine(lines[2].substr(5));
  if (!bdmv) return std::nullopt;
  j.bdmv = *bdmv;
  for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.substr(0, 7) == "folder ") {
      const auto f = UnescapePathLine(line.substr(7));
      if (!f) return std::nullopt;
      j.folders.push_back(*f);
    } else if ((line.substr(0, 5) == "file " || line.substr(0, 5) == "gone ") && line.size() > 7 &&
               (line[5] == '0' || line[5] == '1') && line[6] == ' ') {
      const auto t = UnescapePathLine(line.substr(7));
      if (!t) return std::nullopt;
      j.items.push_back({*t, line[5] == '1', line[0] == 'g'});
    } else if (line.substr(0, 5) == "keep " || line.substr(0, 8) == "consume ") {
      const bool keep = line[0] == 'k';
      const auto f = UnescapePathLine(line.substr(keep ? 5 : 8));
      if (!f || !(keep ? j.keep : j.consume).empty()) return std::nullopt;
      (keep ? j.keep : j.consume) = *f;
    } else if (line.substr(0, 5) == "drop ") {
      const auto f = UnescapePathLine(line.substr(5));
      if (!f) return std::nullopt;
      j.drop_folders.push_back(*f);
    } else {
      return std::nullopt;
    }
  }
  return j;
}

bool WriteCopyBackJournal(const fs::path& path, const SCopyBackJournal& journal, std::string* error) {
  const fs::path tmp = fs::path(path.string() + ".tmp");
  const std::string text = CopyBackJournalText(journal);
  File f;
  if (!f.open(tmp, File::Mode::kCreate) || !f.write(text.data(), text.size()) || !f.sync()) {
    if (error) *error = f.error();
    f.close();
    std::error_code ec;
    fs::remove(tmp, ec);
    return false;
  }
  f.close();
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    std::error_code ec;
    fs::remove(tmp, ec);
    if (error) *error = system_error_text(path, err);
    return false;
  }
  sync_folder(path.parent_path());
  return true;
}

namespace {

// Puts the BDMV folder back as the journal found it: every target whose new file was renamed in gets its
// old file back (or goes, when it did not exist), every staged or kept file goes, then the folders the
// copy-back made (when empty). When the copy-back was still staging, no target was replaced. false with
// the reason in *error when an old file cannot be restored.
bool UndoCopyBack(const SCopyBackJournal& j, bool staging, std::string* error) {
  bool ok = true;
  std::error_code ec;
  for (auto it = j.items.rbegin(); it != j.items.rend(); ++it) {
    const fs::path staged = StagedNewFile(it->target);
    const fs::path old = KeptOldFile(it->target);
    if (it->remove) {
      // A target that goes is renamed aside in one step: if it is aside and not back, it comes back.
      const bool aside = fs::exists(fs::symlink_status(old, ec));
      if (aside && !fs::exists(fs::symlink_status(it->target, ec)) && ::rename(old.c_str(), it->target.c_str()) != 0) {
        if (error) *error = system_error_text(it->target, errno);
        ok = false;
      } else if (aside) {
        fs::remove(old, ec);
      }
      continue;
    }
    const bool replaced = !staging && !fs::exists(fs::symlink_status(staged, ec));
    const bool has_old = fs::exists(fs::symlink_status(old, ec));
    const bool has_target = fs::exists(fs::symlink_status(it->target, ec));
    if (replaced || (has_old && !has_target)) {
      // The target holds the new file (or, between two steps, nothing): the old one comes back.
      if (has_old) {
        if (::rename(old.c_str(), it->target.c_str()) != 0) {
          if (error) *error = system_error_text(it->target, errno);
          ok = false;
        }
      } else if (it->existed && has_target) {
        if (error) *error = system_error_text(old, ENOENT);
        ok = false;
      } else if (!it->existed) {
        fs::remove(it->target, ec);
      }
    } else if (has_old) {
      fs::remove(old, ec);  // a second name of the target, which was not replaced
    }
    fs::remove(staged, ec);
  }
  for (auto it = j.folders.rbegin(); it != j.folders.rend(); ++it) fs::remove(*it, ec);  // only when empty
  if (ok && !j.keep.empty()) {
    // The originals kept for an undo of this copy-back are not needed: it did not happen.
    fs::remove_all(UndoEntryPartName(j.keep), ec);
    fs::remove_all(j.keep, ec);
  }
  return ok;
}

// Renames every staged file that is still there over its target, keeping the old file aside until all are
// in place, then removes the old files. false with the reason in *error at the first rename that fails.
bool FinishCopyBack(const SCopyBackJournal& j, std::string* error, fs::path* failed = nullptr, int* failed_err = nullptr) {
  const auto report = [&](const fs::path& target) {
    const int err = errno;
    if (failed) *failed = target;
    if (failed_err) *failed_err = err;
    if (error) *error = system_error_text(target, err);
    return false;
  };
  std::error_code ec;
  for (const auto& item : j.items) {
    const fs::path staged = StagedNewFile(item.target);
    const fs::path old = KeptOldFile(item.target);
    if (item.remove) {
      if (fs::exists(fs::symlink_status(item.target, ec)) && ::rename(item.target.c_str(), old.c_str()) != 0)
        return report(item.target);
      continue;
    }
    if (!fs::exists(fs::symlink_status(staged, ec))) continue;  // already in place
    if (fs::exists(fs::symlink_status(item.target, ec)) && !fs::exists(fs::symlink_status(old, ec)) &&
        ::link(item.target.c_str(), old.c_str()) != 0 && ::rename(item.target.c_str(), old.c_str()) != 0)
      return report(item.target);
    if (::rename(staged.c_str(), item.target.c_str()) != 0) return report(item.target);
  }
  for (const auto& item : j.items) fs::remove(KeptOldFile(item.target), ec);
  for (auto it = j.drop_folders.rbegin(); it != j.drop_folders.rend(); ++it) fs::remove(*it, ec);  // when empty
  if (!j.consume.empty()) DropUndoEntry(j.consume);
  std::vector<fs::path> folders;
  for (const auto& item : j.items) {
    const fs::path folder = item.target.parent_path();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  for (const fs::path& folder : folders) sync_folder(folder);
  return true;
}

}  // namespace

namespace {

// Stages the new file of an item beside its target, in the target's mode (or the item's). 0 or the errno.
int StageItem(const SCopyItem& item) {
  const fs::path tmp = StagedNewFile(item.to);
  std::error_code ec;
  fs::remove(tmp, ec);  // a leftover of an interrupted run
  int err = 0;
  if (!item.link || ::link(item.from.c_str(), tmp.c_str()) != 0) err = CopyFileFlushed(item.from, tmp);
  if (err != 0) return err;
  std::optional<std::uint32_t> mode = item.mode;
  struct stat st {};
  if (!mode && ::stat(item.to.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (mode && ::chmod(tmp.c_str(), static_cast<mode_t>(*mode)) != 0) return errno;
  return 0;
}

// The folders to make and the targets of the plan, with whether each exists now.
void AddToJournal(const std::vector<SCopyItem>& plan, SCopyBackJournal& journal) {
  std::error_code ec;
  for (const SCopyItem& item : plan) {
    std::vector<fs::path> missing;
    for (fs::path p = item.to.parent_path(); !item.remove && !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
      if (p == p.parent_path()) break;
      missing.push_back(p);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
      if (std::find(journal.folders.begin(), journal.folders.end(), *it) == journal.folders.end())
        journal.folders.push_back(*it);
    journal.items.push_back({item.to, fs::exists(fs::symlink_status(item.to, ec)), item.remove});
  }
}

}  // namespace

int CommitFiles(const std::vector<SCopyItem>& plan, SCopyBackJournal journal, const fs::path& journal_path,
                Messenger& messenger, const std::function<bool(const SCopyBackJournal&)>& before_renaming) {
  for (const SRoomNeed& need : CopyBackRoom(plan)) {
    if (need.needed > need.free) {
      messenger.show(MessageKind::kError, format_message(kMsgNoRoom, need.folder.string(), human_size(need.needed),
                                                         human_size(need.free)));
      return kResultFailed;
    }
  }

  // The journal, written before the BDMV folder changes at all.
  std::error_code ec;
  AddToJournal(plan, journal);
  std::string error;
  if (!WriteCopyBackJournal(journal_path, journal, &error)) {
    messenger.show(MessageKind::kError, format_message(kMsgCopyBackJournal, journal_path.string(), error));
    return kResultFailed;
  }

  const auto undo = [&] {
    UndoCopyBack(journal, journal.state == SCopyBackJournal::State::kStaging, nullptr);
    fs::remove(journal_path, ec);
  };
  const auto fail = [&](const fs::path& file, int err) {
    undo();
    messenger.show(MessageKind::kError, format_message(kMsgCopyBackFile, file.string(), std::strerror(err)));
    return kResultFailed;
  };

  // Stage every new file beside its target.
  for (const fs::path& folder : journal.folders) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return fail(folder, errno);
  }
  for (const SCopyItem& item : plan) {
    if (item.remove) continue;
    if (const int err = StageItem(item)) return fail(item.to, err);
  }
  if (before_renaming && !before_renaming(journal)) {
    undo();
    return kResultFailed;
  }

  // Every new file is staged: from here on an interruption is finished, not undone.
  journal.state = SCopyBackJournal::State::kRenaming;
  if (!WriteCopyBackJournal(journal_path, journal, &error)) {
    journal.state = SCopyBackJournal::State::kStaging;
    undo();
    messenger.show(MessageKind::kError, format_message(kMsgCopyBackJournal, journal_path.string(), error));
    return kResultFailed;
  }

  // Put them in place; the old files are kept aside until every rename succeeded.
  fs::path failed;
  int failed_err = 0;
  if (!FinishCopyBack(journal, &error, &failed, &failed_err)) return fail(failed, failed_err);
  fs::remove(journal_path, ec);
  sync_folder(journal_path.parent_path());
  return kResultOk;
}

int CopyBack(const SReplacedFiles& files, const fs::path& bdmv, const fs::path& journal_path, Messenger& messenger) {
  SCopyBackJournal journal;
  journal.bdmv = bdmv;
  const fs::path undo_folder = UndoFolder(journal_path.parent_path());
  journal.keep = NewUndoEntryName(undo_folder);
  return CommitFiles(CopyBackPlan(files, bdmv), journal, journal_path, messenger, [&](const SCopyBackJournal& j) {
    std::string error;
    if (KeepReplacedFiles(j, &error)) return true;
    messenger.show(MessageKind::kError, format_message(kMsgUndoKeep, undo_folder.string(), error));
    return false;
  });
}

int RecoverInterruptedCopyBack(const fs::path& work, Messenger& messenger) {
  const fs::path path = CopyBackJournalPath(work);
  std::error_code ec;
  fs::remove(fs::path(path.string() + ".tmp"), ec);  // a journal that was never put in place
  if (!fs::exists(fs::symlink_status(path, ec))) return kResultOk;
  std::string error;
  const std::optional<Bytes> bytes = read_whole_file(path, &error);
  const std::optional<SCopyBackJournal> journal =
      bytes ? ReadCopyBackJournalText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()))
            : std::nullopt;
  if (!journal) {
    messenger.show(MessageKind::kError, bytes ? format_message(kMsgCopyBackJournalDamaged, path.string())
                                              : format_message(kMsgCopyBackStuck, path.string(), error));
    return kResultFailed;
  }
  if (journal->state == SCopyBackJournal::State::kRenaming) {
    if (FinishCopyBack(*journal, &error)) {
      fs::remove(path, ec);
      const int id = journal->consume.empty() ? int{kMsgCopyBackFinished} : int{kMsgUndoFinished};
      messenger.show(MessageKind::kWarning, format_message(id, journal->bdmv.string()));
      return kResultOk;
    }
    // A file that cannot be put in place: the whole copy-back is undone instead.
  }
  std::string undo_error;
  if (!UndoCopyBack(*journal, journal->state == SCopyBackJournal::State::kStaging, &undo_error)) {
    messenger.show(MessageKind::kError,
                   format_message(kMsgCopyBackStuck, path.string(), error.empty() ? undo_error : error + "\n" + undo_error));
    return kResultFailed;
  }
  fs::remove(path, ec);
  const int id = journal->consume.empty() ? int{kMsgCopyBackUndone} : int{kMsgUndoUndone};
  messenger.show(MessageKind::kWarning, format_message(id, journal->bdmv.string()));
  return kResultOk;
}

}  // namespace veld
