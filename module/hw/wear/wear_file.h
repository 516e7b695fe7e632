// The flash chips' wear, kept in the module directory as wear.bin so that it
// outlives the process as wear outlives power: an erase counter for every
// block of every chip and, where pages are counted, a program counter for
// every page. The file is made at the first count and grows as counts are
// written; every word past its end counts 0, so a module from before the
// file reads as unworn and a new one costs no space until something wears.
// Counters are read from the file at each use: two programs on one module
// see each other's counts.
//
// Layout, 32-bit little-endian words: "WEAR", version 1, chips, blocks per
// chip, pages per chip (0: no page counters), three reserved words; then the
// erase counters chip by chip, block by block; then the page program
// counters chip by chip, page by page.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

struct WearGeometry {
    uint32_t chips = 0;
    uint32_t blocks = 0;  // a chip's erase blocks
    uint32_t pages = 0;   // a chip's pages, 0 where programs are not counted
};

class WearFile {
public:
    static constexpr const char* kFileName = "wear.bin";

    WearFile() = default;
    ~WearFile();
    WearFile(const WearFile&) = delete;
    WearFile& operator=(const WearFile&) = delete;

    // Takes dir/wear.bin when it is there and was made for this geometry;
    // a missing file is no error (nothing has worn yet).
    bool open(const std::filesystem::path& dir, WearGeometry geometry, std::string* error);
    const WearGeometry& geometry() const { return geometry_; }

    uint32_t erases(unsigned chip, uint32_t block) const { return read_word(erase_offset(chip, block)); }
    uint32_t programs(unsigned chip, uint32_t page) const { return read_word(program_offset(chip, page)); }
    void count_erase(unsigned chip, uint32_t block) { add_one(erase_offset(chip, block)); }
    void count_program(unsigned chip, uint32_t page) { add_one(program_offset(chip, page)); }

private:
    static constexpr uint64_t kHeaderBytes = 32;
    uint64_t erase_offset(unsigned chip, uint32_t block) const {
        return kHeaderBytes + 4 * (uint64_t{chip} * geometry_.blocks + block);
    }
    uint64_t program_offset(unsigned chip, uint32_t page) const {
        return kHeaderBytes +
               4 * (uint64_t{geometry_.chips} * geometry_.blocks + uint64_t{chip} * geometry_.pages + page);
    }
    uint32_t read_word(uint64_t offset) const;
    void add_one(uint64_t offset);
    void create();

    std::filesystem::path dir_, path_;
    WearGeometry geometry_;
    int fd_ = -1;
};

}  // namespace sim
