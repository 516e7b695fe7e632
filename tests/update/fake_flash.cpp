#include "tests/update/fake_flash.h"

#include <algorithm>
#include <cstring>

#include "flash/flash_ops.h"
#include "tests/support/test_module.h"

namespace update_tests {

FakeFlash* FakeFlash::active_ = nullptr;

FakeFlash::FakeFlash(uint32_t size, uint32_t block_size, uint32_t backend)
    : contents_(size, 0xFF), page_programs_(size / 2048, 0), block_size_(block_size) {
    active_ = this;
    FlashOps.EraseRange = EraseRange;
    FlashOps.WriteWord = WriteWord;
    FlashOps.WriteBuffer = WriteBuffer;
    FlashOps.ReadWord = ReadWord;
    FlashOps.ReadBuffer = ReadBuffer;
    FlashOps.BlockSize = BlockSize;
    FlashOps.PageSize = PageSize;
    FlashOps.EraseBounds = EraseBounds;
    FlashBackend = backend;
    FlashDeviceSize = size;
    // Selection sees a back-end that is up and leaves the table alone.
    FlashInitialised = TRUE;
}

FakeFlash::~FakeFlash() {
    testing_support::reset_flash_state();
    active_ = nullptr;
}

void FakeFlash::record(char op, uint32_t offset, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({op, offset, length});
}

std::vector<FlashCall> FakeFlash::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<FlashCall> FakeFlash::calls_of(char op) const {
    std::vector<FlashCall> out;
    for (const FlashCall& c : calls())
        if (c.op == op) out.push_back(c);
    return out;
}

int FakeFlash::EraseBounds(uint32_t offset, uint32_t length, uint32_t* start, uint32_t* total) {
    uint32_t block = active_->block_size_;
    uint64_t covered = uint64_t(length) + offset % block;
    uint64_t whole = (covered + block - 1) / block * block;
    if (whole > 0xFFFFFFFFu) return FALSE;
    *start = offset - offset % block;
    *total = static_cast<uint32_t>(whole);
    return TRUE;
}

int FakeFlash::EraseRange(uint32_t offset, uint32_t length) {
    uint32_t start, total;
    if (!EraseBounds(offset, length, &start, &total)) return FALSE;
    return EraseBlocks(start, total, BlockSize, EraseBlock);
}

int FakeFlash::EraseBlock(uint32_t offset) {
    FakeFlash& f = *active_;
    FlashCall call{'E', offset, f.block_size_};
    if (f.before_erase) f.before_erase(call);
    f.record('E', offset, f.block_size_);
    std::memset(f.contents_.data() + offset, 0xFF, f.block_size_);
    std::fill_n(f.page_programs_.begin() + offset / 2048, f.block_size_ / 2048, 0);
    return TRUE;
}

int FakeFlash::WriteBuffer(const void* source, uint32_t offset, uint32_t length) {
    FakeFlash& f = *active_;
    FlashCall call{'W', offset, length};
    if (f.before_write && !f.before_write(call)) return FALSE;
    f.record('W', offset, length);
    if (uint64_t(offset) + length > f.contents_.size()) return FALSE;
    const uint8_t* bytes = static_cast<const uint8_t*>(source);
    for (uint32_t i = 0; i < length; ++i)
        if (f.stored(offset + i)) f.contents_[offset + i] &= bytes[i];
    if (FlashBackend == kFlashBackendNand && length != 0)
        for (uint32_t page = offset / 2048; page <= (offset + length - 1) / 2048; ++page)
            f.most_programs_ = std::max(f.most_programs_, ++f.page_programs_[page]);
    return TRUE;
}

int FakeFlash::ReadBuffer(void* destination, uint32_t offset, uint32_t length) {
    FakeFlash& f = *active_;
    FlashCall call{'R', offset, length};
    if (f.before_read && !f.before_read(call)) return FALSE;
    f.record('R', offset, length);
    if (uint64_t(offset) + length > f.contents_.size()) return FALSE;
    uint8_t* bytes = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < length; ++i)
        if (f.stored(offset + i)) bytes[i] = f.contents_[offset + i];
    if (f.after_read) f.after_read(bytes, call);
    return TRUE;
}

int FakeFlash::WriteWord(uint32_t offset, uint32_t value) { return WriteBuffer(&value, offset, 4); }

uint32_t FakeFlash::ReadWord(uint32_t offset) {
    uint32_t value = 0;
    ReadBuffer(&value, offset, 4);
    return value;
}

uint32_t FakeFlash::BlockSize(uint32_t) { return active_->block_size_; }
uint32_t FakeFlash::PageSize() { return 2048; }

}  // namespace update_tests
