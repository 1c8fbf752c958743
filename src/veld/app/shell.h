// SPDX-License-Identifier: GPL-3.0-or-later
// What both front ends share around the commands: the settings keys, the folder-name rule of the folder
// choosers, and the checks made before a folder chooser opens or a command starts.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "veld/base/messenger.h"
#include "veld/graphics/colour_match.h"

namespace veld {

// Settings: ~/.config/VELD/VELD.ini, section "General".
inline constexpr std::string_view kSettingsOrganization = "VELD";
inline constexpr std::string_view kSettingsApplication = "VELD";
inline constexpr std::string_view kSettingsGroup = "General";
inline constexpr std::string_view kKeySrcPath = "SrcPath";  // the source BDMV folder
inline constexpr std::string_view kKeyRipPath = "RipPath";  // last extraction target, with trailing '/'
inline constexpr std::string_view kKeyFixPath = "FixPath";  // last work folder replaced, with trailing '/'
// The window's settings: the image editor's command ("gimp %f"; empty: the desktop's default), the
// extraction's picture format ("gif" or "png") and whether it writes page previews (true or false).
inline constexpr std::string_view kKeyEditor = "EditorCommand";
inline constexpr std::string_view kKeyFormat = "PictureFormat";
inline constexpr std::string_view kKeyPreview = "Preview";
// How the window's replace takes edited pictures in, in the words of the command line's options:
// --colours ("nearest" or "exact"), --dither (true or false), --anchor ("top-left" or "centre").
inline constexpr std::string_view kKeyColours = "ReplaceColours";
inline constexpr std::string_view kKeyDither = "ReplaceDither";
inline constexpr std::string_view kKeyAnchor = "ReplaceAnchor";

// The words of --colours and --anchor for each choice, and back; a word that names no choice gives the
// default (nearest, top-left).
std::string_view ColourModeWord(ColourMode mode);
ColourMode ColourModeOfWord(std::string_view word);
std::string_view AnchorWord(ButtonAnchor anchor);
ButtonAnchor AnchorOfWord(std::string_view word);

// The licence, as --version and the About box name it.
inline constexpr std::string_view kLicence = "GPL-3.0-or-later";

// VELD's documentation (the README), which the window's "Web site..." button opens: the installed copy
// beside the running program (<prefix>/bin/../share/doc/veld/README.md), else the one of the source tree
// the program was built from; empty when neither exists. The project has no web address of its own.
std::filesystem::path DocumentationFile();

// The folder name the source chooser requires (the replace chooser requires SOutputNames' work folder).
inline constexpr std::string_view kSourceFolderName = "BDMV";

// True when the last component of folder, trailing separators ignored, equals name ignoring ASCII case.
// The root folder and an empty path match nothing.
bool FolderNameIs(const std::filesystem::path& folder, std::string_view name);

// The folder as text with one trailing '/' (how RipPath and FixPath are kept); empty stays empty.
std::string WithTrailingSeparator(const std::filesystem::path& folder);

// Before a command asks for its second folder: no source folder set gives message 1020.
bool CheckSourceSet(const std::filesystem::path& source, Messenger& messenger);

// A three-letter ISO 639-2 code of the language table (for the rebuilt IG streams).
bool IsLanguageCode(std::string_view code);
// An empty code (keep each stream's own) or a known one; otherwise a message naming it.
bool CheckIgLanguage(std::string_view code, Messenger& messenger);

// The chosen work folder must hold the "Images" folder of an earlier extraction, or message 1021.
bool CheckImageFolder(const std::filesystem::path& work, Messenger& messenger);

}  // namespace veld
