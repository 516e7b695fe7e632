#include "module/hw/nand/nand_ecc.h"

#include <bit>
#include <cstring>

namespace sim {

static_assert(std::endian::native == std::endian::little, "the chunk is read as little-endian 64-bit words");

namespace {

// Byte 2's six column-parity bits for the column XOR of the chunk.
uint8_t column_parities(uint8_t column) {
    uint8_t out = 0;
    for (unsigned j = 0; j < 3; ++j) {
        unsigned set = 0, clear = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            unsigned value = (column >> bit) & 1;
            if ((bit >> j) & 1)
                set ^= value;
            else
                clear ^= value;
        }
        out |= static_cast<uint8_t>(clear << (2 + 2 * j));
        out |= static_cast<uint8_t>(set << (3 + 2 * j));
    }
    return out;
}

uint32_t pack(const uint8_t ecc[3]) { return ecc[0] | ecc[1] << 8 | ecc[2] << 16; }

constexpr uint32_t kUsedBits = 0xFCFFFF;

int parity(uint64_t word) { return std::popcount(word) & 1; }

}  // namespace

// Eight bytes at a time: the XOR of all words gives the column byte and the
// parities of the byte positions within a word (index bits 0-2); XORs of the
// words whose number has bit j set give index bit 3 + j. A byte-index bit
// clear takes the whole chunk's parity less the set half.
void ecc_compute_chunk(const uint8_t* data, uint8_t ecc[3]) {
    constexpr unsigned kWords = kEccChunkBytes / 8;
    uint64_t level[kWords];
    std::memcpy(level, data, sizeof level);  // little-endian: byte p of a word is bits 8p..8p+7
    uint64_t set_by_word_bit[5];
    // Halving: at each step the odd entries are the words with the next bit set.
    unsigned count = kWords;
    for (unsigned j = 0; j < 5; ++j) {
        uint64_t odd = 0;
        for (unsigned n = 0; n < count / 2; ++n) {
            odd ^= level[2 * n + 1];
            level[n] = level[2 * n] ^ level[2 * n + 1];
        }
        set_by_word_bit[j] = odd;
        count /= 2;
    }
    uint64_t all = level[0];
    int total = parity(all);
    const uint64_t byte_position_set[3] = {0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
    uint32_t line = 0;
    for (unsigned i = 0; i < 8; ++i) {
        int set = i < 3 ? parity(all & byte_position_set[i]) : parity(set_by_word_bit[i - 3]);
        line |= static_cast<uint32_t>(set ^ total) << (2 * i);
        line |= static_cast<uint32_t>(set) << (2 * i + 1);
    }
    uint8_t column = 0;
    for (unsigned p = 0; p < 8; ++p) column ^= static_cast<uint8_t>(all >> (8 * p));
    ecc[0] = static_cast<uint8_t>(line);
    ecc[1] = static_cast<uint8_t>(line >> 8);
    ecc[2] = column_parities(column);
}

EccOutcome ecc_correct_chunk(uint8_t* data, const uint8_t stored[3]) {
    uint8_t computed[3];
    ecc_compute_chunk(data, computed);
    uint32_t syndrome = (pack(stored) ^ pack(computed)) & kUsedBits;
    if (syndrome == 0) return EccOutcome::Clean;
    int bits = std::popcount(syndrome);
    if (bits == 1) return EccOutcome::Corrected;
    if (bits != 11) return EccOutcome::Uncorrectable;
    // One data bit flipped: each of the 11 pairs has exactly one bit set, the
    // upper bit of each pair spelling out the byte index and bit number.
    unsigned index = 0, bit = 0;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned pair = (syndrome >> (2 * i)) & 3;
        if (pair == 0 || pair == 3) return EccOutcome::Uncorrectable;
        if (pair == 2) index |= 1u << i;
    }
    for (unsigned j = 0; j < 3; ++j) {
        unsigned pair = (syndrome >> (18 + 2 * j)) & 3;
        if (pair == 0 || pair == 3) return EccOutcome::Uncorrectable;
        if (pair == 2) bit |= 1u << j;
    }
    data[index] ^= static_cast<uint8_t>(1u << bit);
    return EccOutcome::Corrected;
}

void ecc_compute(const uint8_t* data, size_t length, uint8_t* ecc) {
    for (size_t chunk = 0; chunk < length / kEccChunkBytes; ++chunk)
        ecc_compute_chunk(data + chunk * kEccChunkBytes, ecc + chunk * kEccBytesPerChunk);
}

EccOutcome ecc_correct(uint8_t* data, size_t length, const uint8_t* stored) {
    EccOutcome worst = EccOutcome::Clean;
    for (size_t chunk = 0; chunk < length / kEccChunkBytes; ++chunk) {
        EccOutcome o = ecc_correct_chunk(data + chunk * kEccChunkBytes, stored + chunk * kEccBytesPerChunk);
        if (o == EccOutcome::Uncorrectable)
            worst = o;
        else if (o == EccOutcome::Corrected && worst == EccOutcome::Clean)
            worst = o;
    }
    return worst;
}

}  // namespace sim
