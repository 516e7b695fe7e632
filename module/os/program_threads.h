// The program's own threads, as the host sees them.
#pragma once

namespace sim {

// Waits until every thread the program started with CreateThread has
// returned (the update worker ends its dialog just before it returns).
void wait_for_program_threads();

// Thread ids start again as in a new process; false while a thread runs.
bool forget_program_threads();

}  // namespace sim
