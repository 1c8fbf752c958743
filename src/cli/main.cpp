// SPDX-License-Identifier: GPL-3.0-or-later
// The `veld` command line.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <clocale>
#include <filesystem>
#include <iostream>

#include "terminal.h"
#include "usage.h"
#include "veld/app/check_command.h"
#include "veld/app/commands.h"
#include "veld/app/replace_summary.h"
#include "veld/app/shell.h"
#include "veld/app/show_command.h"
#include "veld/base/messages.h"
#include "veld/base/messages_undo.h"
#include "veld/base/result.h"

namespace fs = std::filesystem;
using namespace veld;

namespace {

std::string Text(int id) { return std::string(message_text(id)); }

// The closing summary's note of the warnings shown during the run ("" when there were none).
std::string WarningCount(const cli::TerminalMessenger& messenger) {
  const int n = messenger.warnings();
  return n == 0 ? std::string() : format_message(n == 1 ? kCliWithWarning : kCliWithWarnings, n);
}

int run_extract(const std::string& bdmv, const std::string& rip, bool yes, bool quiet, const ExtractRequest& request) {
  cli::TerminalMessenger messenger(yes, quiet);
  cli::TerminalProgress progress(quiet);
  messenger.set_progress(&progress);
  cli::install_interrupt_handler();
  ExtractOutcome out = RunExtractCommand(bdmv.empty() ? fs::path() : fs::absolute(bdmv),
                                         rip.empty() ? fs::path() : fs::absolute(rip), messenger, progress, request);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) {
    std::cerr << message_text(kCliCancelled) << std::endl;
  }
  if (out.result == kResultOk && out.found && !quiet) {
    const auto& s = out.stats;
    std::cout << format_message(kCliSummary, s.clips, s.ig_streams, s.display_sets, s.images);
    if (s.skipped > 0) std::cout << format_message(kCliSkipped, s.skipped);
    std::cout << WarningCount(messenger);
    std::cout << "\n" << message_text(kCliEditHint) << std::endl;
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
  if (out.result == kResultCancelled && progress.cancelled()) std::cerr << message_text(kCliCancelled) << std::endl;
  if (out.result == kResultOk) std::cout << out.report << std::flush;
  return out.result;
}

int run_check(const std::string& bdmv, bool json) {
  cli::TerminalMessenger messenger(false, false);
  cli::TerminalProgress progress(false);
  messenger.set_progress(&progress);
  cli::install_interrupt_handler();
  const CheckOutcome out = RunCheckCommand(bdmv.empty() ? fs::path() : fs::absolute(bdmv), json, messenger, progress);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) std::cerr << message_text(kCliCancelled) << std::endl;
  std::cout << out.report << std::flush;
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
    std::cerr << message_text(kCliCancelled) << std::endl;
  }
  if (out.result == kResultOk && (out.edited || options.dry_run) && !quiet) {
    std::cout << cli::terminal_text(ReplaceSummaryText(out, options.dry_run)) << WarningCount(messenger) << std::endl;
  }
  return out.result;
}

int run_undo(const std::string& work, bool yes) {
  cli::TerminalMessenger messenger(yes, false);
  const UndoOutcome out = RunUndoCommand(work.empty() ? fs::path() : fs::absolute(work), messenger);
  return out.result;
}

}  // namespace

