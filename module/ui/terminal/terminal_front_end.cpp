// The terminal front-end: the program's dialogs, message boxes and the
// file-open dialog drawn full-screen with ncurses, worked with keys and the
// mouse.
//
// One screen thread owns the terminal: it draws and reads every key. The
// dialog manager's calls, from the dialog threads and the update worker,
// only queue what changed and wake it; a message box or a file dialog waits
// for the screen thread's answer on the caller's own thread. Key presses go
// to the dialogs as commands queued for their threads (deliver_command), so
// the screen thread never waits for a dialog thread and nothing it does can
// deadlock with a worker that holds a dialog thread in SendMessage.
#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "module/observer.h"
#include "module/ui/terminal/curses_api.h"
#include "module/ui/terminal/draw.h"
#include "module/ui/terminal/input.h"
#include "module/ui/terminal/session.h"
#include "module/ui/ui_config.h"

namespace sim::ui {
namespace terminal {
namespace {

// Progress may change thousands of times a second: the screen is drawn at
// most this often, and at once after a key.
constexpr auto kFrameInterval = std::chrono::milliseconds(20);

const char* hint_of(const Layer& layer) {
    if (std::holds_alternative<FileLayer>(layer)) return "Enter: open  Backspace: folder up  Tab: next  Esc: cancel";
    if (std::holds_alternative<MessageLayer>(layer)) return "Tab/arrows: move  Enter: answer  Esc: cancel";
    return "Tab/arrows: move  Enter/Space: press  Esc: cancel";
}

struct Event {
    enum class Kind { open, update, close, push, note };
    explicit Event(Kind what, HWND window = nullptr) : kind(what), dialog(window) {}
    Kind kind;
    HWND dialog;
    DialogView view;
    std::optional<Layer> layer;  // open, push
    std::string text;
};

}  // namespace

class TerminalFrontEnd : public FrontEnd {
public:
    bool start(std::string* error) {
        if (!session_.start(error)) return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    ~TerminalFrontEnd() override { end(); }

    void dialog_opened(const DialogView& dialog) override {
        Event event{Event::Kind::open, dialog.handle};
        std::vector<int> ids = focusable(dialog);
        event.layer = DialogLayer{dialog, ids.empty() ? 0 : ids[0]};
        post(std::move(event));
    }
    void dialog_closed(const DialogView& dialog, INT_PTR) override { post(Event{Event::Kind::close, dialog.handle}); }
    void text_changed(const DialogView& dialog, const TextChange&) override { update(dialog); }
    void progress_changed(const DialogView& dialog, const ControlView&, bool) override { update(dialog); }
    // Keys are read by the screen thread, which delivers them itself.
    bool poll_input(const DialogView&) override { return false; }

    int message_box(const MessageBoxView& box, const std::optional<std::string>& preset) override {
        if (preset) {
            if (std::optional<int> chosen = match_button(box.buttons, *preset)) return *chosen;
        }
        auto reply = std::make_shared<std::promise<int>>();
        std::future<int> answer = reply->get_future();
        MessageLayer layer{box, 0, reply};
        auto focus = std::find(box.buttons.begin(), box.buttons.end(), box.default_button);
        layer.focus = focus == box.buttons.end() ? 0 : static_cast<size_t>(focus - box.buttons.begin());
        Event event{Event::Kind::push};
        event.layer = std::move(layer);
        if (!post(std::move(event))) return box.default_button;
        return wait_for(answer, box.default_button);
    }

    std::optional<std::u16string> open_file(const OpenFileView& request, const PathCheck& check) override {
        std::u16string patterns;
        if (!request.filters.empty()) {
            size_t index = request.filter_index >= 1 && request.filter_index <= request.filters.size()
                               ? request.filter_index - 1
                               : 0;
            patterns = request.filters[index].second;
        }
        std::u16string folder = request.initial_dir;
        std::string message;
        for (;;) {
            auto reply = std::make_shared<std::promise<FileChoice>>();
            std::future<FileChoice> answer = reply->get_future();
            Event event{Event::Kind::push};
            event.layer =
                FileLayer{request, FileBrowser(folder, patterns), 0, 0, u"", FileLayer::Field::list, message, reply};
            if (!post(std::move(event))) return std::nullopt;
            FileChoice choice = wait_for(answer, FileChoice{});
            if (!choice.path) return std::nullopt;
            // The check opens the file: it runs here, not on the screen thread.
            message = check(*choice.path);
            if (message.empty()) return choice.path;
            folder = choice.folder;
        }
    }

    void note(const std::string& text) override {
        Event event{Event::Kind::note};
        event.text = text;
        if (!post(std::move(event))) std::cerr << "updatetool: " << text << '\n';
    }

    void end() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
        }
        session_.wake();
        if (thread_.joinable()) thread_.join();
        for (const std::string& text : notes_) std::cerr << "updatetool: " << text << '\n';
    }

private:
    // The screen thread's answer; the fallback when the front-end goes away
    // without one.
    template <typename T>
    static T wait_for(std::future<T>& answer, T fallback) {
        try {
            return answer.get();
        } catch (const std::future_error&) {
            return fallback;
        }
    }

