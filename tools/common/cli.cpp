#include "tools/common/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace cli {

const char* version() { return UPDATETOOL_VERSION; }

namespace {

const char kNumberForms[] = "Numbers are decimal or 0x hex, at most 0xFFFFFFFF unless said otherwise.\n";

}  // namespace

void prepare(CLI::App& app, const std::string& footer) {
    app.set_version_flag("--version", std::string(app.get_name()) + " " + version());
    if (!footer.empty())
        app.footer(footer + "\n");
    else
        set_exit_statuses(app, "0 done, 1 the work failed, 2 the command line was wrong");
}

void set_exit_statuses(CLI::App& command, const std::string& statuses) {
    command.footer(std::string(kNumberForms) + "Exit status: " + statuses + ".\n");
}

CLI::Validator one_of(std::vector<std::string> words) {
    CLI::Validator member = CLI::IsMember(std::move(words));
    member.description("");
    return member;
}

std::string limit_text(uint64_t max) {
    // Sizes are stated as powers of two (1 GiB, 64 MiB); other limits, a
    // time in microseconds among them, as the number they are.
    bool power_of_two = (max & (max - 1)) == 0;
    for (auto [shift, unit] : {std::pair{30, "GiB"}, {20, "MiB"}, {10, "KiB"}})
        if (power_of_two && max >= (1ull << shift)) return std::to_string(max >> shift) + " " + unit;
    // All ones (0xFFFF, 0xFFFFFFFF) reads best in hex.
    bool all_ones = max > 0xFF && (max & (max + 1)) == 0;
    char text[32];
    std::snprintf(text, sizeof text, all_ones ? "0x%llX" : "%llu", static_cast<unsigned long long>(max));
    return text;
}

CLI::Validator number(uint64_t max) {
    return CLI::Validator(
        [max](std::string& text) -> std::string {
            uint64_t value;
            if (parse_number(text, &value)) return value <= max ? "" : "'" + text + "' is over " + limit_text(max);
            return "'" + text + "' is not a number";
        },
        "");
}

namespace {

// The subcommand the error belongs to: the deepest one given.
const CLI::App* innermost(const CLI::App& app) {
    std::vector<CLI::App*> given = app.get_subcommands();
    return given.empty() ? &app : innermost(*given.front());
}

std::string command_path(const CLI::App& app) {
    return app.get_parent() ? command_path(*app.get_parent()) + " " + app.get_name() : app.get_name();
}

std::string usage_message(const CLI::App& app, const CLI::ParseError& e) {
    // Words nothing took: options not known here, a command name that is
    // not one, or one argument too many.
    std::vector<std::string> extra = app.remaining();
    if (!extra.empty()) {
        const std::string& first = extra.front();
        // "--" ends the options; the words after it are no option.
        if (first.size() > 1 && first[0] == '-' && first != "--") return "unknown option " + first;
        if (!app.get_subcommands([](const CLI::App*) { return true; }).empty() && app.get_subcommands().empty())
            return "unknown command '" + first + "'";
        if (dynamic_cast<const CLI::ExtrasError*>(&e)) return "unexpected argument '" + first + "'";
    }
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

}  // namespace

int parse(CLI::App& app, std::vector<std::string> args) {
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
        return -1;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        const CLI::App* where = innermost(app);
        std::fprintf(stderr, "%s: %s (see %s --help)\n", command_path(*where).c_str(), usage_message(*where, e).c_str(),
                     command_path(*where).c_str());
        return kUsage;
    }
}

int parse(CLI::App& app, int argc, char** argv) {
    return parse(app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

namespace {

const char* guarded_tool = "";
int guarded_failure = kUsage;

// The one-line error for an exception nobody caught.
void say_uncaught(const char* tool, std::exception_ptr thrown) {
    try {
        if (thrown) std::rethrow_exception(thrown);
        std::fprintf(stderr, "%s: unexpected failure\n", tool);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", tool, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected failure\n", tool);
    }
}

// std::terminate: an exception that left another thread, or one thrown where
// none may pass (a destructor, a noexcept function). The process ends with
// the same line and status as the body's own, not with an abort.
[[noreturn]] void end_uncaught() {
    say_uncaught(guarded_tool, std::current_exception());
    std::fflush(nullptr);
    _exit(guarded_failure);
}

}  // namespace

int run_guarded(const char* tool, const std::function<int()>& body, int failure) {
    guarded_tool = tool;
    guarded_failure = failure;
    std::set_terminate(end_uncaught);
    try {
        return body();
    } catch (...) {
        say_uncaught(tool, std::current_exception());
    }
    return failure;
}

}  // namespace cli
