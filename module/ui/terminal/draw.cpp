#include "module/ui/terminal/draw.h"

#include <algorithm>
#include <cstdlib>

#include "module/observer.h"
#include "module/ui/terminal/curses_api.h"
#include "platform/windows.h"

namespace sim::ui::terminal {
namespace {

// Message-box and file-dialog buttons are all this wide, with this gap.
constexpr int kBoxButtonWidth = 10;
constexpr int kBoxButtonGap = 2;
// The file-open dialog's size bounds and its rows that are not the list.
constexpr int kFileMinCols = 44, kFileMaxCols = 72;
constexpr int kFileMinRows = 14, kFileMaxRows = 22;
constexpr int kFileFixedRows = 9;

int floor_div(int value, int unit) { return value >= 0 ? value / unit : -((-value + unit - 1) / unit); }

// Writes text from (row, column), cut at the screen's edges and before limit.
void put(int row, int column, const std::wstring& text, int limit, attr_t attributes = A_NORMAL) {
    if (row < 0 || row >= LINES) return;
    int end = std::min(limit, COLS);
    int first = std::max(0, -column);
    int start = column + first;
    if (start >= end || first >= static_cast<int>(text.size())) return;
    int count = std::min(static_cast<int>(text.size()) - first, end - start);
    attrset(attributes);
    mvaddnwstr(row, start, text.c_str() + first, count);
    attrset(A_NORMAL);
}

void put_char(int row, int column, chtype symbol) {
    if (row < 0 || row >= LINES || column < 0 || column >= COLS) return;
    mvaddch(row, column, symbol);
}

void fill(const CellRect& rect, attr_t attributes = A_NORMAL) {
    std::wstring blank(static_cast<size_t>(std::max(0, rect.w)), L' ');
    for (int row = rect.y; row < rect.y + rect.h; ++row) put(row, rect.x, blank, rect.x + rect.w, attributes);
}

std::wstring centred(const std::wstring& text, int width) {
    if (static_cast<int>(text.size()) >= width) return text.substr(0, static_cast<size_t>(std::max(0, width)));
    size_t left = static_cast<size_t>(width - static_cast<int>(text.size())) / 2;
    return std::wstring(left, L' ') + text + std::wstring(static_cast<size_t>(width) - left - text.size(), L' ');
}

// A window's frame with its caption in the top edge; the inside is cleared.
void frame(const CellRect& rect, const std::wstring& caption) {
    fill(rect);
    int right = rect.x + rect.w - 1, bottom = rect.y + rect.h - 1;
    for (int column = rect.x + 1; column < right; ++column) {
        put_char(rect.y, column, ACS_HLINE);
        put_char(bottom, column, ACS_HLINE);
    }
    for (int row = rect.y + 1; row < bottom; ++row) {
        put_char(row, rect.x, ACS_VLINE);
        put_char(row, right, ACS_VLINE);
    }
    put_char(rect.y, rect.x, ACS_ULCORNER);
    put_char(rect.y, right, ACS_URCORNER);
    put_char(bottom, rect.x, ACS_LLCORNER);
    put_char(bottom, right, ACS_LRCORNER);
    if (!caption.empty() && rect.w > 6) put(rect.y, rect.x + 2, L" " + caption + L" ", right - 1, A_BOLD);
}

// A push button: its text on the given row between brackets; the focused
// one in reverse video with its text marked >so<. Where text, marks and
// brackets do not all fit, the brackets go first.
void button(const CellRect& rect, int row, const std::wstring& text, bool focused) {
    attr_t attributes = focused ? A_REVERSE : A_NORMAL;
    fill(rect, attributes);
    std::wstring shown = focused ? L">" + text + L"<" : text;
    if (static_cast<int>(shown.size()) + 2 <= rect.w)
        put(row, rect.x, L"[" + centred(shown, rect.w - 2) + L"]", rect.x + rect.w, attributes);
    else
        put(row, rect.x, centred(shown, rect.w), rect.x + rect.w, attributes);
}

// The row of a control's centre: where a button's text or a bar is drawn.
int centre_row(const ControlView& control, const CellRect& place, int client_top) {
    int row = client_top + cell_row(control.y + control.cy / 2);
    return std::clamp(row, place.y, place.y + place.h - 1);
}

void progress_bar(const CellRect& rect, int row, const ControlView& bar) {
    fill(rect);
    bool bordered = (bar.style & WS_BORDER) != 0 && rect.w >= 3;
    int inside = bordered ? rect.w - 2 : rect.w;
    long long span = static_cast<long long>(bar.high) - bar.low;
    long long done = static_cast<long long>(bar.position) - bar.low;
    int filled = span > 0 ? static_cast<int>(std::clamp(done * inside / span, 0LL, static_cast<long long>(inside))) : 0;
    int start = bordered ? rect.x + 1 : rect.x;
    if (bordered) {
        put(row, rect.x, L"[", rect.x + 1);
        put(row, rect.x + rect.w - 1, L"]", rect.x + rect.w);
    }
    // A full block where the terminal takes UTF-8; curses' own block elsewhere.
    if (MB_CUR_MAX > 1)
        put(row, start, std::wstring(static_cast<size_t>(filled), L'\u2588'), start + filled);
    else
        for (int i = 0; i < filled; ++i) put_char(row, start + i, ACS_BLOCK);
}

// Tabs stop every eight characters, as the dialogs' text drawing has them.
std::wstring expand_tabs(const std::wstring& line) {
    std::wstring out;
    for (wchar_t c : line) {
        if (c != L'\t')
            out += c;
        else
            out.append(8 - out.size() % 8, L' ');
    }
    return out;
}

// Splits at line breaks, then wraps each line at blanks to width.
std::vector<std::wstring> wrap(const std::wstring& text, int width) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(L'\n', start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        line = expand_tabs(line);
        while (width > 0 && static_cast<int>(line.size()) > width) {
            size_t cut = line.rfind(L' ', static_cast<size_t>(width));
            if (cut == std::wstring::npos || cut == 0) cut = static_cast<size_t>(width);
            lines.push_back(line.substr(0, cut));
            line = line.substr(cut == static_cast<size_t>(width) && line[cut] != L' ' ? cut : cut + 1);
        }
        lines.push_back(line);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return lines;
}

// A character cell is wider than the dialog font's average character, so
// a one-line text its control fits on the module may not fit here: it goes on
// to the dialog's right edge, and moves left from there when it must, rather
// than being cut ("Section: 00080000  Len:").
CellRect room_for_line(const CellRect& rect, const ControlView& control, const CellRect& client) {
    int length = static_cast<int>(wide(control.text).size());
    if (rect.h != 1 || length <= rect.w || control.text.find(u'\n') != std::u16string::npos) return rect;
    CellRect room = rect;
    room.w = std::min(length, client.x + client.w - room.x);
    int short_by = length - room.w;
    int left = std::min(short_by, room.x - client.x);
    room.x -= left;
    room.w += left;
    return room;
}

void static_text(const CellRect& rect, const ControlView& control) {
    fill(rect);
    std::vector<std::wstring> lines = wrap(wide(control.text), rect.w);
    int align = static_cast<int>(control.style & 0x3);  // SS_LEFT, SS_CENTER, SS_RIGHT
    for (int i = 0; i < rect.h && i < static_cast<int>(lines.size()); ++i) {
        const std::wstring& line = lines[static_cast<size_t>(i)];
        int slack = std::max(0, rect.w - static_cast<int>(line.size()));
        int column = rect.x + (align == 1 ? slack / 2 : align == 2 ? slack : 0);
        put(rect.y + i, column, line, rect.x + rect.w);
    }
}

CellRect centred_rect(int cols, int rows, CellSize area) {
    return CellRect{(area.cols - cols) / 2, (area.rows - rows) / 2, cols, rows};
}

CellRect clip(const CellRect& rect, const CellRect& bounds) {
    int left = std::max(rect.x, bounds.x), top = std::max(rect.y, bounds.y);
    int right = std::min(rect.x + rect.w, bounds.x + bounds.w), bottom = std::min(rect.y + rect.h, bounds.y + bounds.h);
    return CellRect{left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

// ---- dialogs

CellSize dialog_size(const DialogView& view) {
    CellRect client = cells_of(0, 0, view.cx, view.cy);
    return CellSize{client.w + 2, client.h + 2};
}

std::vector<HotZone> draw_dialog(const DialogLayer& layer, CellSize area) {
    const DialogView& view = layer.view;
    CellSize size = dialog_size(view);
    CellRect outside = centred_rect(size.cols, size.rows, area);
    frame(outside, wide(view.caption));
    CellRect client{outside.x + 1, outside.y + 1, size.cols - 2, size.rows - 2};
    std::vector<HotZone> zones;
    // The caption's close button, with the system menu: it sends IDCANCEL.
    if ((view.style & WS_SYSMENU) && outside.w >= 10) {
        CellRect close{outside.x + outside.w - 4, outside.y, 3, 1};
        put(close.y, close.x, L"[X]", close.x + close.w);
        zones.push_back(HotZone{close, HotZone::Kind::button, IDCANCEL});
    }
    for (const ControlView& control : view.controls) {
        if (!control.visible()) continue;
        CellRect place = cells_of(control.x, control.y, control.cx, control.cy);
        place.x += client.x;
        place.y += client.y;
        place = clip(place, client);
        if (place.w == 0 || place.h == 0) continue;
        if (control.is_button()) {
            button(place, centre_row(control, place, client.y), button_text(control.text),
                   control.id == layer.focus_id);
            zones.push_back(HotZone{place, HotZone::Kind::button, control.id});
        } else if (control.is_progress_bar()) {
            progress_bar(place, centre_row(control, place, client.y), control);
        } else {
            static_text(room_for_line(place, control, client), control);
        }
    }
    return zones;
}

// ---- message boxes

const wchar_t* icon_mark(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND: return L"(X)";
        case MB_ICONQUESTION: return L"(?)";
        case MB_ICONEXCLAMATION: return L"/!\\";
        case MB_ICONASTERISK: return L"(i)";
        default: return L"";
    }
}

int box_buttons_width(size_t count) {
    return static_cast<int>(count) * kBoxButtonWidth + (static_cast<int>(count) - 1) * kBoxButtonGap;
}

struct MessageGeometry {
    CellRect outside;
    std::vector<std::wstring> lines;
    int icon_cols = 0;
};

MessageGeometry message_geometry(const MessageBoxView& box, CellSize area) {
    MessageGeometry g;
    std::wstring icon = icon_mark(box.type);
    g.icon_cols = icon.empty() ? 0 : static_cast<int>(icon.size()) + 2;
    int widest_text = std::max(8, area.cols - 4 - g.icon_cols);
    g.lines = wrap(wide(box.text), widest_text);
    int text_cols = 0;
    for (const std::wstring& line : g.lines) text_cols = std::max(text_cols, static_cast<int>(line.size()));
    int inside = std::max(
        {g.icon_cols + text_cols, box_buttons_width(box.buttons.size()), static_cast<int>(box.caption.size()) + 4});
    int rows = static_cast<int>(g.lines.size()) + 5;
    g.outside = centred_rect(inside + 4, rows, area);
    return g;
}

std::vector<HotZone> draw_message(const MessageLayer& layer, CellSize area) {
    const MessageBoxView& box = layer.box;
    MessageGeometry g = message_geometry(box, area);
    const CellRect& o = g.outside;
    frame(o, wide(box.caption));
    put(o.y + 2, o.x + 2, icon_mark(box.type), o.x + o.w - 1, A_BOLD);
    for (size_t i = 0; i < g.lines.size(); ++i)
        put(o.y + 2 + static_cast<int>(i), o.x + 2 + g.icon_cols, g.lines[i], o.x + o.w - 1);
    std::vector<HotZone> zones;
    int column = o.x + (o.w - box_buttons_width(box.buttons.size())) / 2;
    for (size_t i = 0; i < box.buttons.size(); ++i) {
        CellRect place{column, o.y + o.h - 2, kBoxButtonWidth, 1};
        button(place, place.y, wide(button_label(box.buttons[i])), i == layer.focus);
        zones.push_back(HotZone{place, HotZone::Kind::button, box.buttons[i]});
        column += kBoxButtonWidth + kBoxButtonGap;
    }
    return zones;
}

// ---- the file-open dialog

CellRect file_rect(CellSize area) {
    int cols = std::clamp(area.cols - 4, kFileMinCols, kFileMaxCols);
    int rows = std::clamp(area.rows - 2, kFileMinRows, kFileMaxRows);
    return centred_rect(cols, rows, area);
}

// The filter the dialog applies, as "IMAGE files (*.bin)".
std::wstring filter_text(const OpenFileView& request) {
    if (request.filters.empty()) return L"All files";
    size_t index =
        request.filter_index >= 1 && request.filter_index <= request.filters.size() ? request.filter_index - 1 : 0;
    const auto& [description, pattern] = request.filters[index];
    return wide(description) + L" (" + wide(pattern) + L")";
}

// A line across a frame, joined to its sides.
void rule(int row, const CellRect& outside) {
    put_char(row, outside.x, ACS_LTEE);
    for (int column = outside.x + 1; column < outside.x + outside.w - 1; ++column) put_char(row, column, ACS_HLINE);
    put_char(row, outside.x + outside.w - 1, ACS_RTEE);
}

std::vector<HotZone> draw_file(FileLayer& layer, CellSize area) {
    CellRect o = file_rect(area);
    std::wstring title = layer.request.title.empty() ? L"Open" : wide(layer.request.title);
    frame(o, title);
    int left = o.x + 2, right = o.x + o.w - 2;  // text columns: [left, right)
    int list_rows = o.h - kFileFixedRows;
    std::wstring folder = wide(layer.browser.folder());
    int room = right - left - 9;
    if (static_cast<int>(folder.size()) > room && room > 3)
        folder = L"..." + folder.substr(folder.size() - static_cast<size_t>(room - 3));
    put(o.y + 1, left, L"Look in: " + folder, right);
    rule(o.y + 2, o);

    std::vector<HotZone> zones;
    const std::vector<FileEntry>& entries = layer.browser.entries();
    if (layer.selected < layer.top) layer.top = layer.selected;
    if (list_rows > 0 && layer.selected >= layer.top + static_cast<size_t>(list_rows))
        layer.top = layer.selected - static_cast<size_t>(list_rows) + 1;
    wchar_t separator = layer.browser.is_module_path() ? L'\\' : L'/';
    bool list_focused = layer.focus == FileLayer::Field::list;
    if (entries.empty())
        put(o.y + 3, left, layer.browser.error().empty() ? L"(no matching files)" : wide(utf16(layer.browser.error())),
            right);
    for (int row = 0; row < list_rows && layer.top + static_cast<size_t>(row) < entries.size(); ++row) {
        size_t index = layer.top + static_cast<size_t>(row);
        const FileEntry& entry = entries[index];
        std::wstring name = wide(entry.label.empty() ? entry.name : entry.label);
        if (entry.folder && entry.name != u".." && entry.label.empty()) name += separator;
        bool selected = index == layer.selected;
        std::wstring line = (selected ? L"> " : L"  ") + name;
        line.resize(static_cast<size_t>(std::max(0, right - left)), L' ');
        CellRect place{left, o.y + 3 + row, right - left, 1};
        put(place.y, left, line, right, selected && list_focused ? A_REVERSE : A_NORMAL);
        zones.push_back(HotZone{place, HotZone::Kind::list_row, static_cast<int>(index)});
    }
    int below = o.y + 3 + list_rows;
    rule(below, o);

    bool name_focused = layer.focus == FileLayer::Field::name;
    std::wstring name = wide(layer.name) + (name_focused ? L"_" : L"");
    CellRect name_place{left + 11, below + 1, right - left - 11, 1};
    put(below + 1, left, L"File name:", right);
    fill(name_place, A_UNDERLINE);
    put(below + 1, name_place.x, name, right, A_UNDERLINE | (name_focused ? A_BOLD : A_NORMAL));
    zones.push_back(HotZone{name_place, HotZone::Kind::name_field, 0});
    put(below + 2, left, L"Files of type: " + filter_text(layer.request), right);
    if (!layer.message.empty()) put(below + 3, left, wide(utf16(layer.message)), right, A_BOLD);

    int column = right - 2 * kBoxButtonWidth - kBoxButtonGap;
    CellRect open{column, below + 4, kBoxButtonWidth, 1};
    CellRect cancel{column + kBoxButtonWidth + kBoxButtonGap, below + 4, kBoxButtonWidth, 1};
    button(open, open.y, L"Open", layer.focus == FileLayer::Field::open);
    button(cancel, cancel.y, L"Cancel", layer.focus == FileLayer::Field::cancel);
    zones.push_back(HotZone{open, HotZone::Kind::button, IDOK});
    zones.push_back(HotZone{cancel, HotZone::Kind::button, IDCANCEL});
    return zones;
}

}  // namespace

int cell_column(int dialog_units) { return floor_div(dialog_units + 2, 4); }
int cell_row(int dialog_units) { return floor_div(dialog_units + 4, 8); }

CellRect cells_of(int x, int y, int cx, int cy) {
    int left = cell_column(x), top = cell_row(y);
    return CellRect{left, top, cell_column(x + cx) - left, cell_row(y + cy) - top};
}

std::wstring wide(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        // Other control characters would move the cursor: they show as blanks.
        out += c < 0x20 && c != u'\n' && c != u'\r' && c != u'\t' ? L' ' : static_cast<wchar_t>(c);
    }
    return out;
}

std::wstring button_text(const std::u16string& text) {
    std::wstring shown = wide(text), out;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == L'&' && i + 1 < shown.size()) ++i;
        out += shown[i];
    }
    return out;
}

