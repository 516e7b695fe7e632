// The controller's Hamming ECC: known values, every single-bit error found
// and repaired, two-bit errors and erased pages refused.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "module/hw/nand/nand_ecc.h"

namespace {

std::array<uint8_t, 256> chunk_of(uint8_t fill) {
    std::array<uint8_t, 256> c;
    c.fill(fill);
    return c;
}

struct KnownEcc {
    const char* name;
    int index;  // byte set to value (the rest 0x00), -1 for none
    uint8_t value;
    uint8_t fill;
    uint8_t ecc[3];
};

TEST(NandEcc, KnownValues) {
    // clang-format off
    const KnownEcc cases[] = {
        // name                       index value fill  ecc
        {"all 0xFF",                    -1, 0x00, 0xFF, {0x00, 0x00, 0x00}},
        {"all 0x00",                    -1, 0x00, 0x00, {0x00, 0x00, 0x00}},
        {"bit 0 of byte 0",              0, 0x01, 0x00, {0x55, 0x55, 0x54}},
        {"bit 7 of byte 255",          255, 0x80, 0x00, {0xAA, 0xAA, 0xA8}},
        {"bit 0 of byte 1",              1, 0x01, 0x00, {0x56, 0x55, 0x54}},
        {"two bits of byte 0 (even)",    0, 0x03, 0x00, {0x00, 0x00, 0x0C}},
    };
    // clang-format on
    for (const KnownEcc& c : cases) {
        auto data = chunk_of(c.fill);
        if (c.index >= 0) data[c.index] = c.value;
        uint8_t ecc[3];
        sim::ecc_compute_chunk(data.data(), ecc);
        EXPECT_EQ(ecc[0], c.ecc[0]) << c.name;
        EXPECT_EQ(ecc[1], c.ecc[1]) << c.name;
        EXPECT_EQ(ecc[2], c.ecc[2]) << c.name;
    }
}

TEST(NandEcc, EverySingleDataBitIsRepaired) {
    std::mt19937 random(20070312);  // fixed seed
    std::array<uint8_t, 256> original;
    for (uint8_t& b : original) b = static_cast<uint8_t>(random());
    uint8_t ecc[3];
    sim::ecc_compute_chunk(original.data(), ecc);
    for (int index = 0; index < 256; ++index) {
        for (int bit = 0; bit < 8; ++bit) {
            auto data = original;
            data[index] ^= static_cast<uint8_t>(1 << bit);
            ASSERT_EQ(sim::ecc_correct_chunk(data.data(), ecc), sim::EccOutcome::Corrected) << index << "." << bit;
            ASSERT_EQ(data, original) << "byte " << index << " bit " << bit;
        }
    }
}

TEST(NandEcc, AFlippedEccBitLeavesTheDataAlone) {
    auto original = chunk_of(0x5A);
    original[77] = 0x13;
    uint8_t ecc[3];
    sim::ecc_compute_chunk(original.data(), ecc);
    for (int bit = 0; bit < 24; ++bit) {
        if (bit == 16 || bit == 17) continue;  // unused bits of byte 2
        uint8_t damaged[3] = {ecc[0], ecc[1], ecc[2]};
        damaged[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
        auto data = original;
        EXPECT_EQ(sim::ecc_correct_chunk(data.data(), damaged), sim::EccOutcome::Corrected) << bit;
        EXPECT_EQ(data, original) << bit;
    }
}

TEST(NandEcc, TwoFlippedBitsAndErasedPagesAreUncorrectable) {
    auto original = chunk_of(0x00);
    original[3] = 0xC4;
    uint8_t ecc[3];
    sim::ecc_compute_chunk(original.data(), ecc);
    const int flips[][2] = {{0, 1}, {8 * 10 + 3, 8 * 200 + 3}, {8 * 255 + 7, 8 * 254 + 7}, {5, 8 * 128 + 5}};
    for (const auto& f : flips) {
        auto data = original;
        data[f[0] / 8] ^= static_cast<uint8_t>(1 << (f[0] % 8));
        data[f[1] / 8] ^= static_cast<uint8_t>(1 << (f[1] % 8));
        EXPECT_EQ(sim::ecc_correct_chunk(data.data(), ecc), sim::EccOutcome::Uncorrectable) << f[0] << "," << f[1];
    }
    // An erased page: data and ECC bytes all 0xFF.
    std::vector<uint8_t> page(2048, 0xFF), stored(24, 0xFF);
    EXPECT_EQ(sim::ecc_correct(page.data(), page.size(), stored.data()), sim::EccOutcome::Uncorrectable);
}

}  // namespace
