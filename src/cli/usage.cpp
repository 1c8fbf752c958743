// SPDX-License-Identifier: GPL-3.0-or-later
#include "usage.h"

#include <algorithm>
#include <iostream>

#include "terminal.h"
#include "veld/base/messages.h"

namespace veld::cli {
namespace {

std::string Text(int id) { return std::string(message_text(id)); }

// Optimal string alignment distance: insertions, deletions, substitutions and swaps of neighbours.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

void RenameGroups(CLI::App& app) {
  for (CLI::Option* opt : app.get_options()) {
    if (opt->get_group() == "Options") opt->group(Text(kCliLabelOptions));
  }
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (sub->get_group() == "Subcommands") sub->group(Text(kCliLabelSubcommands));
    if (CLI::Option* help = sub->get_help_ptr()) help->description(Text(kCliHelp));
    RenameGroups(*sub);
  }
}

// The long and short names of the options of app ("--yes", "-y"), for suggestions.
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* opt : app.get_options()) {
    for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
    for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
  }
  return names;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(sub->get_name());
  }
  return names;
}

// error: <text>, an optional suggestion, and where to find help; status 2.
int UsageError(const std::string& text, const std::string& suggestion) {
  std::cerr << message_text(kCliError) << text << "\n";
  if (!suggestion.empty()) std::cerr << terminal_text(format_message(kMsgDidYouMean, suggestion)) << "\n";
  std::cerr << format_message(kCliMoreInformation, "veld") << std::endl;
  return 2;
}

// An argument that the command line does not know: a mistyped command or option, or one too many.
int UnknownArgument(const CLI::App& app, const CLI::App* command, const std::string& word) {
  const bool is_option = !word.empty() && word[0] == '-';
  if (!command && !is_option) {
    return UsageError(format_message(kCliUnknownCommand, word), ClosestName(word, CommandNames(app)));
  }
  const CLI::App& scope = command ? *command : app;
  return UsageError(format_message(kCliUnknownArgument, word),
                    is_option ? ClosestName(word, OptionNames(scope)) : std::string());
}

// No command was recognised: name the unknown word, or list the commands when there was none.
int MissingCommand(const CLI::App& app) {
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) return UnknownArgument(app, nullptr, extras.front());
  std::string list;
  for (const std::string& name : CommandNames(app)) list += (list.empty() ? "" : ", ") + name;
  return UsageError(format_message(kCliCommandRequired, list), {});
}

}  // namespace

std::string ClosestName(std::string_view word, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t best_distance = 3;  // more than two edits is no typo
  for (const std::string& c : candidates) {
    const std::size_t d = EditDistance(word, c);
    // A one- or two-letter word is within two edits of everything short; it must be half right.
    if (d < best_distance && d * 2 < c.size()) {
      best = c;
      best_distance = d;
    }
  }
  if (!best.empty()) return best;
  std::string prefixed;
  int count = 0;
  for (const std::string& c : candidates) {
    if (word.size() >= 2 && c.size() > word.size() && c.compare(0, word.size(), word) == 0) {
      prefixed = c;
      ++count;
    }
  }
  return count == 1 ? prefixed : std::string();
}

void LocalizeHelp(CLI::App& app) {
  const auto formatter = app.get_formatter();
  formatter->label("Usage", Text(kCliLabelUsage));
  formatter->label("OPTIONS", Text(kCliLabelOptionsWord));
  formatter->label("SUBCOMMAND", Text(kCliLabelSubcommandWord));
  formatter->label("REQUIRED", Text(kCliLabelRequired));
  formatter->label("Positionals", Text(kCliLabelPositionals));
  formatter->label("TEXT", Text(kCliLabelText));
  formatter->label("Excludes", Text(kCliLabelExcludes));
  formatter->label("Needs", Text(kCliLabelNeeds));
  if (CLI::Option* help = app.get_help_ptr()) help->description(Text(kCliHelp));
  if (CLI::Option* version = app.get_option_no_throw("--version")) version->description(Text(kCliVersion));
  RenameGroups(app);
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  // Unknown words are kept rather than refused by CLI11, so that the message can name them.
  app.allow_extras();
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) sub->allow_extras();
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::RequiredError& e) {
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    if (parsed.empty() && app.get_require_subcommand_min() > 0) return MissingCommand(app);
    const CLI::App& scope = parsed.empty() ? app : *parsed.back();
    for (const CLI::Option* opt : scope.get_options()) {
      if (opt->get_required() && opt->count() == 0) {
        return UsageError(format_message(kCliMissingArgument, opt->get_name()), {});
      }
    }
    return UsageError(e.what(), {});
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what(), {});
  }
  const std::vector<CLI::App*> parsed = app.get_subcommands();
  const CLI::App* command = parsed.empty() ? nullptr : parsed.back();
  const std::vector<std::string> extras = app.remaining(true);
  if (!extras.empty()) return UnknownArgument(app, command, extras.front());
  if (!command) return MissingCommand(app);
  return std::nullopt;
}

}  // namespace veld::cli
