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
  const fs::path source = bdmv.empty() ? fs::path() : fs::absolute(bdmv);
  ReplaceOutcome out =
      RunReplaceCommand(source, work.empty() ? fs::path() : fs::absolute(work), options, messenger, progress);
  progress.clear_line();
  if (out.result == kResultCancelled && progress.cancelled()) {
    std::cerr << message_text(kCliCancelled) << std::endl;
  }
  if (out.result == kResultOk && (out.edited || options.dry_run) && !quiet) {
    std::cout << cli::terminal_text(ReplaceEndText(out, options.dry_run)) << WarningCount(messenger)
              << std::endl;
  }
  return out.result;
}

int run_undo(const std::string& work, bool yes) {
  cli::TerminalMessenger messenger(yes, false);
  const UndoOutcome out = RunUndoCommand(work.empty() ? fs::path() : fs::absolute(work), messenger);
  return out.result;
}

// What the command line asks for, filled in by the parser.
struct SCommandLine {
  std::string bdmv, rip, work, show_bdmv, check_bdmv, undo_work, ig_language;
  bool yes = false, quiet = false, preview = false, json = false, check_json = false, undo_yes = false;
  bool copy_back = false, no_copy_back = false, dither = false, dry_run = false;
  std::string format = "gif", colours = "nearest", anchor = "top-left", remux = "in-place";
  CLI::App *extract = nullptr, *replace = nullptr, *show = nullptr, *check = nullptr, *undo = nullptr;
};

void AddExtract(CLI::App& app, SCommandLine& c) {
  c.extract = app.add_subcommand("extract", Text(kCliExtract));
  c.extract->add_option("BDMV_FOLDER", c.bdmv, Text(kCliBdmvArgument))->required();
  c.extract->add_option("RIP_FOLDER", c.rip, Text(kCliRipArgument))->required();
  c.extract->add_flag("-y,--yes", c.yes, Text(kCliYes));
  c.extract->add_flag("-q,--quiet", c.quiet, Text(kCliQuiet));
  c.extract->add_flag("--preview", c.preview, Text(kStrOptPreview));
  c.extract->add_option("--format", c.format, Text(kStrOptFormat))
      ->check(CLI::IsMember({"gif", "png"}).description(""))
      ->type_name("gif|png");
}

void AddShowCheck(CLI::App& app, SCommandLine& c) {
  c.show = app.add_subcommand("show", Text(kStrShowCommand));
  c.show->add_option("BDMV_FOLDER", c.show_bdmv, Text(kCliBdmvArgument))->required();
  c.show->add_flag("--json", c.json, Text(kStrOptJson));
  c.check = app.add_subcommand("check", Text(kStrCheckCommand));
  c.check->add_option("BDMV_FOLDER", c.check_bdmv, Text(kCliBdmvArgument))->required();
  c.check->add_flag("--json", c.check_json, Text(kStrOptCheckJson));
}

void AddUndo(CLI::App& app, SCommandLine& c) {
  c.undo = app.add_subcommand("undo", Text(kCliUndo));
  c.undo->add_option("WORK_FOLDER", c.undo_work, Text(kCliUndoWorkArgument))->required();
  c.undo->add_flag("-y,--yes", c.undo_yes, Text(kCliUndoYes));
}

void AddReplace(CLI::App& app, SCommandLine& c) {
  CLI::App* r = c.replace = app.add_subcommand("replace", Text(kCliReplace));
  r->add_option("BDMV_FOLDER", c.bdmv, Text(kCliReplaceBdmvArgument))->required();
  r->add_option("WORK_FOLDER", c.work, Text(kCliWorkArgument))->required();
  auto* copy_opt = r->add_flag("--copy-back", c.copy_back, Text(kCliCopyBack));
  r->add_flag("--no-copy-back", c.no_copy_back, Text(kCliNoCopyBack))->excludes(copy_opt);
  r->add_option("--ig-language", c.ig_language, Text(kCliIgLanguage))->check([](const std::string& code) {
    return IsLanguageCode(code) ? std::string() : plain_text(format_message(kMsgBadLanguage, code));
  });
  r->add_option("--colours", c.colours, Text(kCliColours))
      ->check(CLI::IsMember({"nearest", "exact"}).description(""))
      ->type_name("nearest|exact");
  r->add_flag("--dither", c.dither, Text(kCliDither));
  r->add_option("--anchor", c.anchor, Text(kCliAnchor))
      ->check(CLI::IsMember({"top-left", "centre"}).description(""))
      ->type_name("top-left|centre");
  r->add_option("--remux", c.remux, Text(kCliRemux))
      ->check(CLI::IsMember({"in-place", "full"}).description(""))
      ->type_name("in-place|full");
  r->add_flag("--dry-run", c.dry_run, Text(kCliDryRun));
  r->add_flag("-y,--yes", c.yes, Text(kCliReplaceYes));
  r->add_flag("-q,--quiet", c.quiet, Text(kCliQuiet));
}

ReplaceOptions ReplaceOptionsOf(const SCommandLine& c) {
  ReplaceOptions options;
  options.ig_language = c.ig_language;
  options.remux = c.remux == "full" ? RemuxRoute::kFull : RemuxRoute::kInPlace;
  if (c.copy_back) options.copy_back = true;
  if (c.no_copy_back) options.copy_back = false;
  options.colours = ColourModeOfWord(c.colours);
  options.dither = c.dither;
  options.anchor = AnchorOfWord(c.anchor);
  options.dry_run = c.dry_run;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  // The system's error texts (a failed open, a full disk) follow the user's locale too.
  std::setlocale(LC_MESSAGES, "");
  CLI::App app{Text(kCliAbout) + "\n\n" + Text(kCliExample) + "\n", "veld"};
  app.set_version_flag("--version", fmt::format("VELD, Version {}\nLicence: {} (free software; there is NO WARRANTY)",
                                               VELD_VERSION, kLicence));
  app.require_subcommand(1);
  SCommandLine c;
  // The order of the subcommands in the help text.
  AddExtract(app, c);
  AddShowCheck(app, c);
  AddReplace(app, c);
  AddUndo(app, c);
  cli::LocalizeHelp(app);
  if (const auto status = cli::ParseCommandLine(app, argc, argv)) return *status == 0 ? kResultOk : kResultFailed;
  if (c.extract->parsed()) {
    ExtractRequest request;
    request.format = c.format == "png" ? ImageFormat::kPng : ImageFormat::kGif;
    request.preview = c.preview;
    return run_extract(c.bdmv, c.rip, c.yes, c.quiet, request);
  }
  if (c.replace->parsed()) return run_replace(c.bdmv, c.work, ReplaceOptionsOf(c), c.yes, c.quiet);
  if (c.show->parsed()) return run_show(c.show_bdmv, c.json);
  if (c.check->parsed()) return run_check(c.check_bdmv, c.check_json);
  if (c.undo->parsed()) return run_undo(c.undo_work, c.undo_yes);
  return kResultFailed;
}
