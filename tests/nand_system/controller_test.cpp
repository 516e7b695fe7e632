// Identification, timing and control registers, command words and geometry
// of the NAND controller driver, observed on the bus and in the registers.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_remap.h"
#include "tests/nand_system/nand_test_support.h"

using namespace nand_test;
using testing_support::BusRecorder;

namespace {

struct ChipCase {
    const char* profile;
    DWORD type;
    DWORD pageSize;
    DWORD blockSize;
    DWORD blocks;
    DWORD reserve;
    DWORD deviceSize;
    DWORD clock;
    DWORD control;  // NDCR as composed for the row
    DWORD timing0;  // NDTR0CS0 for the row
    DWORD timing1;  // NDTR1CS0 for the row
};

const ChipCase kChips[] = {
    // profile        type page  block    blocks reserve size        MHz  NDCR        NDTR0CS0  NDTR1CS0
    {"pxa320-75ec", 1, 1024, 0x8000, 2048, 40, 0x3EC0000, 104, 0x080A1FFF, 0x80B0B, 0x06240061},
    {"pxa320-76ec", 2, 1024, 0x8000, 4096, 81, 0x7D78000, 104, 0x080C1FFF, 0x80B0B, 0x06240061},
    {"pxa320-d3ec", 3, 2048, 0x20000, 8192, 163, 0x3EBA0000, 104, 0x018DDFFF, 0x2090A, 0x082C0061},
    {"pxa300-f1ec", 4, 2048, 0x20000, 1024, 20, 0x7D80000, 156, 0x010DDFFF, 0x3090B, 0x0F4E0091},
    {"pxa320-dcad", 5, 2048, 0x20000, 8192, 163, 0x3EBA0000, 104, 0x010CDFFF, 0x2090A, 0x0A340061},
};

class ChipIdentification : public ::testing::TestWithParam<ChipCase> {};

TEST_P(ChipIdentification, FullConfigurationProgramsRowZeroThenTheIdentifiedRow) {
    const ChipCase& c = GetParam();
    ResetSystemState();
    testing_support::TestModule module(c.profile, {"nand.os_builds_bbmt=false"});
    BusRecorder recorder(module.module());
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());

    EXPECT_EQ(c.type, NandChipType);
    EXPECT_EQ(c.clock, NandClockMHz);
    EXPECT_EQ(c.pageSize, NandPageSize());
    EXPECT_EQ(c.blockSize, NandBlockSize());
    EXPECT_EQ(c.blocks, NandBlockCount());
    EXPECT_EQ(c.reserve, ReserveBlockCount);
    EXPECT_EQ(c.deviceSize, FlashDeviceSize);

    // Row 0 first (100 ns for every short timing), the chip's row last.
    std::vector<uint32_t> timing0 = WritesTo(recorder, kNdtr0Address);
    std::vector<uint32_t> timing1 = WritesTo(recorder, kNdtr1Address);
    ASSERT_EQ(2u, timing0.size());
    ASSERT_EQ(2u, timing1.size());
    EXPECT_EQ(0x3F3F3Fu, timing0[0]);
    EXPECT_EQ(0x081F00AAu, timing1[0]);
    EXPECT_EQ(c.timing0, timing0[1]);
    EXPECT_EQ(c.timing1, timing1[1]);

    std::vector<uint32_t> control = WritesTo(recorder, kNdcrAddress);
    ASSERT_FALSE(control.empty());
    EXPECT_EQ(0x080A1FFFu, control[0]);
    EXPECT_NE(control.end(), std::find(control.begin(), control.end(), c.control));
    // The controller clears ND_RUN when a command is done; ECC and spare are off.
    EXPECT_EQ(c.control, NandReadRegister(NDCR));

    // Reset, then read ID, with the row 0 command words.
    std::vector<std::array<uint32_t, 3>> commands = Commands(recorder);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ((std::array<uint32_t, 3>{0x00A000FF, 0, 0}), commands[0]);
    EXPECT_EQ((std::array<uint32_t, 3>{0x00610090, 0, 0}), commands[1]);
}

