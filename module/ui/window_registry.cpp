// The window registry and the per-thread queues that carry calls from other
// threads onto a dialog's own thread.
#include <chrono>
#include <deque>
#include <map>
#include <unordered_set>

#include "module/ui/dialog_input.h"
#include "module/ui/ui_config.h"
#include "module/ui/window.h"

namespace sim::ui {
namespace {

enum class CallState { pending, done, refused };

struct Task {
    Window* dialog = nullptr;
    std::function<void()> work;
    std::shared_ptr<CallState> state;  // null when nobody waits
};

struct ThreadQueue {
    int depth = 0;  // modal loops running on the thread
    std::deque<Task> tasks;
    std::chrono::steady_clock::time_point woken;  // last woken for a report
    bool unannounced = false;                     // a report was queued without waking the thread
    bool sleeping = false;                        // the thread waits with no time limit
};

// A report wakes the dialog's thread at most this often, unless the thread
// sleeps with no time limit; a thread that was not woken looks again at
// most this much later.
constexpr std::chrono::milliseconds kReportDelay{20};

// The dialog this thread has posted reports to since it last waited for it.
thread_local Window* reports_pending_on = nullptr;

struct Registry {
    std::vector<std::unique_ptr<Window>> storage;
    std::unordered_set<Window*> known;
    std::vector<Window*> open_dialogs;  // in the order they opened
    std::map<std::thread::id, ThreadQueue> queues;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void finish(Task& task, CallState state) {
    if (task.state) *task.state = state;
}

}  // namespace

std::mutex& ui_mutex() {
    static std::mutex instance;
    return instance;
}

std::condition_variable& ui_signal() {
    static std::condition_variable instance;
    return instance;
}

Window* create_window() {
    std::lock_guard<std::mutex> lock(ui_mutex());
    auto window = std::make_unique<Window>();
    Window* raw = window.get();
    registry().storage.push_back(std::move(window));
    registry().known.insert(raw);
    return raw;
}

Window* window_from_handle_locked(HWND handle) {
    Window* window = reinterpret_cast<Window*>(handle);
    if (window == nullptr || registry().known.count(window) == 0 || !window->alive) return nullptr;
    return window;
}

Window* window_from_handle(HWND handle) {
    std::lock_guard<std::mutex> lock(ui_mutex());
    return window_from_handle_locked(handle);
}

bool run_on_dialog_thread(Window* window, const std::function<void()>& work) {
    Window* dialog = window->dialog;
    if (reports_pending_on != nullptr && reports_pending_on != dialog) deliver_reports_first();
    if (dialog->thread == std::this_thread::get_id()) {
        {
            std::lock_guard<std::mutex> lock(ui_mutex());
            if (!dialog->alive) return false;
        }
        work();
        return true;
    }
    auto state = std::make_shared<CallState>(CallState::pending);
    std::unique_lock<std::mutex> lock(ui_mutex());
    auto queue = registry().queues.find(dialog->thread);
    if (!dialog->alive || dialog->ended || queue == registry().queues.end() || queue->second.depth == 0) return false;
    queue->second.tasks.push_back(Task{dialog, work, state});
    ui_signal().notify_all();
    ui_signal().wait(lock, [&] { return *state != CallState::pending; });
    // Queued behind this thread's reports, it ran (or was refused) after them.
    if (reports_pending_on == dialog) reports_pending_on = nullptr;
    return *state == CallState::done;
}

bool takes_work_locked(Window* dialog) {
    auto queue = registry().queues.find(dialog->thread);
    return dialog->alive && !dialog->ended && queue != registry().queues.end() && queue->second.depth != 0;
}

bool post_report_locked(Window* dialog, std::function<void()> report) {
    if (!takes_work_locked(dialog)) return false;
    auto queue = registry().queues.find(dialog->thread);
    queue->second.tasks.push_back(Task{dialog, std::move(report), nullptr});
    reports_pending_on = dialog;
    auto now = std::chrono::steady_clock::now();
    if (queue->second.sleeping || now - queue->second.woken >= kReportDelay) {
        queue->second.woken = now;
        ui_signal().notify_all();
    } else {
        queue->second.unannounced = true;
    }
    return true;
}

void deliver_reports_first() {
    Window* dialog = reports_pending_on;
    reports_pending_on = nullptr;
    if (dialog != nullptr && dialog->thread != std::this_thread::get_id()) run_on_dialog_thread(dialog, [] {});
}

bool post_to_dialog_thread(Window* dialog, std::function<void()> work) {
    std::lock_guard<std::mutex> lock(ui_mutex());
    auto queue = registry().queues.find(dialog->thread);
    if (!dialog->alive || dialog->ended || queue == registry().queues.end() || queue->second.depth == 0) return false;
    queue->second.tasks.push_back(Task{dialog, std::move(work), nullptr});
    ui_signal().notify_all();
    return true;
}

void enter_modal_loop(Window* dialog) {
    std::lock_guard<std::mutex> lock(ui_mutex());
    dialog->thread = std::this_thread::get_id();
    dialog->alive = true;
    for (Window* control : dialog->controls) {
        control->thread = dialog->thread;
        control->alive = true;
    }
    registry().queues[dialog->thread].depth++;
    registry().open_dialogs.push_back(dialog);
}

void run_modal_loop(Window* dialog) {
    ThreadQueue* queue;
    {
        std::lock_guard<std::mutex> lock(ui_mutex());
        queue = &registry().queues[dialog->thread];
    }
    for (;;) {
        Task task;
        bool have_task = false;
        {
            std::lock_guard<std::mutex> lock(ui_mutex());
            if (dialog->ended) return;
            if (!queue->tasks.empty()) {
                task = std::move(queue->tasks.front());
                queue->tasks.pop_front();
                have_task = true;
                // Work for a dialog that has ended (a nested one) is refused.
                if (!task.dialog->alive || task.dialog->ended) {
                    finish(task, CallState::refused);
                    ui_signal().notify_all();
                    continue;
                }
            }
            dialog->wake = false;
        }
        if (have_task) {
            task.work();
            // A report has nobody waiting for it.
            if (!task.state) continue;
            std::lock_guard<std::mutex> lock(ui_mutex());
            finish(task, CallState::done);
            ui_signal().notify_all();
            continue;
        }
        // Idle: a shown dialog with buttons takes user input.
        DialogView view = dialog_view(dialog);
        if (view.shown && !view.visible_buttons().empty() && front_end()->poll_input(view)) continue;
        std::unique_lock<std::mutex> lock(ui_mutex());
        auto ready = [&] { return dialog->ended || dialog->wake || !queue->tasks.empty(); };
        if (queue->unannounced) {
            queue->unannounced = false;
            ui_signal().wait_for(lock, kReportDelay, ready);
        } else {
            queue->sleeping = true;
            ui_signal().wait(lock, ready);
            queue->sleeping = false;
        }
    }
}

void leave_modal_loop(Window* dialog) {
    std::lock_guard<std::mutex> lock(ui_mutex());
    dialog->alive = false;
    for (Window* control : dialog->controls) control->alive = false;
    auto& open = registry().open_dialogs;
    for (auto it = open.begin(); it != open.end(); ++it) {
        if (*it == dialog) {
            open.erase(it);
            break;
        }
    }
    ThreadQueue& queue = registry().queues[dialog->thread];
    // With no loop left on the thread nobody would run the queued work.
    if (--queue.depth == 0) {
        for (Task& task : queue.tasks) finish(task, CallState::refused);
        queue.tasks.clear();
    }
    ui_signal().notify_all();
}

bool deliver_command(HWND handle, int id) {
    Window* dialog = window_from_handle(handle);
    if (dialog == nullptr || !dialog->is_dialog) return false;
    auto command = [dialog, id] {
        HWND control = nullptr;
        for (Window* item : dialog->controls)
            if (item->id == id) control = item->handle();
        call_dialog_proc(dialog, WM_COMMAND, MAKELONG(id, 0), reinterpret_cast<LPARAM>(control));
    };
    if (dialog->thread == std::this_thread::get_id()) {
        command();
        return true;
    }
    return post_to_dialog_thread(dialog, command);
}

void wake_dialog(HWND handle) {
    std::lock_guard<std::mutex> lock(ui_mutex());
    Window* dialog = window_from_handle_locked(handle);
    if (dialog == nullptr) return;
    dialog->dialog->wake = true;
    ui_signal().notify_all();
}

void forget_all_windows() {
    std::vector<std::unique_ptr<Window>> dropped;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(ui_mutex());
    Registry& r = registry();
    dropped.swap(r.storage);
    r.known.clear();
    r.open_dialogs.clear();
    r.queues.clear();
    reports_pending_on = nullptr;
}

HWND active_dialog() {
    std::lock_guard<std::mutex> lock(ui_mutex());
    auto& open = registry().open_dialogs;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (!(*it)->ended) return (*it)->handle();
    return nullptr;
}

}  // namespace sim::ui
