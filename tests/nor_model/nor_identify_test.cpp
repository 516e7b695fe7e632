// Read Identifier and CFI Query as the 32-bit bus sees the pair: one value
// per chip, one in each half.
#include <gtest/gtest.h>

#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::NorBus;
using testing_support::TestModule;

struct IdentifierCase {
    const char* name;
    const char* profile;
    std::vector<std::string> overrides;
    uint32_t manufacturer;  // offset 0
    uint32_t device;        // offset 4
};

void PrintTo(const IdentifierCase& c, std::ostream* out) { *out << c.name; }

class IdentifierTest : public testing::TestWithParam<IdentifierCase> {};

TEST_P(IdentifierTest, ManufacturerAndDeviceWords) {
    const IdentifierCase& c = GetParam();
    TestModule module(c.profile, c.overrides);
    NorBus nor(module);
    nor.Command(0, 0x90);
    EXPECT_EQ(c.manufacturer, nor.Read(0));
    EXPECT_EQ(c.device, nor.Read(4));
}

INSTANTIATE_TEST_SUITE_P(
    Parts, IdentifierTest,
    // clang-format off
    testing::Values(
        IdentifierCase{"j3_128", "pxa270", {"nor.query_size=18"}, 0x00890089, 0x00180018},
        IdentifierCase{"j3_256", "pxa270", {"nor.device_code=0x001D", "nor.query_size=18"}, 0x00890089, 0x001D001D},
        IdentifierCase{"p30_256", "pxa270-p30", {"nor.query_size=19"}, 0x00890089, 0x891C891C},
        IdentifierCase{"p30_128", "pxa270-p30", {"nor.device_code=0x881B", "nor.query_size=19"}, 0x00890089, 0x881B881B},
        IdentifierCase{"k3", "pxa270", {"nor.device_code=0x8802", "nor.query_size=18"}, 0x00890089, 0x88028802},
        IdentifierCase{"unknown_code", "pxa270", {"nor.device_code=0x0099", "nor.query_size=18"}, 0x00890089, 0x00990099},
        IdentifierCase{"other_maker", "pxa270", {"nor.manufacturer=0x00B0", "nor.query_size=18"}, 0x00B000B0, 0x00180018},
        IdentifierCase{"chips_disagree", "pxa270", {"nor.chip1.manufacturer=0x0001", "nor.query_size=18"}, 0x00010089, 0x00180018}),
    // clang-format on
    [](const testing::TestParamInfo<IdentifierCase>& info) { return std::string(info.param.name); });

struct QueryWord {
    uint32_t address;  // chip query address; the bus offset is 4 * address
    uint16_t value;
};

struct QueryCase {
    const char* name;
    const char* profile;
    std::vector<std::string> overrides;
    std::vector<QueryWord> words;
};

void PrintTo(const QueryCase& c, std::ostream* out) { *out << c.name; }

class QueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, QueryFieldsInBothHalves) {
    const QueryCase& c = GetParam();
    TestModule module(c.profile, c.overrides);
    NorBus nor(module);
    nor.Command(0, 0x98);
    for (const QueryWord& w : c.words)
        EXPECT_EQ(nor_test::Doubled(w.value), nor.Read(4 * w.address)) << std::hex << "query address 0x" << w.address;
}

