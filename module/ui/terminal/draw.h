// Drawing the terminal front-end's layers with ncurses: dialogs from their
// templates, message boxes, the file-open dialog, and what is shown instead
// when the terminal is too small. Screen thread only.
#pragma once
#include <string>
#include <vector>

#include "module/ui/terminal/layers.h"

namespace sim::ui::terminal {

// The smallest area a layer fits in.
CellSize needed_size(const Layer& layer);

// Draws a layer centred in the area (the screen above the hint line) and
// returns where clicks land on it. A file dialog's list scrolls to keep the
// selected entry in sight.
std::vector<HotZone> draw_layer(Layer& layer, CellSize area);

// How many entries a file dialog's list shows at once in the area.
int file_list_rows(CellSize area);

// Instead of the layers: says how much room they need.
void draw_too_small(CellSize needed, CellSize screen);
// The bottom line: which keys do what.
void draw_hint(const std::string& text, CellSize screen);

// Texts as the screen shows them.
std::wstring wide(const std::u16string& text);
// A button's text without its mnemonic marks ("&Yes" is "Yes", "&&" is "&").
std::wstring button_text(const std::u16string& text);

}  // namespace sim::ui::terminal
