// What the three tools' command lines share: --help and --version, numbers
// through one reader with a stated limit, one-line errors, and the exit
// statuses: 0 done, 1 the work failed, 2 the command line was wrong.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/numbers.h"

namespace cli {

inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

// The project's version, one for every tool.
const char* version();

// Adds --version, and the number forms and exit statuses (or footer) to the help's end.
void prepare(CLI::App& app, const std::string& footer = "");
// The help's last lines for a command whose exit statuses say more than done
// or failed: the number forms, then "Exit status: " and the statuses.
void set_exit_statuses(CLI::App& command, const std::string& statuses);

// Checks that an option's text is one of the words (the help shows them
// through the option's type name).
CLI::Validator one_of(std::vector<std::string> words);

// Checks that an option's text is a number (decimal or 0x hex) of at most max.
CLI::Validator number(uint64_t max);
// "0xFFFFFFFF", "1 GiB": a limit as the help states it.
std::string limit_text(uint64_t max);

template <typename T>
struct NumberOf {
    using type = T;
};
template <typename T>
struct NumberOf<std::optional<T>> {
    using type = T;
};

// A number option or positional (target: an unsigned integer, or a
// std::optional of one, set only when given). The help names a limit other
// than 0xFFFFFFFF.
template <typename T>
CLI::Option* add_number(CLI::App& app, const std::string& name, T* target, uint64_t max, const std::string& help) {
    auto store = [target](const std::string& text) {
        uint64_t value = 0;
        parse_number(text, &value);
        *target = static_cast<typename NumberOf<T>::type>(value);
    };
    std::string limit = max == 0xFFFFFFFF ? "" : " (at most " + limit_text(max) + ")";
    return app.add_option_function<std::string>(name, store, help + limit)->check(number(max))->type_name("N");
}

// Parses the arguments (args[0] is the first argument, not the program).
// Returns -1 to go on; else the exit status to end with: 0 after --help or
// --version, kUsage after a one-line error on stderr.
int parse(CLI::App& app, std::vector<std::string> args);
int parse(CLI::App& app, int argc, char** argv);

// Runs a tool's body; anything it throws, or that reaches std::terminate
// from another thread, ends it with a one-line error and the exit status
// failure (a host error) instead of an abort.
int run_guarded(const char* tool, const std::function<int()>& body, int failure = kUsage);

}  // namespace cli
