// The NAND controller's Hamming ECC: 3 bytes for each 256 bytes of page data,
// 22 parity bits that locate any single flipped data bit. The parities are
// stored as computed (not inverted), so the ECC of all-0xFF data is 0 and an
// erased page, whose ECC bytes read 0xFF, never checks clean.
//
// Layout of the 3 bytes of one 256-byte chunk:
//   byte 0, bits 2i / 2i+1 (i = 0..3): parity of the bytes whose index has
//     bit i clear / set;
//   byte 1: the same for index bits 4..7;
//   byte 2, bits 2+2j / 3+2j (j = 0..2): parity of the bit positions whose
//     number has bit j clear / set, over all bytes; bits 0 and 1 are 0.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {

constexpr size_t kEccChunkBytes = 256;
constexpr size_t kEccBytesPerChunk = 3;

enum class EccOutcome { Clean, Corrected, Uncorrectable };

void ecc_compute_chunk(const uint8_t* data, uint8_t ecc[3]);
// Checks a chunk against its stored ECC and repairs a single flipped data bit
// in place. A single flipped ECC bit counts as corrected (the data is right).
EccOutcome ecc_correct_chunk(uint8_t* data, const uint8_t stored[3]);

// A whole page's data (a multiple of 256 bytes): ECC bytes for every chunk in
// order, 3 per chunk.
void ecc_compute(const uint8_t* data, size_t length, uint8_t* ecc);
EccOutcome ecc_correct(uint8_t* data, size_t length, const uint8_t* stored);

}  // namespace sim
