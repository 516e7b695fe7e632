// Page transfers, spare access and block erase, observed as command words on
// the bus and as bytes in the raw chip files.
#include <gtest/gtest.h>

#include "flash/nand/dfc_driver.h"
#include "tests/nand_system/nand_test_support.h"

using namespace nand_test;
using testing_support::BusRecorder;

namespace {

enum class Operation { Read, Program, Erase };

struct CommandCase {
    const char* profile;
    Operation operation;
    DWORD offset;
    DWORD length;
    std::array<uint32_t, 3> first;  // the first command's three words
};

TEST(NandCommands, CommandAndAddressWords) {
    const CommandCase cases[] = {
        // profile       operation           offset      length  command     address 1   address 2
        {"pxa300-f1ec", Operation::Program, 0x40000, 2048, {0x022C1080, 0x00800000, 0}},
        {"pxa320-d3ec", Operation::Read, 0x12345800, 2048, {0x000D3000, 0x468B0000, 0x2}},
        {"pxa320-75ec", Operation::Read, 0x8000, 1024, {0x00030000, 0x2000, 0}},
        {"pxa320-75ec", Operation::Read, 0x3C00, 512, {0x00030000, 0x1E00, 0}},
        {"pxa320-75ec", Operation::Erase, 0x10000, 0, {0x024AD060, 0x40, 0}},
        {"pxa320-76ec", Operation::Erase, 0x10000, 0, {0x024BD060, 0x40, 0}},
        {"pxa320-dcad", Operation::Read, 0x20000000, 2048, {0x010D3000, 0, 0}},
        {"pxa320-dcad", Operation::Erase, 0x20020000, 0, {0x034BD060, 0x40, 0}},
    };
    for (const CommandCase& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        std::vector<uint8_t> buffer(c.length ? c.length : 4, 0xA5);
        BusRecorder recorder(module->module());
        DWORD code = kNandTimeout;
        switch (c.operation) {
            case Operation::Read: code = NandReadPages(buffer.data(), c.offset, c.length); break;
            case Operation::Program: code = NandProgramPages(buffer.data(), c.offset, c.length); break;
            case Operation::Erase: code = NandEraseBlock(c.offset); break;
        }
        EXPECT_EQ(kNandDone, code) << c.profile << " at " << std::hex << c.offset;
        std::vector<std::array<uint32_t, 3>> commands = Commands(recorder);
        ASSERT_FALSE(commands.empty()) << c.profile;
        EXPECT_EQ(c.first, commands[0]) << c.profile << " at " << std::hex << c.offset;
    }
}

TEST(NandMakeAddress, FirstBlockAddressesAreNotHalved) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    DWORD word1 = 0, word2 = 0, chipSelect = 0;
    NandMakeAddress(0x4000, FALSE, FALSE, &word1, &word2, &chipSelect);
    EXPECT_EQ(0x2000u, word1);
    NandMakeAddress(0x4000, FALSE, TRUE, &word1, &word2, &chipSelect);
    EXPECT_EQ(0x1000u, word1);
    EXPECT_EQ(0u, chipSelect);
}

TEST(NandTransfers, ShortOrUnalignedRequestsAreRefusedBeforeTheController) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    uint8_t buffer[8] = {};
    const struct {
        DWORD offset;
        DWORD length;
    } cases[] = {{0x40000, 0}, {0x40000, 1}, {0x40000, 3}, {0x40002, 8}};
    for (const auto& c : cases) {
        BusRecorder recorder(module->module());
        EXPECT_EQ(kNandTimeout, NandProgramPages(buffer, c.offset, c.length)) << c.length;
        EXPECT_EQ(kNandTimeout, NandReadPages(buffer, c.offset, c.length)) << c.length;
        EXPECT_TRUE(recorder.accesses().empty()) << c.length;
    }
}

