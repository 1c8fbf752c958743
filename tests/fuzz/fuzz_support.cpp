// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "veld/base/file.h"

namespace veld::fuzz {
namespace fs = std::filesystem;

namespace {

class Scratch {
 public:
  Scratch() {
    fs::path base;
    std::error_code ec;
    if (const char* env = std::getenv("VELD_FUZZ_SCRATCH"); env && *env) {
      base = env;
    } else if (fs::is_directory("/dev/shm", ec)) {
      base = "/dev/shm";
    } else {
      base = fs::temp_directory_path(ec);
    }
    path_ = base / ("veld-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(path_, ec);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool SafeName(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '/';
    if (!ok) return false;
  }
  for (const auto& part : fs::path(name)) {
    if (part == ".." || part == ".") return false;
  }
  return name.back() != '/';
}

}  // namespace

void QuietMessenger::show(MessageKind kind, std::string_view) {
  if (kind == MessageKind::kError) ++errors;
  if (kind == MessageKind::kWarning) ++warnings;
}

const fs::path& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path();
}

fs::path WriteScratchFile(std::string_view name, ByteSpan data) {
  const fs::path path = ScratchFolder() / name;
  std::string error;
  if (!write_whole_file(path, data, &error)) {
    std::fprintf(stderr, "fuzz: cannot write %s: %s\n", path.c_str(), error.c_str());
    std::abort();
  }
  return path;
}

fs::path FreshScratchFolder(std::string_view name) {
  const fs::path path = ScratchFolder() / name;
  std::error_code ec;
  fs::remove_all(path, ec);
  fs::create_directories(path, ec);
  return path;
}

std::vector<BundleFile> ReadBundle(ByteSpan input) {
  std::vector<BundleFile> files;
  std::size_t pos = 0;
  while (pos < input.size()) {
    const std::size_t name_length = input[pos++];
    if (name_length > input.size() - pos) break;
    const std::string name(reinterpret_cast<const char*>(input.data() + pos), name_length);
    pos += name_length;
    if (input.size() - pos < 4) break;
    const std::size_t length = load_be32(input.data() + pos);
    pos += 4;
    const std::size_t n = std::min(length, input.size() - pos);
    if (SafeName(name)) files.emplace_back(name, input.subspan(pos, n));
    pos += n;
  }
  return files;
}

void WriteBundle(const std::vector<BundleFile>& files, const fs::path& folder) {
  for (const auto& [name, data] : files) {
    const fs::path path = folder / name;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (fs::is_directory(path, ec)) continue;  // a name that is also a folder of another file
    std::string error;
    write_whole_file(path, data, &error);
  }
}

void Violated(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, what);
  std::abort();
}

}  // namespace veld::fuzz
