// modulectl's NAND commands: the relocation table, the block map, bad
// blocks, a pin's state, the logical view of the flash, and fault injection.
// Everything works from the module directory's files; no module is opened.
#pragma once
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tools/common/cli.h"

namespace modulectl {

// Adds the commands below to modulectl's command line; the one that runs
// writes to out and err and leaves its exit status in *result: 0 done, 2 a
// wrong argument or a module or file that cannot be read or written (export:
// 1 when it met pages with ECC errors).
void add_nand_commands(CLI::App& app, std::ostream& out, std::ostream& err, int* result);

// Each as text, or as JSON.
bool print_reloc_table(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error);
bool print_block_map(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error);
bool print_bad_blocks(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error);
bool print_pin(const std::filesystem::path& dir, unsigned pin, std::ostream& out, std::string* error);

// The flash as the system addresses it (sim::FlashView: on NAND the logical
// view, on NOR the byte image) into a file; pages with ECC errors are named
// on err. The exit status: 0, 1 when there were such pages (the file is
// written all the same), 2 with a reason. export --raw is in raw_dump.h.
int export_flash_view(const std::filesystem::path& dir, const std::filesystem::path& file, uint64_t offset,
                      uint64_t length, std::ostream& out, std::ostream& err, std::string* error);

// Faults, written to module.toml; they take effect when the module is next opened.
bool inject_bad_block(const std::filesystem::path& dir, uint32_t block, std::ostream& out, std::string* error);
bool inject_bitflip(const std::filesystem::path& dir, uint32_t page, bool uncorrectable, std::ostream& out,
                    std::string* error);
// The next `times` reads or programs of a page (erases of a block) miss their start.
bool inject_missed_start(const std::filesystem::path& dir, const std::string& operation, uint32_t number,
                         uint32_t times, std::ostream& out, std::string* error);

}  // namespace modulectl
