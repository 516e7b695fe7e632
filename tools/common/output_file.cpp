#include "tools/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fs = std::filesystem;

namespace {

// The mode a new file gets from open(2): 0666 less the umask.
mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Syncs the folder so that the rename outlives a crash.
void sync_folder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::failure(const char* doing) const {
    return std::string("cannot ") + doing + " " + path_.string() + ": " + std::strerror(errno_ ? errno_ : EIO);
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::open(const fs::path& path, std::string* error, bool in_place) {
    discard();
    path_ = target_ = path;
    errno_ = 0;
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    std::error_code ec;
    if (exists && fs::is_symlink(path, ec)) {
        fs::path linked = fs::canonical(path, ec);
        if (!ec) target_ = linked;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        errno_ = EISDIR;
        *error = failure("write");
        return false;
    }
    if (in_place || (exists && !S_ISREG(st.st_mode))) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        std::string pattern = (target_.parent_path() / ("." + target_.filename().string() + ".XXXXXX")).string();
        fd_ = mkstemp(pattern.data());
        if (fd_ >= 0) {
            temporary_ = pattern;
            // An old file keeps its mode; a new one gets what open(2) would give it.
            fchmod(fd_, exists ? st.st_mode & 07777 : new_file_mode());
        }
    }
    if (fd_ < 0) {
        errno_ = errno;
        *error = failure("write");
        return false;
    }
    return true;
}

bool OutputFile::write(const void* data, size_t size) {
    if (fd_ < 0 || errno_) return false;
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            errno_ = n < 0 ? errno : ENOSPC;
            return false;
        }
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (fd_ < 0 && !errno_) errno_ = EBADF;
    // A pipe or terminal cannot be synced; that is no failure.
    if (!errno_ && fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) errno_ = errno;
    if (!errno_ && ::close(fd_) != 0) errno_ = errno;
    fd_ = -1;
    if (!errno_ && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) errno_ = errno;
    if (errno_) {
        *error = failure("write");
        discard();
        return false;
    }
    if (!temporary_.empty()) sync_folder(target_.parent_path());
    temporary_.clear();
    return true;
}

bool write_output_file(const fs::path& path, std::string_view bytes, std::string* error) {
    OutputFile file;
    if (!file.open(path, error)) return false;
    file.write(bytes);
    return file.commit(error);
}
