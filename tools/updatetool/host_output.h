// updatetool's own lines beside the dialogs: the line front-end set up for
// the run (detail, terminal or not, the progress dialog's controls by name,
// answers that name no button), and host notes written so that a progress
// line drawn on a terminal stays below them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "tools/updatetool/options.h"

// Sets up the line front-end when the run has one. refuse is called with the
// box or dialog and why when an answer names no button of it and the input is
// no terminal; it must not return.
void configure_line_output(
    const HostOptions& options,
    std::function<void(const std::u16string& caption, const std::u16string& text, const std::string& why)> refuse);

// A line on stderr (through the line front-end while it draws progress).
void say_aside(const std::string& line);
// Progress no window shows, on the progress line when there is one.
void show_phase(const char* phase, uint64_t done, uint64_t total);
// Ends a progress line drawn.
void end_progress();
