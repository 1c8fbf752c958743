#include "veld/pipeline/copy_back.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"

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

// Copies from to a new file `to` and flushes it to the device. 0, or the errno of the failure.
int copy_flushed(const fs::path& from, const fs::path& to) {
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

int CopyBack(const SReplacedFiles& files, const fs::path& bdmv, Messenger& messenger) {
  const std::vector<SCopyItem> plan = CopyBackPlan(files, bdmv);
  for (const SRoomNeed& need : CopyBackRoom(plan)) {
    if (need.needed > need.free) {
      messenger.show(MessageKind::kError, format_message(kMsgNoRoom, need.folder.string(), human_size(need.needed),
                                                         human_size(need.free)));
      return kResultFailed;
    }
  }

  std::vector<fs::path> made_folders;  // made here, removed again on failure (deepest last)
  std::vector<fs::path> staged;
  const auto undo_staging = [&] {
    std::error_code ec;
    for (const fs::path& p : staged) fs::remove(p, ec);
    for (auto it = made_folders.rbegin(); it != made_folders.rend(); ++it) fs::remove(*it, ec);
  };
  const auto fail = [&](const fs::path& file, int err) {
    undo_staging();
    messenger.show(MessageKind::kError, format_message(kMsgCopyBackFile, file.string(), std::strerror(err)));
    return kResultFailed;
  };

  // Stage every new file beside its target.
  for (const SCopyItem& item : plan) {
    const fs::path folder = item.to.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      std::vector<fs::path> missing;
      for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) missing.push_back(p);
      for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) return fail(*it, errno);
        made_folders.push_back(*it);
      }
    }
    const fs::path tmp = staged_name(item.to, ".veld-new");
    fs::remove(tmp, ec);  // a leftover of an interrupted run
    int err = 0;
    if (!item.link || ::link(item.from.c_str(), tmp.c_str()) != 0) err = copy_flushed(item.from, tmp);
    if (err != 0) {
      fs::remove(tmp, ec);
      return fail(item.to, err);
    }
    staged.push_back(tmp);
  }

  // Put them in place; the old files are kept aside until every rename succeeded.
  struct Done {
    fs::path target;
    fs::path old;  // empty when the target did not exist
  };
  std::vector<Done> done;
  const auto roll_back = [&] {
    std::error_code ec;
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      if (it->old.empty()) {
        fs::remove(it->target, ec);
      } else {
        ::rename(it->old.c_str(), it->target.c_str());
      }
    }
  };
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const fs::path& target = plan[i].to;
    std::error_code ec;
    Done d{target, {}};
    if (fs::exists(target, ec)) {
      d.old = staged_name(target, ".veld-old");
      fs::remove(d.old, ec);
      if (::link(target.c_str(), d.old.c_str()) != 0 && ::rename(target.c_str(), d.old.c_str()) != 0) {
        const int err = errno;
        roll_back();
        return fail(target, err);
      }
    }
    if (::rename(staged[i].c_str(), target.c_str()) != 0) {
      const int err = errno;
      if (!d.old.empty() && !fs::exists(target, ec)) ::rename(d.old.c_str(), target.c_str());
      if (!d.old.empty()) fs::remove(d.old, ec);
      roll_back();
      return fail(target, err);
    }
    done.push_back(d);
  }
  std::error_code ec;
  for (const Done& d : done)
    if (!d.old.empty()) fs::remove(d.old, ec);
  for (const SCopyItem& item : plan) sync_folder(item.to.parent_path());
  return kResultOk;
}

}  // namespace veld
