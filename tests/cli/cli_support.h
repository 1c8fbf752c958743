// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the command-line end-to-end tests: running `veld` and the independent checkers, reading and
// editing GIF pictures with giflib as an image editor would, and snapshots of folder trees.
#pragma once

#include <gif_lib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace veld::test {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command line with stdin from /dev/null, capturing stdout and stderr.
inline RunResult run_shell(const std::string& command, const std::filesystem::path& scratch) {
  const std::filesystem::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  const std::string cmd = command + " </dev/null >" + shell_quote(out.string()) + " 2>" + shell_quote(err.string());
  RunResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

// Runs `veld` with the arguments in the C locale.
inline RunResult run_veld(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                          const std::string& env = "LC_ALL=C.UTF-8") {
  std::string cmd = env + " " + shell_quote(VELD_CLI_PATH);
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd, scratch);
}

// Runs a checker script of tests/fixtures with the test's Python.
inline RunResult run_checker(const std::string& script, const std::vector<std::string>& args,
                             const std::filesystem::path& scratch) {
  std::string cmd = shell_quote(VELD_PYTHON) + " " + shell_quote(std::string(VELD_FIXTURES_DIR) + "/" + script);
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd, scratch);
}

inline nlohmann::json load_truth(const std::filesystem::path& disc) {
  std::ifstream in(disc / "truth.json");
  return nlohmann::json::parse(in);
}

inline void copy_disc(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::create_directories(to.parent_path());
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

// Every regular file below root by its relative path, with the SHA-256 of its bytes.
inline std::map<std::string, std::string> tree_hashes(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = sha256_hex(read_file(e.path()));
  return out;
}

// A GIF picture as giflib reads it: indices of the first frame on the logical screen, its colour table
// and transparent index.
struct Gif {
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::array<std::array<int, 3>, 256> colours{};
  int colour_count = 0;
  int transparent = -1;
};

inline Gif read_gif(const std::filesystem::path& p) {
  int err = 0;
  GifFileType* g = DGifOpenFileName(p.c_str(), &err);
  if (!g) throw std::runtime_error("giflib cannot open " + p.string());
  if (DGifSlurp(g) != GIF_OK || g->ImageCount < 1) {
    DGifCloseFile(g, &err);
    throw std::runtime_error("giflib cannot read " + p.string());
  }
  Gif out;
  out.width = g->SWidth;
  out.height = g->SHeight;
  const SavedImage& img = g->SavedImages[0];
  const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : g->SColorMap;
  if (map) {
    out.colour_count = map->ColorCount;
    for (int i = 0; i < map->ColorCount; ++i)
      out.colours[static_cast<std::size_t>(i)] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
  }
  GraphicsControlBlock gcb;
  if (DGifSavedExtensionToGCB(g, 0, &gcb) == GIF_OK) out.transparent = gcb.TransparentColor;
  const auto& d = img.ImageDesc;
  out.indices.assign(static_cast<std::size_t>(out.width) * out.height, 0);
  for (int y = 0; y < d.Height; ++y)
    for (int x = 0; x < d.Width; ++x)
      out.indices[static_cast<std::size_t>(y + d.Top) * out.width + x + d.Left] =
          img.RasterBits[static_cast<std::size_t>(y) * d.Width + x];
  DGifCloseFile(g, &err);
  return out;
}

// Rewrites a GIF with giflib, keeping its colour table, transparency and size, with new indices (as an
// editor that keeps the palette saves a picture).
inline void write_gif_indices(const std::filesystem::path& p, const std::vector<std::uint8_t>& indices) {
  int err = 0;
  GifFileType* in = DGifOpenFileName(p.c_str(), &err);
  if (!in || DGifSlurp(in) != GIF_OK) throw std::runtime_error("giflib cannot read " + p.string());
  SavedImage& img = in->SavedImages[0];
  const std::size_t n = static_cast<std::size_t>(img.ImageDesc.Width) * img.ImageDesc.Height;
  if (n != indices.size()) throw std::runtime_error("size differs: " + p.string());
  std::copy(indices.begin(), indices.end(), img.RasterBits);
  const std::filesystem::path tmp = p.string() + ".tmp";
  GifFileType* out = EGifOpenFileName(tmp.c_str(), false, &err);
  if (!out) throw std::runtime_error("giflib cannot write " + tmp.string());
  EGifSetGifVersion(out, true);
  const GifImageDesc& d = img.ImageDesc;
  bool ok = EGifPutScreenDesc(out, in->SWidth, in->SHeight, in->SColorResolution, in->SBackGroundColor,
                              in->SColorMap) == GIF_OK;
  for (int i = 0; ok && i < img.ExtensionBlockCount; ++i) {
    const ExtensionBlock& b = img.ExtensionBlocks[i];
    if (b.Function == GRAPHICS_EXT_FUNC_CODE) ok = EGifPutExtension(out, b.Function, b.ByteCount, b.Bytes) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(out, d.Left, d.Top, d.Width, d.Height, false, d.ColorMap) == GIF_OK;
  for (int y = 0; ok && y < d.Height; ++y)
    ok = EGifPutLine(out, img.RasterBits + static_cast<std::size_t>(y) * d.Width, d.Width) == GIF_OK;
  ok = EGifCloseFile(out, &err) == GIF_OK && ok;
  DGifCloseFile(in, &err);
  if (!ok) throw std::runtime_error("giflib cannot write " + tmp.string());
  std::filesystem::rename(tmp, p);
}

// Sets a file's last-write time to `seconds` after `reference`'s (whole seconds, nanoseconds `ns`).
inline void touch_after(const std::filesystem::path& file, const std::filesystem::path& reference, long seconds,
                        long ns = 0) {
  struct stat st {};
  if (::stat(reference.c_str(), &st) != 0) throw std::runtime_error("no " + reference.string());
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = st.st_mtim.tv_sec + seconds;
  times[0].tv_nsec = times[1].tv_nsec = ns;
  if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) throw std::runtime_error("cannot touch " + file.string());
}

// Gives a picture other pixels (its first row takes the colour of its middle pixel, or another one of
// its palette) and dates it after the marker, as an editor that keeps the palette would.
inline void edit_picture_pixels(const std::filesystem::path& gif_path, const std::filesystem::path& marker) {
  Gif gif = read_gif(gif_path);
  const std::uint8_t middle = gif.indices[static_cast<std::size_t>(gif.height / 2) * gif.width + gif.width / 2];
  const std::uint8_t paint = gif.indices[0] == middle ? static_cast<std::uint8_t>(middle == 1 ? 2 : 1) : middle;
  for (int x = 0; x < gif.width; ++x) gif.indices[static_cast<std::size_t>(x)] = paint;
  write_gif_indices(gif_path, gif.indices);
  touch_after(gif_path, marker, 2);
}

}  // namespace veld::test
