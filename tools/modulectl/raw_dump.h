// Raw dumps of a module's whole flash in the layouts users' tools exchange:
// NAND as nanddump writes it with the spare areas (each page's main area
// followed by its spare area, page after page, chip 0 then chip 1) or
// without them (the main areas alone); NOR as the plain byte image of
// nor.bin. Importing writes the chip files as the chips would hold the dump.
#pragma once
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

namespace modulectl {

struct RawLayout {
    bool nand = false;
    unsigned chips = 1;
    uint64_t pages = 0;  // per chip
    uint32_t page_bytes = 0;
    uint32_t spare_bytes = 0;  // 0 without the spare areas (and on NOR)
    uint64_t nor_bytes = 0;
    uint64_t dump_bytes() const { return nand ? chips * pages * (uint64_t{page_bytes} + spare_bytes) : nor_bytes; }
    // "1 chip x 65536 pages x (2048 + 64) bytes"
    std::string describe() const;
};

// The dump layout of the module in dir; false with a reason. NOR has no
// spare areas: with_oob makes no difference there.
bool raw_layout(const std::filesystem::path& dir, bool with_oob, RawLayout* layout, std::string* error);

bool export_raw(const std::filesystem::path& dir, const std::filesystem::path& file, bool with_oob, std::ostream& out,
                std::string* error);
// Refuses a dump whose size is not the module's (nothing is written then).
// On NAND the block map is dropped, to be built again from the imported
// relocation table when the module next opens.
bool import_raw(const std::filesystem::path& dir, const std::filesystem::path& file, bool with_oob, std::ostream& out,
                std::string* error);

}  // namespace modulectl
