// The files the tools write (a report, a picture, a table, a dump, an
// image): written under a temporary name in the same folder, synced, and
// renamed over the file only when whole. A failure (a full disk, a folder
// that cannot be written) leaves no part of the file behind as if whole,
// and an old file of the name as it was. A target that is not a regular
// file (a pipe, /dev/stdout, /dev/full) is written in place. Every failure
// names the file: "cannot write out.csv: No space left on device".
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // An output never committed is removed.
    ~OutputFile();

    // False with a reason when the file cannot be written at all. in_place:
    // written as it is opened, whatever it is (standard output).
    bool open(const std::filesystem::path& path, std::string* error, bool in_place = false);
    // False from the first failed write on (commit says why).
    bool write(const void* data, size_t size);
    bool write(std::string_view text) { return write(text.data(), text.size()); }
    // Makes the file whole under its name; false with a reason.
    bool commit(std::string* error);

private:
    std::string failure(const char* doing) const;
    void discard();

    std::filesystem::path path_;       // as given, for messages
    std::filesystem::path target_;     // what the rename replaces: a link's file, not the link
    std::filesystem::path temporary_;  // empty when written in place
    int fd_ = -1;
    int errno_ = 0;  // of the first failure
};

// The bytes as the whole of path, as above.
bool write_output_file(const std::filesystem::path& path, std::string_view bytes, std::string* error);
