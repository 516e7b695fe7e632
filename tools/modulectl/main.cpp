// modulectl: creates, inspects and changes simulated modules.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "module/module.h"
#include "module/module_folder.h"
#include "module/os/named_objects.h"
#include "module/profiles.h"
#include "platform/windows.h"
#include "tools/common/cli.h"
#include "tools/common/image_verify.h"
#include "tools/modulectl/check_command.h"
#include "tools/modulectl/commands.h"
#include "tools/modulectl/diff_command.h"
#include "tools/modulectl/map_command.h"
#include "tools/modulectl/nand_commands.h"
#include "tools/modulectl/raw_dump.h"
#include "tools/modulectl/sections_command.h"
#include "tools/modulectl/sweep_command.h"
#include "tools/modulectl/wear_command.h"

namespace {

// Limits of the numbers the commands take: the largest flash a module
// carries (1 GiB of NAND), and a day of holding the flash mutex.
constexpr uint64_t kMaxFlashBytes = 1ull << 30;
constexpr uint64_t kMaxHoldSeconds = 86400;

int cmd_profiles() {
    for (const sim::ProfileInfo& p : sim::builtin_profiles()) std::printf("%-14s %s\n", p.name, p.description);
    return 0;
}

struct Arguments {
    std::string dir;
    std::string profile = "pxa270";
    std::vector<std::string> sets;  // KEY=VALUE, or KEY for unset
    bool force = false;
    uint64_t offset = 0;
    std::optional<uint64_t> length;
    std::string out;    // dump --out; verify's image
    std::string other;  // diff's second module; map's picture
    std::string image;  // map --image
    uint64_t seconds = 0;
    bool json = false;
    bool all = false;  // wear: every block, erased or not
    bool no_oob = false;
    // cut
    std::optional<uint64_t> at_op, at_time_us, seed;
    std::string at;
};

int cmd_create(const Arguments& a) {
    sim::Config config;
    if (!sim::builtin_profile(a.profile, &config)) {
        std::fprintf(stderr, "modulectl create: unknown profile '%s' (see modulectl profiles)\n", a.profile.c_str());
        return cli::kUsage;
    }
    for (const std::string& s : a.sets) {
        std::string error;
        if (!config.set_from_assignment(s, &error)) {
            std::fprintf(stderr, "modulectl create: %s\n", error.c_str());
            return cli::kUsage;
        }
    }
    if (std::filesystem::exists(std::filesystem::path(a.dir) / "module.toml")) {
        if (!a.force) {
            std::fprintf(stderr, "modulectl create: %s already holds a module (use --force to replace it)\n",
                         a.dir.c_str());
            return cli::kUsage;
        }
        std::filesystem::remove_all(a.dir);
    }
    std::string error;
    if (!sim::Module::create(a.dir, config, &error)) {
        std::fprintf(stderr, "modulectl create: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::printf("created %s module in %s\n", a.profile.c_str(), a.dir.c_str());
    return 0;
}

// Every change is checked before the file is written: one bad key leaves
// module.toml as it was.
int cmd_set(const Arguments& a, bool unset) {
    const char* name = unset ? "unset" : "set";
    std::string path = (std::filesystem::path(a.dir) / "module.toml").string();
    sim::Config config;
    std::string error;
    if (!config.load(path, &error)) {
        std::fprintf(stderr, "modulectl %s: %s\n", name, error.c_str());
        return cli::kUsage;
    }
    for (const std::string& s : a.sets) {
        if (unset) {
            if (!config.erase(s)) {
                std::fprintf(stderr, "modulectl unset: unknown key %s\n", s.c_str());
                return cli::kUsage;
            }
        } else if (!config.set_from_assignment(s, &error)) {
            std::fprintf(stderr, "modulectl set: %s\n", error.c_str());
            return cli::kUsage;
        }
    }
    // Removing a key a module needs would leave one that does not open.
    if (!config.check(path, &error)) {
        std::fprintf(stderr, "modulectl %s: %s\n", name, error.c_str());
        return cli::kUsage;
    }
    if (!config.save(path, &error)) {
        std::fprintf(stderr, "modulectl %s: %s\n", name, error.c_str());
        return cli::kUsage;
    }
    return 0;
}

int cmd_events(const Arguments& a) {
    std::string error;
    if (print_events(a.dir, a.json, &error)) return 0;
    std::fprintf(stderr, "modulectl events: %s\n", error.c_str());
    return cli::kUsage;
}

int cmd_show(const Arguments& a) {
    std::string error;
    // Opening the module checks its profile and flash files.
    if (!sim::Module::open(a.dir, &error)) {
        std::fprintf(stderr, "modulectl show: %s\n", error.c_str());
        return cli::kUsage;
    }
    sim::Module::close_current();
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(a.dir, &error);
    if (!view) {
        std::fprintf(stderr, "modulectl show: %s\n", error.c_str());
        return cli::kUsage;
    }
    const sim::Config& c = view->profile();
    if (a.json) {
        OrderedJson keys = OrderedJson::object();
        for (const auto& [key, entry] : c.entries())
            std::visit([&keys, &key](const auto& value) { keys[key] = value; }, entry.value);
        OrderedJson j = {
            {"module", a.dir},
            {"profile", c.get_string("module.profile", "")},
            {"cpu",
             {{"product", c.get_u32("cpu.product", 0)}, {"os", {c.get_u32("os.major", 0), c.get_u32("os.minor", 0)}}}},
            {"flash", flash_json(*view)},
            {"keys", keys}};
        std::printf("%s\n", j.dump(2).c_str());
        return 0;
    }
    std::printf("module:   %s\n", a.dir.c_str());
    std::printf("profile:  %s\n", c.get_string("module.profile", "?").c_str());
    std::printf("cpu:      product %u, OS %u.%u\n", c.get_u32("cpu.product", 0), c.get_u32("os.major", 0),
                c.get_u32("os.minor", 0));
    std::printf("flash:    %s\n", describe_flash(*view).c_str());
    std::printf("\nprofile keys:\n%s", c.to_toml().c_str());
    return 0;
}

int cmd_dump(const Arguments& a) {
    std::string error;
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(a.dir, &error);
    if (!view) {
        std::fprintf(stderr, "modulectl dump: %s\n", error.c_str());
        return cli::kUsage;
    }
    const uint64_t offset = a.offset, size = view->size();
    uint64_t length = a.length.value_or(a.out.empty() ? 256 : size > offset ? size - offset : 0);
    if (offset > size || length > size - offset) {
        std::fprintf(stderr, "modulectl dump: range past the flash's end (0x%llx bytes)\n",
                     static_cast<unsigned long long>(size));
        return cli::kUsage;
    }
    std::vector<uint8_t> bytes(length);
    if (!view->read(offset, length, bytes.data(), &error)) {
        std::fprintf(stderr, "modulectl dump: %s\n", error.c_str());
        return cli::kUsage;
    }
    if (!a.out.empty()) {
        std::ofstream f(a.out, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!f) {
            std::fprintf(stderr, "modulectl dump: cannot write %s\n", a.out.c_str());
            return cli::kFailure;
        }
    } else {
        std::fputs(hex_dump(offset, bytes).c_str(), stdout);
    }
    // The bytes are shown as stored; a reader with ECC would meet these.
    return report_page_problems("dump", *view) ? cli::kFailure : 0;
}

int cmd_verify(const Arguments& a) {
    VerifyResult result;
    std::string error;
    if (!verify_image(a.dir, a.out, &result, &error)) {
        std::fprintf(stderr, "modulectl verify: %s\n", error.c_str());
        return cli::kFailure;
    }
    for (const sim::PageProblem& p : result.page_problems)
        std::fprintf(stderr, "modulectl verify: %s\n", p.text.c_str());
    std::printf("%s\n", result.summary().c_str());
    return result.matches() ? 0 : cli::kFailure;
}

int cmd_hold_flash(const Arguments& a) {
    std::string error;
    if (!sim::Module::open(a.dir, &error)) {
        std::fprintf(stderr, "modulectl hold-flash: %s\n", error.c_str());
        return cli::kUsage;
    }
    HANDLE mutex = nullptr;
    if (sim::hold_named_mutex(u"OnModuleFlash", &error, &mutex) == WAIT_FAILED) {
        std::fprintf(stderr, "modulectl hold-flash: %s\n", error.c_str());
        return cli::kFailure;
    }
    std::printf("holding OnModuleFlash\n");
    std::fflush(stdout);
    if (a.seconds == 0) {
        for (;;) pause();
    }
    std::this_thread::sleep_for(std::chrono::seconds(a.seconds));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    std::printf("released OnModuleFlash\n");
    return 0;
}

int cmd_import(const Arguments& a) {
    std::string error;
    if (modulectl::import_raw(a.dir, a.out, !a.no_oob, std::cout, &error)) return 0;
    std::fprintf(stderr, "modulectl import: %s\n", error.c_str());
    return cli::kFailure;
}

int cmd_map(const Arguments& a) {
    std::string error;
    if (draw_flash_map(a.dir, a.other, a.image, std::cout, &error)) return 0;
    std::fprintf(stderr, "modulectl map: %s\n", error.c_str());
    return cli::kFailure;
}

int cmd_sections(const Arguments& a) {
    std::string error;
    if (print_section_map(a.dir, a.json, &error)) return 0;
    std::fprintf(stderr, "modulectl sections: %s\n", error.c_str());
    return cli::kUsage;
}

int cmd_check(const Arguments& a) {
    CheckResult result;
    std::string error;
    if (!check_module(a.dir, a.out, &result, &error)) {
        std::fprintf(stderr, "modulectl check: %s\n", error.c_str());
        return cli::kUsage;
    }
    if (a.json)
        std::printf("%s\n", result.to_json().dump(2).c_str());
    else
        std::fputs(result.to_text().c_str(), stdout);
    return result.bootable ? 0 : result.verified ? cli::kFailure : kCheckNotVerified;
}

// One of the three ways to choose the cut, written as profile keys.
int cmd_cut(const Arguments& a) {
    int chosen = a.at_op.has_value() + a.at_time_us.has_value() + !a.at.empty();
    if (chosen != 1) {
        std::fprintf(stderr, "modulectl cut: give one of --at-op, --at-time-us and --at\n");
        return cli::kUsage;
    }
    std::string error;
    sim::NamedOperation named;
    if (!a.at.empty() && !sim::parse_named_operation(a.at, &named, &error)) {
        std::fprintf(stderr, "modulectl cut: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::string path = (std::filesystem::path(a.dir) / "module.toml").string();
    sim::Config config;
    if (!config.load(path, &error)) {
        std::fprintf(stderr, "modulectl cut: %s\n", error.c_str());
        return cli::kUsage;
    }
    for (const char* key : sim::kCutKeys) config.erase(key);
    if (a.at_op) config.set_u64("power.cut_at_op", *a.at_op);
    if (a.at_time_us) config.set_u64("power.cut_at_time_us", *a.at_time_us);
    if (!a.at.empty()) config.set_string("power.cut_at", a.at);
    if (a.seed) config.set_u64("power.seed", *a.seed);
    if (!config.check(path, &error) || !config.save(path, &error)) {
        std::fprintf(stderr, "modulectl cut: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::printf("the next run of %s loses its power at %s\n", a.dir.c_str(),
                a.at_op        ? ("operation " + std::to_string(*a.at_op)).c_str()
                : a.at_time_us ? (std::to_string(*a.at_time_us) + " us").c_str()
                               : a.at.c_str());
    return 0;
}

int cmd_wear(const Arguments& a) {
    std::string error;
    if (print_wear(a.dir, a.json, a.all, std::cout, &error)) return 0;
    std::fprintf(stderr, "modulectl wear: %s\n", error.c_str());
    return cli::kUsage;
}

const char kAbout[] =
    "Creates, inspects and changes simulated modules. See docs/module.md for the\n"
    "module directory and the profile keys of module.toml.";

int run(int argc, char** argv) {
    CLI::App app(kAbout, "modulectl");
    cli::prepare(app);
    app.require_subcommand(1);
    Arguments a;
    int result = 0;
    auto command = [&](const char* name, const char* about, std::function<int()> body, bool takes_dir = true) {
        CLI::App* sub = app.add_subcommand(name, about);
        if (takes_dir) sub->add_option("DIR", a.dir, "the module directory")->required()->type_name("");
        // Nothing of a module folder is read or written through a link, or
        // taken for a file it is not; create checks after --force cleared it.
        bool checks = takes_dir && std::string(name) != "create";
        sub->callback([&result, &a, body, checks, name] {
            std::string error;
            if (checks && !sim::check_module_folder(a.dir, &error)) {
                std::fprintf(stderr, "modulectl %s: %s\n", name, error.c_str());
                result = cli::kUsage;
                return;
            }
            result = body();
        });
        return sub;
    };
    command("profiles", "list the built-in module profiles", cmd_profiles, false);
    CLI::App* create = command("create", "make a new module directory (flash erased)", [&] { return cmd_create(a); });
    create->add_option("--profile", a.profile, "a built-in profile (see modulectl profiles)")
        ->type_name("NAME")
        ->capture_default_str();
    create->add_option("--set", a.sets, "override a profile key (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    create->add_flag("--force", a.force, "replace a module already in DIR");
    auto json = [&a](CLI::App* sub) {
        sub->add_flag("--json", a.json, "as JSON");
        return sub;
    };
    json(command("show", "profile, flash (NAND: part, geometry, size) and profile keys of a module",
                 [&] { return cmd_show(a); }));
    command("set", "change profile keys (faults, HAL items ...); all checked before any is written",
            [&] { return cmd_set(a, false); })
        ->add_option("KEY=VALUE", a.sets, "keys and their values")
        ->required();
    command("unset", "remove profile keys", [&] { return cmd_set(a, true); })
        ->add_option("KEY", a.sets, "keys to remove")
        ->required()
        ->type_name("");
    json(command("events", "the module's event log (reboots, registry, configuration items, NAND faults) by run",
                 [&] { return cmd_events(a); }));
    CLI::App* dump = command("dump",
                             "the flash as the system sees it (hex and ASCII, or raw bytes into FILE); on NAND "
                             "pages with ECC errors are named and the exit status is 1",
                             [&] { return cmd_dump(a); });
    cli::add_number(*dump, "--offset", &a.offset, kMaxFlashBytes, "offset to start at");
    cli::add_number(*dump, "--length", &a.length, kMaxFlashBytes, "bytes (default 256; with --out: to the end)");
    dump->add_option("--out", a.out, "write the raw bytes to FILE")->type_name("FILE");
    json(command("sections", "the flash section map as an update detects it", [&] { return cmd_sections(a); }));
    command("verify",
            "compare the flash, as the system addresses it, with every record of IMAGE as an update places "
            "it; exit status 0 when all match, 1 when not",
            [&] { return cmd_verify(a); })
        ->add_option("IMAGE", a.out, "a Windows CE .bin image")
        ->required()
        ->type_name("");
    CLI::App* hold = command("hold-flash",
                             "take the flash mutex OnModuleFlash as the running system's flash driver does and "
                             "hold it until killed (or N seconds)",
                             [&] { return cmd_hold_flash(a); });
    cli::add_number(*hold, "--seconds", &a.seconds, kMaxHoldSeconds, "release it after N seconds (0: never)");
    json(command("wear",
                 "each chip's erase counters: the blocks erased at least once, worn or ok, and the most and "
                 "mean erases",
                 [&] { return cmd_wear(a); }))
        ->add_flag("--all", a.all, "every block, erased or not");
    CLI::App* diff =
        json(command("diff",
                     "what differs between the flash of modules DIR and OTHER (one profile), by erase block and by "
                     "section: erased, programmed, rewritten, lock bits, NAND relocations, bytes; exit status 0 "
                     "the same, 1 different, 2 not comparable",
                     [&] { return diff_modules(a.dir, a.other, a.json); }));
    diff->add_option("OTHER", a.other, "the module to compare with")->required()->type_name("");
    CLI::App* map = command("map",
                            "draw the flash as an SVG picture: the section map with the image's range over it, and "
                            "every erase block by state (NOR: erased, programmed, locked; NAND: bad, relocated, "
                            "reserve, erased, programmed), with a legend",
                            [&] { return cmd_map(a); });
    map->add_option("-o,--output", a.other, "the SVG file to write")->required()->type_name("FILE");
    map->add_option("--image", a.image,
                    "the image whose records to show where an update puts them (default: the image the section "
                    "map finds in flash)")
        ->type_name("IMAGE.bin");
    CLI::App* import = command("import",
                               "write a raw dump into the flash files: NAND as export --raw writes it (each page's "
                               "main area followed by its spare area, chip 0 then chip 1), NOR the byte image; a "
                               "dump of another size is refused",
                               [&] { return cmd_import(a); });
    import->add_option("FILE", a.out, "the dump")->required()->type_name("");
    import->add_flag("--no-oob", a.no_oob, "NAND: the dump holds the main areas alone; the spare areas are erased");
    CLI::App* check = json(command("check",
                                   "what a power cut left: each section's blocks (erased, data, damaged), the image "
                                   "compared per section, on NAND the relocation table and boot area; exit status 0 "
                                   "bootable, 1 not bootable, 3 not verified (NOR with no cut recorded: give the "
                                   "image to verify the boot region)",
                                   [&] { return cmd_check(a); }));
    check->add_option("IMAGE", a.out, "compare with this Windows CE .bin image")->type_name("");
    CLI::App* cut = command("cut",
                            "lose the power part-way through a program or erase of the next run (once; the keys "
                            "power.cut_* in module.toml)",
                            [&] { return cmd_cut(a); });
    cli::add_number(*cut, "--at-op", &a.at_op, 0xFFFFFFFF, "the Nth program or erase (from 1)");
    cli::add_number(*cut, "--at-time-us", &a.at_time_us, 1000000000000ull, "at this virtual time of the run");
    cut->add_option("--at", a.at, "the first erase or program whose range holds ADDRESS")
        ->type_name("erase@ADDRESS|program@ADDRESS");
    cli::add_number(*cut, "--seed", &a.seed, 0xFFFFFFFF, "seed of the bits the cut operation leaves");
    SweepOptions sweep_options;
    std::string shard;
    CLI::App* sweep =
        command("sweep",
                "run an update on scratch copies of the module, cutting the power at a different operation each time; "
                "check each cut and update again; print the table",
                [&] {
                    sweep_options.dir = a.dir;
                    if (!shard.empty()) {
                        unsigned i = 0, n = 0;
                        char end = 0;
                        if (std::sscanf(shard.c_str(), "%u/%u%c", &i, &n, &end) != 2) {
                            std::fprintf(stderr, "modulectl sweep: --shard must be I/N, not '%s'\n", shard.c_str());
                            return cli::kUsage;
                        }
                        sweep_options.shard = i;
                        sweep_options.shards = n;
                    }
                    return run_sweep(sweep_options);
                });
    sweep->add_option("IMAGE", sweep_options.image, "the update's Windows CE .bin image")->required()->type_name("");
    cli::add_number(*sweep, "--every", &sweep_options.every, 0xFFFFFFFF, "cut at every Nth operation");
    cli::add_number(*sweep, "--points", &sweep_options.points, 0xFFFFFFFF, "cut at K seeded operations (default 20)");
    cli::add_number(*sweep, "--seed", &sweep_options.seed, 0xFFFFFFFF, "seed of the points and of the cut bits");
    cli::add_number(*sweep, "--jobs", &sweep_options.jobs, 64, "cut points run at once");
    sweep->add_option("--shard", shard, "run the Ith of N parts of the points (1 <= I <= N)")->type_name("I/N");
    sweep->add_option("-o,--csv", sweep_options.csv, "write the table as CSV")->type_name("FILE");
    sweep->add_option("--json", sweep_options.json, "write the table as JSON")->type_name("FILE");
    sweep->add_option("--work", sweep_options.work, "keep the scratch copies' reports in DIR")->type_name("DIR");
    sweep->add_option("--updatetool", sweep_options.updatetool, "the updatetool to run (default: beside modulectl)")
        ->type_name("PATH");
    sweep
        ->add_option("--runner", sweep_options.runner,
                     "run the tools through this command, e.g. \"qemu-arm -L /usr/arm-linux-gnueabi\" for a "
                     "cross-built module")
        ->type_name("WORDS");
    modulectl::add_nand_commands(app, std::cout, std::cerr, &result);
    if (argc == 1) {
        std::fputs(app.help().c_str(), stderr);
        return cli::kUsage;
    }
    if (int status = cli::parse(app, argc, argv); status >= 0) return status;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    return cli::run_guarded("modulectl", [&] { return run(argc, argv); });
}
