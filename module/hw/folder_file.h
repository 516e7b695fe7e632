// Opening the files of a module folder. A module folder can come from anyone
// (a colleague's archive, a build artifact), so its files are opened as they
// stand in it: no component of a path below the folder is followed when it
// is a symbolic link, and a link is refused by name instead of written
// through. The folder itself is taken as named, link or not: the user chose
// it.
#pragma once
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// The errno of an open that found something other than a plain file (a
// FIFO, a device) in a file's place.
constexpr int kNotPlainFile = ENODEV;

// open(2) of dir/relative with flags (O_NOFOLLOW and O_CLOEXEC added) and
// mode, a plain file; -1 with errno on failure: ELOOP where a component is a
// symbolic link, EISDIR for a folder, kNotPlainFile.
int open_in_folder(const std::filesystem::path& dir, const std::filesystem::path& relative, int flags,
                   mode_t mode = 0644);

// One line naming the file for an open of it that failed with error_number
// ("m/events.log is a symbolic link; a module's files are not opened through
// links", "cannot open m/nor.bin: Permission denied").
std::string open_failure(const std::filesystem::path& path, int error_number);

enum class FolderRead { Done, Missing, Refused };
// Reads the whole of dir/relative, a regular file. Missing: there is no such
// file (a missing folder on the way counts too); Refused: *error names the
// file and why (a link, a folder, unreadable).
FolderRead read_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative, std::string* bytes,
                            std::string* error);

// Replaces dir/relative whole with bytes: written to relative + ".tmp" (a
// file or link of that name is removed first), then renamed over it.
bool replace_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative,
                         std::string_view bytes, std::string* error);

// Bytes of a chip file (nor.bin, nand-N.main ...) from offset; what lies past
// the file's end reads erased, as a short chip file holds.
void read_chip_file(const std::filesystem::path& path, uint64_t offset, uint8_t* out, size_t size);

// The same for many reads (a view that scans a whole chip): each file is
// opened once, at its first read, and kept open for the reader's life.
class ChipFileReader {
public:
    ChipFileReader() = default;
    ChipFileReader(const ChipFileReader&) = delete;
    ChipFileReader& operator=(const ChipFileReader&) = delete;
    ~ChipFileReader();
    // False when the file cannot be opened (out then reads erased).
    bool read(const std::filesystem::path& path, uint64_t offset, uint8_t* out, size_t size);

private:
    std::vector<std::pair<std::filesystem::path, int>> open_;  // a few files: a list is enough
};

// Appends bytes to dir/relative, made when missing.
bool append_folder_file(const std::filesystem::path& dir, const std::filesystem::path& relative, std::string_view bytes,
                        std::string* error);

}  // namespace sim
