// The `veld` command line.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>

int main(int argc, char** argv) {
  CLI::App app{"VELD: edit the interactive menus (IG) of a Blu-ray BDMV folder"};
  app.set_version_flag("--version", fmt::format("VELD, Version {}", VELD_VERSION));
  CLI11_PARSE(app, argc, argv);
  std::printf("%s", app.help().c_str());
  return 0;
}
