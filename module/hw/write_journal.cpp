#include "module/hw/write_journal.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace sim {

namespace {

constexpr size_t kEntries = 16384;  // 1 GiB of 64 KiB regions: more than any module holds
constexpr size_t kNameBytes = 40;

struct Entry {
    char file[kNameBytes];
    uint64_t region;
};

struct Journal {
    std::atomic<uint32_t> count;
    std::atomic<uint32_t> overflowed;
    std::atomic<uint32_t> clears;  // a clear by any process forgets what each one remembers
    Entry entries[kEntries];
};

Journal* journal = nullptr;
pid_t journal_owner = 0;  // the process that started it: its forks share it

// The regions noted last, per process and thread: writes that go back and
// forth between a few regions (a NAND page's main and spare files) are
// noted once. A forked child starts with nothing remembered.
constexpr size_t kRemembered = 4;
struct Remembered {
    const char* file;
    uint64_t region;
};
thread_local Remembered remembered[kRemembered];
thread_local size_t next_remembered = 0;
thread_local uint32_t remembered_clears = UINT32_MAX;
thread_local pid_t remembered_by = 0;

bool remembered_region(const char* file, uint64_t region) {
    const uint32_t clears = journal->clears.load();
    if (remembered_clears != clears || remembered_by != journal_owner) {
        for (Remembered& r : remembered) r = {nullptr, 0};
        remembered_clears = clears;
        remembered_by = journal_owner;
    }
    for (const Remembered& r : remembered)
        if (r.file == file && r.region == region) return true;
    return false;
}

void remember_region(const char* file, uint64_t region) {
    remembered[next_remembered] = {file, region};
    next_remembered = (next_remembered + 1) % kRemembered;
}

bool noted(const char* file, uint64_t region, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (journal->entries[i].region == region && std::strncmp(journal->entries[i].file, file, kNameBytes) == 0)
            return true;
    return false;
}

void note_region(const char* file, uint64_t region) {
    if (remembered_region(file, region)) return;
    uint32_t count = journal->count.load();
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
    remember_region(file, region);
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
    journal->clears.fetch_add(1);
}

}  // namespace sim
