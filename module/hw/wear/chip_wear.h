// How one flash chip wears and weakens, from its wear settings (the
// profile's nor.wear.* and nand.wear.* keys) and the counts in wear.bin: a
// block wears out after a number of erases, a page after a number of
// programs, every program and erase fails from a chosen one on, and page
// reads flip a bit at a rate.
// The chip asks before it carries out a program or erase and tells what it
// carried out; what fails is the chip's to report as the real part does.
// Everything is repeatable: counts are kept, flips come from the seed.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "module/hw/wear/wear_file.h"

namespace sim {

struct WearSettings {
    uint32_t erase_limit = 0;         // erases a block takes before it wears out; 0: never
    uint32_t page_program_limit = 0;  // programs a page takes before it fails; 0: pages are not counted
    std::set<uint32_t> weak_pages;    // the pages that limit holds for (the chip's own numbers); empty: all
    uint32_t fail_from_op = 0;        // this program or erase (1 = the chip's first) and all after it fail
    uint32_t bitflip_ppm = 0;         // page reads in a million that read one flipped bit
    uint32_t seed = 0;
};

class ChipWear {
public:
    static constexpr uint32_t kNoPage = UINT32_MAX;

    ChipWear(std::shared_ptr<WearFile> file, unsigned chip, WearSettings settings)
        : file_(std::move(file)), chip_(chip), settings_(std::move(settings)) {}

    // Asked as the chip carries out a program or erase: true when it fails.
    // Each asking counts one operation toward fail_from_op.
    bool erase_fails(uint32_t block);
    bool program_fails(uint32_t page = kNoPage);
    // Told after a program or erase that took place.
    void erased(uint32_t block) { file_->count_erase(chip_, block); }
    void programmed(uint32_t page);
    // Asked at each page read: the bit of the page's main area that reads
    // flipped (byte * 8 + bit), or -1.
    int64_t flipped_bit(uint32_t main_bytes);

    bool worn(uint32_t block) const {
        return settings_.erase_limit != 0 && file_->erases(chip_, block) >= settings_.erase_limit;
    }
    const WearSettings& settings() const { return settings_; }

private:
    bool counts_programs_of(uint32_t page) const {
        return settings_.page_program_limit != 0 && page != kNoPage &&
               (settings_.weak_pages.empty() || settings_.weak_pages.count(page));
    }
    bool past_fail_point() { return settings_.fail_from_op != 0 && ++operations_ >= settings_.fail_from_op; }

    std::shared_ptr<WearFile> file_;
    unsigned chip_;
    WearSettings settings_;
    uint32_t operations_ = 0;  // programs and erases since the module opened
    uint64_t reads_ = 0;       // page reads since the module opened
};

}  // namespace sim
