// The `veld` command line.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <filesystem>
#include <iostream>

#include "terminal.h"
#include "veld/app/commands.h"
#include "veld/app/show_command.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/ts/psi.h"

namespace fs = std::filesystem;
using namespace veld;

namespace {

int run_extract(const std::string& bdmv, const std::string& rip, bool yes, bool quiet, const ExtractRequest& request) {
  cli::TerminalMessenger messenger(yes, quiet);
  cli::TerminalProgress progress(quiet);
  messenger.set_progress(&progress);
  cli::install_interrupt_handler();
  ExtractOutcome out = RunExtractCommand(bdmv.empty() ? fs::path() : fs::absolute(bdmv),
                                         rip.empty() ? fs::path() : fs::absolute(rip), messenger, progress, request);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) {
    std::cerr << "Cancelled." << std::endl;
  }
  if (out.result == kResultOk && out.found && !quiet) {
    const auto& s = out.stats;
    std::cout << fmt::format("{} clip{}, {} IG stream{}, {} display set{}: {} image{} written", s.clips,
                             s.clips == 1 ? "" : "s", s.ig_streams, s.ig_streams == 1 ? "" : "s",
                             s.display_sets, s.display_sets == 1 ? "" : "s", s.images, s.images == 1 ? "" : "s");
    if (s.skipped > 0) std::cout << fmt::format(", {} object{} skipped (no picture)", s.skipped, s.skipped == 1 ? "" : "s");
    std::cout << ".\nEdit the pictures you want to change; keep their size, palette and name." << std::endl;
    if (request.preview) {
      std::cout << cli::terminal_text(format_message(kMsgPreviewsDone, s.previews, out.preview_folder.string()))
                << std::endl;
    }
  }
  return out.result;
}

int run_show(const std::string& bdmv, bool json) {
  cli::TerminalMessenger messenger(false, false);
  cli::TerminalProgress progress(false);
  messenger.set_progress(&progress);
  cli::install_interrupt_handler();
  const ShowOutcome out = RunShowCommand(bdmv.empty() ? fs::path() : fs::absolute(bdmv), json, messenger, progress);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) std::cerr << "Cancelled." << std::endl;
  if (out.result == kResultOk) std::cout << out.report << std::flush;
  return out.result;
}

int run_replace(const std::string& bdmv, const std::string& work, const ReplaceOptions& options, bool yes,
                bool quiet) {
  cli::TerminalMessenger messenger(yes, quiet);
  cli::TerminalProgress progress(quiet);
  messenger.set_progress(&progress);
  cli::install_interrupt_handler();
  ReplaceOutcome out = RunReplaceCommand(bdmv.empty() ? fs::path() : fs::absolute(bdmv),
                                         work.empty() ? fs::path() : fs::absolute(work), options, messenger, progress);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) {
    std::cerr << "Cancelled." << std::endl;
  }
  if (out.result == kResultOk && out.edited && !quiet) {
    const auto& s = out.stats;
    std::cout << fmt::format("{} picture{} imported, {} IG stream{} rebuilt, {} clip{} remultiplexed, {} playlist{} "
                             "adjusted.",
                             s.images, s.images == 1 ? "" : "s", s.ig_streams, s.ig_streams == 1 ? "" : "s", s.clips,
                             s.clips == 1 ? "" : "s", s.playlists, s.playlists == 1 ? "" : "s")
              << std::endl;
  }
  return out.result;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"VELD: edit the interactive menus (IG) of a Blu-ray BDMV folder.\n\n"
               "The edit cycle:\n"
               "  veld extract ~/disc/BDMV ~/work           # pictures in ~/work/VELD/Images\n"
               "  (edit some pictures: same size, palette and name)\n"
               "  veld replace ~/disc/BDMV ~/work/VELD      # new files in ~/work/VELD/Stream\n"
               "  veld replace ~/disc/BDMV ~/work/VELD --copy-back   # ... and put them into the disc\n"};
  app.set_version_flag("--version", fmt::format("VELD, Version {}", VELD_VERSION));
  app.require_subcommand(1);

  std::string bdmv, rip;
  bool yes = false, quiet = false;
  CLI::App* extract = app.add_subcommand(
      "extract",
      "Write every menu button picture of BDMV_FOLDER as a 256-colour GIF into "
      "RIP_FOLDER/VELD/Images/<clip>/<PID>/Epoch<e>/DS<d>/<nnnn>.gif");
  extract->add_option("BDMV_FOLDER", bdmv, "the BDMV folder of the disc")->required();
  extract->add_option("RIP_FOLDER", rip, "the folder that receives the VELD work folder")->required();
  extract->add_flag("-y,--yes", yes, "answer yes to questions (reuse an existing VELD folder)");
  extract->add_flag("-q,--quiet", quiet, "print only errors");
  bool preview = false;
  std::string format = "gif";
  extract->add_flag("--preview", preview, std::string(message_text(kStrOptPreview)));
  extract->add_option("--format", format, std::string(message_text(kStrOptFormat)))
      ->check(CLI::IsMember({"gif", "png"}));

  std::string show_bdmv;
  bool json = false;
  CLI::App* show = app.add_subcommand("show", std::string(message_text(kStrShowCommand)));
  show->add_option("BDMV_FOLDER", show_bdmv, "the BDMV folder of the disc")->required();
  show->add_flag("--json", json, std::string(message_text(kStrOptJson)));

  std::string work, ig_language;
  bool copy_back = false, no_copy_back = false;
  CLI::App* replace = app.add_subcommand(
      "replace",
      "Put every picture edited since the extraction back into its menu: rebuild the IG streams, "
      "remultiplex the clips into WORK_FOLDER/Stream with new clip information and playlists, and copy them "
      "into BDMV_FOLDER if asked (staged first: a failure leaves the disc as it was)");
  replace->add_option("BDMV_FOLDER", bdmv, "the BDMV folder the pictures were extracted from")->required();
  replace->add_option("WORK_FOLDER", work, "the VELD work folder of that extraction")->required();
  auto* copy_opt = replace->add_flag("--copy-back", copy_back, "copy the new files into BDMV_FOLDER and its BACKUP");
  replace->add_flag("--no-copy-back", no_copy_back, "leave the new files in WORK_FOLDER/Stream")->excludes(copy_opt);
  replace->add_option("--ig-language", ig_language,
                      "three-letter ISO 639-2 code for the rebuilt menu streams (default: keep each one's own)")
      ->check([](const std::string& code) {
        return code.size() == 3 && !language_name(code).empty() ? std::string()
                                                                : "not a three-letter ISO 639-2 language code";
      });
  replace->add_flag("-y,--yes", yes, "answer yes to every question (so the files are copied back unless --no-copy-back)");
  replace->add_flag("-q,--quiet", quiet, "print only errors");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with status 0; a usage error is a failure.
    return app.exit(e) == 0 ? kResultOk : kResultFailed;
  }
  if (extract->parsed()) {
    ExtractRequest request;
    request.format = format == "png" ? ImageFormat::kPng : ImageFormat::kGif;
    request.preview = preview;
    return run_extract(bdmv, rip, yes, quiet, request);
  }
  if (replace->parsed()) {
    ReplaceOptions options;
    options.ig_language = ig_language;
    if (copy_back) options.copy_back = true;
    if (no_copy_back) options.copy_back = false;
    return run_replace(bdmv, work, options, yes, quiet);
  }
  if (show->parsed()) return run_show(show_bdmv, json);
  return kResultFailed;
}
