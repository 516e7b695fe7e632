// modulectl wear: each flash chip's erase counters from wear.bin.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>

// A table of the blocks erased at least once (every block with all): chip,
// block, offset (NOR: in the flash; NAND: in the chip), erases, worn or ok;
// then a summary line. Or the same as JSON. False with a reason.
bool print_wear(const std::filesystem::path& dir, bool json, bool all, std::ostream& out, std::string* error);
