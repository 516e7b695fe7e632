// The progress bar's messages as msctls_progress32 answers them: previous
// values returned, the position kept inside the range, stepping that starts
// over past the end.
#include <thread>

#include "res/resource_ids.h"
#include "ui_test_support.h"

namespace {

struct BarStep {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT returned;
    long position_after;
};

const std::vector<BarStep>* bar_steps = nullptr;
std::vector<std::pair<LRESULT, LRESULT>>* bar_results = nullptr;

BOOL CALLBACK BarProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    // Same thread as the dialog: carried out at once.
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_IMAGE);
    for (const BarStep& step : *bar_steps) {
        LRESULT returned = SendMessageW(bar, step.message, step.wParam, step.lParam);
        bar_results->emplace_back(returned, SendMessageW(bar, PBM_GETPOS, 0, 0));
    }
    EndDialog(dialog, 0);
    return FALSE;
}

class ProgressBar : public ui_test::ScriptedUi {};

TEST_F(ProgressBar, MessagesAndResults) {
    const std::vector<BarStep> table = {
        // message       wParam  lParam  returned                 position after
        {PBM_GETRANGE, TRUE, 0, 0, 0},  // starts at 0..100
        {PBM_GETRANGE, FALSE, 0, 100, 0},
        {PBM_SETPOS, 50, 0, 0, 50},                     // previous position
        {PBM_SETRANGE32, 0, 40, MAKELONG(0, 100), 40},  // previous range; clamped
        {PBM_SETPOS, 1000, 0, 40, 40},
        {PBM_SETPOS, static_cast<WPARAM>(-5), 0, 40, 0},
        {PBM_DELTAPOS, 15, 0, 0, 15},
        {PBM_SETSTEP, 20, 0, 10, 15},  // previous step
        {PBM_STEPIT, 0, 0, 15, 35},
        {PBM_STEPIT, 0, 0, 35, 0},  // past the end: starts over
        {PBM_SETRANGE, 0, MAKELONG(10, 30), MAKELONG(0, 40), 10},
        {PBM_GETRANGE, TRUE, 0, 10, 10},
        {PBM_GETRANGE, FALSE, 0, 30, 10},
        {PBM_SETRANGE32, 0, 0x20000, MAKELONG(10, 30), 10},
        {PBM_SETPOS, 0x18000, 0, 10, 0x18000},  // 32-bit positions
        {WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"Progress3"), TRUE, 0x18000},
    };
    std::vector<std::pair<LRESULT, LRESULT>> results;
    bar_steps = &table;
    bar_results = &results;
    DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr,
                            BarProc, 0);
    ASSERT_EQ(results.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        EXPECT_EQ(results[i].first, table[i].returned);
        EXPECT_EQ(results[i].second, table[i].position_after);
    }
}

TEST_F(ProgressBar, ReportsNewRangesAndMovesOnly) {
    static const std::vector<BarStep> table = {
        {PBM_SETRANGE32, 0, 8, 0, 0}, {PBM_SETPOS, 3, 0, 0, 3},     {PBM_SETPOS, 3, 0, 3, 3},  // no move, no report
        {PBM_GETPOS, 0, 0, 3, 3},     {PBM_SETRANGE32, 0, 8, 0, 3},
    };
    std::vector<std::pair<LRESULT, LRESULT>> results;
    bar_steps = &table;
    bar_results = &results;
    DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr,
                            BarProc, 0);
    std::vector<std::string> reports;
    for (const auto& event : screen->events(sim::ui::UiEvent::Kind::progress)) reports.push_back(event.describe());
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "[Updating IMAGE] progress 1003: 0 of 0..8 (new range)",
                           "[Updating IMAGE] progress 1003: 3 of 0..8",
                           "[Updating IMAGE] progress 1003: 3 of 0..8 (new range)",
                       }));
}

}  // namespace
