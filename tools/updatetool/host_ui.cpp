#include "tools/updatetool/host_ui.h"

#include <cstdio>

#include "module/observer.h"
#include "module/ui/ui_config.h"

bool configure_host_ui(const HostOptions& options, std::string* error) {
    std::string ui = options.ui;
    if (ui == "terminal") {
        std::fprintf(stderr, "updatetool: the terminal front-end is not available yet; using the line front-end\n");
        ui = "line";
    }
    if (!sim::ui::select_front_end(ui, error)) return false;
    if (!sim::ui::set_answers(options.answers, error)) return false;
    for (const std::string& prefix : options.escape_at) sim::ui::add_escape_on_text(sim::utf16(prefix));
    sim::ui::install_interrupt_handler();
    return true;
}
