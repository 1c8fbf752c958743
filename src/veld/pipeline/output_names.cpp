// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/output_names.h"

#include <fmt/format.h>

namespace veld {
namespace fs = std::filesystem;

fs::path SOutputNames::raw_ig_path(const fs::path& base, const fs::path& file, int number) const {
  return ig_folder(base) / fmt::format("{}_{}.ig", file.stem().string(), number);
}

fs::path SOutputNames::epoch_folder(const fs::path& pid_folder, int epoch) const {
  return pid_folder / fmt::format("{}{}", texts[kEpoch], epoch);
}

fs::path SOutputNames::ds_folder(const fs::path& epoch_folder, int ds) const {
  return epoch_folder / fmt::format("{}{}", texts[kDs], ds);
}

}  // namespace veld
