#include "module/hw/folder_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A failed openat of name in parent: ELOOP when name is a symbolic link,
// whatever the flags made of it (O_PATH | O_NOFOLLOW opens a link itself;
// O_DIRECTORY on one gives ENOTDIR).
int failure_of(int parent, const char* name) {
    int saved = errno;
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
    return saved;
}

// The folder holding relative's last component, every component on the way
// opened without following it; -1 with errno.
int open_parent(const std::filesystem::path& dir, const std::filesystem::path& relative) {
    Fd current(::open(dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (current.get() < 0) return -1;
    std::filesystem::path parent = relative.parent_path();
    for (const std::filesystem::path& part : parent) {
        if (part.empty() || part == ".") continue;
        // Below the folder means below it.
        if (part == "..") {
            errno = EACCES;
            return -1;
        }
        int next = ::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            errno = failure_of(current.get(), part.c_str());
            return -1;
        }
        current.reset(next);
    }
    return current.release();
}

bool write_all(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string write_failure(const std::filesystem::path& path, int error_number) {
    return "cannot write " + path.string() + ": " + std::strerror(error_number);
}

}  // namespace

int open_in_folder(const std::filesystem::path& dir, const std::filesystem::path& relative, int flags, mode_t mode) {
    Fd parent(open_parent(dir, relative));
    if (parent.get() < 0) return -1;
    std::string name = relative.filename().string();
    // Not blocking: a FIFO in a file's place is refused, not waited on.
    Fd fd(::openat(parent.get(), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        errno = failure_of(parent.get(), name.c_str());
        return -1;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : kNotPlainFile;
        return -1;
    }
    return fd.release();
}

std::string open_failure(const std::filesystem::path& path, int error_number) {
    if (error_number == ELOOP)
        return path.string() + " is a symbolic link; a module's files are not opened through links";
    if (error_number == EISDIR) return path.string() + " is a folder, not a file";
    if (error_number == kNotPlainFile) return path.string() + " is not a plain file";
    return "cannot open " + path.string() + ": " + std::strerror(error_number);
}

FolderRead read_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative, std::string* bytes,
                            std::string* error) {
    const std::filesystem::path path = dir / relative;
    Fd fd(open_in_folder(dir, relative, O_RDONLY));
    if (fd.get() < 0) {
        if (errno == ENOENT) return FolderRead::Missing;
        if (error) *error = open_failure(path, errno);
        return FolderRead::Refused;
    }
    bytes->clear();
    char chunk[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = "cannot read " + path.string() + ": " + std::strerror(errno);
            return FolderRead::Refused;
        }
        if (n == 0) return FolderRead::Done;
        bytes->append(chunk, static_cast<size_t>(n));
    }
}

bool replace_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative,
                         std::string_view bytes, std::string* error) {
    const std::filesystem::path path = dir / relative;
    Fd parent(open_parent(dir, relative));
    if (parent.get() < 0) {
        if (error) *error = open_failure(path, errno);
        return false;
    }
    std::string name = relative.filename().string(), temporary = name + ".tmp";
    // A stale temporary, file or link, goes; the new one is made, never opened.
    ::unlinkat(parent.get(), temporary.c_str(), 0);
    Fd out(::openat(parent.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        if (error) *error = write_failure(path, errno);
        return false;
    }
    if (!write_all(out.get(), bytes) || ::close(out.release()) != 0) {
        if (error) *error = write_failure(path, errno);
        ::unlinkat(parent.get(), temporary.c_str(), 0);
        return false;
    }
    // rename replaces a link of the name itself, never its target.
    if (::renameat(parent.get(), temporary.c_str(), parent.get(), name.c_str()) != 0) {
        if (error) *error = "cannot replace " + path.string() + ": " + std::strerror(errno);
        ::unlinkat(parent.get(), temporary.c_str(), 0);
        return false;
    }
    return true;
}

bool append_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative, std::string_view bytes,
                        std::string* error) {
    const std::filesystem::path path = dir / relative;
    Fd fd(open_in_folder(dir, relative, O_WRONLY | O_APPEND | O_CREAT));
    if (fd.get() < 0) {
        if (error) *error = open_failure(path, errno);
        return false;
    }
    if (!write_all(fd.get(), bytes)) {
        if (error) *error = write_failure(path, errno);
        return false;
    }
    return true;
}

namespace {

// From offset, what the file holds; past its end, erased.
void read_at(int fd, uint64_t offset, uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    std::memset(out + done, 0xFF, size - done);
}

}  // namespace

void read_chip_file(const std::filesystem::path& path, uint64_t offset, uint8_t* out, size_t size) {
    int fd = open_in_folder(path.parent_path(), path.filename(), O_RDONLY);
    if (fd < 0) return (void)std::memset(out, 0xFF, size);
    read_at(fd, offset, out, size);
    ::close(fd);
}

ChipFileReader::~ChipFileReader() {
    for (const auto& [path, fd] : open_)
        if (fd >= 0) ::close(fd);
}

bool ChipFileReader::read(const std::filesystem::path& path, uint64_t offset, uint8_t* out, size_t size) {
    auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& f) { return f.first == path; });
    if (it == open_.end()) {
        open_.emplace_back(path, open_in_folder(path.parent_path(), path.filename(), O_RDONLY));
        it = open_.end() - 1;
    }
    if (it->second < 0) return (void)std::memset(out, 0xFF, size), false;
    read_at(it->second, offset, out, size);
    return true;
}

}  // namespace sim
