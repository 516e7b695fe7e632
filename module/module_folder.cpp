#include "module/module_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "module/hal/hal_requests.h"
#include "module/hw/folder_file.h"
#include "module/hw/gpio/gpio_blocks.h"
#include "module/hw/nor/nor_pair.h"
#include "module/hw/wear/wear_file.h"
#include "module/power_cut.h"

namespace sim {

namespace {

namespace fs = std::filesystem;

// The module's files at the top of its folder, besides the chip files nand-N.*.
const char* const kTopFiles[] = {"module.toml", NorPair::kArrayFile, NorPair::kLockFile, WearFile::kFileName,
                                 "events.log",  kCutRecordFile,      "registry.saved",   kGpioStateFile};
// Its folders: the shared objects, the HAL's stored items, the file system.
const char* const kFolders[] = {"objects", "hal", "root"};

bool is_chip_file(const std::string& name) {
    auto ends_with = [&name](const char* tail) {
        size_t n = std::strlen(tail);
        return name.size() > n && name.compare(name.size() - n, n, tail) == 0;
    };
    return name.rfind("nand-", 0) == 0 && (ends_with(".main") || ends_with(".oob") || ends_with(".nop"));
}

// What stands at path when it is not a plain file (or, with folder, a
// folder); empty when it is, or when nothing is there.
std::string fault_of(const fs::path& path, bool folder) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : open_failure(path, errno);
    if (S_ISLNK(st.st_mode)) return open_failure(path, ELOOP);
    if (folder) return S_ISDIR(st.st_mode) ? "" : path.string() + " is not a folder";
    if (S_ISDIR(st.st_mode)) return open_failure(path, EISDIR);
    if (!S_ISREG(st.st_mode)) return open_failure(path, kNotPlainFile);
    return "";
}

std::vector<std::string> entries_of(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

// A stored configuration item holds 1 to kMaxConfigItemBytes bytes.
std::string item_fault(const fs::path& path) {
    std::error_code ec;
    uint64_t size = fs::file_size(path, ec);
    if (ec || (size >= 1 && size <= hal::kMaxConfigItemBytes)) return "";
    return path.string() + " is " + std::to_string(size) + " bytes; a configuration item holds 1 to " +
           std::to_string(hal::kMaxConfigItemBytes);
}

}  // namespace

bool check_module_folder(const fs::path& dir, std::string* error) {
    std::vector<std::pair<fs::path, bool>> places;  // path, folder
    for (const char* name : kTopFiles) places.push_back({dir / name, false});
    for (const std::string& name : entries_of(dir))
        if (is_chip_file(name)) places.push_back({dir / name, false});
    for (const char* name : kFolders) places.push_back({dir / name, true});
    for (const auto& [path, folder] : places) {
        std::string fault = fault_of(path, folder);
        if (!fault.empty()) {
            if (error) *error = fault;
            return false;
        }
    }
    // Every entry of objects/ and hal/ is one of the module's files.
    for (const char* folder : {"objects", "hal"}) {
        for (const std::string& name : entries_of(dir / folder)) {
            fs::path path = dir / folder / name;
            std::string fault = fault_of(path, false);
            if (fault.empty() && std::string(folder) == "hal" && name.rfind("item-", 0) == 0) fault = item_fault(path);
            if (!fault.empty()) {
                if (error) *error = fault;
                return false;
            }
        }
    }
    return true;
}

}  // namespace sim
