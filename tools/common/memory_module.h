// A module held in memory for many runs of the tools.
//
// load() copies the module twice into a folder in memory (/dev/shm where
// there is one): a base that stays as loaded, and the working copy the runs
// see. run() starts a tool's main in a process forked from the caller, which
// has run no module itself: each run starts as after a power cycle, with
// none of the program's, the HAL's or the device models' state of the run
// before, and the flash as the run before left it. restore() puts the
// working copy back as loaded without copying whole chip files: the chips
// note which 64 KiB regions of their files a run wrote (the write journal),
// and only those come back from the base; every other file of the module is
// small: those a run touched (the folders are watched with inotify; a full
// walk where the watch lost track) are compared and rewritten whole, files a
// run made are removed. (A file changed through a hard link made by the run
// is seen by the link's name only; the tools make none.) write_back() puts the working
// copy over the module it was loaded from, for a run meant to keep its
// result.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

class MemoryModule {
public:
    using Main = int (*)(int, char**);

    MemoryModule() = default;
    MemoryModule(const MemoryModule&) = delete;
    MemoryModule& operator=(const MemoryModule&) = delete;
    ~MemoryModule();

    // Loads module into work (a new folder, removed with this object);
    // files named in leave_out stay behind (the sweep starts each run
    // without the module's event log).
    bool load(const std::filesystem::path& module, const std::filesystem::path& work,
              const std::set<std::string>& leave_out, std::string* error);
    // The working copy: the module folder the runs are given.
    const std::filesystem::path& folder() const { return folder_; }

    // main(args) in a forked process, its standard output into out (or
    // nowhere) and its standard error nowhere; its exit status, or -1 when
    // it did not exit.
    static int run(Main main, const std::vector<std::string>& args, const std::filesystem::path& out = {});
    // The same in this process, after a power cycle without a new process:
    // the program's variables put back as loaded, its heap, handles, windows
    // and register windows gone, no module open (the program's threads of
    // the run before are waited for). -1 when the variables cannot be put
    // back (a build that does not gather them). A run whose power is cut ends this process,
    // as a cut ends the program on the board: give it runs without a cut.
    static int run_here(Main main, const std::vector<std::string>& args, const std::filesystem::path& out = {});

    bool restore(std::string* error);
    bool write_back(std::string* error) const;

    // Regions put back by the last restore, and whether it took whole files.
    uint64_t regions_restored() const { return regions_restored_; }

private:
    bool snapshot_small_files(std::string* error);
    // inotify on the working copy's folders; false when it cannot be had.
    bool watch_folders();
    // Names of the folder (relative) that a run touched since the last
    // call, chip files apart; false when the watch lost track of them.
    bool touched_names(std::set<std::string>* names, std::set<std::string>* chip_files_replaced);
    void forget_touches();
    bool restore_small_files(const std::set<std::string>& names, std::string* error);
    bool restore_by_walking(std::string* error);
    bool put_back_small_file(const std::filesystem::path& path, const std::string& bytes, std::string* error);

    std::filesystem::path source_, work_, base_, folder_;
    std::map<std::string, std::string> small_;      // path in the folder -> bytes
    std::set<std::string> folders_;                 // sub-folders
    std::map<std::string, uint64_t> chip_lengths_;  // chip file -> length in the base
    uint64_t regions_restored_ = 0;
    int watch_fd_ = -1;
    std::map<int, std::string> watched_;  // watch -> folder, relative ("" the top)
};

// nor.bin and the NAND chips' nand-N.main / nand-N.oob: written through the
// write journal, never read whole.
bool is_chip_file(const std::string& name);
