#include "module/hw/nand/nand_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
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

std::filesystem::path NandStorage::nop_path(const std::filesystem::path& dir, unsigned chip) {
    return dir / ("nand-" + std::to_string(chip) + ".nop");
}

bool NandStorage::open(const std::filesystem::path& dir, unsigned chip, std::string* error) {
    dir_ = dir;
    nop_name_ = nop_path(dir, chip).filename().string();
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
    return read_counts(error);
}

bool NandStorage::read_counts(std::string* error) {
    std::string text;
    switch (read_folder_file(dir_, nop_name_, &text, error)) {
        case FolderRead::Missing: return true;
        case FolderRead::Refused: return false;
        case FolderRead::Done: break;
    }
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream fields(line);
        unsigned long page = 0, main = 0, spare = 0;
        std::string rest;
        if (!(fields >> page >> main >> spare) || (fields >> rest) || page >= pages_ || main > 255 || spare > 255) {
            if (error) *error = (dir_ / nop_name_).string() + ":" + std::to_string(number) + ": no page count";
            return false;
        }
        repeated_[static_cast<uint32_t>(page)] = {static_cast<uint8_t>(main), static_cast<uint8_t>(spare)};
    }
    return true;
}

void NandStorage::write_counts() {
    std::string text;
    for (const auto& [page, n] : repeated_)
        text += std::to_string(page) + " " + std::to_string(n.main) + " " + std::to_string(n.spare) + "\n";
    std::string error;
    if (text.empty()) {
        std::error_code ec;
        std::filesystem::remove(dir_ / nop_name_, ec);
    } else if (!replace_folder_file(dir_, nop_name_, text, &error)) {
        stop_module("NAND storage %s", error.c_str());
    }
}

static bool all_erased(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (bytes[i] != 0xFF) return false;
    return true;
}

PagePrograms NandStorage::counted(uint32_t page, const uint8_t* cells) const {
    auto it = repeated_.find(page);
    if (it != repeated_.end()) return it->second;
    return {static_cast<uint8_t>(all_erased(cells, page_bytes_) ? 0 : 1),
            static_cast<uint8_t>(all_erased(cells + page_bytes_, spare_bytes_) ? 0 : 1)};
}

PagePrograms NandStorage::programs(uint32_t page) const {
    std::vector<uint8_t> cells(page_bytes_ + spare_bytes_);
    read_page(page, cells.data());
    return counted(page, cells.data());
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

PagePrograms NandStorage::program_page(uint32_t page, const uint8_t* raw, const uint8_t* sent) {
    if (!sent) sent = raw;
    cell_.resize(page_bytes_ + spare_bytes_);
    read_page(page, cell_.data());
    PagePrograms before = counted(page, cell_.data()), after = before;
    auto more = [](uint8_t n) { return static_cast<uint8_t>(n == 255 ? n : n + 1); };
    if (!all_erased(sent, page_bytes_)) after.main = more(after.main);
    if (!all_erased(sent + page_bytes_, spare_bytes_)) after.spare = more(after.spare);
    if (program_bytes(cell_.data(), raw, page_bytes_))
        write_at(main_, uint64_t{page} * page_bytes_, cell_.data(), page_bytes_);
    if (program_bytes(cell_.data() + page_bytes_, raw + page_bytes_, spare_bytes_))
        write_at(oob_, uint64_t{page} * spare_bytes_, cell_.data() + page_bytes_, spare_bytes_);
    if (after.main != before.main || after.spare != before.spare) {
        bool keep = after.main > 1 || after.spare > 1;
        if (keep) repeated_[page] = after;
        if (keep || repeated_.erase(page)) write_counts();
    }
    return after;
}

void NandStorage::overwrite_page(uint32_t page, const uint8_t* raw) {
    write_at(main_, uint64_t{page} * page_bytes_, raw, page_bytes_);
    write_at(oob_, uint64_t{page} * spare_bytes_, raw + page_bytes_, spare_bytes_);
}

void NandStorage::erase_pages(uint32_t first_page, uint32_t count) {
    erase_at(main_, uint64_t{first_page} * page_bytes_, uint64_t{count} * page_bytes_);
    erase_at(oob_, uint64_t{first_page} * spare_bytes_, uint64_t{count} * spare_bytes_);
    auto first = repeated_.lower_bound(first_page), last = repeated_.lower_bound(first_page + count);
    if (first != last) {
        repeated_.erase(first, last);
        write_counts();
    }
}

}  // namespace sim