    // False once the front-end has ended: nobody will answer.
    bool post(Event event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return false;
            // A burst of changes to one dialog needs only its last state.
            if (event.kind == Event::Kind::update && !inbox_.empty() && inbox_.back().kind == Event::Kind::update &&
                inbox_.back().dialog == event.dialog)
                inbox_.back() = std::move(event);
            else
                inbox_.push_back(std::move(event));
        }
        session_.wake();
        return true;
    }

    void update(const DialogView& dialog) {
        // Until the dialog is shown its opening carries its state.
        if (!dialog.shown) return;
        Event event{Event::Kind::update, dialog.handle};
        event.view = dialog;
        post(std::move(event));
    }

    // ---- the screen thread

    void run() {
        auto last_frame = std::chrono::steady_clock::now() - kFrameInterval;
        bool dirty = true;
        for (;;) {
            bool stop = take_events(&dirty);
            if (stop) break;
            Input input;
            while (session_.next(&input)) {
                handle(input);
                dirty = true;
                last_frame -= kFrameInterval;
            }
            auto now = std::chrono::steady_clock::now();
            int timeout = -1;
            if (dirty && now - last_frame >= kFrameInterval) {
                draw();
                dirty = false;
                last_frame = now;
            } else if (dirty) {
                auto left = kFrameInterval - (now - last_frame);
                timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1;
            }
            session_.wait(timeout);
        }
        // A box still open keeps its caller waiting: the program is ending
        // (an interrupt, a reboot), and an answer would let it run on.
        session_.end();
    }

    bool take_events(bool* dirty) {
        std::deque<Event> events;
        bool stop;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events.swap(inbox_);
            stop = stopping_;
        }
        for (Event& event : events) {
            *dirty = true;
            switch (event.kind) {
                case Event::Kind::open: {
                    // A box another thread raised while the dialog was being
                    // set up stays above it: it belongs to the dialog.
                    auto above = std::find_if(layers_.begin(), layers_.end(),
                                              [](const Layer& l) { return !std::holds_alternative<DialogLayer>(l); });
                    layers_.insert(above, std::move(*event.layer));
                    break;
                }
                case Event::Kind::push: layers_.push_back(std::move(*event.layer)); break;
                case Event::Kind::update:
                    if (DialogLayer* dialog = find_dialog(event.dialog)) {
                        dialog->view = std::move(event.view);
                        keep_focus_visible(*dialog);
                    }
                    break;
                case Event::Kind::close:
                    layers_.erase(std::remove_if(layers_.begin(), layers_.end(),
                                                 [&](const Layer& l) {
                                                     const auto* d = std::get_if<DialogLayer>(&l);
                                                     return d != nullptr && d->view.handle == event.dialog;
                                                 }),
                                  layers_.end());
                    break;
                case Event::Kind::note: notes_.push_back(event.text); break;
            }
        }
        return stop;
    }

    DialogLayer* find_dialog(HWND handle) {
        for (Layer& layer : layers_) {
            auto* dialog = std::get_if<DialogLayer>(&layer);
            if (dialog != nullptr && dialog->view.handle == handle) return dialog;
        }
        return nullptr;
    }

    static void keep_focus_visible(DialogLayer& dialog) {
        std::vector<int> ids = focusable(dialog.view);
        if (std::find(ids.begin(), ids.end(), dialog.focus_id) == ids.end()) dialog.focus_id = ids.empty() ? 0 : ids[0];
    }

    void draw() {
        CellSize screen = session_.size();
        erase();
        zones_.clear();
        CellSize needed{0, 0};
        for (const Layer& layer : layers_) {
            CellSize size = needed_size(layer);
            needed.cols = std::max(needed.cols, size.cols);
            needed.rows = std::max(needed.rows, size.rows);
        }
        if (screen.cols < needed.cols || screen.rows < needed.rows) {
            draw_too_small(needed, screen);
        } else {
            bool hint = !layers_.empty() && screen.rows > needed.rows;
            CellSize area{screen.cols, hint ? screen.rows - 1 : screen.rows};
            for (Layer& layer : layers_) zones_ = draw_layer(layer, area);
            if (hint) draw_hint(hint_of(layers_.back()), screen);
            if (!notes_.empty()) draw_hint(notes_.back(), CellSize{screen.cols, 1});
        }
        refresh();
    }

    void handle(const Input& input) {
        if (input.kind == Input::Kind::resize || layers_.empty()) return;
        if (handle_input(layers_.back(), input, zones_, session_.size())) layers_.pop_back();
    }

    Session session_;
    std::thread thread_;
    std::mutex mutex_;
    std::deque<Event> inbox_;
    bool stopping_ = false;

    // Screen thread only (notes_ also after it has ended).
    std::vector<Layer> layers_;
    std::vector<HotZone> zones_;  // of the top layer, as last drawn
    std::vector<std::string> notes_;
};

}  // namespace terminal

std::shared_ptr<FrontEnd> make_terminal_front_end(std::string* error) {
    auto front_end = std::make_shared<terminal::TerminalFrontEnd>();
    if (!front_end->start(error)) return nullptr;
    return front_end;
}

}  // namespace sim::ui
