// What a power loss takes from the program besides its own variables: its
// heap, its reservations and physical windows, its mapped views, every handle
// (files, mappings, mutexes, threads, registry keys), every window and the
// classes it registered. The module's flash stays; the device models go with
// the module's close.
#pragma once

namespace sim::os {

// False, with nothing released, while a thread of the program still runs.
bool release_program_resources();

}  // namespace sim::os
