// Ctrl-C: the signal handler only writes a byte to a pipe; a watcher thread
// turns it into IDCANCEL for the active dialog, as Escape would. With no
// dialog open the signal ends the program as usual.
#include <unistd.h>
#include <csignal>
#include <thread>

#include "module/ui/dialog_input.h"
#include "module/ui/front_end.h"
#include "module/ui/ui_config.h"

namespace sim::ui {
namespace {

int interrupt_pipe[2] = {-1, -1};

void on_interrupt(int) {
    char byte = 1;
    ssize_t written = write(interrupt_pipe[1], &byte, 1);
    (void)written;
}

void watch_interrupts() {
    char byte;
    while (read(interrupt_pipe[0], &byte, 1) == 1) {
        HWND dialog = active_dialog();
        if (dialog != nullptr && deliver_command(dialog, IDCANCEL)) continue;
        front_end()->end();
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

}  // namespace

void install_interrupt_handler() {
    static bool installed = false;
    if (installed || pipe(interrupt_pipe) != 0) return;
    installed = true;
    std::thread(watch_interrupts).detach();
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace sim::ui
