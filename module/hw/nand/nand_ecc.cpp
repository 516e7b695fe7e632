#include "module/hw/nand/nand_ecc.h"

#include <array>
#include <bit>

namespace sim {

namespace {

// For a byte index: the 16 line-parity bits its byte parity feeds.
constexpr std::array<uint16_t, 256> make_line_masks() {
    std::array<uint16_t, 256> masks{};
    for (unsigned index = 0; index < 256; ++index) {
        uint16_t mask = 0;
        for (unsigned i = 0; i < 8; ++i) mask |= static_cast<uint16_t>(1u << (2 * i + ((index >> i) & 1)));
        masks[index] = mask;
    }
    return masks;
}
constexpr std::array<uint16_t, 256> kLineMasks = make_line_masks();

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

}  // namespace

void ecc_compute_chunk(const uint8_t* data, uint8_t ecc[3]) {
    uint16_t line = 0;
    uint8_t column = 0;
    for (unsigned index = 0; index < kEccChunkBytes; ++index) {
        column ^= data[index];
        if (std::popcount(static_cast<unsigned>(data[index])) & 1) line ^= kLineMasks[index];
    }
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
