#include "module/hw/write_journal.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace sim {

namespace {

constexpr size_t kEntries = 8192;  // 8 GiB of 1 MiB regions: more than any module holds
constexpr size_t kNameBytes = 40;

struct Entry {
    char file[kNameBytes];
    uint64_t region;
};

struct Journal {
    std::atomic<uint32_t> count;
    std::atomic<uint32_t> overflowed;
    Entry entries[kEntries];
};

Journal* journal = nullptr;
pid_t journal_owner = 0;  // the process that started it: its forks share it

// The region noted last: consecutive writes to one region are noted once.
// Per process, so a forked child starts with nothing remembered.
thread_local const char* last_file = nullptr;
thread_local uint64_t last_region = UINT64_MAX;
thread_local uint32_t last_count = UINT32_MAX;

bool noted(const char* file, uint64_t region, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (journal->entries[i].region == region && std::strncmp(journal->entries[i].file, file, kNameBytes) == 0)
            return true;
    return false;
}

void note_region(const char* file, uint64_t region) {
    uint32_t count = journal->count.load();
    if (file == last_file && region == last_region && count == last_count) return;
    if (!noted(file, region, count)) {
        if (count == kEntries || std::strlen(file) >= kNameBytes) {
            journal->overflowed = 1;
            return;
        }
        Entry& e = journal->entries[count];
        std::strncpy(e.file, file, kNameBytes - 1);
        e.file[kNameBytes - 1] = 0;
        e.region = region;
        journal->count = ++count;
    }
    last_file = file;
    last_region = region;
    last_count = count;
}

}  // namespace

bool start_write_journal() {
    // A process forked from the owner starts its own: two sweep workers
    // must not see each other's writes.
    if (journal && journal_owner == ::getpid()) return true;
    void* shared = mmap(nullptr, sizeof(Journal), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return false;
    journal = static_cast<Journal*>(shared);
    journal_owner = ::getpid();
    clear_write_journal();
    return true;
}

void note_chip_write(const char* file, uint64_t offset, uint64_t length) {
    if (!journal || length == 0) return;
    for (uint64_t r = offset >> kJournalRegionShift; r <= (offset + length - 1) >> kJournalRegionShift; ++r)
        note_region(file, r);
}

bool written_regions(std::vector<WrittenRegion>* out) {
    out->clear();
    if (!journal) return true;
    const uint32_t count = journal->count.load();
    for (uint32_t i = 0; i < count; ++i) out->push_back({journal->entries[i].file, journal->entries[i].region});
    return journal->overflowed.load() == 0;
}

void clear_write_journal() {
    if (!journal) return;
    journal->count = 0;
    journal->overflowed = 0;
    last_file = nullptr;
    last_region = UINT64_MAX;
}

}  // namespace sim
