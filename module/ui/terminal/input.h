// What keys and clicks do to the top layer: move the focus, press a dialog's
// buttons (as commands queued for the dialog's thread), answer a message box,
// walk folders and choose a file in the file-open dialog. Screen thread only.
#pragma once
#include <vector>

#include "module/ui/terminal/layers.h"
#include "module/ui/terminal/session.h"

namespace sim::ui::terminal {

// A dialog's buttons that take the focus, in tab order.
std::vector<int> focusable(const DialogView& view);

// zones: where clicks land on the layer, as last drawn. True when the layer
// is done (answered, chosen or cancelled: its caller has its reply) and goes.
bool handle_input(Layer& top, const Input& input, const std::vector<HotZone>& zones, CellSize screen);

}  // namespace sim::ui::terminal