TEST(NandProgramPages, MidPageDataIsFramedByErasedBytes) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(8, 1);
    NandEnableEcc(TRUE);
    NandEnableSpare(TRUE);
    BusRecorder recorder(module->module());
    EXPECT_EQ(kNandDone, NandProgramPages(data.data(), 0x40100, 8));
    NandEnableEcc(FALSE);
    NandEnableSpare(FALSE);

    // One page: 2048 data bytes and 40 spare bytes through NDDB, one command.
    EXPECT_EQ((2048u + 40u) / 4, WritesTo(recorder, kControllerBase + 0x40).size());
    EXPECT_EQ(1u, Commands(recorder).size());
    RawChip chip = ReadChip(*module, 0);
    EXPECT_EQ(std::vector<uint8_t>(0x100, 0xFF), chip.main_range(0x40000, 0x100));
    EXPECT_EQ(data, chip.main_range(0x40100, 8));
    EXPECT_EQ(std::vector<uint8_t>(2048 - 0x108, 0xFF), chip.main_range(0x40108, 2048 - 0x108));
}

TEST(NandProgramPages, ExactPageAndMultiPageRunsRoundTrip) {
    const struct {
        const char* profile;
        DWORD offset;
        DWORD length;
        DWORD pages;
    } cases[] = {
        {"pxa300-f1ec", 0x40000, 2048, 1},
        {"pxa300-f1ec", 0x40800, 3 * 2048 + 12, 4},
        {"pxa320-d3ec", 0x12345800, 2 * 2048, 2},
        {"pxa320-75ec", 0x10000, 3 * 1024, 3},
    };
    for (const auto& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        std::vector<uint8_t> data = Pattern(c.length, c.offset);
        BusRecorder recorder(module->module());
        EXPECT_EQ(kNandDone, NandProgramPages(data.data(), c.offset, c.length)) << c.profile;
        EXPECT_EQ(c.pages, Commands(recorder).size()) << c.profile;
        std::vector<uint8_t> back(c.length, 0);
        EXPECT_EQ(kNandDone, NandReadPages(back.data(), c.offset, c.length)) << c.profile;
        EXPECT_EQ(data, back) << c.profile;
    }
}

TEST(NandDoubledBus, FirstBlockTransfersRunEightBitsWideOnTheLowLane) {
    for (const char* profile : {"pxa320-75ec", "pxa320-76ec"}) {
        auto module = OpenNand(profile, {"nand.os_builds_bbmt=false"});
        DWORD before = NandReadRegister(NDCR);
        ASSERT_NE(0u, before & 0x08000000u);
        std::vector<uint8_t> data = Pattern(0x200, 7);
        BusRecorder recorder(module->module());
        EXPECT_EQ(kNandDone, NandProgramPages(data.data(), 0x3C00, 0x200)) << profile;

        std::vector<uint32_t> control = WritesTo(recorder, kNdcrAddress);
        EXPECT_NE(control.end(),
                  std::find_if(control.begin(), control.end(), [](uint32_t v) { return (v & 0x08000000u) == 0; }))
            << "the transfer ran with the 8-bit bus";
        EXPECT_EQ(before, NandReadRegister(NDCR) & ~0x10000000u) << "16-bit bus restored";
        // 512 data bytes and no spare per page: one page, not halved.
        ASSERT_EQ(1u, Commands(recorder).size());
        EXPECT_EQ(0x1E00u, Commands(recorder)[0][1]);
        EXPECT_EQ(0x200u / 4, WritesTo(recorder, kControllerBase + 0x40).size());

        EXPECT_EQ(data, ReadChip(*module, 0).main_range(0x3C00, 0x200)) << profile;
        EXPECT_EQ(std::vector<uint8_t>(0x200, 0xFF), ReadChip(*module, 1).main_range(0x3C00, 0x200));
        std::vector<uint8_t> back(0x200);
        EXPECT_EQ(kNandDone, NandReadPages(back.data(), 0x3C00, 0x200));
        EXPECT_EQ(data, back);
    }
}

TEST(NandDoubledBus, EightBitTransfersStayInTheLowLaneChipsFirstBlock) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(0x4200, 3);
    const struct {
        DWORD offset;
        DWORD length;
    } refused[] = {{0x4000, 0x4200}, {0x4000, 0x200}, {0x3E00, 0x400}, {0x7E00, 0x400}};
    for (const auto& c : refused) {
        BusRecorder recorder(module->module());
        EXPECT_EQ(kNandTimeout, NandProgramPages(data.data(), c.offset, c.length)) << std::hex << c.offset;
        EXPECT_EQ(kNandTimeout, NandReadPages(data.data(), c.offset, c.length)) << std::hex << c.offset;
        EXPECT_TRUE(recorder.accesses().empty());
    }
    EXPECT_EQ(std::vector<uint8_t>(0x4000, 0xFF), ReadChip(*module, 0).main_range(0x4000, 0x4000));
}