TEST_P(ChipIdentification, AMapAlreadyBuiltMeansIdentificationOnly) {
    const ChipCase& c = GetParam();
    ResetSystemState();
    testing_support::TestModule module(c.profile, {"nand.os_builds_bbmt=true"});
    // The running system's driver built the map and left the controller
    // configured for its chip.
    module.module().bus().write32(kNdcrAddress, c.control);
    BusRecorder recorder(module.module());
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());

    EXPECT_EQ(c.type, NandChipType);
    EXPECT_EQ(c.deviceSize, FlashDeviceSize);
    EXPECT_TRUE(WritesTo(recorder, kNdtr0Address).empty());
    EXPECT_TRUE(WritesTo(recorder, kNdtr1Address).empty());
    // Two identifications and nothing else: no reset, no table page read.
    std::vector<std::array<uint32_t, 3>> commands = Commands(recorder);
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ(0x00610090u, commands[0][0]);
    EXPECT_EQ(0x00610090u, commands[1][0]);
}

INSTANTIATE_TEST_SUITE_P(FiveParts, ChipIdentification, ::testing::ValuesIn(kChips),
                         [](const ::testing::TestParamInfo<ChipCase>& info) {
                             std::string name = info.param.profile;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

struct SpareCase {
    const char* profile;
    BOOL spare;
    BOOL ecc;
    DWORD size;
};

TEST(NandSpareSize, FollowsTheSwitchesThePageSizeAndTheBus) {
    // clang-format off
    const SpareCase cases[] = {
        // profile       spare  ecc    size
        {"pxa320-75ec", TRUE, TRUE, 16},  {"pxa320-75ec", TRUE, FALSE, 32},
        {"pxa320-76ec", TRUE, TRUE, 16},  {"pxa320-76ec", TRUE, FALSE, 32},
        {"pxa320-d3ec", TRUE, TRUE, 40},  {"pxa320-d3ec", TRUE, FALSE, 64},
        {"pxa300-f1ec", TRUE, TRUE, 40},  {"pxa300-f1ec", TRUE, FALSE, 64},
        {"pxa320-dcad", TRUE, TRUE, 40},  {"pxa320-dcad", FALSE, TRUE, 0},
        {"pxa320-75ec", FALSE, FALSE, 0},
    };
    // clang-format on
    for (const SpareCase& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        NandEnableEcc(c.ecc);
        NandEnableSpare(c.spare);
        EXPECT_EQ(c.size, NandSpareSize()) << c.profile << " spare " << c.spare << " ecc " << c.ecc;
        DWORD control = NandReadRegister(NDCR);
        EXPECT_EQ(c.spare != 0, (control & 0x80000000u) != 0) << c.profile;
        EXPECT_EQ(c.ecc != 0, (control & 0x40000000u) != 0) << c.profile;
        if (c.ecc) {
            EXPECT_NE(0u, control & 0x00080000u) << "bit 19 goes with ECC";
        }
        NandEnableEcc(FALSE);
        NandEnableSpare(FALSE);
    }
}

TEST(NandInitController, TimingsAfterTheLargePageSmallChipUse156MHz) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    ASSERT_EQ(156u, NandClockMHz);
    BusRecorder recorder(module->module());
    NandSetTimings();
    EXPECT_EQ((std::vector<uint32_t>{0x3090B}), WritesTo(recorder, kNdtr0Address));
    EXPECT_EQ((std::vector<uint32_t>{0x0F4E0091}), WritesTo(recorder, kNdtr1Address));
}

TEST(NandReadId, TheFirstDataWordCarriesMakerAndDevice) {
    const struct {
        const char* profile;
        DWORD id;
    } cases[] = {
        {"pxa320-75ec", 0x75EC}, {"pxa320-76ec", 0x76EC}, {"pxa320-d3ec", 0xD3EC},
        {"pxa300-f1ec", 0xF1EC}, {"pxa320-dcad", 0xDCAD},
    };
    for (const auto& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        DWORD id = 0;
        EXPECT_EQ(kNandDone, NandReadId(&id)) << c.profile;
        EXPECT_EQ(c.id, id & 0xFFFF) << c.profile;
        EXPECT_TRUE(NandReadIdValid(&id));
    }
}

}  // namespace
