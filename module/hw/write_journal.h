// Which regions of which chip files were written: a sweep that puts a module
// in memory back as it was after each cut point writes back only those,
// never whole chip files. The journal lives in memory shared with the
// processes forked after it is started, so a run in a child process notes
// its writes where the parent reads them. Until started, noting is one test
// of a null pointer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr unsigned kJournalRegionShift = 16;  // 64 KiB regions

struct WrittenRegion {
    std::string file;  // the chip file's name in its module folder
    uint64_t region;   // offset >> kJournalRegionShift
};

// Maps a new shared journal for this process and the ones it forks (a
// process forked from another journal's owner gets its own); false when it
// cannot be mapped.
bool start_write_journal();
// Called before bytes [offset, offset + length) of the named chip file are written.
void note_chip_write(const char* file, uint64_t offset, uint64_t length);
// What was noted since the last clear; false when more regions were written
// than the journal holds (the caller then puts back the whole files).
bool written_regions(std::vector<WrittenRegion>* out);
void clear_write_journal();

}  // namespace sim
