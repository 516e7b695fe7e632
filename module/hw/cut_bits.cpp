#include "module/hw/cut_bits.h"

#include <cmath>

namespace sim {

uint64_t next_seeded(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

namespace {

struct BitAt {
    size_t byte;
    uint8_t mask;
};

// Flips each bit of change(i) in cells[i] with probability done, one seeded
// byte of chance per bit; then keeps the part-way promise.
template <class Change>
void mix(std::span<uint8_t> cells, Change change, double done, uint64_t seed) {
    if (done <= 0) return;
    const unsigned threshold = done >= 1 ? 256u : static_cast<unsigned>(std::lround(done * 256));
    uint64_t state = seed;
    size_t candidates = 0, changed = 0;
    BitAt first_kept{0, 0}, last_changed{0, 0};
    for (size_t i = 0; i < cells.size(); ++i) {
        uint8_t bits = change(i);
        if (!bits) continue;
        uint64_t chance = next_seeded(state);
        for (unsigned b = 0; b < 8; ++b) {
            uint8_t mask = static_cast<uint8_t>(1u << b);
            if (!(bits & mask)) continue;
            ++candidates;
            if (((chance >> (8 * b)) & 0xFF) < threshold) {
                cells[i] ^= mask;
                ++changed;
                last_changed = {i, mask};
            } else if (!first_kept.mask) {
                first_kept = {i, mask};
            }
        }
    }
    if (candidates < 2 || done >= 1) return;
    if (changed == 0) {
        cells[first_kept.byte] ^= first_kept.mask;
    } else if (changed == candidates) {
        cells[last_changed.byte] ^= last_changed.mask;
    }
}

}  // namespace

void cut_program(std::span<uint8_t> cells, std::span<const uint8_t> data, double done, uint64_t seed) {
    mix(
        cells, [&](size_t i) { return static_cast<uint8_t>(cells[i] & ~data[i]); }, done, seed);
}

void cut_erase(std::span<uint8_t> cells, double done, uint64_t seed) {
    mix(
        cells, [&](size_t i) { return static_cast<uint8_t>(~cells[i]); }, done, seed);
}

}  // namespace sim
