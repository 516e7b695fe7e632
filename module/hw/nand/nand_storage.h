// One NAND chip's array kept in two files of the module directory:
// nand-N.main holds the main areas of its pages in page order and nand-N.oob
// their spare areas. A file grows as pages are programmed: every byte past
// its end is erased (0xFF), so a new chip costs no disk space. Every program
// and erase goes straight to the files, so the contents survive the process
// as a power cut would leave them.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sim {

class NandStorage {
public:
    NandStorage(uint32_t page_bytes, uint32_t spare_bytes, uint32_t pages)
        : page_bytes_(page_bytes), spare_bytes_(spare_bytes), pages_(pages) {}
    ~NandStorage();
    NandStorage(const NandStorage&) = delete;
    NandStorage& operator=(const NandStorage&) = delete;

    // Opens (creating when missing) DIR/nand-N.main and DIR/nand-N.oob.
    bool open(const std::filesystem::path& dir, unsigned chip, std::string* error);

    uint32_t page_bytes() const { return page_bytes_; }
    uint32_t spare_bytes() const { return spare_bytes_; }
    uint32_t pages() const { return pages_; }

    // A page's main area followed by its spare area (page_bytes + spare_bytes).
    void read_page(uint32_t page, uint8_t* raw) const;
    // Programming only clears bits: the page becomes old AND raw.
    void program_page(uint32_t page, const uint8_t* raw);
    void erase_pages(uint32_t first_page, uint32_t count);

    static std::filesystem::path main_path(const std::filesystem::path& dir, unsigned chip);
    static std::filesystem::path oob_path(const std::filesystem::path& dir, unsigned chip);

private:
    struct File {
        int fd = -1;
        uint64_t length = 0;
        std::string name;  // in its folder, for the write journal
    };
    static void read_at(const File& file, uint64_t offset, uint8_t* out, uint32_t size);
    static void write_at(File& file, uint64_t offset, const uint8_t* in, uint32_t size);
    static void erase_at(File& file, uint64_t offset, uint64_t size);

    uint32_t page_bytes_;
    uint32_t spare_bytes_;
    uint32_t pages_;
    File main_;
    File oob_;
    std::vector<uint8_t> cell_;  // a page as programmed
};

}  // namespace sim
