// modulectl: creates, inspects and changes simulated modules.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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
#include "tools/common/manual.h"
#include "tools/common/module_create.h"
#include "tools/common/output_file.h"
#include "tools/modulectl/campaign_command.h"
#include "tools/modulectl/check_command.h"
#include "tools/modulectl/commands.h"
#include "tools/modulectl/diff_command.h"
#include "tools/modulectl/key_manual.h"
#include "tools/modulectl/map_command.h"
#include "tools/modulectl/nand_commands.h"
#include "tools/modulectl/raw_dump.h"
#include "tools/modulectl/sections_command.h"
#include "tools/modulectl/sweep_command.h"
#include "tools/modulectl/sweep_merge.h"
#include "tools/modulectl/wear_command.h"

namespace {

// Limits of the numbers the commands take: the largest flash a module
// carries (1 GiB of NAND), and a day of holding the flash mutex.
constexpr uint64_t kMaxFlashBytes = 1ull << 30;
constexpr uint64_t kMaxHoldSeconds = 86400;

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
    // sweep
    SweepOptions sweep;
    std::string shard;               // I/N
    std::vector<std::string> merge;  // sweep --merge: the shards' tables
    CampaignOptions campaign;
};

// A module or file that cannot be read or written: a host error, as on
// every tool.
int host_error(const char* command, const std::string& error) {
    std::fprintf(stderr, "modulectl %s: %s\n", command, error.c_str());
    return cli::kUsage;
}

// A nor.* key means nothing to a NAND module and a nand.* key nothing to a
// NOR one: set without a word, it would look like a fault that never comes.
bool keys_fit_flash(const char* command, const sim::Config& config, const std::vector<std::string>& sets) {
    const std::string kind = config.get_string("flash.kind", "nor");
    for (const std::string& assignment : sets) {
        std::string key = assignment.substr(0, assignment.find('='));
        key.erase(0, key.find_first_not_of(" \t"));
        std::string family = key.substr(0, key.find('.'));
        if ((family == "nor" || family == "nand") && family != kind) {
            std::fprintf(stderr, "modulectl %s: %s is a %s key; this is a %s module\n", command, key.c_str(),
                         family == "nor" ? "NOR" : "NAND", kind == "nor" ? "NOR" : "NAND");
            return false;
        }
    }
    return true;
}

int run_profiles(const Arguments&) {
    for (const sim::ProfileInfo& p : sim::builtin_profiles()) std::printf("%-14s %s\n", p.name, p.description);
    return 0;
}

