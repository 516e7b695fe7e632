// Stopping the module loudly: for what a board would take as a data abort or
// an undefined instruction, and for a flash file that can no longer be
// written (going on would quietly lose what the flash holds). Prints
// "module: " and the printf-style message to stderr, then aborts.
#pragma once

namespace sim {

[[noreturn]] void stop_module(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