TEST(NandDoubledBus, LaterBlocksInterleaveBothChipsAtHalfTheOffset) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(0x400, 11);
    EXPECT_EQ(kNandDone, NandProgramPages(data.data(), 0x8000, 0x400));
    std::vector<uint8_t> low = ReadChip(*module, 0).main_range(0x4000, 0x200);
    std::vector<uint8_t> high = ReadChip(*module, 1).main_range(0x4000, 0x200);
    for (size_t i = 0; i < data.size(); i++) {
        ASSERT_EQ(data[i], (i % 2 == 0 ? low : high)[i / 2]) << "byte " << i;
    }
}

TEST(NandChipSelects, TheSecondHalfOfTheTwoSelectPartIsChipOne) {
    auto module = OpenNand("pxa320-dcad", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(2048, 5);
    BusRecorder recorder(module->module());
    EXPECT_EQ(kNandDone, NandProgramPages(data.data(), 0x20000000, 2048));
    ASSERT_EQ(1u, Commands(recorder).size());
    EXPECT_EQ(0x032D1080u, Commands(recorder)[0][0]) << "program command with chip select 1";
    EXPECT_EQ(0u, Commands(recorder)[0][1]);
    EXPECT_EQ(data, ReadChip(*module, 1).main_range(0, 2048));
    EXPECT_EQ(std::vector<uint8_t>(2048, 0xFF), ReadChip(*module, 0).main_range(0, 2048));
}

TEST(NandSpare, WriteAndReadTheSpareBytesOfOnePage) {
    const struct {
        const char* profile;
        DWORD offset;
        uint64_t oobOffset;  // where the page's spare bytes lie in nand-0.oob
    } cases[] = {
        {"pxa300-f1ec", 0x40000, 128 * 64},
        {"pxa320-d3ec", 0x60800, 193 * 64},
    };
    for (const auto& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        std::vector<uint8_t> spare = Pattern(8, 9);
        EXPECT_EQ(kNandDone, NandWriteSpare(spare.data(), c.offset, 8));
        RawChip chip = ReadChip(*module, 0);
        EXPECT_EQ(spare, chip.oob_range(c.oobOffset, 8)) << c.profile;
        EXPECT_EQ(std::vector<uint8_t>(2048, 0xFF), chip.main_range(c.offset & ~2047u, 2048));
        std::vector<uint8_t> back(8, 0);
        EXPECT_EQ(kNandDone, NandReadSpare(back.data(), c.offset, 8));
        EXPECT_EQ(spare, back);
        EXPECT_EQ(0u, NandReadRegister(NDCR) & 0xC0000000u) << "spare and ECC off again";
    }
}

TEST(NandSpare, MoreBytesThanTheSpareAreaAreRefused) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> spare(128, 0);
    BusRecorder recorder(module->module());
    EXPECT_EQ(kNandTimeout, NandReadSpare(spare.data(), 0x40000, 68));
    EXPECT_EQ(kNandTimeout, NandWriteSpare(spare.data(), 0x40000, 68));
    EXPECT_TRUE(Commands(recorder).empty());
    EXPECT_EQ(0u, NandReadRegister(NDCR) & 0xC0000000u);
}

TEST(NandEraseBlock, ErasesTheWholeBlockHoldingTheOffset) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(4096, 2);
    ASSERT_EQ(kNandDone, NandProgramPages(data.data(), 0x5F000, 4096));
    ASSERT_EQ(kNandDone, NandProgramPages(data.data(), 0x60000, 4096));
    EXPECT_EQ(kNandDone, NandEraseBlock(0x5F800));
    RawChip chip = ReadChip(*module, 0);
    EXPECT_EQ(std::vector<uint8_t>(4096, 0xFF), chip.main_range(0x5F000, 4096));
    EXPECT_EQ(data, chip.main_range(0x60000, 4096)) << "the next block keeps its data";
}

}  // namespace
