#include "tools/common/memory_module.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "module/hw/write_journal.h"
#include "module/module.h"
#include "module/os/power_loss.h"
#include "tools/common/scratch_copy.h"

namespace fs = std::filesystem;

namespace {

// By the names alone: the folders are the ones walked, and resolving each
// name's links again (as fs::relative does) costs a call per folder level.
std::string relative_name(const fs::path& file, const fs::path& folder) {
    return file.lexically_relative(folder).generic_string();
}

bool read_small(const fs::path& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

bool write_small(const fs::path& path, const std::string& bytes, std::string* error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    *error = "cannot write " + path.string() + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

// Bytes [offset, offset + length) of from put over to at the same place; the
// part past from's end is left out (to is cut to from's length after). The
// kernel copies between the files where it can, with no buffer here.
bool copy_range(const fs::path& from, const fs::path& to, uint64_t offset, uint64_t length, std::string* error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    uint64_t done = 0;
    while (ok && done < length) {
        loff_t in_at = static_cast<loff_t>(offset + done), out_at = in_at;
        ssize_t n = ::copy_file_range(in, &in_at, out, &out_at, length - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
    }
    static std::vector<char> chunk;
    if (ok && done < length && chunk.empty()) chunk.resize(1 << 20);
    while (ok && done < length) {
        ssize_t n = ::pread(in, chunk.data(), std::min<uint64_t>(chunk.size(), length - done),
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        ok = ::pwrite(out, chunk.data(), static_cast<size_t>(n), static_cast<off_t>(offset + done)) == n;
        done += static_cast<uint64_t>(n);
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    if (!ok) *error = "cannot put back " + to.string() + ": " + std::strerror(errno ? errno : EIO);
    return ok;
}

// Bytes [from, to) of a chip file past the base's end, as far as the file
// goes, set to the erased state.
bool erase_range(const fs::path& file, uint64_t from, uint64_t to, std::string* error) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
    static const std::vector<char> erased(1 << 16, '\xff');
    const uint64_t end = ok ? std::min<uint64_t>(to, static_cast<uint64_t>(st.st_size)) : 0;
    for (uint64_t at = from; ok && at < end;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(erased.size(), end - at));
        ok = ::pwrite(fd, erased.data(), n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
        at += n;
    }
    if (fd >= 0) ::close(fd);
    if (!ok) *error = "cannot put back " + file.string() + ": " + std::strerror(errno ? errno : EIO);
    return ok;
}

// main(args) with its output flushed when it returns.
int call_main(MemoryModule::Main main, const std::vector<std::string>& args) {
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int status = main(static_cast<int>(words.size()), argv.data());
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    return status;
}

}  // namespace

bool is_chip_file(const std::string& name) { return name == "nor.bin" || is_nand_chip_file(name); }

MemoryModule::~MemoryModule() {
    if (watch_fd_ >= 0) ::close(watch_fd_);
    std::error_code ec;
    if (!work_.empty()) fs::remove_all(work_, ec);
}

bool MemoryModule::load(const fs::path& module, const fs::path& work, const std::set<std::string>& leave_out,
                        std::string* error) {
    source_ = module;
    work_ = work;
    base_ = work / "base";
    folder_ = work / "module";
    ScratchCopy copy;
    if (!copy_module(module, base_, &copy, error)) return false;
    std::error_code ec;
    for (const std::string& name : leave_out) fs::remove(base_ / name, ec);
    if (!copy_module(base_, folder_, &copy, error)) return false;
    if (!sim::start_write_journal()) {
        *error = "cannot map the write journal: " + std::string(std::strerror(errno));
        return false;
    }
    if (!snapshot_small_files(error)) return false;
    watch_folders();
    return true;
}

bool MemoryModule::watch_folders() {
    if (watch_fd_ >= 0) ::close(watch_fd_);
    watched_.clear();
    watch_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_fd_ < 0) return false;
    // Writes through a mapping (the NOR array) raise no event; the chips'
    // writes go to the write journal anyway.
    constexpr uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW | IN_ONLYDIR | IN_EXCL_UNLINK;
    std::vector<std::string> names(folders_.begin(), folders_.end());
    names.push_back("");
    for (const std::string& name : names) {
        int wd = ::inotify_add_watch(watch_fd_, (name.empty() ? folder_ : folder_ / name).c_str(), kEvents);
        if (wd < 0) {
            ::close(watch_fd_);
            watch_fd_ = -1;
            watched_.clear();
            return false;
        }
        watched_[wd] = name;
    }
    return true;
}

bool MemoryModule::touched_names(std::set<std::string>* names, std::set<std::string>* chip_files_replaced) {
    if (watch_fd_ < 0) return false;
    bool kept_track = true;
    alignas(inotify_event) char buffer[65536];
    for (;;) {
        ssize_t n = ::read(watch_fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return kept_track && (n == 0 || errno == EAGAIN);
        for (ssize_t at = 0; at < n;) {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            auto folder = watched_.find(e->wd);
            // A watched folder gone or moved, or events lost: walk instead.
            if ((e->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) || folder == watched_.end()) {
                kept_track = false;
                continue;
            }
            if (e->len == 0) continue;
            const std::string name = folder->second.empty() ? std::string(e->name) : folder->second + "/" + e->name;
            if (!is_chip_file(name) || !chip_lengths_.count(name))
                names->insert(name);
            else if (e->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB))
                chip_files_replaced->insert(name);
        }
    }
}

void MemoryModule::forget_touches() {
    std::set<std::string> names, chips;
    touched_names(&names, &chips);
}

bool MemoryModule::snapshot_small_files(std::string* error) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(base_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string name = relative_name(it->path(), base_);
        if (it->is_directory()) {
            folders_.insert(name);
        } else if (is_chip_file(name)) {
            chip_lengths_[name] = it->file_size();
        } else if (!read_small(it->path(), &small_[name])) {
            *error = "cannot read " + it->path().string();
            return false;
        }
    }
    if (ec) *error = "cannot read " + base_.string() + ": " + ec.message();
    return !ec;
}

int MemoryModule::run(Main main, const std::vector<std::string>& args, const fs::path& out) {
    // What the caller has buffered is its own, not the child's to write again.
    std::cout.flush();
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int stdout_fd = ::open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null_fd = ::open("/dev/null", O_WRONLY);
        if (stdout_fd < 0 || null_fd < 0) ::_exit(127);
        ::dup2(stdout_fd, 1);
        ::dup2(null_fd, 2);
        ::_exit(call_main(main, args));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int MemoryModule::run_here(Main main, const std::vector<std::string>& args, const fs::path& out) {
    if (!sim::os::power_off_program()) return -1;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    int stdout_fd = ::open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    int saved_out = ::dup(1), saved_err = ::dup(2);
    int status = -1;
    if (stdout_fd >= 0 && null_fd >= 0 && saved_out >= 0 && saved_err >= 0) {
        ::dup2(stdout_fd, 1);
        ::dup2(null_fd, 2);
        status = call_main(main, args);
        ::dup2(saved_out, 1);
        ::dup2(saved_err, 2);
    }
    for (int fd : {stdout_fd, null_fd, saved_out, saved_err})
        if (fd >= 0) ::close(fd);
    // What the run left is the next power cycle's to take.
    sim::Module::close_current();
    return status;
}

bool MemoryModule::restore(std::string* error) {
    std::set<std::string> touched, chips_replaced;
    const bool tracked = touched_names(&touched, &chips_replaced);
    std::vector<sim::WrittenRegion> regions;
    const bool whole = !sim::written_regions(&regions);
    regions_restored_ = 0;
    std::error_code ec;
    for (const auto& [name, length] : chip_lengths_) {
        const fs::path file = folder_ / name;
        if (whole || !tracked || chips_replaced.count(name) || !fs::is_regular_file(fs::symlink_status(file, ec))) {
            fs::remove_all(file, ec);
            if (!copy_range(base_ / name, file, 0, length, error)) return false;
        }
    }
    if (!whole)
        for (const sim::WrittenRegion& r : regions) {
            auto chip = chip_lengths_.find(r.file);
            if (chip == chip_lengths_.end()) continue;  // made by the run: removed below
            const uint64_t start = r.region << sim::kJournalRegionShift;
            const uint64_t end = start + (uint64_t{1} << sim::kJournalRegionShift);
            if (start < chip->second &&
                !copy_range(base_ / r.file, folder_ / r.file, start, std::min(chip->second, end) - start, error))
                return false;
            if (end > chip->second && !erase_range(folder_ / r.file, std::max(start, chip->second), end, error))
                return false;
            ++regions_restored_;
        }
    // A whole copy has the base's length; in place, a NAND chip file keeps
    // the erased tail a run wrote (the file format stores an erased tail or
    // leaves it out, alike), so the next run does not write it once more.
    for (const auto& [name, length] : chip_lengths_)
        if (whole ? fs::file_size(folder_ / name, ec) != length : fs::file_size(folder_ / name, ec) < length)
            fs::resize_file(folder_ / name, length, ec);
    sim::clear_write_journal();

    // Every other file: what the run made goes, what it changed comes back.
    const bool ok = tracked ? restore_small_files(touched, error) : restore_by_walking(error);
    // The restore's own writes are no run's.
    if (ok && tracked) forget_touches();
    if (ok && !tracked) watch_folders();
    return ok;
}

bool MemoryModule::put_back_small_file(const fs::path& path, const std::string& bytes, std::string* error) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    std::string now;
    if (fs::is_regular_file(st) && read_small(path, &now) && now == bytes) return true;
    if (fs::is_directory(st))
        fs::remove_all(path, ec);
    else if (fs::exists(st))
        fs::remove(path, ec);
    return write_small(path, bytes, error);
}

bool MemoryModule::restore_small_files(const std::set<std::string>& names, std::string* error) {
    std::error_code ec;
    for (const std::string& name : names) {
        const fs::path path = folder_ / name;
        if (folders_.count(name)) {
            // A folder of the module made into something else: walk.
            if (fs::is_directory(fs::symlink_status(path, ec))) continue;
            if (!restore_by_walking(error)) return false;
            watch_folders();
            return true;
        }
        auto kept = small_.find(name);
        if (kept != small_.end()) {
            if (!put_back_small_file(path, kept->second, error)) return false;
        } else {
            fs::remove_all(path, ec);
        }
    }
    return true;
}

bool MemoryModule::restore_by_walking(std::string* error) {
    std::error_code ec;
    std::set<std::string> seen;
    std::vector<fs::path> made;
    for (auto it = fs::recursive_directory_iterator(folder_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string name = relative_name(it->path(), folder_);
        if (it->is_directory() && !it->is_symlink()) {
            if (!folders_.count(name)) {
                made.push_back(it->path());
                it.disable_recursion_pending();
            }
            continue;
        }
        if (is_chip_file(name) && chip_lengths_.count(name)) continue;
        auto kept = small_.find(name);
        if (kept == small_.end() || it->is_symlink()) {
            made.push_back(it->path());
            continue;
        }
        seen.insert(name);
        if (!put_back_small_file(it->path(), kept->second, error)) return false;
    }
    if (ec) {
        *error = "cannot read " + folder_.string() + ": " + ec.message();
        return false;
    }
    for (const fs::path& path : made) fs::remove_all(path, ec);
    for (const auto& [name, bytes] : small_)
        if (!seen.count(name) && !write_small(folder_ / name, bytes, error)) return false;
    return true;
}

bool MemoryModule::write_back(std::string* error) const {
    // Each file of the module is replaced by a rename, never seen half-written.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path target = source_ / fs::relative(it->path(), folder_);
        if (it->is_directory()) {
            fs::create_directories(target, ec);
        } else {
            const fs::path temporary = target.string() + ".write-back";
            fs::copy_file(it->path(), temporary, fs::copy_options::overwrite_existing, ec);
            if (!ec) fs::rename(temporary, target, ec);
        }
        if (ec) {
            *error = "cannot write back " + target.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}
