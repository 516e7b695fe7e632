#include "tools/common/content_hash.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Eight bytes at a time, each word multiplied into the state and folded
// (the mix of splitmix64), the length last: a cheap hash even unoptimized.
struct Fingerprint {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    void word(uint64_t w) {
        state ^= w + 0x9E3779B97F4A7C15ull + (state << 6) + (state >> 2);
        state *= 0xBF58476D1CE4E5B9ull;
        state ^= state >> 31;
    }
    void bytes(const unsigned char* p, size_t n) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            word(w);
        }
        uint64_t tail = 0;
        std::memcpy(&tail, p + i, n - i);
        word(tail ^ (uint64_t{n - i} << 56));
    }
    void text(const std::string& s) { bytes(reinterpret_cast<const unsigned char*>(s.data()), s.size()); }
    std::string hex() const {
        char out[17];
        std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(state));
        return out;
    }
};

bool add_file(const fs::path& file, Fingerprint* f) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<unsigned char> chunk(1 << 20);
    uint64_t total = 0;
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        f->bytes(chunk.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    ::close(fd);
    f->word(total);
    return ok;
}

}  // namespace

std::string file_fingerprint(const fs::path& file) {
    Fingerprint f;
    return add_file(file, &f) ? f.hex() : "";
}

std::string folder_fingerprint(const fs::path& folder, const std::set<std::string>& leave_out) {
    std::map<std::string, fs::path> files;  // in name order, whatever the folder's order
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string name = fs::relative(it->path(), folder).generic_string();
        if (it->is_regular_file() && !leave_out.count(name)) files[name] = it->path();
    }
    if (ec) return "";
    Fingerprint f;
    for (const auto& [name, path] : files) {
        f.text(name);
        if (!add_file(path, &f)) return "";
    }
    return f.hex();
}
