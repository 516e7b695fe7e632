// modulectl sections: the flash section map as an update would detect it.
#pragma once
#include <string>

// Prints the detected map of the module in dir, as a table or JSON; false
// with a reason.
bool print_section_map(const std::string& dir, bool json, std::string* error);
