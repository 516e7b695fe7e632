// updatetool: runs the module's flash maintenance program on a simulated
// module. Host options choose the module, the dialog front-end, scripted
// answers and the report; the rest of the command line is the program's own.
// The exit status tells the outcome (see --help); the last line on stderr
// says it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "module/flash_watch.h"
#include "module/hw/nand/nand_view.h"
#include "module/module.h"
#include "module/module_folder.h"
#include "module/observer.h"
#include "module/os/program_threads.h"
#include "module/os/wince_path.h"
#include "module/ui/ui_config.h"
#include "platform/windows.h"
#include "res/resources.h"
#include "shell/shell_state.h"
#include "tools/common/cli.h"
#include "tools/common/output_file.h"
#include "tools/common/scratch_copy.h"
#include "tools/updatetool/boot_check.h"
#include "tools/updatetool/default_module.h"
#include "tools/updatetool/host_output.h"
#include "tools/updatetool/host_ui.h"
#include "tools/updatetool/options.h"
#include "tools/updatetool/plan.h"
#include "tools/updatetool/report.h"
#include "tools/updatetool/updatetool_main.h"
#include "update/update.h"

// The program's main routine.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

namespace {

std::mutex report_mutex;
RunReport report;
HostOptions options;
sim::FlashWatch* watch = nullptr;  // lives as long as the module
const sim::NandPart* nand_part = nullptr;
sim::NandBlockMap map_before;
// The boot region held no bootloader when the run began.
bool boot_erased_before = false;
const sim::FlashPlanRecorder* plan_recorder = nullptr;  // lives as long as the module
uint64_t boot_area_written_back = 0, boot_area_read_back = 0;

std::string answer_name(int id) {
    switch (id) {
        case IDOK: return "ok";
        case IDCANCEL: return "cancel";
        case IDYES: return "yes";
        case IDNO: return "no";
        case IDABORT: return "abort";
        case IDRETRY: return "retry";
        case IDIGNORE: return "ignore";
        default: return std::to_string(id);
    }
}

void note(const std::string& text) {
    if (options.detail > 0) say_aside(text);
}

// The image the worker was started with, as a host path.
std::string host_image_path() {
    std::u16string path(reinterpret_cast<const char16_t*>(ImagePath));
    sim::Module* m = sim::Module::current();
    if (!m || !sim::os::is_wince_path(path)) return sim::utf8(path);
    std::filesystem::path resolved;
    DWORD error = 0;
    return sim::os::resolve_wince_path(m->root_dir(), path, false, &resolved, &error) ? resolved.string() : "";
}

// What the module knows at the end: counters, blocks the program moved.
void collect_module_figures() {
    std::lock_guard<std::mutex> lock(report_mutex);
    if (sim::Module* m = sim::Module::current()) {
        report.virtual_time_ns = m->clock().now_ns();
        const sim::FlashCounters& flash = m->events().counters();
        report.bytes_erased = flash.bytes_erased;
        report.bytes_written = flash.bytes_programmed;
        report.failed_operations = flash.failed_operations;
        report.bad_blocks_found = flash.bad_block_reports;
        report.ecc_corrected = flash.ecc_corrected;
        report.ecc_uncorrectable = flash.ecc_uncorrectable;
        report.flash_operations = m->power().operations();
        report.violations.clear();
        for (const sim::DatasheetViolation& v : m->violations())
            report.violations.push_back({v.rule, v.chip, v.address, v.text});
        if (nand_part) {
            sim::NandBlockMap after = sim::load_block_map(m->dir(), *nand_part);
            for (size_t i = 0; i < after.physical.size() && i < map_before.physical.size(); ++i)
                if (after.physical[i] != map_before.physical[i]) report.relocated.emplace_back(i, after.physical[i]);
        }
        if (plan_recorder && report.update_started) {
            report.plan = make_plan(*plan_recorder, m->dir());
            report.plan->boot_area_written_back = boot_area_written_back;
            report.plan->boot_area_read_back = boot_area_read_back;
        }
    }
    report.abort_requested = report.abort_requested || AbortRequested != 0;
    report.unused_answers = sim::ui::unused_answers();
}

void verify_update() {
    if (!options.verify || report.outcome() != "success" || report.image_path.empty()) return;
    sim::Module* m = sim::Module::current();
    if (!m) return;
    VerifyResult result;
    std::string error;
    if (!verify_image(m->dir(), report.image_path, &result, &error,
                      [](uint64_t done, uint64_t total) { show_phase("verifying", done, total); })) {
        report.verify_error = error;
        return;
    }
    for (const sim::PageProblem& p : result.page_problems) note("updatetool: verify: " + p.text);
    report.verify = result;
}

void write_report() {
    if (options.report_path.empty()) return;
    std::string json = report.to_json();
    if (options.report_path == "-") {
        std::fflush(stderr);
        std::cout << json << std::flush;
        return;
    }
    std::string error;
    if (!write_output_file(options.report_path, json, &error)) report.host_error = error;
}

// After an update that changed the boot region: whether the module still
// boots. A success that left no bootloader becomes a failure.
void check_boot_after_update() {
    sim::Module* m = sim::Module::current();
    if (!m || !report.plan || report.image_path.empty() || !report.power_cut.empty()) return;
    uint64_t end = boot_region_end(m->dir());
    if (!plan_touches(*report.plan, end)) return;
    std::string error;
    report.boot_check = check_boot_region(m->dir(), report.image_path, end, &error);
    if (!report.boot_check) {
        say_aside("updatetool: cannot check the boot region: " + error);
        return;
    }
    // Without a bootloader before, one the update did not bring is none it lost:
    // the program's own writes there (the relocation table) leave it as it was.
    if (!report.boot_check->bootable && boot_erased_before && boot_region_erased(m->dir())) {
        report.boot_check.reset();
        return;
    }
    // The last line says it when the update had passed for a success.
    if (!report.boot_check->bootable && report.sentence().find("would not boot") == std::string::npos)
        say_aside("updatetool: the module would not boot: " + report.boot_check->reason);
}

// A dry run prints what it did, and leaves no scratch module unless asked.
void end_dry_run() {
    if (report.dry_run_scratch.empty()) return;
    FILE* out = options.report_path == "-" ? stderr : stdout;
    std::fflush(stdout);
    std::fprintf(out, "dry run of %s on a scratch copy; the module is as it was\n", report.module_dir.c_str());
    for (const std::string& line : plan_lines(report)) std::fprintf(out, "  %s\n", line.c_str());
    if (report.dry_run_kept) {
        std::fprintf(out, "  scratch module kept in %s\n", report.dry_run_scratch.c_str());
    } else {
        std::error_code ec;
        std::filesystem::remove_all(report.dry_run_scratch, ec);
    }
    std::fflush(out);
}

// The end of a run, also at a reboot: figures, the verify, the report, and
// the outcome as the last line; returns the exit status.
int finish_run() {
    collect_module_figures();
    if (report.dry_run_scratch.empty())
        for (const auto& [logical, physical] : report.relocated)
            note("module: logical block " + std::to_string(logical) + " now lies in physical block " +
                 std::to_string(physical));
    verify_update();
    end_progress();
    check_boot_after_update();
    end_dry_run();
    if (!report.unused_answers.empty()) {
        std::string unused;
        for (const std::string& word : report.unused_answers) unused += (unused.empty() ? "" : ", ") + word;
        say_aside("updatetool: --answer values left unused (no message box took them): " + unused);
    }
    write_report();
    std::cout.flush();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", report.sentence().c_str());
    std::fflush(stderr);
    // A run ended over a wrong answer is a usage error however it is asked.
    if (options.module_exit_status && report.usage_error.empty()) return 1;
    return report.exit_status();
}

// The flash operation that made the update show a flash error.
void diagnose(const std::u16string& caption, const std::u16string& text) {
    if (!watch || (caption != u"ERROR" && caption != u"ERRER") || text.find(u"Flash") == std::u16string::npos) return;
    std::optional<sim::FlashFailure> f = watch->current_failure();
    // An erase refused before the chips were asked: the image does not fit.
    if (!f && text == u"Error erasing Flash!" && !report.beyond_flash.empty() && report.dry_run_scratch.empty())
        say_aside("updatetool: " + report.beyond_flash);
    if (!f) return;
    {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.failure = ReportedFailure{f->operation, f->event.address, f->event.unit, f->status, f->meaning, f->text};
    }
    say_aside("module: " + f->text);
}

void watch_module() {
    sim::ModuleObserver& o = sim::observer();
    o.message_box = [](const std::u16string& caption, const std::u16string& text, unsigned, int answer) {
        {
            std::lock_guard<std::mutex> lock(report_mutex);
            report.message_boxes.push_back({sim::utf8(caption), sim::utf8(text), answer_name(answer)});
        }
        diagnose(caption, text);
    };
    o.thread_start = [] {
        std::string path = host_image_path();
        sim::Module* m = sim::Module::current();
        std::string beyond = m && !path.empty() ? image_beyond_flash(m->dir(), path) : "";
        {
            std::lock_guard<std::mutex> lock(report_mutex);
            report.update_started = report.update_dialog = true;
            report.worker_result.reset();
            report.image_path = path;
            report.beyond_flash = beyond;
        }
        // A rehearsal says so before the update erases anything.
        if (!beyond.empty() && !report.dry_run_scratch.empty())
            say_aside("updatetool: --dry-run: " + beyond + "; the update fails at its erase");
    };
    o.dialog_ended = [](const std::u16string& caption, long) {
        std::lock_guard<std::mutex> lock(report_mutex);
        if (caption == u"Updating IMAGE") report.update_dialog = true;
    };
    o.thread_exit = [](unsigned long code) {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.worker_result = code;
    };
    o.registry_result = [](bool ok) {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.registry_result = ok;
    };
    o.reboot = [](bool cold) {
        bool returns = sim::Module::current() && sim::Module::current()->config().get_bool("hal.reboot_returns", false);
        {
            std::lock_guard<std::mutex> lock(report_mutex);
            report.reboot = cold ? "cold" : "warm";
            report.reboot_returned = returns;
        }
        say_aside(std::string("module: ") + (cold ? "cold" : "warm") + " reboot" +
                  (returns ? " requested; the HAL returned" : ""));
        if (returns) return;
        // The module restarts: the program ends here, as it would on the board.
        end_host_ui();
        int status = finish_run();
        _exit(status);
    };
    // Another process (the running system's flash driver, another run)
    // holds the flash: the run waits for it, and says so.
    o.waiting_for_mutex = [](const std::u16string& name, long holder) {
        if (name != u"OnModuleFlash") return;
        say_aside("updatetool: waiting for the flash, held by " +
                  (holder ? "process " + std::to_string(holder) : std::string("another process")));
    };
    o.power_cut = [](const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(report_mutex);
            report.power_cut = text;
        }
        say_aside("module: power cut: " + text);
        end_host_ui();
        _exit(finish_run());
    };
}

