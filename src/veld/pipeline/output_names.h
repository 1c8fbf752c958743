// SPDX-License-Identifier: GPL-3.0-or-later
// The fixed names of the output tree, handed from the shell to both pipelines, and the list of files
// that the replacement wrote for the copy-back.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace veld {

struct SOutputNames {
  enum Index { kWork = 0, kImages, kIgs, kStream, kIg, kEpoch, kDs, kMarker };
  std::array<std::string, 8> texts{"VELD", "Images", "Igs", "Stream", "IG", "Epoch", "DS", "VELD.rip"};
  std::string preview = "Preview";

  const std::string& operator[](Index i) const { return texts[i]; }

  std::filesystem::path work_folder(const std::filesystem::path& base) const { return base / texts[kWork]; }
  std::filesystem::path image_folder(const std::filesystem::path& base) const { return base / texts[kImages]; }
  std::filesystem::path ig_folder(const std::filesystem::path& base) const { return base / texts[kIgs]; }
  std::filesystem::path stream_folder(const std::filesystem::path& base) const { return base / texts[kStream]; }
  // base/Preview: the page previews of an extraction, beside its pictures.
  std::filesystem::path preview_folder(const std::filesystem::path& base) const { return base / preview; }
  // base/Images/VELD.rip
  std::filesystem::path marker_path(const std::filesystem::path& base) const {
    return image_folder(base) / texts[kMarker];
  }
  // base/Igs/<title of file>_<number>.ig
  std::filesystem::path raw_ig_path(const std::filesystem::path& base, const std::filesystem::path& file,
                                    int number) const;
  // <folder>/Epoch<e> and <folder>/DS<d>, counted from 1.
  std::filesystem::path epoch_folder(const std::filesystem::path& pid_folder, int epoch) const;
  std::filesystem::path ds_folder(const std::filesystem::path& epoch_folder, int ds) const;
};

struct SReplacedFile {
  int number = 0;  // five-digit file number of the target
  std::filesystem::path path;  // the newly written file
};

// A clip rebuilt in place: only the packets of its replaced streams differ from the original's.
struct SInPlaceClip {
  std::vector<std::uint16_t> pids;  // the replaced streams
  // The packets of the new file that the check of those streams reads: their own, the PAT, the program
  // map table and the PCRs, ascending.
  std::vector<std::uint32_t> check_packets;
};

struct SReplacedFiles {
  std::vector<SReplacedFile> clip_streams;  // .m2ts
  std::vector<SReplacedFile> clip_infos;    // .clpi
  std::vector<SReplacedFile> playlists;     // .mpls
  // By clip number, the clips rebuilt in place.
  std::map<int, SInPlaceClip> in_place;
  // The clips checked while they were written, which need no reading back.
  std::set<int> checked;
  bool empty() const { return clip_streams.empty() && clip_infos.empty() && playlists.empty(); }
};

}  // namespace veld
