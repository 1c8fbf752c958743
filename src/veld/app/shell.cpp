// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/shell.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "veld/pipeline/output_names.h"
#include "veld/base/messages.h"
#include "veld/base/progress.h"
#include "veld/ts/psi.h"

namespace veld {
namespace fs = std::filesystem;

fs::path DocumentationFile() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path().parent_path() / "share/doc/veld/README.md";
    if (fs::is_regular_file(installed, ec)) return installed;
  }
#ifdef VELD_SOURCE_DIR
  const fs::path source = fs::path(VELD_SOURCE_DIR) / "README.md";
  if (fs::is_regular_file(source, ec)) return source;
#endif
  return {};
}

std::string_view ColourModeWord(ColourMode mode) { return mode == ColourMode::kExact ? "exact" : "nearest"; }

ColourMode ColourModeOfWord(std::string_view word) {
  return word == ColourModeWord(ColourMode::kExact) ? ColourMode::kExact : ColourMode::kNearest;
}

std::string_view AnchorWord(ButtonAnchor anchor) { return anchor == ButtonAnchor::kCentre ? "centre" : "top-left"; }

ButtonAnchor AnchorOfWord(std::string_view word) {
  return word == AnchorWord(ButtonAnchor::kCentre) ? ButtonAnchor::kCentre : ButtonAnchor::kTopLeft;
}

bool FolderNameIs(const fs::path& folder, std::string_view name) {
  std::string s = folder.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (s.empty() || s == "/") return false;
  const std::size_t slash = s.rfind('/');
  const std::string_view last = slash == std::string::npos ? std::string_view(s) : std::string_view(s).substr(slash + 1);
  return equal_ignoring_case(last, name);
}

std::string WithTrailingSeparator(const fs::path& folder) {
  std::string s = folder.string();
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

bool CheckSourceSet(const fs::path& source, Messenger& messenger) {
  if (!source.empty()) return true;
  messenger.show(MessageKind::kError, message_text(kMsgNoBdmvFolder));
  return false;
}

bool IsLanguageCode(std::string_view code) {
  if (code.size() != 3) return false;
  if (!language_name(code).empty()) return true;
  // The bibliographic forms (ISO 639-2/B) of the codes whose terminology form the table holds: discs
  // often carry these ("chi", "fre", "ger").
  static constexpr std::string_view kBibliographic[] = {"alb", "arm", "baq", "bur", "chi", "cze", "dut",
                                                        "fre", "geo", "ger", "gre", "ice", "mac", "mao",
                                                        "may", "per", "rum", "slo", "tib", "wel"};
  return std::find(std::begin(kBibliographic), std::end(kBibliographic), code) != std::end(kBibliographic);
}

bool CheckIgLanguage(std::string_view code, Messenger& messenger) {
  if (code.empty() || IsLanguageCode(code)) return true;
  messenger.show(MessageKind::kError, format_message(kMsgBadLanguage, std::string(code)));
  return false;
}

bool CheckImageFolder(const fs::path& work, Messenger& messenger) {
  std::error_code ec;
  if (fs::is_directory(SOutputNames().image_folder(work), ec)) return true;
  messenger.show(MessageKind::kError, message_text(kMsgNoImageFolder));
  return false;
}

}  // namespace veld
