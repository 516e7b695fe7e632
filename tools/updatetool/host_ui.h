// Chooses and configures the dialog front-end from the host options.
#pragma once
#include <string>

#include "tools/updatetool/options.h"

bool configure_host_ui(const HostOptions& options, std::string* error);
// Gives the terminal back before the program ends.
void end_host_ui();
