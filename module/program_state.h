// The program's own variables as a new process finds them. A build that
// gathers the system's data and bss in sections of their own
// (updatetool_state_data and updatetool_state_bss; the fuzz build renames
// them so in the system library) can put them back at a power cycle without
// starting a process. Other builds have no such sections.
#pragma once

namespace sim {

// True when the sections are there. The first call keeps the data bytes as
// loaded; it is made before main.
bool keep_program_state();
// Puts the kept bytes back and clears the bss; false when nothing was kept.
bool restore_program_state();

}  // namespace sim
