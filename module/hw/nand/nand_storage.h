// One NAND chip's array kept in two files of the module directory:
// nand-N.main holds the main areas of its pages in page order and nand-N.oob
// their spare areas. A file grows as pages are programmed: every byte past
// its end is erased (0xFF), so a new chip costs no disk space. Every program
// and erase goes straight to the files, so the contents survive the process
// as a power cut would leave them.
//
// The cells also know how often each page's main and spare areas were
// programmed since the block's last erase (the partial-program count the
// datasheet limits). An area that is not erased has been programmed at
// least once, so only counts of two or more need keeping: nand-N.nop lists
// them ("PAGE MAIN SPARE", one page a line), written whole at each change
// and absent while there are none. Like the array it outlives the process:
// a fresh process on the module counts on from where the last one stopped.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Programs of one page's two areas since its block's last erase.
struct PagePrograms {
    uint8_t main = 0;
    uint8_t spare = 0;
};

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
    // Programming only clears bits: the page becomes old AND raw. An area
    // the program sends a 0 bit to (in sent, when the cells take other bits
    // than were sent: a program cut short) counts one program more; the
    // page's counts after it are returned.
    PagePrograms program_page(uint32_t page, const uint8_t* raw, const uint8_t* sent = nullptr);
    void erase_pages(uint32_t first_page, uint32_t count);
    // Writes raw over the page as it stands (cells that programming past the
    // limit left unreliable); counts nothing.
    void overwrite_page(uint32_t page, const uint8_t* raw);
    // The page's programs since its block's last erase.
    PagePrograms programs(uint32_t page) const;
    // Pages with a count of two or more, by page.
    const std::map<uint32_t, PagePrograms>& repeated_programs() const { return repeated_; }

    static std::filesystem::path main_path(const std::filesystem::path& dir, unsigned chip);
    static std::filesystem::path oob_path(const std::filesystem::path& dir, unsigned chip);
    static std::filesystem::path nop_path(const std::filesystem::path& dir, unsigned chip);

private:
    struct File {
        int fd = -1;
        uint64_t length = 0;
        std::string name;  // in its folder, for the write journal
    };
    static void read_at(const File& file, uint64_t offset, uint8_t* out, uint32_t size);
    static void write_at(File& file, uint64_t offset, const uint8_t* in, uint32_t size);
    static void erase_at(File& file, uint64_t offset, uint64_t size);
    bool read_counts(std::string* error);
    void write_counts();
    PagePrograms counted(uint32_t page, const uint8_t* cells) const;

    uint32_t page_bytes_;
    uint32_t spare_bytes_;
    uint32_t pages_;
    File main_;
    File oob_;
    std::filesystem::path dir_;
    std::string nop_name_;
    std::map<uint32_t, PagePrograms> repeated_;
    std::vector<uint8_t> cell_;  // a page as programmed
};

}  // namespace sim
