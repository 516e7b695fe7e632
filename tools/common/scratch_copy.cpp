#include "tools/common/scratch_copy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Bytes up to the last one that is not erased (0xFF).
uint64_t stored_length(int fd, uint64_t size) {
    std::vector<uint8_t> chunk(1 << 20);
    while (size > 0) {
        uint64_t n = std::min<uint64_t>(chunk.size(), size);
        if (::pread(fd, chunk.data(), n, static_cast<off_t>(size - n)) != static_cast<ssize_t>(n)) return size;
        for (uint64_t i = n; i > 0; --i)
            if (chunk[i - 1] != 0xFF) return size - n + i;
        size -= n;
    }
    return 0;
}

bool copy_bytes(int in, int out, uint64_t length) {
    uint64_t done = 0;
    while (done < length) {
        loff_t from = static_cast<loff_t>(done), to = static_cast<loff_t>(done);
        ssize_t n = ::copy_file_range(in, &from, out, &to, length - done, 0);
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
    }
    // Kernels and file systems without copy_file_range: read and write.
    std::vector<uint8_t> chunk(1 << 20);
    while (done < length) {
        ssize_t n =
            ::pread(in, chunk.data(), std::min<uint64_t>(chunk.size(), length - done), static_cast<off_t>(done));
        if (n <= 0 || ::pwrite(out, chunk.data(), static_cast<size_t>(n), static_cast<off_t>(done)) != n) return false;
        done += static_cast<uint64_t>(n);
    }
    return true;
}

bool copy_file(const fs::path& from, const fs::path& to, ScratchCopy* copy, std::string* error) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || fstat(in.get(), &st) != 0) {
        *error = "cannot read " + from.string() + ": " + std::strerror(errno);
        return false;
    }
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777));
    if (out.get() < 0) {
        *error = "cannot write " + to.string() + ": " + std::strerror(errno);
        return false;
    }
    ++copy->files;
    if (::ioctl(out.get(), FICLONE, in.get()) == 0) {
        ++copy->cloned;
        return true;
    }
    uint64_t length = static_cast<uint64_t>(st.st_size);
    // A NAND chip file's missing tail is erased flash.
    if (is_nand_chip_file(from)) length = stored_length(in.get(), length);
    if (!copy_bytes(in.get(), out.get(), length)) {
        *error = "cannot copy " + from.string() + " to " + to.string() + ": " + std::strerror(errno);
        return false;
    }
    copy->bytes_copied += length;
    return true;
}

}  // namespace

bool is_nand_chip_file(const fs::path& path) {
    std::string name = path.filename().string(), ext = path.extension().string();
    return name.rfind("nand-", 0) == 0 && (ext == ".main" || ext == ".oob");
}

bool copy_module(const fs::path& from, const fs::path& to, ScratchCopy* copy, std::string* error, NorArray nor_array) {
    std::error_code ec;
    fs::create_directories(to, ec);
    if (ec) {
        *error = "cannot create " + to.string() + ": " + ec.message();
        return false;
    }
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::path target = to / fs::relative(it->path(), from);
        if (it->is_symlink()) {
            fs::copy_symlink(it->path(), target, ec);
        } else if (it->is_directory()) {
            fs::create_directories(target, ec);
        } else if (it->is_regular_file()) {
            if (nor_array == NorArray::LeftOut && it->path().filename() == "nor.bin" && it.depth() == 0) continue;
            if (!copy_file(it->path(), target, copy, error)) return false;
        }
    }
    if (ec) {
        *error = "cannot copy " + from.string() + ": " + ec.message();
        return false;
    }
    return true;
}

std::string in_original(const std::string& message, const fs::path& copy, const fs::path& original) {
    std::string text = message, from = copy.string(), to = original.string();
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

fs::path make_scratch_dir(const std::string& prefix, std::string* error) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
        *error = "cannot make a scratch folder in " + fs::temp_directory_path().string() + ": " + std::strerror(errno);
        return {};
    }
    return pattern;
}
