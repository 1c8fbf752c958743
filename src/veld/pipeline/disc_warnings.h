// SPDX-License-Identifier: GPL-3.0-or-later
// Warnings about a disc that every command reading it gives alike: damaged menu objects (the same texts
// as the extraction's), clip stream files shorter than their clip information, and disc files that
// differ from their BACKUP copies.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/graphics/gs_data.h"

namespace veld {

// One warning for every object that a page of a display set shows but that does not decode, worded as
// the extraction's ("<source>, display set d: object n does not decode ..."); source names the clip
// and PID. The display sets are counted across the whole stream, as the extraction numbers them.
std::vector<std::string> UndecodableObjectWarnings(const CGsData& stream, const std::string& source);

// For each of index.bdmv, MovieObject.bdmv, every playlist and every clip information file of the BDMV
// folder whose BACKUP copy exists and differs: a warning naming both files and the first differing
// byte's offset (the shorter file's size when one is a prefix of the other).
std::vector<std::string> BackupDifferenceWarnings(const std::filesystem::path& bdmv);

// Shows each text as a warning.
void ShowDiscWarnings(const std::vector<std::string>& warnings, Messenger& messenger);

}  // namespace veld
