// What the terminal front-end shows, bottom to top: dialogs, message boxes
// and file-open dialogs, each with the state the user moves through (focus,
// the selected file, the typed name). Owned by the screen thread.
#pragma once
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "module/ui/front_end.h"
#include "module/ui/terminal/file_browser.h"

namespace sim::ui::terminal {

struct CellRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool contains(int column, int row) const { return column >= x && column < x + w && row >= y && row < y + h; }
};

// Dialog units to character cells. A dialog unit is a quarter of the dialog
// font's average character width across and an eighth of its height down, so
// one character cell is 4 x 8 dialog units: column x/4, row y/8, rounded to
// the nearest cell (halves up). Both edges of a rectangle are converted, so
// controls that touch in a template touch on screen and never overlap.
int cell_column(int dialog_units);
int cell_row(int dialog_units);
CellRect cells_of(int x, int y, int cx, int cy);

struct DialogLayer {
    DialogView view;
    int focus_id = 0;  // the button with the focus; 0 for none
};

struct MessageLayer {
    MessageBoxView box;
    size_t focus = 0;  // index into box.buttons
    std::shared_ptr<std::promise<int>> reply;
};

struct FileChoice {
    std::optional<std::u16string> path;  // nothing: cancelled
    std::u16string folder;               // the folder shown last
};

struct FileLayer {
    enum class Field { list, name, open, cancel };
    OpenFileView request;
    FileBrowser browser;
    size_t selected = 0;
    size_t top = 0;  // the first entry the list shows
    std::u16string name;
    Field focus = Field::list;
    std::string message;  // why the last choice was refused
    std::shared_ptr<std::promise<FileChoice>> reply;
};

using Layer = std::variant<DialogLayer, MessageLayer, FileLayer>;

// Where a click on the top layer lands.
struct HotZone {
    enum class Kind { button, list_row, name_field };
    CellRect rect;
    Kind kind = Kind::button;
    int value = 0;  // a control or button id (IDOK, IDCANCEL for the file dialog's buttons); a list entry
};

struct CellSize {
    int cols = 0, rows = 0;
};

}  // namespace sim::ui::terminal