int run_create(const Arguments& a) {
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
    if (!keys_fit_flash("create", config, a.sets)) return cli::kUsage;
    std::string error;
    if (!create_module_whole(a.dir, config, a.force, &error)) {
        std::fprintf(stderr, "modulectl create: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::printf("created %s module in %s\n", a.profile.c_str(), a.dir.c_str());
    return 0;
}

// Every change is checked before the file is written: one bad key leaves
// module.toml as it was.
int run_set_or_unset(const Arguments& a, bool unset) {
    const char* name = unset ? "unset" : "set";
    std::string path = (std::filesystem::path(a.dir) / "module.toml").string();
    sim::Config config;
    std::string error;
    if (!config.load(path, &error)) return host_error(name, error);
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
    if (!unset && !keys_fit_flash("set", config, a.sets)) return cli::kUsage;
    // Removing a key a module needs would leave one that does not open.
    if (!config.check(path, &error)) {
        std::fprintf(stderr, "modulectl %s: %s\n", name, error.c_str());
        return cli::kUsage;
    }
    if (!config.save(path, &error)) return host_error(name, error);
    return 0;
}

int run_set(const Arguments& a) { return run_set_or_unset(a, false); }
int run_unset(const Arguments& a) { return run_set_or_unset(a, true); }

int run_events(const Arguments& a) {
    std::string error;
    if (print_events(a.dir, a.json, &error)) return 0;
    return host_error("events", error);
}

int run_show(const Arguments& a) {
    std::string error;
    // Opening the module checks its profile and flash files.
    if (!sim::Module::open(a.dir, &error)) return host_error("show", error);
    sim::Module::close_current();
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(a.dir, &error);
    if (!view) return host_error("show", error);
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

int run_dump(const Arguments& a) {
    std::string error;
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(a.dir, &error);
    if (!view) return host_error("dump", error);
    const uint64_t offset = a.offset, size = view->size();
    uint64_t length = a.length.value_or(a.out.empty() ? 256 : size > offset ? size - offset : 0);
    if (offset > size || length > size - offset) {
        std::fprintf(stderr, "modulectl dump: range past the flash's end (0x%llx bytes)\n",
                     static_cast<unsigned long long>(size));
        return cli::kUsage;
    }
    std::vector<uint8_t> bytes(length);
    if (!view->read(offset, length, bytes.data(), &error)) return host_error("dump", error);
    if (!a.out.empty()) {
        std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (!write_output_file(a.out, raw, &error)) return host_error("dump", error);
    } else {
        std::fputs(hex_dump(offset, bytes).c_str(), stdout);
    }
    // The bytes are shown as stored; a reader with ECC would meet these.
    return report_page_problems("dump", *view) ? cli::kFailure : 0;
}

int run_verify(const Arguments& a) {
    VerifyResult result;
    std::string error;
    if (!verify_image(a.dir, a.out, &result, &error)) return host_error("verify", error);
    for (const sim::PageProblem& p : result.page_problems)
        std::fprintf(stderr, "modulectl verify: %s\n", p.text.c_str());
    std::printf("%s\n", result.summary().c_str());
    return result.matches() ? 0 : cli::kFailure;
}

int run_hold_flash(const Arguments& a) {
    std::string error;
    if (!sim::Module::open(a.dir, &error)) return host_error("hold-flash", error);
    HANDLE mutex = nullptr;
    if (sim::hold_named_mutex(u"OnModuleFlash", &error, &mutex) == WAIT_FAILED) return host_error("hold-flash", error);
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

int run_import(const Arguments& a) {
    std::string error;
    if (modulectl::import_raw(a.dir, a.out, !a.no_oob, std::cout, &error)) return 0;
    return host_error("import", error);
}

int run_map(const Arguments& a) {
    std::string error;
    if (draw_flash_map(a.dir, a.other, a.image, std::cout, &error)) return 0;
    return host_error("map", error);
}

int run_sections(const Arguments& a) {
    std::string error;
    if (print_section_map(a.dir, a.json, &error)) return 0;
    return host_error("sections", error);
}

int run_check(const Arguments& a) {
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
int run_cut(const Arguments& a) {
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
    if (!config.load(path, &error)) return host_error("cut", error);
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

int run_wear(const Arguments& a) {
    std::string error;
    if (print_wear(a.dir, a.json, a.all, std::cout, &error)) return 0;
    return host_error("wear", error);
}

int run_diff(const Arguments& a) { return diff_modules(a.dir, a.other, a.json); }

int modulectl_main(int argc, char** argv);

int run_sweep_command(Arguments& a) {
    if (!a.merge.empty()) {
        if (!a.dir.empty() || !a.sweep.image.empty()) {
            std::fprintf(stderr, "modulectl sweep: --merge takes tables, not DIR and IMAGE\n");
            return cli::kUsage;
        }
        return merge_sweeps(a.merge, {a.sweep.csv, a.sweep.json, a.sweep.svg});
    }
    if (a.dir.empty() || a.sweep.image.empty()) {
        std::fprintf(stderr, "modulectl sweep: DIR and IMAGE are required (or --merge PART.json...)\n");
        return cli::kUsage;
    }
    std::string error;
    if (!sim::check_module_folder(a.dir, &error)) return host_error("sweep", error);
    a.sweep.dir = a.dir;
    a.sweep.modulectl_main = modulectl_main;
    if (!a.shard.empty()) {
        unsigned i = 0, n = 0;
        char end = 0;
        if (std::sscanf(a.shard.c_str(), "%u/%u%c", &i, &n, &end) != 2) {
            std::fprintf(stderr, "modulectl sweep: --shard must be I/N, not '%s'\n", a.shard.c_str());
            return cli::kUsage;
        }
        a.sweep.shard = i;
        a.sweep.shards = n;
    }
    return run_sweep(a.sweep);
}

int run_campaign_command(Arguments& a) {
    a.campaign.modulectl_main = modulectl_main;
    return run_campaign(a.campaign);
}

// The command line being built: each add_* below puts one subcommand on it,
// whose run_* above carries it out with the arguments read.
struct CommandLine {
    CLI::App& app;
    Arguments a;
    int result = 0;

    CLI::App* add(const char* name, const char* about, std::function<int(Arguments&)> body, bool takes_dir = true) {
        CLI::App* sub = app.add_subcommand(name, about);
        if (takes_dir) sub->add_option("DIR", a.dir, "the module directory")->required()->type_name("");
        // Nothing of a module folder is read or written through a link, or
        // taken for a file it is not; create checks after --force cleared it.
        const bool checks = takes_dir && std::string(name) != "create";
        sub->callback([this, body, checks, name] {
            std::string error;
            result = checks && !sim::check_module_folder(a.dir, &error) ? host_error(name, error) : body(a);
        });
        return sub;
    }
    CLI::App* with_json(CLI::App* sub) {
        sub->add_flag("--json", a.json, "as JSON");
        return sub;
    }
};

void add_profiles(CommandLine& c) { c.add("profiles", "list the built-in module profiles", run_profiles, false); }

void add_create(CommandLine& c) {
    CLI::App* create = c.add("create", "make a new module directory (flash erased)", run_create);
    create->add_option("--profile", c.a.profile, "a built-in profile (see modulectl profiles)")
        ->type_name("NAME")
        ->capture_default_str();
    create->add_option("--set", c.a.sets, "override a profile key (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    create->add_flag("--force", c.a.force, "replace a module already in DIR");
}

void add_show(CommandLine& c) {
    c.with_json(c.add("show", "profile, flash (NAND: part, geometry, size) and profile keys of a module", run_show));
}

void add_set(CommandLine& c) {
    c.add("set", "change profile keys (faults, HAL items ...); all checked before any is written", run_set)
        ->add_option("KEY=VALUE", c.a.sets, "keys and their values")
        ->required();
}

void add_unset(CommandLine& c) {
    c.add("unset", "remove profile keys", run_unset)
        ->add_option("KEY", c.a.sets, "keys to remove")
        ->required()
        ->type_name("");
}

void add_events(CommandLine& c) {
    c.with_json(c.add("events", "the module's event log (reboots, registry, configuration items, NAND faults) by run",
                      run_events));
}

void add_dump(CommandLine& c) {
    CLI::App* dump = c.add("dump",
                           "the flash as the system sees it (hex and ASCII, or raw bytes into FILE); on NAND "
                           "pages with ECC errors are named and the exit status is 1",
                           run_dump);
    cli::add_number(*dump, "--offset", &c.a.offset, kMaxFlashBytes, "offset to start at");
    cli::add_number(*dump, "--length", &c.a.length, kMaxFlashBytes, "bytes (default 256; with --out: to the end)");
    dump->add_option("--out", c.a.out, "write the raw bytes to FILE")->type_name("FILE");
}

void add_sections(CommandLine& c) {
    c.with_json(c.add("sections", "the flash section map as an update detects it", run_sections));
}

void add_verify(CommandLine& c) {
    CLI::App* verify =
        c.add("verify",
              "compare the flash, as the system addresses it, with every record of IMAGE as an update places "
              "it; exit status 0 when all match, 1 when not",
              run_verify);
    verify->add_option("IMAGE", c.a.out, "a Windows CE .bin image")->required()->type_name("");
    cli::set_exit_statuses(
        *verify, "0 every record matches, 1 not, or the image cannot be compared, 2 the command line was wrong");
}

void add_hold_flash(CommandLine& c) {
    CLI::App* hold = c.add("hold-flash",
                           "take the flash mutex OnModuleFlash as the running system's flash driver does and "
                           "hold it until killed (or N seconds)",
                           run_hold_flash);
    cli::add_number(*hold, "--seconds", &c.a.seconds, kMaxHoldSeconds, "release it after N seconds (0: never)");
}

void add_wear(CommandLine& c) {
    c.with_json(c.add("wear",
                      "each chip's erase counters: the blocks erased at least once, worn or ok, and the most and "
                      "mean erases",
                      run_wear))
        ->add_flag("--all", c.a.all, "every block, erased or not");
}

void add_diff(CommandLine& c) {
    CLI::App* diff =
        c.with_json(c.add("diff",
                          "what differs between the flash of modules DIR and OTHER (one profile), by erase block and "
                          "by section: erased, programmed, rewritten, lock bits, NAND relocations, bytes; exit status "
                          "0 the same, 1 different, 2 not comparable",
                          run_diff));
    diff->add_option("OTHER", c.a.other, "the module to compare with")->required()->type_name("");
    cli::set_exit_statuses(*diff, "0 the same, 1 different, 2 not comparable or the command line was wrong");
}

void add_map(CommandLine& c) {
    CLI::App* map = c.add("map",
                          "draw the flash as an SVG picture: the section map with the image's range over it, and "
                          "every erase block by state (NOR: erased, programmed, locked; NAND: bad, relocated, "
                          "reserve, erased, programmed), with a legend",
                          run_map);
    map->add_option("-o,--output", c.a.other, "the SVG file to write")->required()->type_name("FILE");
    map->add_option("--image", c.a.image,
                    "the image whose records to show where an update puts them (default: the image the section "
                    "map finds in flash)")
        ->type_name("IMAGE.bin");
}

void add_import(CommandLine& c) {
    CLI::App* import = c.add("import",
                             "write a raw dump into the flash files: NAND as export --raw writes it (each page's "
                             "main area followed by its spare area, chip 0 then chip 1), NOR the byte image; a "
                             "dump of another size is refused",
                             run_import);
    import->add_option("FILE", c.a.out, "the dump")->required()->type_name("");
    import->add_flag("--no-oob", c.a.no_oob, "NAND: the dump holds the main areas alone; the spare areas are erased");
}

void add_check(CommandLine& c) {
    CLI::App* check = c.with_json(c.add("check",
                                        "what a power cut left: each section's blocks (erased, data, damaged), the "
                                        "image compared per section, on NAND the relocation table and boot area; "
                                        "exit status 0 bootable, 1 not bootable",
                                        run_check));
    check->add_option("IMAGE", c.a.out, "compare with this Windows CE .bin image")->type_name("");
    cli::set_exit_statuses(*check,
                           "0 bootable, 1 not bootable, 2 the command line was wrong or the module or the image "
                           "cannot be read");
}

void add_cut(CommandLine& c) {
    CLI::App* cut = c.add("cut",
                          "lose the power part-way through a program or erase of the next run (once; the keys "
                          "power.cut_* in module.toml)",
                          run_cut);
    cli::add_number(*cut, "--at-op", &c.a.at_op, 0xFFFFFFFF, "the Nth program or erase (from 1)");
    cli::add_number(*cut, "--at-time-us", &c.a.at_time_us, 1000000000000ull, "at this virtual time of the run");
    cut->add_option("--at", c.a.at, "the first erase or program whose range holds ADDRESS")
        ->type_name("erase@ADDRESS|program@ADDRESS");
    cli::add_number(*cut, "--seed", &c.a.seed, 0xFFFFFFFF, "seed of the bits the cut operation leaves");
}

void add_sweep(CommandLine& c) {
    SweepOptions& o = c.a.sweep;
    CLI::App* sweep =
        c.add("sweep",
              "run an update on the module in memory, cutting the power at a different operation each time; "
              "check each cut and update again; print the table (the module is left as it was)",
              run_sweep_command, false);
    sweep->add_option("DIR", c.a.dir, "the module directory")->type_name("");
    sweep->add_option("IMAGE", o.image, "the update's Windows CE .bin image")->type_name("");
    cli::add_number(*sweep, "--every", &o.every, 0xFFFFFFFF, "cut at every Nth operation");
    cli::add_number(*sweep, "--points", &o.points, 0xFFFFFFFF, "cut at K seeded operations (default 20)");
    cli::add_number(*sweep, "--seed", &o.seed, 0xFFFFFFFF, "seed of the points and of the cut bits");
    cli::add_number(*sweep, "--jobs", &o.jobs, 64, "cut points run at once");
    sweep->add_option("--shard", c.a.shard, "run the Ith of N parts of the points (1 <= I <= N)")->type_name("I/N");
    sweep->add_option("-o,--csv", o.csv, "write the table as CSV")->type_name("FILE");
    sweep->add_option("--json", o.json, "write the table as JSON")->type_name("FILE");
    sweep->add_option("--svg", o.svg, "draw the sweep over the update's device time")->type_name("FILE");
    cli::add_number(*sweep, "--depth", &o.depth, 2,
                    "2: cut each retry too (at --points or --every of its operations), then retry again");
    sweep
        ->add_option("--merge", c.a.merge,
                     "put the --json tables of a sweep's shards together (no DIR and IMAGE); -o, --json and "
                     "--svg write the whole")
        ->type_name("PART.json");
    sweep->add_option("--work", o.work, "keep the scratch copies' reports in DIR")->type_name("DIR");
    sweep->add_flag("--processes", o.processes,
                    "a scratch copy of the module and three processes per point, the reference the in-memory "
                    "rows equal (--updatetool and --runner imply it)");
    sweep->add_option("--updatetool", o.updatetool, "the updatetool to run (default: this program's own code)")
        ->type_name("PATH");
    sweep
        ->add_option("--runner", o.runner,
                     "run the tools through this command, e.g. \"qemu-arm -L /usr/arm-linux-gnueabi\" for a "
                     "cross-built module")
        ->type_name("WORDS");
}

void add_campaign(CommandLine& c) {
    CLI::App* campaign = c.add("campaign",
                               "update every module of a plan with every image of it, verify and sweep each, and "
                               "write the report (report.json, report.csv, index.html) to DIR",
                               run_campaign_command, false);
    campaign->add_option("PLAN", c.a.campaign.plan, "the plan (TOML; see docs/tools.md)")->required()->type_name("");
    campaign->add_option("-o,--output", c.a.campaign.out, "the report's folder (new, empty, or an earlier report)")
        ->required()
        ->type_name("DIR");
    cli::set_exit_statuses(*campaign,
                           "0 every cell met its expectation, 1 one did not, 2 the plan or the command line was "
                           "wrong (nothing ran) or DIR cannot be written, 130 interrupted");
}

const char kAbout[] =
    "Creates, inspects and changes simulated modules. See docs/module.md for the\n"
    "module directory and the profile keys of module.toml.";

int run(int argc, char** argv) {
    CLI::App app(kAbout, "modulectl");
    cli::prepare(app);
    app.require_subcommand(1);
    CommandLine c{app, {}, 0};
    for (void (*add)(CommandLine&) :
         {add_profiles, add_create, add_show, add_set, add_unset, add_events, add_dump, add_sections, add_verify,
          add_hold_flash, add_wear, add_diff, add_map, add_import, add_check, add_cut, add_sweep, add_campaign})
        add(c);
    modulectl::add_nand_commands(app, std::cout, std::cerr, &c.result);
    std::string profiles;
    std::vector<std::pair<std::string, std::function<std::string()>>> parts = {{"module-keys", modulectl::key_manual}};
    for (const sim::ProfileInfo& p : sim::builtin_profiles()) {
        profiles += (profiles.empty() ? "" : " ") + std::string(p.name);
        parts.emplace_back(std::string("profile-") + p.name,
                           [name = std::string(p.name)] { return modulectl::profile_toml(name); });
    }
    cli::add_generate(app, {{"NAME", profiles}}, parts);
    if (argc == 1) {
        std::fputs(app.help().c_str(), stderr);
        return cli::kUsage;
    }
    if (int status = cli::parse(app, argc, argv); status >= 0) return status;
    return c.result;
}

int modulectl_main(int argc, char** argv) {
    return cli::run_guarded("modulectl", [&] { return run(argc, argv); });
}

}  // namespace

int main(int argc, char** argv) { return modulectl_main(argc, argv); }
