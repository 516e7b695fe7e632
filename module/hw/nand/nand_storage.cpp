#include "module/hw/nand/nand_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "module/hw/folder_file.h"
#include "module/hw/stop.h"
#include "module/hw/write_journal.h"

namespace sim {

static constexpr uint32_t kFillChunk = 64 * 1024;

static const uint8_t* erased_bytes() {
    static const std::vector<uint8_t> ff(kFillChunk, 0xFF);
    return ff.data();
}

// A failed write to the flash files would silently lose flash contents:
// stop loudly instead, as the bus does for an access it cannot decode.
[[noreturn]] static void storage_failure(const char* what) {
    stop_module("NAND storage %s failed: %s", what, std::strerror(errno));
}

NandStorage::~NandStorage() {
    if (main_.fd >= 0) ::close(main_.fd);
    if (oob_.fd >= 0) ::close(oob_.fd);
}

std::filesystem::path NandStorage::main_path(const std::filesystem::path& dir, unsigned chip) {
    return dir / ("nand-" + std::to_string(chip) + ".main");
}

std::filesystem::path NandStorage::oob_path(const std::filesystem::path& dir, unsigned chip) {
    return dir / ("nand-" + std::to_string(chip) + ".oob");
}

bool NandStorage::open(const std::filesystem::path& dir, unsigned chip, std::string* error) {
    File* files[2] = {&main_, &oob_};
    std::filesystem::path paths[2] = {main_path(dir, chip), oob_path(dir, chip)};
    for (int i = 0; i < 2; ++i) {
        int fd = open_in_folder(dir, paths[i].filename(), O_RDWR | O_CREAT);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            if (error) *error = open_failure(paths[i], errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        files[i]->fd = fd;
        files[i]->name = paths[i].filename().string();
        files[i]->length = static_cast<uint64_t>(st.st_size);
        // Shorter is erased flash; longer holds pages the chip does not have.
        uint64_t chip_bytes = static_cast<uint64_t>(i == 0 ? page_bytes_ : spare_bytes_) * pages_;
        if (files[i]->length > chip_bytes) {
            if (error)
                *error = paths[i].string() + " is " + std::to_string(files[i]->length) + " bytes; the chip holds " +
                         std::to_string(chip_bytes);
            return false;
        }
    }
    return true;
}

void NandStorage::read_at(const File& file, uint64_t offset, uint8_t* out, uint32_t size) {
    uint32_t stored = 0;
    if (offset < file.length) {
        uint64_t available = std::min<uint64_t>(size, file.length - offset);
        while (stored < available) {
            ssize_t n = ::pread(file.fd, out + stored, available - stored, static_cast<off_t>(offset + stored));
            if (n <= 0) break;
            stored += static_cast<uint32_t>(n);
        }
    }
    std::memset(out + stored, 0xFF, size - stored);
}

static void write_all(int fd, const uint8_t* in, uint64_t size, uint64_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, in, size, static_cast<off_t>(offset));
        if (n <= 0) storage_failure("write");
        in += n;
        size -= static_cast<uint64_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

void NandStorage::write_at(File& file, uint64_t offset, const uint8_t* in, uint32_t size) {
    note_chip_write(file.name.c_str(), std::min(file.length, offset), offset + size - std::min(file.length, offset));
    // A file that grows past a gap gets the gap erased, never zero-filled.
    while (file.length < offset) {
        uint64_t fill = std::min<uint64_t>(kFillChunk, offset - file.length);
        write_all(file.fd, erased_bytes(), fill, file.length);
        file.length += fill;
    }
    write_all(file.fd, in, size, offset);
    file.length = std::max<uint64_t>(file.length, offset + size);
}

void NandStorage::erase_at(File& file, uint64_t offset, uint64_t size) {
    if (offset >= file.length) return;
    uint64_t end = std::min(file.length, offset + size);
    note_chip_write(file.name.c_str(), offset, end - offset);
    while (offset < end) {
        uint64_t n = std::min<uint64_t>(kFillChunk, end - offset);
        write_all(file.fd, erased_bytes(), n, offset);
        offset += n;
    }
}

void NandStorage::read_page(uint32_t page, uint8_t* raw) const {
    read_at(main_, uint64_t{page} * page_bytes_, raw, page_bytes_);
    read_at(oob_, uint64_t{page} * spare_bytes_, raw + page_bytes_, spare_bytes_);
}

// Programming only clears bits: cell becomes cell AND raw. True when a bit changed.
static bool program_bytes(uint8_t* cell, const uint8_t* raw, uint32_t count) {
    uint8_t changed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t programmed = cell[i] & raw[i];
        changed |= programmed ^ cell[i];
        cell[i] = programmed;
    }
    return changed != 0;
}

void NandStorage::program_page(uint32_t page, const uint8_t* raw) {
    cell_.resize(page_bytes_ + spare_bytes_);
    read_page(page, cell_.data());
    if (program_bytes(cell_.data(), raw, page_bytes_))
        write_at(main_, uint64_t{page} * page_bytes_, cell_.data(), page_bytes_);
    if (program_bytes(cell_.data() + page_bytes_, raw + page_bytes_, spare_bytes_))
        write_at(oob_, uint64_t{page} * spare_bytes_, cell_.data() + page_bytes_, spare_bytes_);
}

void NandStorage::erase_pages(uint32_t first_page, uint32_t count) {
    erase_at(main_, uint64_t{first_page} * page_bytes_, uint64_t{count} * page_bytes_);
    erase_at(oob_, uint64_t{first_page} * spare_bytes_, uint64_t{count} * spare_bytes_);
}

}  // namespace sim
