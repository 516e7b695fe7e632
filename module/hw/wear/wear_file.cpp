#include "module/hw/wear/wear_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/hw/folder_file.h"
#include "module/hw/stop.h"

namespace sim {

namespace {

constexpr uint32_t kMagic = 0x52414557;  // "WEAR" as little-endian bytes
constexpr uint32_t kVersion = 1;

uint32_t from_le(const uint8_t* b) { return b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24; }

void to_le(uint32_t value, uint8_t* b) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A count that cannot be written would quietly make a worn chip young again:
// stop loudly instead, as the flash files do.
[[noreturn]] void wear_failure(const std::string& path, const char* what) {
    stop_module("%s %s failed: %s", path.c_str(), what, std::strerror(errno));
}

std::string describe(const WearGeometry& g) {
    std::string text =
        std::to_string(g.chips) + (g.chips == 1 ? " chip" : " chips") + " of " + std::to_string(g.blocks) + " blocks";
    if (g.pages) text += " and " + std::to_string(g.pages) + " pages";
    return text;
}

}  // namespace

WearFile::~WearFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool WearFile::open(const std::filesystem::path& dir, WearGeometry geometry, std::string* error) {
    path_ = dir / kFileName;
    geometry_ = geometry;
    dir_ = dir;
    fd_ = open_in_folder(dir, kFileName, O_RDWR);
    if (fd_ < 0) {
        if (errno == ENOENT) return true;
        if (error) *error = open_failure(path_, errno);
        return false;
    }
    uint8_t header[kHeaderBytes] = {};
    ssize_t n = ::pread(fd_, header, sizeof header, 0);
    WearGeometry stored{from_le(header + 8), from_le(header + 12), from_le(header + 16)};
    if (n != static_cast<ssize_t>(sizeof header) || from_le(header) != kMagic || from_le(header + 4) != kVersion) {
        if (error) *error = path_.string() + " is not a wear file of version 1";
        return false;
    }
    if (stored.chips != geometry.chips || stored.blocks != geometry.blocks || stored.pages != geometry.pages) {
        if (error) *error = path_.string() + " counts " + describe(stored) + "; the flash has " + describe(geometry);
        return false;
    }
    // Shorter counts 0 past its end; longer holds counters no chip has.
    struct stat st;
    uint64_t full = program_offset(geometry.chips, 0);
    if (fstat(fd_, &st) != 0 || static_cast<uint64_t>(st.st_size) > full) {
        if (error)
            *error = path_.string() + " is " + std::to_string(static_cast<long long>(st.st_size)) +
                     " bytes; its counters take at most " + std::to_string(full);
        return false;
    }
    return true;
}

uint32_t WearFile::read_word(uint64_t offset) const {
    uint8_t b[4] = {};
    if (fd_ < 0 || ::pread(fd_, b, sizeof b, static_cast<off_t>(offset)) != static_cast<ssize_t>(sizeof b)) return 0;
    return from_le(b);
}

void WearFile::create() {
    fd_ = open_in_folder(dir_, kFileName, O_RDWR | O_CREAT);
    if (fd_ < 0) wear_failure(path_.string(), "create");
    uint8_t header[kHeaderBytes] = {};
    const uint32_t words[] = {kMagic, kVersion, geometry_.chips, geometry_.blocks, geometry_.pages};
    for (size_t i = 0; i < sizeof words / sizeof words[0]; ++i) to_le(words[i], header + 4 * i);
    if (::pwrite(fd_, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        wear_failure(path_.string(), "write");
}

void WearFile::add_one(uint64_t offset) {
    if (fd_ < 0) create();
    uint8_t b[4];
    uint32_t value = read_word(offset);
    // A counter stops at its largest value rather than turn young.
    if (value != UINT32_MAX) ++value;
    to_le(value, b);
    if (::pwrite(fd_, b, sizeof b, static_cast<off_t>(offset)) != static_cast<ssize_t>(sizeof b))
        wear_failure(path_.string(), "write");
}

}  // namespace sim