CellSize needed_size(const Layer& layer) {
    if (const auto* dialog = std::get_if<DialogLayer>(&layer)) return dialog_size(dialog->view);
    if (const auto* message = std::get_if<MessageLayer>(&layer)) {
        const MessageBoxView& box = message->box;
        int lines = static_cast<int>(wrap(wide(box.text), 1 << 16).size());
        int inside = std::max(box_buttons_width(box.buttons.size()), static_cast<int>(box.caption.size()) + 4);
        return CellSize{inside + 4, lines + 5};
    }
    return CellSize{kFileMinCols, kFileMinRows};
}

std::vector<HotZone> draw_layer(Layer& layer, CellSize area) {
    if (auto* dialog = std::get_if<DialogLayer>(&layer)) return draw_dialog(*dialog, area);
    if (auto* message = std::get_if<MessageLayer>(&layer)) return draw_message(*message, area);
    return draw_file(std::get<FileLayer>(layer), area);
}

int file_list_rows(CellSize area) { return file_rect(area).h - kFileFixedRows; }

void draw_too_small(CellSize needed, CellSize screen) {
    std::wstring text = L"The terminal is too small: this needs " + std::to_wstring(needed.cols) + L" x " +
                        std::to_wstring(needed.rows) + L", it has " + std::to_wstring(screen.cols) + L" x " +
                        std::to_wstring(screen.rows) + L". Enlarge the window; Esc cancels.";
    std::vector<std::wstring> lines = wrap(text, std::max(1, screen.cols));
    int top = std::max(0, (screen.rows - static_cast<int>(lines.size())) / 2);
    for (size_t i = 0; i < lines.size(); ++i) put(top + static_cast<int>(i), 0, centred(lines[i], screen.cols), COLS);
}

void draw_hint(const std::string& text, CellSize screen) {
    put(screen.rows - 1, 0, centred(wide(utf16(text)), screen.cols), screen.cols, A_DIM);
}

}  // namespace sim::ui::terminal
