// A sweep as a picture: a strip over the update's device time with one mark
// per cut point, coloured by what the cut left (bootable, not bootable, a
// retry that did not succeed and verify), the phases and sections of the
// update named below it as the cut points found them, the window in which
// a cut bricks the board marked, and a time axis in seconds.
#pragma once
#include <string>

#include "tools/modulectl/sweep_result.h"

// One <svg> element (no XML declaration), so that a page can hold it
// inline; a file of it alone is a whole SVG picture. width in pixels.
std::string sweep_svg(const SweepResult& result, int width = 960);
