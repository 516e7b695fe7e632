// modulectl: creates, inspects and changes simulated modules.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "module/module.h"
#include "module/profiles.h"
#include "platform/windows.h"
#include "tools/modulectl/commands.h"
#include "tools/modulectl/sections_command.h"

namespace {

void usage() {
    std::printf(
        "Usage: modulectl COMMAND ...\n"
        "\n"
        "  profiles                         list the built-in module profiles\n"
        "  create DIR --profile NAME [--set KEY=VALUE]... [--force]\n"
        "                                   make a new module directory (flash erased,\n"
        "                                   profile keys overridden by --set)\n"
        "  show DIR                         profile, flash and recent events of a module\n"
        "  set DIR KEY=VALUE...             change profile keys (faults, HAL items ...)\n"
        "  unset DIR KEY...                 remove profile keys\n"
        "  events DIR                       the module's event log (reboots, registry)\n"
        "  dump DIR [--offset N] [--length N] [--out FILE]\n"
        "                                   the flash as the system sees it (hex, or\n"
        "                                   raw bytes into FILE)\n"
        "  sections DIR                     the flash section map as an update detects it\n"
        "  hold-flash DIR [--seconds N]     take the flash mutex OnModuleFlash as the\n"
        "                                   running system's flash driver does, and\n"
        "                                   hold it until killed (or N seconds)\n"
        "%s"
        "\n"
        "Numbers may be decimal or 0x hex. See docs/module.md for the directory layout\n"
        "and the profile keys.\n",
        extra_command_usage().c_str());
}

bool parse_u64(const std::string& text, uint64_t* value) {
    if (sim::parse_number(text, value)) return true;
    std::fprintf(stderr, "modulectl: '%s' is not a number\n", text.c_str());
    return false;
}

int cmd_profiles() {
    for (const sim::ProfileInfo& p : sim::builtin_profiles()) std::printf("%-14s %s\n", p.name, p.description);
    return 0;
}

int cmd_create(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "modulectl create: missing DIR\n");
        return 2;
    }
    std::string dir = args[0], profile_name;
    bool force = false;
    std::vector<std::string> sets;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--profile" && i + 1 < args.size())
            profile_name = args[++i];
        else if (args[i].rfind("--profile=", 0) == 0)
            profile_name = args[i].substr(10);
        else if (args[i] == "--set" && i + 1 < args.size())
            sets.push_back(args[++i]);
        else if (args[i].rfind("--set=", 0) == 0)
            sets.push_back(args[i].substr(6));
        else if (args[i] == "--force")
            force = true;
        else {
            std::fprintf(stderr, "modulectl create: unexpected '%s'\n", args[i].c_str());
            return 2;
        }
    }
    if (profile_name.empty()) profile_name = "pxa270";
    sim::Config config;
    if (!sim::builtin_profile(profile_name, &config)) {
        std::fprintf(stderr, "modulectl create: unknown profile '%s' (see modulectl profiles)\n", profile_name.c_str());
        return 2;
    }
    for (const std::string& s : sets) {
        std::string error;
        if (!config.set_from_assignment(s, &error)) {
            std::fprintf(stderr, "modulectl create: %s\n", error.c_str());
            return 2;
        }
    }
    if (std::filesystem::exists(std::filesystem::path(dir) / "module.toml")) {
        if (!force) {
            std::fprintf(stderr, "modulectl create: %s already holds a module (use --force to replace it)\n",
                         dir.c_str());
            return 2;
        }
        std::filesystem::remove_all(dir);
    }
    std::string error;
    if (!sim::Module::create(dir, config, &error)) {
        std::fprintf(stderr, "modulectl create: %s\n", error.c_str());
        return 1;
    }
    std::printf("created %s module in %s\n", profile_name.c_str(), dir.c_str());
    return 0;
}

