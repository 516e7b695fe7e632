// modulectl sections: the flash section map as an update would detect it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DetectedSection {
    std::string name;
    uint32_t start, length, used, flags;
    bool old_place;  // the configuration block at its old place
};

// The map an update would detect on the module in dir, found on a copy
// (detection may move the configuration block); false with a reason.
bool detect_sections(const std::string& dir, std::vector<DetectedSection>* sections, std::string* error);
// Prints the detected map of the module in dir, as a table or JSON; false
// with a reason.
bool print_section_map(const std::string& dir, bool json, std::string* error);
