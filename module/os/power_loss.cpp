#include "module/os/power_loss.h"

#include "module/os/handle_table.h"
#include "module/os/memory_internal.h"
#include "module/os/program_threads.h"
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

}  // namespace sim::os