int cmd_set(const std::vector<std::string>& args, bool unset) {
    if (args.size() < 2) {
        std::fprintf(stderr, "modulectl %s: need DIR and at least one key\n", unset ? "unset" : "set");
        return 2;
    }
    std::string path = (std::filesystem::path(args[0]) / "module.toml").string();
    sim::Config config;
    std::string error;
    if (!config.load(path, &error)) {
        std::fprintf(stderr, "modulectl: %s\n", error.c_str());
        return 1;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        if (unset) {
            config.erase(args[i]);
        } else if (!config.set_from_assignment(args[i], &error)) {
            std::fprintf(stderr, "modulectl set: %s\n", error.c_str());
            return 2;
        }
    }
    if (!config.save(path, &error)) {
        std::fprintf(stderr, "modulectl: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int cmd_events(const std::vector<std::string>& args) {
    if (args.empty()) return 2;
    std::ifstream f(std::filesystem::path(args[0]) / "events.log");
    std::cout << f.rdbuf();
    return 0;
}

int cmd_show(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "modulectl show: missing DIR\n");
        return 2;
    }
    std::string error;
    sim::Module* m = sim::Module::open(args[0], &error);
    if (!m) {
        std::fprintf(stderr, "modulectl show: %s\n", error.c_str());
        return 1;
    }
    const sim::Config& c = m->config();
    std::printf("module:   %s\n", args[0].c_str());
    std::printf("profile:  %s\n", c.get_string("module.profile", "?").c_str());
    std::printf("cpu:      product %u, OS %u.%u\n", c.get_u32("cpu.product", 0), c.get_u32("os.major", 0),
                c.get_u32("os.minor", 0));
    std::printf("flash:    %s\n", describe_flash(*m).c_str());
    std::printf("\nprofile keys:\n%s", c.to_toml().c_str());
    sim::Module::close_current();
    return 0;
}

int cmd_dump(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "modulectl dump: missing DIR\n");
        return 2;
    }
    uint64_t offset = 0, length = 256;
    bool length_given = false;
    std::string out;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--offset" && i + 1 < args.size()) {
            if (!parse_u64(args[++i], &offset)) return 2;
        } else if (args[i] == "--length" && i + 1 < args.size()) {
            if (!parse_u64(args[++i], &length)) return 2;
            length_given = true;
        } else if (args[i] == "--out" && i + 1 < args.size()) {
            out = args[++i];
        } else {
            std::fprintf(stderr, "modulectl dump: unexpected '%s'\n", args[i].c_str());
            return 2;
        }
    }
    std::string error;
    sim::Module* m = sim::Module::open(args[0], &error);
    if (!m) {
        std::fprintf(stderr, "modulectl dump: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint64_t size = flash_view_size(*m);
    if (!out.empty() && !length_given) length = size > offset ? size - offset : 0;
    if (offset > size || length > size - offset) {
        std::fprintf(stderr, "modulectl dump: range past the flash's end (0x%llx bytes)\n",
                     static_cast<unsigned long long>(size));
        return 2;
    }
    if (!read_flash_view(*m, offset, length, &bytes, &error)) {
        std::fprintf(stderr, "modulectl dump: %s\n", error.c_str());
        return 1;
    }
    sim::Module::close_current();
    if (!out.empty()) {
        std::ofstream f(out, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return f ? 0 : 1;
    }
    for (size_t i = 0; i < bytes.size(); i += 16) {
        std::printf("%08llx ", static_cast<unsigned long long>(offset + i));
        for (size_t k = i; k < i + 16 && k < bytes.size(); ++k) std::printf(" %02x", bytes[k]);
        std::printf("\n");
    }
    return 0;
}

int cmd_hold_flash(const std::vector<std::string>& args) {
    if (args.empty()) return 2;
    uint64_t seconds = 0;
    for (size_t i = 1; i < args.size(); ++i)
        if (args[i] == "--seconds" && i + 1 < args.size() && !parse_u64(args[++i], &seconds)) return 2;
    std::string error;
    if (!sim::Module::open(args[0], &error)) {
        std::fprintf(stderr, "modulectl hold-flash: %s\n", error.c_str());
        return 1;
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, TEXT("OnModuleFlash"));
    if (!mutex || WaitForSingleObject(mutex, INFINITE) == WAIT_FAILED) {
        std::fprintf(stderr, "modulectl hold-flash: cannot take OnModuleFlash\n");
        return 1;
    }
    std::printf("holding OnModuleFlash\n");
    std::fflush(stdout);
    if (seconds == 0) {
        for (;;) pause();
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    std::printf("released OnModuleFlash\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage();
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "profiles") return cmd_profiles();
    if (command == "create") return cmd_create(args);
    if (command == "set") return cmd_set(args, false);
    if (command == "unset") return cmd_set(args, true);
    if (command == "events") return cmd_events(args);
    if (command == "show") return cmd_show(args);
    if (command == "dump") return cmd_dump(args);
    if (command == "hold-flash") return cmd_hold_flash(args);
    if (command == "sections") {
        std::string error;
        if (args.empty()) {
            std::fprintf(stderr, "modulectl sections: missing DIR\n");
            return 2;
        }
        if (!print_section_map(args[0], &error)) {
            std::fprintf(stderr, "modulectl sections: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    int result = 0;
    if (run_extra_command(command, args, &result)) return result;
    std::fprintf(stderr, "modulectl: unknown command '%s' (see modulectl --help)\n", command.c_str());
    return 2;
}
