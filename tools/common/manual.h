// The manual pages and the shell completion are made from the command line's
// own definitions: a hidden --generate WHAT prints a part of them, which the
// build puts into the pages and the completion script. --help and the manual
// then never disagree.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// What a completion offers for a value whose help names it so (e.g. "NAME"
// of --profile: the profile names), by type name.
using CompletionWords = std::map<std::string, std::string>;

// The roff sections of a page made from the definitions: SYNOPSIS,
// DESCRIPTION (the help's text), OPTIONS, COMMANDS (each subcommand, its
// arguments and options) and EXIT STATUS (the help's footer).
std::string man_sections(const CLI::App& app);

// Lines of bash that fill the completion's tables for this tool: its
// commands, each command's options, what each option's value and each
// positional argument is (a folder, a .bin file, a file, words, anything).
std::string completion_tables(const CLI::App& app, const CompletionWords& words = {});

// Adds the hidden --generate: "man" and "bash" as above, and any extra part
// by name. Call once every option and subcommand is on the app.
void add_generate(CLI::App& app, const CompletionWords& words = {},
                  std::vector<std::pair<std::string, std::function<std::string()>>> extra = {});

// Text for roff: backslashes, leading dots and quotes, and hyphens escaped.
std::string roff_text(const std::string& text);

}  // namespace cli
