// SPDX-License-Identifier: GPL-3.0-or-later
// The only two folder operations of the output tree.
#pragma once

#include <filesystem>

#include "veld/base/messenger.h"

namespace veld {

// Makes sure the folder exists. A missing folder is created (with its parents); when that fails and
// messenger is given, "Can't create %s ! " is shown and the result is false; without a messenger the
// failure is silent. An existing folder with a messenger given asks "%s\n exists, overwrite ? "; any
// answer but Yes gives false.
bool EnsureFolder(const std::filesystem::path& folder, Messenger* messenger);

// Deletes every entry of the folder, sub-folders recursively, after clearing their read-only state
// (owner write permission). With remove_self the folder itself is removed too. Does not stop at the first
// failed deletion; the result is false if any failed.
bool EmptyFolder(const std::filesystem::path& folder, bool remove_self);

}  // namespace veld
