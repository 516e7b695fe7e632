// modulectl's inspection commands beside the NAND ones: the flash described,
// the event log by run, a dump like hexdump -C, and verify.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "module/flash_view.h"

using OrderedJson = nlohmann::ordered_json;

// The flash kind, part, geometry and size, as text and as JSON.
std::string describe_flash(const sim::FlashView& view);
OrderedJson flash_json(const sim::FlashView& view);

// DIR/events.log by program run, with absolute times.
bool print_events(const std::filesystem::path& dir, bool json, std::string* error);

// Lines as hexdump -C writes them: offset, 16 bytes in two groups, ASCII.
std::string hex_dump(uint64_t offset, const std::vector<uint8_t>& bytes);

// Reports the NAND pages with ECC errors the view met, on stderr; true when
// there were any.
bool report_page_problems(const char* command, const sim::FlashView& view);
