#include "module/hw/nor/nor_storage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "module/hw/folder_file.h"
#include "module/hw/write_journal.h"

namespace sim {

namespace {
std::filesystem::path nor_array_folder;
bool private_array_written = false;
}  // namespace

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        close();
        name_ = std::move(other.name_);
        fd_ = other.fd_;
        data_ = other.data_;
        size_ = other.size_;
        resident_ = std::move(other.resident_);
        last_region_ = other.last_region_;
        last_writable_ = other.last_writable_;
        private_ = other.private_;
        other.fd_ = -1;
        other.data_ = nullptr;
        other.size_ = 0;
        other.resident_.clear();
        other.last_region_ = UINT64_MAX;
    }
    return *this;
}

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
    if (data_) munmap(data_, size_);
    if (fd_ >= 0) ::close(fd_);
    data_ = nullptr;
    fd_ = -1;
    size_ = 0;
    resident_.clear();
    last_region_ = UINT64_MAX;
    private_ = false;
}

void MappedFile::bring_in(uint64_t region, bool write) {
    if (write && private_) private_array_written = true;
    if (write && !private_) note_chip_write(name_.c_str(), region << kRegionShift, uint64_t{1} << kRegionShift);
    auto it =
        std::find_if(resident_.begin(), resident_.end(), [region](const Resident& r) { return r.region == region; });
    if (it == resident_.end()) {
        // Written pages of a shared mapping stay in the page cache, dirty:
        // letting them go loses nothing. A private mapping's written pages
        // live only here, so those regions stay.
        auto oldest =
            private_ ? std::find_if(resident_.begin(), resident_.end(), [](const Resident& r) { return !r.writable; })
                     : resident_.begin();
        if (resident_.size() >= kResidentRegions && oldest != resident_.end()) {
            uint64_t start = oldest->region << kRegionShift;
            madvise(data_ + start, std::min<uint64_t>(size_ - start, uint64_t{1} << kRegionShift), MADV_DONTNEED);
            resident_.erase(oldest);
        }
        populate(region, write);
        resident_.push_back(Resident{region, write});
        it = resident_.end() - 1;
    } else if (write && !it->writable) {
        populate(region, true);
        it->writable = true;
    }
    last_region_ = region;
    last_writable_ = it->writable;
}

void MappedFile::populate(uint64_t region, bool write) {
    uint64_t start = region << kRegionShift;
    if (start >= size_) return;
    // Where the kernel cannot populate, the pages fault in one by one instead.
    madvise(data_ + start, std::min<uint64_t>(size_ - start, uint64_t{1} << kRegionShift),
            write ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
}

bool MappedFile::open(const std::filesystem::path& dir, const std::string& name, uint64_t size, std::string* error,
                      Writes writes) {
    close();
    const std::filesystem::path path = dir / name;
    const bool is_private = writes == Writes::Private;
    int fd = open_in_folder(dir, name, is_private ? O_RDONLY : O_RDWR);
    if (fd < 0) {
        if (error) *error = open_failure(path, errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != size) {
        if (error)
            *error = path.string() + " is " + std::to_string(static_cast<long long>(st.st_size)) +
                     " bytes; the profile's flash needs " + std::to_string(size);
        ::close(fd);
        return false;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, is_private ? MAP_PRIVATE : MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        if (error) *error = "cannot map " + path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    name_ = name;
    fd_ = fd;
    data_ = static_cast<uint8_t*>(map);
    size_ = size;
    private_ = is_private;
    return true;
}

void read_nor_array_from(const std::filesystem::path& dir) {
    nor_array_folder = dir;
    private_array_written = false;
}
const std::filesystem::path& nor_array_source() { return nor_array_folder; }
bool nor_array_source_written() { return private_array_written; }

bool write_filled_file(const std::filesystem::path& dir, const std::string& name, uint64_t size, uint8_t fill,
                       std::string* error) {
    const std::filesystem::path path = dir / name;
    int fd = open_in_folder(dir, name, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) {
        if (error) *error = open_failure(path, errno);
        return false;
    }
    std::vector<uint8_t> chunk(static_cast<size_t>(size < (1u << 20) ? size : (1u << 20)), fill);
    uint64_t done = 0;
    while (done < size) {
        size_t n = static_cast<size_t>(size - done < chunk.size() ? size - done : chunk.size());
        ssize_t written = ::write(fd, chunk.data(), n);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) continue;
            if (error) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += static_cast<uint64_t>(written);
    }
    if (::close(fd) != 0) {
        if (error) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace sim
