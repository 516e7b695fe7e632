// modulectl sections: the flash section map as an update would detect it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DetectedSection {
    std::string name;  // Bootloader, ConfigBlock, IMAGE, Registry, FileSystem
    uint32_t start;
    uint32_t length;
    uint32_t used;
    uint32_t flags;
    bool old_place;  // a configuration block at its old place
};

// The map the system's own detection finds in the module in dir. Detection
// moves a configuration block found at its old place, so it runs on a
// scratch copy: the module itself is only read.
bool detect_sections(const std::string& dir, std::vector<DetectedSection>* sections, std::string* error);

// The sections as an update's plan names them: each detected one where the
// detection found it, else at the program's built-in place (the map a quiet
// update, which detects nothing, goes by).
std::vector<DetectedSection> plan_sections(const std::vector<DetectedSection>& detected);

// Prints the detected map of the module in dir, as a table or JSON; false
// with a reason.
bool print_section_map(const std::string& dir, bool json, std::string* error);
