#include "tools/updatetool/host_output.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "module/ui/line_front_end.h"
#include "module/ui/ui_config.h"
#include "res/resource_ids.h"

namespace {

std::shared_ptr<sim::ui::LineFrontEnd> line_front_end() {
    return std::dynamic_pointer_cast<sim::ui::LineFrontEnd>(sim::ui::front_end());
}

}  // namespace

void configure_line_output(
    const HostOptions& o,
    std::function<void(const std::u16string& caption, const std::u16string& text, const std::string& why)> refuse) {
    if (!line_front_end()) return;
    // With the report on stdout the dialogs' lines go to stderr.
    bool to_stderr = o.report_path == "-";
    std::shared_ptr<sim::ui::LineFrontEnd> line =
        std::make_shared<sim::ui::LineFrontEnd>(std::cin, to_stderr ? std::cerr : std::cout);
    sim::ui::LineOptions options;
    using Detail = sim::ui::LineOptions::Detail;
    options.detail = o.detail == 0 ? Detail::quiet : o.detail == 2 ? Detail::verbose : Detail::normal;
    options.progress_line = isatty(to_stderr ? STDERR_FILENO : STDOUT_FILENO) != 0;
    options.ask_again = isatty(STDIN_FILENO) != 0;
    options.refuse = std::move(refuse);
    using Role = sim::ui::ControlRole;
    options.roles = {{IDC_STATUS_LINE, Role::status},
                     {IDC_IMAGE_LINE, Role::image_line},
                     {IDC_PROGRESS_RECORD, Role::record_bar},
                     {IDC_PROGRESS_IMAGE, Role::image_bar}};
    options.aside = &std::cerr;
    line->configure(std::move(options));
    sim::ui::set_front_end(line);
}

void say_aside(const std::string& text) {
    if (std::shared_ptr<sim::ui::LineFrontEnd> line = line_front_end()) {
        line->aside(text);
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void show_phase(const char* phase, uint64_t done, uint64_t total) {
    if (std::shared_ptr<sim::ui::LineFrontEnd> line = line_front_end()) line->phase_progress(phase, done, total);
}

void end_progress() {
    if (std::shared_ptr<sim::ui::LineFrontEnd> line = line_front_end()) line->end_progress_line();
}
