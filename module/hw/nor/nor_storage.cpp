#include "module/hw/nor/nor_storage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        data_ = other.data_;
        size_ = other.size_;
        other.fd_ = -1;
        other.data_ = nullptr;
        other.size_ = 0;
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
}

bool MappedFile::open(const std::filesystem::path& path, uint64_t size, std::string* error) {
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "cannot open " + path.string() + ": " + std::strerror(errno);
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
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        if (error) *error = "cannot map " + path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    data_ = static_cast<uint8_t*>(map);
    size_ = size;
    return true;
}

bool write_filled_file(const std::filesystem::path& path, uint64_t size, uint8_t fill, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = "cannot create " + path.string() + ": " + std::strerror(errno);
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
