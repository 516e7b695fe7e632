// What a program or erase leaves in its cells when the power goes part-way
// through it: a seeded, repeatable mix of old and new bits. A program only
// clears bits and an erase only sets them; of the bits the operation would
// change, each has changed with the probability `done` (the share of its busy
// time that had passed). Part-way means part-way: with 0 < done < 1 at least
// one bit the operation would change has changed and at least one has not
// (when there are two such bits); done 0 changes nothing.
#pragma once
#include <cstdint>
#include <span>

namespace sim {

// A program of data cut short: cells become a mix of cells and cells & data.
void cut_program(std::span<uint8_t> cells, std::span<const uint8_t> data, double done, uint64_t seed);
// An erase cut short: some of the cells' 0 bits have become 1.
void cut_erase(std::span<uint8_t> cells, double done, uint64_t seed);

// The next number of a splitmix64 sequence kept in state.
uint64_t next_seeded(uint64_t& state);
// The splitmix64 number that follows x: a well-mixed 64-bit value from each
// input, for seeded draws that need no sequence of their own.
inline uint64_t seeded_mix(uint64_t x) { return next_seeded(x); }

}  // namespace sim
