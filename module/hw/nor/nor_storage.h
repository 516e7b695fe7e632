// Files behind the NOR pair: the array image (nor.bin) and the J3 lock bytes
// (nor.locks), mapped shared and read-write so every program, erase and lock
// change is in the file at once.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    // Maps an existing file that must be exactly size bytes long.
    bool open(const std::filesystem::path& path, uint64_t size, std::string* error);
    uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }
    int fd() const { return fd_; }

private:
    void close();
    int fd_ = -1;
    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// Writes path as size bytes of fill, replacing what was there.
bool write_filled_file(const std::filesystem::path& path, uint64_t size, uint8_t fill, std::string* error);

}  // namespace sim
