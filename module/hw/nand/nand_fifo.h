// The NAND controller's data buffer (the FIFO behind NDDB): bytes go in at
// the tail and out at the head; it holds one command's transfer at most (a
// 2112-byte page on either bus width, and what an earlier command left).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sim {

class NandFifo {
public:
    static constexpr size_t kCapacity = 2 * 2112 + 8;

    size_t size() const { return tail_ - head_; }
    size_t room() const { return kCapacity - size(); }
    // The bytes held, oldest first.
    const uint8_t* data() const { return bytes_ + head_; }

    // Appends count bytes; count is at most room().
    void push(const uint8_t* in, size_t count) {
        if (!fits_at_tail(count)) compact();
        std::memcpy(bytes_ + tail_, in, count);
        tail_ += count;
    }
    // True when count bytes fit behind the tail as the bytes lie now.
    bool fits_at_tail(size_t count) const { return tail_ + count <= kCapacity; }
    // A bus word, low byte first; fits_at_tail(4) holds.
    void push_word(uint32_t word) {
        uint8_t* at = bytes_ + tail_;
        at[0] = static_cast<uint8_t>(word);
        at[1] = static_cast<uint8_t>(word >> 8);
        at[2] = static_cast<uint8_t>(word >> 16);
        at[3] = static_cast<uint8_t>(word >> 24);
        tail_ += 4;
    }
    // The next 4 bytes as a bus word, low byte first; size() is at least 4.
    uint32_t pop_word() {
        const uint8_t* at = bytes_ + head_;
        uint32_t word = at[0] | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
        drop(4);
        return word;
    }
    // Takes count bytes off the head; count is at most size().
    void drop(size_t count) {
        head_ += count;
        if (head_ == tail_) head_ = tail_ = 0;
    }
    void clear() { head_ = tail_ = 0; }

private:
    void compact() {
        std::memmove(bytes_, bytes_ + head_, size());
        tail_ -= head_;
        head_ = 0;
    }

    uint8_t bytes_[kCapacity];
    size_t head_ = 0;
    size_t tail_ = 0;
};

}  // namespace sim
