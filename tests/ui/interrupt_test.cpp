// Ctrl-C reaches the active dialog as IDCANCEL, as Escape would.
#include <csignal>
#include <thread>

#include "res/resource_ids.h"
#include "ui_test_support.h"

namespace {

std::thread interrupter;
int cancels = 0;

BOOL CALLBACK InterruptedProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        interrupter = std::thread([] { std::raise(SIGINT); });
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        ++cancels;
        EndDialog(dialog, 9);
    }
    return message == WM_COMMAND;
}

class Interrupt : public ui_test::ScriptedUi {};

TEST_F(Interrupt, CtrlCCancelsTheActiveDialog) {
    sim::ui::install_interrupt_handler();
    EXPECT_EQ(sim::ui::active_dialog(), nullptr);
    // The progress dialog takes no input: only the signal can end it.
    INT_PTR result = DialogBoxIndirectParamW(
        ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr, InterruptedProc, 0);
    interrupter.join();
    EXPECT_EQ(result, 9);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(sim::ui::active_dialog(), nullptr);
}

}  // namespace
