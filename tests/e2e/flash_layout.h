// The module profiles of the end-to-end tables and where a flash offset's
// byte lies in their chip files, as the format documents give it: expected
// chip files are built from this, never from the program's own arithmetic.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {

enum class Kind { Nor, NandLarge, NandDoubled };

struct Profile {
    const char* name;
    const char* size;  // a module setting that keeps the flash small, or ""
    Kind kind;
    uint32_t block;    // the erase block at offset 0
    uint32_t fits;     // the largest bootloader the flash takes from offset 0
    uint32_t osBlock;  // the erase block at 0x80000
};

extern const Profile kProfiles[7];
constexpr int kProfileCount = 7;

ModuleDir make_module(const Profile& profile);
// The profile's name as a test name part.
std::string profile_name(int index);

using Files = std::map<std::string, std::vector<uint8_t>>;

struct Place {
    std::string file;
    uint64_t offset;
};
Place place_of(Kind kind, uint32_t offset);

// Writes bytes at a flash offset into the expected files.
void put(Files& files, Kind kind, uint32_t offset, const std::vector<uint8_t>& bytes);
// Erases whole blocks [from, to) as the chips hold them; the table page is
// written back after every erase of its block.
void erase_blocks(Files& files, Kind kind, uint32_t from, uint32_t to);
// The whole blocks an erase of [start, end) covers.
std::pair<uint32_t, uint32_t> erased_range(const Profile& profile, uint32_t start, uint32_t end);
// Old flash contents: the data areas as the files should hold them, and the
// spare areas too when asked.
void poke_all(const ModuleDir& module, const Files& files, bool spare_areas = false);
// Gives every NAND page holding data at flash offsets [from, to) the spare
// area the controller writes with it (its code, every other byte erased), as
// flash the program wrote.
void put_codes(Files& files, Kind kind, uint32_t from, uint32_t to);

// The first chip file byte that differs from what was expected ("" when
// none). Spare areas are compared only when asked: they hold the
// controller's ECC of what was programmed.
std::string first_difference(const Files& actual, const Files& expected, bool spare_areas);
// The first NAND page holding data at flash offsets [from, to) whose spare
// area is not the controller's code of its data with every other spare byte
// erased: a read with ECC on would report an error ("" when none).
std::string ecc_mismatch(const Files& files, Kind kind, uint32_t from, uint32_t to);

// Deterministic bytes for an image or old flash contents.
std::vector<uint8_t> bytes_of(uint32_t size, uint8_t seed);

}  // namespace e2e