// The values of the parts' query tables (128 Mbit chips: J3 28F128J3, P30 28F128P30B).
INSTANTIATE_TEST_SUITE_P(
    Parts, QueryTest,
    // clang-format off
    testing::Values(
        QueryCase{"j3_128mbit",
                  "pxa270",
                  {},
                  {{0x10, 'Q'}, {0x11, 'R'}, {0x12, 'Y'}, {0x13, 0x01}, {0x14, 0x00}, {0x15, 0x31}, {0x16, 0x00},
                   {0x1B, 0x27}, {0x1C, 0x36}, {0x1D, 0x00}, {0x1E, 0x00}, {0x1F, 0x08}, {0x20, 0x08}, {0x21, 0x0A},
                   {0x22, 0x00}, {0x23, 0x04}, {0x24, 0x04}, {0x25, 0x04}, {0x26, 0x00}, {0x27, 0x18}, {0x28, 0x02},
                   {0x29, 0x00}, {0x2A, 0x05}, {0x2B, 0x00}, {0x2C, 0x01}, {0x2D, 0x7F}, {0x2E, 0x00}, {0x2F, 0x00},
                   {0x30, 0x02}, {0x31, 'P'}, {0x32, 'R'}, {0x33, 'I'}, {0x34, '1'}, {0x36, 0x0A}, {0x37, 0x00},
                   {0x3B, 0x01}, {0x3C, 0x00}}},
        QueryCase{"p30_128mbit_bottom",
                  "pxa270-p30",
                  {"nor.device_code=0x881B", "nor.query_size=24"},
                  {{0x10, 'Q'}, {0x11, 'R'}, {0x12, 'Y'}, {0x13, 0x01}, {0x15, 0x0A}, {0x16, 0x01}, {0x1B, 0x17},
                   {0x1C, 0x20}, {0x1D, 0x85}, {0x1E, 0x95}, {0x1F, 0x08}, {0x20, 0x09}, {0x21, 0x0A}, {0x22, 0x00},
                   {0x23, 0x01}, {0x24, 0x01}, {0x25, 0x02}, {0x26, 0x00}, {0x27, 0x18}, {0x28, 0x01}, {0x2A, 0x06},
                   {0x2C, 0x02}, {0x2D, 0x03}, {0x2E, 0x00}, {0x2F, 0x80}, {0x30, 0x00}, {0x31, 0x7E}, {0x32, 0x00},
                   {0x33, 0x00}, {0x34, 0x02}, {0x10A, 'P'}, {0x10B, 'R'}, {0x10C, 'I'}, {0x10D, '1'}, {0x10E, '4'},
                   {0x10F, 0xE6}, {0x110, 0x01}, {0x114, 0x03}, {0x115, 0x00}}},
        // The 256 Mbit J3 and the small test chips: only the size fields move.
        QueryCase{"j3_256mbit", "pxa270", {"nor.device_code=0x001D", "nor.query_size=25"}, {{0x27, 0x19}, {0x2D, 0xFF}, {0x2E, 0x00}}},
        QueryCase{"j3_512kbyte", "pxa270", {"nor.query_size=19"}, {{0x27, 0x13}, {0x2D, 0x03}, {0x2E, 0x00}}},
        QueryCase{"p30_256mbit", "pxa270-p30", {}, {{0x27, 0x19}, {0x2C, 0x02}, {0x31, 0xFE}, {0x32, 0x00}}}),
    // clang-format on
    [](const testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST(NorIdentify, QuerySizeAtOffset0x9CFollowsTheProfile) {
    for (uint32_t n : {18u, 19u, 21u}) {
        TestModule module("pxa270", {"nor.query_size=" + std::to_string(n)});
        NorBus nor(module);
        nor.Command(0, 0x98);
        EXPECT_EQ(nor_test::Doubled(static_cast<uint16_t>(n)), nor.Read(0x9C)) << "n=" << n;
        EXPECT_EQ(2u << n, nor.pair().device_size());
    }
}

TEST(NorIdentify, ReadModesShowTheirDataUntilReadArray) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    ASSERT_EQ(nor_test::kReady, nor.ProgramWord(0x100, 0x12345678));
    struct {
        uint16_t command;
        uint32_t at_0x100;  // chip word 0x40: outside the identifier words and the query table
        uint32_t at_0x40;   // chip word 0x10: 'Q' in the query table
    } const modes[] = {
        {0x90, 0x00000000, 0x00000000},
        {0x98, 0x00000000, 0x00510051},
        {0x70, 0x00800080, 0x00800080},
    };
    for (const auto& m : modes) {
        nor.Command(0, m.command);
        EXPECT_EQ(m.at_0x100, nor.Read(0x100)) << std::hex << "mode 0x" << m.command;
        EXPECT_EQ(m.at_0x40, nor.Read(0x40)) << std::hex << "mode 0x" << m.command;
        nor.Command(0, 0xFF);
        EXPECT_EQ(0x12345678u, nor.Read(0x100)) << std::hex << "after mode 0x" << m.command;
        EXPECT_EQ(0xFFFFFFFFu, nor.Read(0x40)) << std::hex << "after mode 0x" << m.command;
    }
}

TEST(NorIdentify, EachChipTakesItsOwnHalf) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    ASSERT_EQ(nor_test::kReady, nor.ProgramWord(0x200, 0xABCD1234));
    nor.Command(0x200, 0xFF);
    // Low chip to Read Identifier, high chip to Read Array.
    nor.Write(0, 0x00FF0090);
    EXPECT_EQ(0xFFFF0089u, nor.Read(0));
    EXPECT_EQ(0xFFFF0018u, nor.Read(4));
    EXPECT_EQ(0xABCD0000u, nor.Read(0x200));
}

TEST(NorIdentify, IdentifierRepeatsInEveryBlockWithItsLockBits) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x40000, 0xC0000]"});
    NorBus nor(module);
    nor.Command(0, 0x90);
    const uint32_t expected[] = {0, 0x00010001, 0, 0x00010001};
    for (uint32_t block = 0; block < 4; ++block) {
        uint32_t base = block * 0x40000;
        EXPECT_EQ(0x00890089u, nor.Read(base)) << "block " << block;
        EXPECT_EQ(0x00180018u, nor.Read(base + 4)) << "block " << block;
        EXPECT_EQ(expected[block], nor.Read(base + 8)) << "block " << block;
        EXPECT_EQ(0u, nor.Read(base + 12)) << "block " << block;
    }
}

TEST(NorIdentify, P30BlocksAreAllLockedAtPowerUp) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    NorBus nor(module);
    // Four 64 KiB parameter blocks, then 256 KiB blocks up to 1 MiB.
    for (uint32_t offset : {0x0u, 0x10000u, 0x20000u, 0x30000u, 0x40000u, 0x80000u, 0xC0000u})
        EXPECT_EQ(0x00010001u, nor.LockWord(offset)) << std::hex << "block 0x" << offset;
}

}  // namespace
