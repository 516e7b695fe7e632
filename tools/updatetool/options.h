// Command line of the host program: host options first, then the module's
// own command line.
#pragma once
#include <string>
#include <vector>

struct HostOptions {
    std::string module_dir;              // empty: the default module
    std::string ui = "auto";             // auto, line, terminal
    std::vector<std::string> answers;    // yes, no, ok, cancel: one per message box
    std::vector<std::string> escape_at;  // window-text prefixes that deliver Escape
    bool realtime = false;
    std::string report_path;          // "-": stdout
    int detail = 1;                   // 0 quiet (-q), 1 normal, 2 verbose (-v)
    bool verify = false;              // compare the flash with the image after a successful update
    bool module_exit_status = false;  // exit with the program's own return value
    bool dry_run = false;             // run on a scratch copy; the module stays as it was
    std::string keep_dir;             // dry run: keep the scratch copy here
    std::string module_command_line;  // joined with single blanks
};

// Parses argv. Returns -1 to go on with the options filled in; else the exit
// status to end with (0 after --help or --version, 2 after a usage error).
int parse_host_options(int argc, char** argv, HostOptions* options);
