// A scratch copy of a module directory, for runs that must leave the module
// as it was (a dry run, the section detection that may move a configuration
// block). Each file is cloned where the file system shares blocks between
// files (a reflink: no bytes are copied until one side changes); elsewhere
// the NAND chip files are copied without their erased tail, which the flash
// file format lets a file leave out, and the rest is copied whole.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

struct ScratchCopy {
    uint64_t files = 0;
    uint64_t cloned = 0;        // files shared by reflink
    uint64_t bytes_copied = 0;  // bytes written by plain copies
};

// A NAND chip's main or spare file (nand-N.main, nand-N.oob).
bool is_nand_chip_file(const std::filesystem::path& path);

// Copies from into to (which must not exist or be empty); false with a reason.
// Without the NOR array, nor.bin stays behind (for a module opened with
// sim::read_nor_array_from(from)).
enum class NorArray { Copied, LeftOut };
bool copy_module(const std::filesystem::path& from, const std::filesystem::path& to, ScratchCopy* copy,
                 std::string* error, NorArray nor_array = NorArray::Copied);

// A message about a file of the copy, made to name the file of the module
// it was copied from: the user knows that one.
std::string in_original(const std::string& message, const std::filesystem::path& copy,
                        const std::filesystem::path& original);

// A new empty directory under the system's temporary folder.
std::filesystem::path make_scratch_dir(const std::string& prefix, std::string* error);
