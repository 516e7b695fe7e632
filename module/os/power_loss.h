// What a power loss takes from the program besides its own variables: its
// heap, its reservations and physical windows, its mapped views, every handle
// (files, mappings, mutexes, threads, registry keys), every window and the
// classes it registered. The module's flash stays; the device models go with
// the module's close.
#pragma once

namespace sim::os {

// False, with nothing released, while a thread of the program still runs.
bool release_program_resources();

// The whole power loss without a new process: waits for the program's
// threads, closes the module (its device models go), releases what the
// program held and puts its variables back as loaded. False when they
// cannot be put back (a build that does not gather them).
bool power_off_program();

}  // namespace sim::os
