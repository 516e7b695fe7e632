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
#include <cctype>
#include <chrono>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "module/observer.h"
#include "module/ui/dialog_input.h"
#include "module/ui/terminal/curses_api.h"
#include "module/ui/terminal/draw.h"
#include "module/ui/terminal/session.h"
#include "module/ui/ui_config.h"

namespace sim::ui {
namespace terminal {
namespace {

// Progress may change thousands of times a second: the screen is drawn at
// most this often, and at once after a key.
constexpr auto kFrameInterval = std::chrono::milliseconds(20);

constexpr int kEscape = 27;
constexpr int kTab = 9;
constexpr int kBackspaceKeys[] = {8, 127, KEY_BACKSPACE};

bool is_backspace(const Input& input) {
    for (int code : kBackspaceKeys)
        if (input.code == code) return true;
    return false;
}

bool is_enter(const Input& input) {
    return input.kind == Input::Kind::character ? input.code == '\r' || input.code == '\n' : input.code == KEY_ENTER;
}

bool is_char(const Input& input, int code) { return input.kind == Input::Kind::character && input.code == code; }

bool is_key(const Input& input, int code) { return input.kind == Input::Kind::key && input.code == code; }

// Tab, Right and Down move on; Shift-Tab, Left and Up move back.
int focus_step(const Input& input) {
    if (is_char(input, kTab) || is_key(input, KEY_RIGHT) || is_key(input, KEY_DOWN)) return 1;
    if (is_key(input, KEY_BTAB) || is_key(input, KEY_LEFT) || is_key(input, KEY_UP)) return -1;
    return 0;
}

const char* hint_of(const Layer& layer) {
    if (std::holds_alternative<FileLayer>(layer))
        return "Up/Down: choose  Enter: open  Backspace: folder up  Tab: next field  Esc: cancel";
    if (std::holds_alternative<MessageLayer>(layer)) return "Tab/arrows: move  Enter/Space: answer  Esc: cancel";
    return "Tab/arrows: move  Enter/Space: press  Esc: cancel  Ctrl-C: cancel";
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
        DialogLayer layer{dialog, 0};
        for (const ControlView* button : dialog.visible_buttons()) {
            if (button->style & WS_TABSTOP) {
                layer.focus_id = button->id;
                break;
            }
        }
        event.layer = layer;
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

    static std::vector<int> focusable(const DialogView& view) {
        std::vector<int> ids;
        for (const ControlView* button : view.visible_buttons())
            if (button->style & WS_TABSTOP) ids.push_back(button->id);
        return ids;
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
        Layer& top = layers_.back();
        if (auto* dialog = std::get_if<DialogLayer>(&top))
            handle_dialog(*dialog, input);
        else if (auto* message = std::get_if<MessageLayer>(&top))
            handle_message(*message, input);
        else
            handle_file(std::get<FileLayer>(top), input);
    }

    const HotZone* zone_at(const Input& input) const {
        if (input.kind != Input::Kind::click && input.kind != Input::Kind::double_click) return nullptr;
        for (const HotZone& zone : zones_)
            if (zone.rect.contains(input.column, input.row)) return &zone;
        return nullptr;
    }

    void handle_dialog(DialogLayer& dialog, const Input& input) {
        HWND handle = dialog.view.handle;
        if (const HotZone* zone = zone_at(input)) {
            dialog.focus_id = zone->value;
            deliver_command(handle, zone->value);
            return;
        }
        if (is_char(input, kEscape)) {
            deliver_command(handle, IDCANCEL);
            return;
        }
        std::vector<int> ids = focusable(dialog.view);
        if (ids.empty()) return;
        auto at = std::find(ids.begin(), ids.end(), dialog.focus_id);
        int index = at == ids.end() ? 0 : static_cast<int>(at - ids.begin());
        int count = static_cast<int>(ids.size());
        if (int step = focus_step(input)) {
            dialog.focus_id = ids[static_cast<size_t>((index + step + count) % count)];
        } else if (is_enter(input) || is_char(input, ' ')) {
            deliver_command(handle, ids[static_cast<size_t>(index)]);
        }
    }

    void answer(const MessageLayer& message, int id) {
        message.reply->set_value(id);
        remove_top();
    }

    void handle_message(MessageLayer& message, const Input& input) {
        const std::vector<int>& buttons = message.box.buttons;
        if (const HotZone* zone = zone_at(input)) return answer(message, zone->value);
        size_t count = buttons.size();
        if (int step = focus_step(input)) {
            message.focus = (message.focus + (step > 0 ? 1 : count - 1)) % count;
            return;
        }
        if (is_enter(input) || is_char(input, ' ')) return answer(message, buttons[message.focus]);
        if (is_char(input, kEscape)) {
            // Escape is Cancel; a box with OK alone closes with OK.
            if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return answer(message, IDCANCEL);
            if (buttons.size() == 1 && buttons[0] == IDOK) return answer(message, IDOK);
            return;
        }
        // A button's first letter answers with it (Y for Yes, N for No).
        if (input.kind == Input::Kind::character && input.code < 128 && std::isalpha(input.code)) {
            for (int id : buttons) {
                std::u16string label = button_label(id);
                if (std::tolower(label[0]) == std::tolower(input.code)) return answer(message, id);
            }
        }
    }

    void choose(FileLayer& file, std::optional<std::u16string> path) {
        file.reply->set_value(FileChoice{std::move(path), file.browser.folder()});
        remove_top();
    }

    static void listing_changed(FileLayer& file) {
        file.selected = 0;
        file.top = 0;
        file.name.clear();
        file.message.clear();
    }

    void go_to_folder(FileLayer& file, const std::u16string& name) {
        file.browser.enter(name);
        listing_changed(file);
    }

    // Open: the typed name (a folder is walked into, a file chosen), else the
    // selected entry.
    void open_named(FileLayer& file) {
        if (file.name.empty()) {
            const std::vector<FileEntry>& entries = file.browser.entries();
            if (file.selected >= entries.size()) return;
            const FileEntry& entry = entries[file.selected];
            if (entry.folder) return go_to_folder(file, entry.name);
            return choose(file, file.browser.path_of(entry.name));
        }
        if (file.name == u"..") return go_to_folder(file, file.name);
        std::u16string path = file.browser.path_of(file.name);
        if (file.browser.show(path)) return listing_changed(file);
        choose(file, path);
    }

    void select(FileLayer& file, size_t index) {
        const std::vector<FileEntry>& entries = file.browser.entries();
        if (entries.empty()) return;
        file.selected = std::min(index, entries.size() - 1);
        if (!entries[file.selected].folder) file.name = entries[file.selected].name;
    }

    void handle_file(FileLayer& file, const Input& input) {
        using Field = FileLayer::Field;
        if (const HotZone* zone = zone_at(input)) {
            if (zone->kind == HotZone::Kind::list_row) {
                bool again = file.focus == Field::list && file.selected == static_cast<size_t>(zone->value);
                file.focus = Field::list;
                select(file, static_cast<size_t>(zone->value));
                if (again || input.kind == Input::Kind::double_click) open_named(file);
            } else if (zone->kind == HotZone::Kind::name_field) {
                file.focus = Field::name;
            } else if (zone->value == IDOK) {
                open_named(file);
            } else {
                choose(file, std::nullopt);
            }
            return;
        }
        if (is_char(input, kEscape)) return choose(file, std::nullopt);
        if (is_char(input, kTab) || is_key(input, KEY_BTAB)) {
            int step = is_char(input, kTab) ? 1 : 3;
            file.focus = static_cast<Field>((static_cast<int>(file.focus) + step) % 4);
            return;
        }
        switch (file.focus) {
            case Field::list: return handle_file_list(file, input);
            case Field::name:
                if (is_enter(input)) return open_named(file);
                if (is_backspace(input)) {
                    if (!file.name.empty()) file.name.pop_back();
                    return;
                }
                if (input.kind == Input::Kind::character && input.code >= 0x20) file.name += utf16_char(input.code);
                return;
            case Field::open:
            case Field::cancel:
                if (int step = focus_step(input))
                    file.focus = file.focus == Field::open && step > 0 ? Field::cancel : Field::open;
                else if (is_enter(input) || is_char(input, ' '))
                    file.focus == Field::open ? open_named(file) : choose(file, std::nullopt);
                return;
        }
    }

    void handle_file_list(FileLayer& file, const Input& input) {
        size_t page = static_cast<size_t>(std::max(1, file_list_rows(session_.size()) - 1));
        size_t last = file.browser.entries().empty() ? 0 : file.browser.entries().size() - 1;
        if (is_key(input, KEY_DOWN)) return select(file, file.selected + 1);
        if (is_key(input, KEY_UP)) return select(file, file.selected == 0 ? 0 : file.selected - 1);
        if (is_key(input, KEY_NPAGE)) return select(file, file.selected + page);
        if (is_key(input, KEY_PPAGE)) return select(file, file.selected > page ? file.selected - page : 0);
        if (is_key(input, KEY_HOME)) return select(file, 0);
        if (is_key(input, KEY_END)) return select(file, last);
        if (is_enter(input)) {
            file.name.clear();
            return open_named(file);
        }
        if (is_backspace(input)) return go_to_folder(file, u"..");
        // Typing goes to the name field.
        if (input.kind == Input::Kind::character && input.code > 0x20) {
            file.focus = FileLayer::Field::name;
            file.name = utf16_char(input.code);
        }
    }

    static std::u16string utf16_char(int code) {
        std::u16string text;
        if (code >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(code);
        }
        return text;
    }

    void remove_top() { layers_.pop_back(); }

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