// The scratch module of a dry run: in --keep DIR (new or empty), else in a
// temporary folder. Empty with a reason when it cannot be made.
std::string make_dry_run_copy(const std::string& dir, std::string* error) {
    namespace fs = std::filesystem;
    // The copy would carry a link along: it is refused by the module's name.
    if (!sim::check_module_folder(dir, error)) return "";
    if (!fs::exists(fs::path(dir) / "module.toml")) {
        *error = dir + " holds no module";
        return "";
    }
    fs::path scratch = options.keep_dir;
    std::error_code ec;
    if (scratch.empty()) {
        scratch = make_scratch_dir("updatetool-dry-run", error);
        if (scratch.empty()) return "";
    } else if (fs::exists(scratch) && !fs::is_empty(scratch, ec)) {
        *error = "--keep " + scratch.string() + " is not empty";
        return "";
    }
    ScratchCopy copy;
    if (!copy_module(dir, scratch, &copy, error)) {
        if (options.keep_dir.empty()) fs::remove_all(scratch, ec);
        return "";
    }
    return scratch.string();
}

sim::FlashWatch::Hooks flash_hooks() {
    sim::FlashWatch::Hooks hooks;
    hooks.notice = [](const std::string& text) { note("module: " + text); };
    hooks.boot_area = [](const char* phase, uint64_t done, uint64_t total) {
        uint64_t& reached = std::string(phase) == "verifying" ? boot_area_read_back : boot_area_written_back;
        reached = std::max(reached, done);
        show_phase(phase, done, total);
    };
    return hooks;
}

