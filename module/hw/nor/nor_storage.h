// Files behind the NOR pair: the array image (nor.bin) and the J3 lock bytes
// (nor.locks), mapped shared and read-write so every program, erase and lock
// change is in the file at once.
//
// The array's mapping is let into the process's memory a region at a time
// (use): a region is brought in whole when it is first read or written, one
// call instead of a page fault per page, and once more than a few regions
// are in, the one brought in longest ago is let go. Its pages stay in the
// file's page cache, written or not; the process keeps a few MiB of the
// array at any image size.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/hw/write_journal.h"

namespace sim {

class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    // Maps dir/name, an existing plain file (not a link) that must be
    // exactly size bytes long. A private mapping reads the file but keeps
    // what is written in this process's memory: the file never changes.
    enum class Writes { ToFile, Private };
    bool open(const std::filesystem::path& dir, const std::string& name, uint64_t size, std::string* error,
              Writes writes = Writes::ToFile);
    bool is_private() const { return private_; }
    uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }
    int fd() const { return fd_; }

    // Called before the bytes at offset are read or written: one compare
    // when offset lies in the region used last.
    void use(uint64_t offset, bool write) {
        uint64_t region = offset >> kRegionShift;
        if (region != last_region_ || (write && !last_writable_)) bring_in(region, write);
    }
    // True when offset lies in the region used last: use(offset, false) would do nothing.
    bool in_last_region(uint64_t offset) const { return offset >> kRegionShift == last_region_; }
    // The same for bytes at [offset, offset + count), count at least 1.
    void use(uint64_t offset, uint64_t count, bool write) {
        for (uint64_t region = offset >> kRegionShift; region <= (offset + count - 1) >> kRegionShift; ++region)
            use(region << kRegionShift, write);
    }

private:
    // The write journal's regions: a write notes no more than it needs.
    static constexpr unsigned kRegionShift = kJournalRegionShift;
    static constexpr size_t kResidentRegions = 128;  // 8 MiB
    struct Resident {
        uint64_t region;
        bool writable;
    };
    void close();
    void bring_in(uint64_t region, bool write);
    void populate(uint64_t region, bool write);

    std::string name_;  // in its folder, for the write journal
    int fd_ = -1;
    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    std::vector<Resident> resident_;  // brought in longest ago first
    uint64_t last_region_ = UINT64_MAX;
    bool last_writable_ = false;
    bool private_ = false;
};

// A module opened only to be looked at (the section detection on a scratch
// copy) may read its NOR array from the module it was copied from, mapped
// privately, instead of a copy of the whole array: empty (the default) reads
// each module's own. The program's windows map the file, so once the run
// writes the array they no longer show what it wrote:
// nor_array_source_written() then tells the caller to run it again on a
// whole copy.
void read_nor_array_from(const std::filesystem::path& dir);
const std::filesystem::path& nor_array_source();
bool nor_array_source_written();

// Writes dir/name as size bytes of fill, replacing what was there (never
// through a link).
bool write_filled_file(const std::filesystem::path& dir, const std::string& name, uint64_t size, uint8_t fill,
                       std::string* error);

}  // namespace sim
