#include "tools/updatetool/host_ui.h"

#include "module/observer.h"
#include "module/ui/front_end.h"
#include "module/ui/ui_config.h"

bool configure_host_ui(const HostOptions& options, std::string* error) {
    // Only the main dialog is drawn on the terminal unless asked: the
    // command-line jobs are run from scripts and shells that read lines.
    bool main_dialog = options.module_command_line.empty();
    if (!sim::ui::select_front_end(options.ui, main_dialog, error)) return false;
    if (!sim::ui::set_answers(options.answers, error)) return false;
    for (const std::string& prefix : options.escape_at) sim::ui::add_escape_on_text(sim::utf16(prefix));
    sim::ui::install_interrupt_handler();
    return true;
}

void end_host_ui() { sim::ui::front_end()->end(); }