// Nothing of a run before in this process: a run after a power cycle without
// a new process starts as a fresh process does.
void forget_earlier_run() {
    std::lock_guard<std::mutex> lock(report_mutex);
    report = RunReport{};
    options = HostOptions{};
    watch = nullptr;
    nand_part = nullptr;
    map_before = sim::NandBlockMap{};
    plan_recorder = nullptr;
    boot_area_written_back = boot_area_read_back = 0;
}

int run(int argc, char** argv) {
    forget_earlier_run();
    std::string error;
    if (int status = parse_host_options(argc, argv, &options); status >= 0) return status;
    std::string dir = options.module_dir;
    if (dir.empty() && !ensure_default_module(&dir, &error)) {
        std::fprintf(stderr, "updatetool: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::string opened = dir;
    if (options.dry_run) {
        opened = make_dry_run_copy(dir, &error);
        if (opened.empty()) {
            std::fprintf(stderr, "updatetool: --dry-run: %s\n", error.c_str());
            return cli::kUsage;
        }
        report.dry_run_scratch = opened;
        report.dry_run_kept = !options.keep_dir.empty();
    }
    sim::Module* module = sim::Module::open(opened, &error);
    if (!module) {
        error = in_original(error, opened, dir);
        std::fprintf(stderr, "updatetool: cannot open module %s: %s\n", dir.c_str(), error.c_str());
        return cli::kUsage;
    }
    module->clock().set_realtime(options.realtime);
    module->set_run_title("updatetool " + options.module_command_line);
    if (!configure_host_ui(options, &error)) {
        std::fprintf(stderr, "updatetool: %s\n", error.c_str());
        return cli::kUsage;
    }
    configure_line_output(options,
                          [](const std::u16string& caption, const std::u16string& text, const std::string& why) {
                              {
                                  std::lock_guard<std::mutex> lock(report_mutex);
                                  report.usage_error = why;
                                  // A refused message box is one the run showed; a dialog is not.
                                  if (!text.empty())
                                      report.message_boxes.push_back({sim::utf8(caption), sim::utf8(text), "refused"});
                              }
                              int status = finish_run();
                              _exit(status);
                          });

    report.job = job_of_command_line(options.module_command_line);
    report.command_line = options.module_command_line;
    report.module_dir = dir;
    if (module->config().get_string("flash.kind", "nor") == "nand") {
        nand_part = sim::find_nand_part(module->config().get_u32("nand.id", 0));
        if (nand_part) map_before = sim::load_block_map(opened, *nand_part);
    }
    boot_erased_before = boot_region_erased(opened);
    sim::FlashBlocks blocks;
    if (blocks.load(module->config(), &error)) {
        auto recorder = std::make_unique<sim::FlashPlanRecorder>(std::move(blocks));
        plan_recorder = recorder.get();
        module->keep_listening(std::move(recorder), sim::FlashPlanRecorder::kKinds);
    }
    auto listener = std::make_unique<sim::FlashWatch>(module->config(), module->events(), flash_hooks());
    watch = listener.get();
    module->keep_listening(std::move(listener), sim::FlashWatch::kKinds);
    watch_module();

    std::u16string command_line = sim::utf16(options.module_command_line);
    WinMain(reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources)), nullptr,
            reinterpret_cast<LPWSTR>(command_line.data()), 1);
    sim::wait_for_program_threads();
    end_host_ui();
    if (report.job == "reboot") report.reboot_returned = true;
    int status = finish_run();
    watch = nullptr;
    plan_recorder = nullptr;
    sim::Module::close_current();
    return status;
}

}  // namespace

int updatetool_main(int argc, char** argv) {
    return cli::run_guarded(
        "updatetool", [&] { return run(argc, argv); }, cli::kUsage);
}
