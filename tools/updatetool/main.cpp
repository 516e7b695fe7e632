// updatetool: runs the module's flash maintenance program on a simulated
// module. Host options choose the module, the dialog front-end, scripted
// answers and the report; the rest of the command line is the program's own.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "module/module.h"
#include "module/observer.h"
#include "module/os/program_threads.h"
#include "platform/windows.h"
#include "res/resources.h"
#include "tools/common/cli.h"
#include "tools/updatetool/default_module.h"
#include "tools/updatetool/host_ui.h"
#include "tools/updatetool/options.h"
#include "tools/updatetool/report.h"
#include "update/update.h"

// The program's main routine.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

namespace {

std::mutex report_mutex;
RunReport report;
std::string report_path;

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

// Collects the figures the module knows at the end and writes the report.
void finish_report() {
    std::lock_guard<std::mutex> lock(report_mutex);
    if (sim::Module* m = sim::Module::current()) {
        report.virtual_time_ns = m->clock().now_ns();
        const sim::FlashCounters& flash = m->events().counters();
        report.bytes_erased = flash.bytes_erased;
        report.bytes_written = flash.bytes_programmed;
    }
    report.abort_requested = report.abort_requested || AbortRequested != 0;
    if (report_path.empty()) return;
    std::ofstream f(report_path, std::ios::trunc);
    f << report.to_json();
    if (!f) std::fprintf(stderr, "updatetool: cannot write the report to %s\n", report_path.c_str());
}

void watch_module() {
    sim::ModuleObserver& o = sim::observer();
    o.message_box = [](const std::u16string& caption, const std::u16string& text, unsigned, int answer) {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.message_boxes.push_back({sim::utf8(caption), sim::utf8(text), answer_name(answer)});
    };
    o.thread_exit = [](unsigned long code) {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.worker_result = code;
        report.update_started = true;
    };
    o.registry_result = [](bool ok) {
        std::lock_guard<std::mutex> lock(report_mutex);
        report.registry_result = ok;
    };
    o.reboot = [](bool cold) {
        {
            std::lock_guard<std::mutex> lock(report_mutex);
            report.reboot = cold ? "cold" : "warm";
        }
        // The module restarts: the program ends here, as it would on the board.
        end_host_ui();
        finish_report();
        std::fflush(stdout);
        _exit(1);
    };
}

int run(int argc, char** argv) {
    HostOptions options;
    std::string error;
    if (int status = parse_host_options(argc, argv, &options); status >= 0) return status;
    std::string dir = options.module_dir;
    if (dir.empty() && !ensure_default_module(&dir, &error)) {
        std::fprintf(stderr, "updatetool: %s\n", error.c_str());
        return 2;
    }
    sim::Module* module = sim::Module::open(dir, &error);
    if (!module) {
        std::fprintf(stderr, "updatetool: cannot open module %s: %s\n", dir.c_str(), error.c_str());
        return 2;
    }
    module->clock().set_realtime(options.realtime);
    if (!configure_host_ui(options, &error)) {
        std::fprintf(stderr, "updatetool: %s\n", error.c_str());
        return 2;
    }

    report_path = options.report_path;
    report.job = job_of_command_line(options.module_command_line);
    report.command_line = options.module_command_line;
    report.module_dir = dir;
    watch_module();

    std::u16string command_line = sim::utf16(options.module_command_line);
    WinMain(reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources)), nullptr,
            reinterpret_cast<LPWSTR>(command_line.data()), 1);
    sim::wait_for_program_threads();
    end_host_ui();
    if (report.job == "reboot") report.reboot_returned = true;
    finish_report();
    std::fflush(stdout);
    sim::Module::close_current();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    return cli::run_guarded(
        "updatetool", [&] { return run(argc, argv); }, cli::kUsage);
}
