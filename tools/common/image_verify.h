// Comparing a module's flash with a Windows CE image file as an update would
// have left it: every record's bytes at the flash offset the program gives
// them (the address bias from the image start and the board's configuration
// item 5), read through the system's view of the flash (sim::FlashView).
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "module/flash_view.h"

struct VerifyResult {
    uint32_t bias = 0;
    size_t records = 0;
    uint64_t bytes = 0;                        // record bytes compared
    uint64_t differing = 0;                    // of them, bytes that differ or lie beyond the flash
    std::optional<uint64_t> first_difference;  // the lowest flash offset that differs
    std::vector<sim::PageProblem> page_problems;

    bool matches() const { return differing == 0; }
    // "matches: 2 records, 0x100000 bytes" or "differs at 0x00100004: 0x3 of 0x100000 bytes in 2 records",
    // then "; 1 page with ECC errors, 0 uncorrectable" when there were any.
    std::string summary() const;
};

// The address bias the program computes for an image start, with F the
// first word of the board's configuration item 5 (0x80000 without it).
uint32_t image_address_bias(uint32_t image_start, uint32_t image_place);
// F as the board gives it: configuration item 5 stored through the HAL or in
// the profile, 0x80000 without it.
uint32_t board_image_place(const std::filesystem::path& dir, const sim::Config& profile);

namespace mkbin {
struct ParsedBin;
}
// The image file's bytes, parsed; false with a reason naming the file.
bool read_image(const std::filesystem::path& image, std::vector<uint8_t>* file, mkbin::ParsedBin* bin,
                std::string* error);

// The flash offsets the image's records go to, as [start, end) ranges in
// record order (records that follow each other joined).
bool image_flash_ranges(const std::filesystem::path& module_dir, const std::filesystem::path& image,
                        std::vector<std::pair<uint64_t, uint64_t>>* ranges, std::string* error);

// False with a reason when the module or the image cannot be read, or the
// image is damaged (then nothing is compared). progress: bytes compared of
// bytes in all records, now and then.
bool verify_image(const std::filesystem::path& module_dir, const std::filesystem::path& image, VerifyResult* result,
                  std::string* error, const std::function<void(uint64_t done, uint64_t total)>& progress = {});
