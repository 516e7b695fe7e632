#include "module/os/power_loss.h"

#include "module/module.h"
#include "module/os/handle_table.h"
#include "module/os/memory_internal.h"
#include "module/os/program_threads.h"
#include "module/program_state.h"
#include "module/ui/window.h"
#include "module/ui/window_classes.h"

namespace sim::os {

bool release_program_resources() {
    if (!forget_program_threads()) return false;
    sim::ui::forget_all_windows();
    sim::ui::forget_window_classes();
    close_all_handles();
    release_views();
    release_memory();
    return true;
}

bool power_off_program() {
    wait_for_program_threads();
    Module::close_current();
    return release_program_resources() && restore_program_state();
}

}  // namespace sim::os
