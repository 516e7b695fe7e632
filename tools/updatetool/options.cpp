#include "tools/updatetool/options.h"

#include <cstdio>
#include <cstring>

static bool take_value(int argc, char** argv, int* i, const char* name, std::string* value, std::string* error) {
    std::string arg = argv[*i];
    std::string prefix = std::string(name) + "=";
    if (arg.compare(0, prefix.size(), prefix) == 0) {
        *value = arg.substr(prefix.size());
        return true;
    }
    if (*i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return false;
    }
    *value = argv[++*i];
    return true;
}

static bool is_option(const std::string& arg, const char* name) {
    size_t n = std::strlen(name);
    return arg == name || (arg.size() > n && arg.compare(0, n, name) == 0 && arg[n] == '=');
}

bool parse_host_options(int argc, char** argv, HostOptions* o, std::string* error) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else if (is_option(arg, "--module")) {
            if (!take_value(argc, argv, &i, "--module", &o->module_dir, error)) return false;
        } else if (is_option(arg, "--ui")) {
            if (!take_value(argc, argv, &i, "--ui", &value, error)) return false;
            if (value != "line" && value != "terminal" && value != "auto") {
                *error = "--ui takes line or terminal, not '" + value + "'";
                return false;
            }
            o->ui = value;
        } else if (is_option(arg, "--answer")) {
            if (!take_value(argc, argv, &i, "--answer", &value, error)) return false;
            if (value != "yes" && value != "no" && value != "ok" && value != "cancel") {
                *error = "--answer takes yes, no, ok or cancel, not '" + value + "'";
                return false;
            }
            o->answers.push_back(value);
        } else if (is_option(arg, "--escape-at")) {
            if (!take_value(argc, argv, &i, "--escape-at", &value, error)) return false;
            o->escape_at.push_back(value);
        } else if (is_option(arg, "--speed")) {
            if (!take_value(argc, argv, &i, "--speed", &value, error)) return false;
            if (value != "max" && value != "realtime") {
                *error = "--speed takes max or realtime, not '" + value + "'";
                return false;
            }
            o->realtime = value == "realtime";
        } else if (is_option(arg, "--report")) {
            if (!take_value(argc, argv, &i, "--report", &o->report_path, error)) return false;
        } else if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) {
        if (!o->module_command_line.empty()) o->module_command_line += ' ';
        o->module_command_line += argv[i];
    }
    return true;
}

void print_host_usage() {
    std::printf(
        "Usage: updatetool [--module DIR] [--ui line|terminal] [--answer yes|no|ok|cancel]...\n"
        "                  [--escape-at TEXT]... [--speed max|realtime] [--report FILE]\n"
        "                  [--] [module command line]\n"
        "\n"
        "Runs the module's flash maintenance program (Update Tool 2.7) on a simulated\n"
        "module. Everything after the host options, joined with single blanks, is the\n"
        "program's own command line on the module:\n"
        "  /u PATH     update the bootloader or OS image from a .bin file, quietly\n"
        "              (no overwrite warning, no reset question; errors are shown)\n"
        "  /f  /fu     save the registry to flash (u: quietly)\n"
        "  /c  /cu     clear the registry stored in flash (u: quietly)\n"
        "  /rMS /rcMS  warm / cold reboot after MS milliseconds\n"
        "  (nothing)   the main dialog: type a button's text or id per line on stdin\n"
        "              (\"BSP Version\", \"1004\"); end of input closes it\n"
        "Paths that start with \\ are paths on the module (under DIR/root); others are\n"
        "host paths.\n"
        "\n"
        "Host options:\n"
        "  --module DIR     the module directory (make one with `modulectl create`).\n"
        "                   Default: $UPDATETOOL_MODULE, else\n"
        "                   ${XDG_DATA_HOME:-~/.local/share}/updatetool/default-module,\n"
        "                   a PXA270 NOR module created on first use.\n"
        "  --ui line        dialogs as lines on stdout (default when stdout is not a TTY)\n"
        "  --ui terminal    full-screen dialogs (not yet available: falls back to line)\n"
        "  --answer A       answer the next message box with A (yes, no, ok, cancel);\n"
        "                   repeat for later boxes. Without one, a line on stdin names\n"
        "                   the button; at end of input the default button is taken.\n"
        "  --escape-at TEXT press Escape (abort) as soon as a window shows a text that\n"
        "                   starts with TEXT, e.g. --escape-at Section:\n"
        "  --speed max      virtual time runs as fast as the host can go (default)\n"
        "  --speed realtime pace the module to the wall clock (watch the chips work)\n"
        "  --report FILE    write a JSON summary when the program ends (also at a\n"
        "                   reboot): job, outcome (success, failure, declined, aborted),\n"
        "                   message boxes, bytes erased and written, virtual time, reboot\n"
        "  --help           this text\n"
        "\n"
        "The exit code is always 1, as on the module; use --report to learn the outcome.\n"
        "Host errors (bad options, a module that cannot be opened) exit with 2.\n");
}
