// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/folders.h"

#include <system_error>

#include "veld/base/messages.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// The folder as text with a trailing separator, as the messages show it.
std::string folder_text(const fs::path& folder) {
  std::string s = folder.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// Clears the read-only state of an entry: the owner may write (and, for folders, enter).
void make_writable(const fs::path& p, bool is_dir) {
  std::error_code ec;
  auto add = fs::perms::owner_write | (is_dir ? fs::perms::owner_exec | fs::perms::owner_read : fs::perms::none);
  fs::permissions(p, add, fs::perm_options::add | fs::perm_options::nofollow, ec);
}

}  // namespace

bool EnsureFolder(const fs::path& folder, Messenger* messenger) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    ec.clear();
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
      if (messenger) messenger->show(MessageKind::kError, format_message(kMsgCannotCreate, folder_text(folder)));
      return false;
    }
    return true;
  }
  if (messenger) {
    return messenger->ask(format_message(kMsgFolderExists, folder_text(folder))) == Answer::kYes;
  }
  return true;
}

bool EmptyFolder(const fs::path& folder, bool remove_self) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec))) return false;
  bool ok = true;
  make_writable(folder, true);
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code sec;
    const bool is_dir = fs::is_directory(fs::symlink_status(entry, sec));
    if (is_dir) {
      if (!EmptyFolder(entry, true)) ok = false;
    } else {
      make_writable(entry, false);
      std::error_code rec;
      if (!fs::remove(entry, rec) || rec) ok = false;
    }
  }
  if (ec) ok = false;
  if (remove_self) {
    std::error_code rec;
    if (!fs::remove(folder, rec) || rec) ok = false;
  }
  return ok;
}

}  // namespace veld