int main(int argc, char** argv) {
  // The system's error texts (a failed open, a full disk) follow the user's locale too.
  std::setlocale(LC_MESSAGES, "");
  CLI::App app{Text(kCliAbout) + "\n\n" + Text(kCliExample) + "\n", "veld"};
  app.set_version_flag("--version", fmt::format("VELD, Version {}\nLicence: {} (free software; there is NO WARRANTY)",
                                               VELD_VERSION, kLicence));
  app.require_subcommand(1);

  std::string bdmv, rip;
  bool yes = false, quiet = false;
  CLI::App* extract = app.add_subcommand("extract", Text(kCliExtract));
  extract->add_option("BDMV_FOLDER", bdmv, Text(kCliBdmvArgument))->required();
  extract->add_option("RIP_FOLDER", rip, Text(kCliRipArgument))->required();
  extract->add_flag("-y,--yes", yes, Text(kCliYes));
  extract->add_flag("-q,--quiet", quiet, Text(kCliQuiet));
  bool preview = false;
  std::string format = "gif";
  extract->add_flag("--preview", preview, Text(kStrOptPreview));
  extract->add_option("--format", format, Text(kStrOptFormat))
      ->check(CLI::IsMember({"gif", "png"}).description(""))
      ->type_name("gif|png");

  std::string show_bdmv;
  bool json = false;
  CLI::App* show = app.add_subcommand("show", Text(kStrShowCommand));
  show->add_option("BDMV_FOLDER", show_bdmv, Text(kCliBdmvArgument))->required();
  show->add_flag("--json", json, Text(kStrOptJson));

  std::string check_bdmv;
  bool check_json = false;
  CLI::App* check = app.add_subcommand("check", Text(kStrCheckCommand));
  check->add_option("BDMV_FOLDER", check_bdmv, Text(kCliBdmvArgument))->required();
  check->add_flag("--json", check_json, Text(kStrOptCheckJson));

  std::string work, ig_language;
  bool copy_back = false, no_copy_back = false;
  CLI::App* replace = app.add_subcommand("replace", Text(kCliReplace));
  replace->add_option("BDMV_FOLDER", bdmv, Text(kCliReplaceBdmvArgument))->required();
  replace->add_option("WORK_FOLDER", work, Text(kCliWorkArgument))->required();
  auto* copy_opt = replace->add_flag("--copy-back", copy_back, Text(kCliCopyBack));
  replace->add_flag("--no-copy-back", no_copy_back, Text(kCliNoCopyBack))->excludes(copy_opt);
  replace->add_option("--ig-language", ig_language, Text(kCliIgLanguage))->check([](const std::string& code) {
    return IsLanguageCode(code) ? std::string() : plain_text(format_message(kMsgBadLanguage, code));
  });
  std::string colours = "nearest", anchor = "top-left";
  bool dither = false;
  replace->add_option("--colours", colours, Text(kCliColours))
      ->check(CLI::IsMember({"nearest", "exact"}).description(""))
      ->type_name("nearest|exact");
  replace->add_flag("--dither", dither, Text(kCliDither));
  replace->add_option("--anchor", anchor, Text(kCliAnchor))
      ->check(CLI::IsMember({"top-left", "centre"}).description(""))
      ->type_name("top-left|centre");
  std::string remux = "in-place";
  replace->add_option("--remux", remux, Text(kCliRemux))
      ->check(CLI::IsMember({"in-place", "full"}).description(""))
      ->type_name("in-place|full");
  bool dry_run = false;
  replace->add_flag("--dry-run", dry_run, Text(kCliDryRun));
  replace->add_flag("-y,--yes", yes, Text(kCliReplaceYes));
  replace->add_flag("-q,--quiet", quiet, Text(kCliQuiet));

  std::string undo_work;
  bool undo_yes = false;
  CLI::App* undo = app.add_subcommand("undo", Text(kCliUndo));
  undo->add_option("WORK_FOLDER", undo_work, Text(kCliUndoWorkArgument))->required();
  undo->add_flag("-y,--yes", undo_yes, Text(kCliUndoYes));

  cli::LocalizeHelp(app);
  if (const auto status = cli::ParseCommandLine(app, argc, argv)) return *status == 0 ? kResultOk : kResultFailed;
  if (extract->parsed()) {
    ExtractRequest request;
    request.format = format == "png" ? ImageFormat::kPng : ImageFormat::kGif;
    request.preview = preview;
    return run_extract(bdmv, rip, yes, quiet, request);
  }
  if (replace->parsed()) {
    ReplaceOptions options;
    options.ig_language = ig_language;
    options.remux = remux == "full" ? RemuxRoute::kFull : RemuxRoute::kInPlace;
    if (copy_back) options.copy_back = true;
    if (no_copy_back) options.copy_back = false;
    options.colours = colours == "exact" ? ColourMode::kExact : ColourMode::kNearest;
    options.dither = dither;
    options.anchor = anchor == "centre" ? ButtonAnchor::kCentre : ButtonAnchor::kTopLeft;
    options.dry_run = dry_run;
    return run_replace(bdmv, work, options, yes, quiet);
  }
  if (show->parsed()) return run_show(show_bdmv, json);
  if (check->parsed()) return run_check(check_bdmv, check_json);
  if (undo->parsed()) return run_undo(undo_work, undo_yes);
  return kResultFailed;
}
