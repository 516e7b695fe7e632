// A flash back-end in memory for the update tests: fills FlashOps, records
// every call, and lets a test fail or intercept single operations. Erasing
// goes through the shared block walk, so the progress hook is called as on
// the real back-ends; programming only clears bits, as on real flash.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace update_tests {

struct FlashCall {
    char op;  // 'E' block erase, 'W' WriteBuffer, 'R' ReadBuffer
    uint32_t offset;
    uint32_t length;
};

class FakeFlash {
public:
    // backend: 1 NOR, 2 NAND, as FlashBackend says.
    FakeFlash(uint32_t size, uint32_t block_size, uint32_t backend);
    ~FakeFlash();

    std::vector<uint8_t>& contents() { return contents_; }
    // NAND: the most programs any 2 KiB page took between two erases of its block.
    uint32_t most_programs_of_a_page() const { return most_programs_; }
    std::vector<FlashCall> calls() const;
    std::vector<FlashCall> calls_of(char op) const;
    // Bytes that the device does not store: a write skips them, a read
    // leaves the destination there untouched (the boot area's last page on
    // chips with 32 KiB blocks).
    void set_unstored(uint32_t from, uint32_t to) {
        unstored_from_ = from;
        unstored_to_ = to;
    }
    // Return false to make the operation fail; called before it acts.
    std::function<bool(const FlashCall&)> before_write;
    std::function<bool(const FlashCall&)> before_read;
    std::function<void(const FlashCall&)> before_erase;
    // Called after a successful read, with the destination, to corrupt it.
    std::function<void(uint8_t* destination, const FlashCall&)> after_read;

private:
    static FakeFlash* active_;
    static int EraseRange(uint32_t offset, uint32_t length);
    static int EraseBounds(uint32_t offset, uint32_t length, uint32_t* start, uint32_t* total);
    static int EraseBlock(uint32_t offset);
    static int WriteBuffer(const void* source, uint32_t offset, uint32_t length);
    static int ReadBuffer(void* destination, uint32_t offset, uint32_t length);
    static int WriteWord(uint32_t offset, uint32_t value);
    static uint32_t ReadWord(uint32_t offset);
    static uint32_t BlockSize(uint32_t offset);
    static uint32_t PageSize();
    bool stored(uint32_t offset) const { return offset < unstored_from_ || offset >= unstored_to_; }
    void record(char op, uint32_t offset, uint32_t length);

    std::vector<uint8_t> contents_;
    std::vector<uint32_t> page_programs_;
    uint32_t most_programs_ = 0;
    uint32_t block_size_;
    uint32_t unstored_from_ = 0;
    uint32_t unstored_to_ = 0;
    mutable std::mutex mutex_;
    std::vector<FlashCall> calls_;
};

}  // namespace update_tests
