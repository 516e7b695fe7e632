#include "module/ui/terminal/input.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "module/ui/dialog_input.h"
#include "module/ui/terminal/curses_api.h"
#include "module/ui/terminal/draw.h"

namespace sim::ui::terminal {
namespace {

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

std::u16string utf16_char(int code) {
    std::u16string text;
    if (code >= 0x10000) {
        text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        text += static_cast<char16_t>(code);
    }
    return text;
}

// Tab and Shift-Tab follow the tab order; the arrows go by the screen.
int tab_step(const Input& input) {
    if (is_char(input, kTab)) return 1;
    if (is_key(input, KEY_BTAB)) return -1;
    return 0;
}

// The focusable button nearest from the focused one in an arrow's
// direction, by the controls' centres in the template; the focused one when
// none lies that way. Going down, a button straight below beats one as near
// but off to the side; a tie goes to the one further left, then higher.
int button_towards(const DialogView& view, const std::vector<int>& ids, int from, int dx, int dy) {
    const ControlView* here = view.control(from);
    if (!here) return from;
    // Centres in half dialog units, so that they stay whole numbers.
    auto centre = [](const ControlView& c) { return std::pair<int, int>{2 * c.x + c.cx, 2 * c.y + c.cy}; };
    auto [hx, hy] = centre(*here);
    int best = from;
    long best_score = 0;
    std::pair<int, int> best_centre;
    for (int id : ids) {
        const ControlView* c = view.control(id);
        if (!c || id == from) continue;
        auto [x, y] = centre(*c);
        long along = dx ? long{x - hx} * dx : long{y - hy} * dy;
        long across = dx ? std::abs(y - hy) : std::abs(x - hx);
        if (along <= 0) continue;
        long score = along + 2 * across;
        if (best == from || score < best_score || (score == best_score && std::pair{x, y} < best_centre)) {
            best = id;
            best_score = score;
            best_centre = {x, y};
        }
    }
    return best;
}

// The arrow an input is, as a direction; false for any other input.
bool arrow(const Input& input, int* dx, int* dy) {
    *dx = is_key(input, KEY_RIGHT) - is_key(input, KEY_LEFT);
    *dy = is_key(input, KEY_DOWN) - is_key(input, KEY_UP);
    return *dx || *dy;
}

const HotZone* zone_at(const std::vector<HotZone>& zones, const Input& input) {
    if (input.kind != Input::Kind::click && input.kind != Input::Kind::double_click) return nullptr;
    for (const HotZone& zone : zones)
        if (zone.rect.contains(input.column, input.row)) return &zone;
    return nullptr;
}

// A dialog stays until its own thread ends it.
bool handle_dialog(DialogLayer& dialog, const Input& input, const std::vector<HotZone>& zones) {
    HWND handle = dialog.view.handle;
    std::vector<int> ids = focusable(dialog.view);
    if (const HotZone* zone = zone_at(zones, input)) {
        if (std::find(ids.begin(), ids.end(), zone->value) != ids.end()) dialog.focus_id = zone->value;
        deliver_command(handle, zone->value);
        return false;
    }
    if (is_char(input, kEscape)) {
        deliver_command(handle, IDCANCEL);
        return false;
    }
    if (ids.empty()) return false;
    auto at = std::find(ids.begin(), ids.end(), dialog.focus_id);
    int index = at == ids.end() ? 0 : static_cast<int>(at - ids.begin());
    int count = static_cast<int>(ids.size());
    int dx = 0, dy = 0;
    if (int step = tab_step(input)) {
        dialog.focus_id = ids[static_cast<size_t>((index + step + count) % count)];
    } else if (arrow(input, &dx, &dy)) {
        dialog.focus_id = button_towards(dialog.view, ids, ids[static_cast<size_t>(index)], dx, dy);
    } else if (is_enter(input) || is_char(input, ' ')) {
        deliver_command(handle, ids[static_cast<size_t>(index)]);
    }
    return false;
}

bool answer(const MessageLayer& message, int id) {
    message.reply->set_value(id);
    return true;
}

bool handle_message(MessageLayer& message, const Input& input, const std::vector<HotZone>& zones) {
    const std::vector<int>& buttons = message.box.buttons;
    if (const HotZone* zone = zone_at(zones, input)) return answer(message, zone->value);
    size_t count = buttons.size();
    if (int step = focus_step(input)) {
        message.focus = (message.focus + (step > 0 ? 1 : count - 1)) % count;
        return false;
    }
    if (is_enter(input) || is_char(input, ' ')) return answer(message, buttons[message.focus]);
    if (is_char(input, kEscape)) {
        // Escape is Cancel; a box with OK alone closes with OK.
        if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return answer(message, IDCANCEL);
        if (buttons.size() == 1 && buttons[0] == IDOK) return answer(message, IDOK);
        return false;
    }
    // A button's first letter answers with it (Y for Yes, N for No).
    if (input.kind == Input::Kind::character && input.code < 128 && std::isalpha(input.code)) {
        for (int id : buttons) {
            std::u16string label = button_label(id);
            if (std::tolower(label[0]) == std::tolower(input.code)) return answer(message, id);
        }
    }
    return false;
}

bool choose(FileLayer& file, std::optional<std::u16string> path) {
    file.reply->set_value(FileChoice{std::move(path), file.browser.folder()});
    return true;
}

// A new folder: pick from its list.
bool listing_changed(FileLayer& file) {
    file.focus = FileLayer::Field::list;
    file.selected = 0;
    file.top = 0;
    file.name.clear();
    file.message.clear();
    return false;
}

bool go_to_folder(FileLayer& file, const std::u16string& name) {
    file.browser.enter(name);
    return listing_changed(file);
}

// Open: the typed name (a folder is walked into, a file chosen), else the
// selected entry.
bool open_named(FileLayer& file) {
    if (file.name.empty()) {
        const std::vector<FileEntry>& entries = file.browser.entries();
        if (file.selected >= entries.size()) return false;
        const FileEntry& entry = entries[file.selected];
        if (entry.folder) return go_to_folder(file, entry.name);
        return choose(file, file.browser.path_of(entry.name));
    }
    if (file.name == u"..") return go_to_folder(file, file.name);
    std::u16string path = file.browser.path_of(file.name);
    if (file.browser.show(path)) return listing_changed(file);
    return choose(file, path);
}

bool select(FileLayer& file, size_t index) {
    const std::vector<FileEntry>& entries = file.browser.entries();
    if (entries.empty()) return false;
    file.selected = std::min(index, entries.size() - 1);
    if (!entries[file.selected].folder) file.name = entries[file.selected].name;
    return false;
}

bool handle_file_list(FileLayer& file, const Input& input, CellSize screen) {
    size_t page = static_cast<size_t>(std::max(1, file_list_rows(screen) - 1));
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
    return false;
}

bool handle_file(FileLayer& file, const Input& input, const std::vector<HotZone>& zones, CellSize screen) {
    using Field = FileLayer::Field;
    if (const HotZone* zone = zone_at(zones, input)) {
        if (zone->kind == HotZone::Kind::list_row) {
            bool again = file.focus == Field::list && file.selected == static_cast<size_t>(zone->value);
            file.focus = Field::list;
            select(file, static_cast<size_t>(zone->value));
            return again || input.kind == Input::Kind::double_click ? open_named(file) : false;
        }
        if (zone->kind == HotZone::Kind::name_field) {
            file.focus = Field::name;
            return false;
        }
        return zone->value == IDOK ? open_named(file) : choose(file, std::nullopt);
    }
    if (is_char(input, kEscape)) return choose(file, std::nullopt);
    if (is_char(input, kTab) || is_key(input, KEY_BTAB)) {
        int step = is_char(input, kTab) ? 1 : 3;
        file.focus = static_cast<Field>((static_cast<int>(file.focus) + step) % 4);
        return false;
    }
    switch (file.focus) {
        case Field::list: return handle_file_list(file, input, screen);
        case Field::name:
            if (is_enter(input)) return open_named(file);
            if (is_backspace(input)) {
                if (!file.name.empty()) file.name.pop_back();
            } else if (input.kind == Input::Kind::character && input.code >= 0x20) {
                file.name += utf16_char(input.code);
            }
            return false;
        case Field::open:
        case Field::cancel:
            if (int step = focus_step(input)) {
                file.focus = file.focus == Field::open && step > 0 ? Field::cancel : Field::open;
                return false;
            }
            if (!is_enter(input) && !is_char(input, ' ')) return false;
            return file.focus == Field::open ? open_named(file) : choose(file, std::nullopt);
    }
    return false;
}

}  // namespace

std::vector<int> focusable(const DialogView& view) {
    std::vector<int> ids;
    for (const ControlView* button : view.visible_buttons())
        if (button->style & WS_TABSTOP) ids.push_back(button->id);
    return ids;
}

bool handle_input(Layer& top, const Input& input, const std::vector<HotZone>& zones, CellSize screen) {
    if (auto* dialog = std::get_if<DialogLayer>(&top)) return handle_dialog(*dialog, input, zones);
    if (auto* message = std::get_if<MessageLayer>(&top)) return handle_message(*message, input, zones);
    return handle_file(std::get<FileLayer>(top), input, zones, screen);
}

}  // namespace sim::ui::terminal
