// The NAND column of FlashOps: the boot-area layout, ranges, odd lengths and
// the data as it lands in the raw chip files.
#include <gtest/gtest.h>

#include <bit>

#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"
#include "tests/nand_system/nand_test_support.h"

using namespace nand_test;
using testing_support::BusRecorder;

namespace {

std::vector<uint8_t> Concat(const std::vector<uint8_t>& a, size_t aFrom, size_t aLength, const std::vector<uint8_t>& b,
                            size_t bFrom, size_t bLength) {
    std::vector<uint8_t> out(a.begin() + aFrom, a.begin() + aFrom + aLength);
    out.insert(out.end(), b.begin() + bFrom, b.begin() + bFrom + bLength);
    return out;
}

TEST(NandBootArea, LargeBlocksShiftTheSecondRangePastTheTablePage) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> table = ReadChip(*module, 0).main_range(0x1F800, 2048);
    ASSERT_EQ(0x4E, table[0]);
    ASSERT_EQ(0x52, table[1]);

    std::vector<uint8_t> first = Pattern(0x20000, 21);
    std::vector<uint8_t> second = Pattern(0x1F800, 22);
    EXPECT_TRUE(NandWriteBuffer(first.data(), 0, 0x20000));
    EXPECT_TRUE(NandWriteBuffer(second.data(), 0x20000, 0x1F800));

    RawChip chip = ReadChip(*module, 0);
    EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.begin() + 0x1F800), chip.main_range(0, 0x1F800));
    EXPECT_EQ(table, chip.main_range(0x1F800, 2048)) << "the table page is never programmed";
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 0x1F800, first.end()), chip.main_range(0x20000, 0x800));
    EXPECT_EQ(second, chip.main_range(0x20800, 0x1F800));

    std::vector<uint8_t> back(0x3F800, 0);
    EXPECT_TRUE(NandReadBuffer(back.data(), 0, 0x3F800));
    EXPECT_EQ(Concat(first, 0, 0x20000, second, 0, 0x1F800), back);
}

TEST(NandBootArea, SmallBlocksKeepTheFirstRangeOnTheLowLaneChip) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> table = ReadChip(*module, 0).main_range(0x3E00, 512);
    ASSERT_EQ(0x4E, table[0]);

    // What the staging leaves: data below the table page, erased bytes after.
    std::vector<uint8_t> area(0x8000, 0xFF);
    std::vector<uint8_t> data = Pattern(0x3E00, 31);
    std::copy(data.begin(), data.end(), area.begin());
    EXPECT_TRUE(NandWriteBuffer(area.data(), 0, 0x8000));

    RawChip low = ReadChip(*module, 0);
    EXPECT_EQ(data, low.main_range(0, 0x3E00));
    EXPECT_EQ(table, low.main_range(0x3E00, 512));
    EXPECT_EQ(std::vector<uint8_t>(0x4000, 0xFF), low.main_range(0x4000, 0x4000));
    EXPECT_EQ(std::vector<uint8_t>(0x4000, 0xFF), ReadChip(*module, 1).main_range(0, 0x4000));

    // Bytes that are not stored are not claimed by a read.
    std::vector<uint8_t> back(0x8000, 0xCD);
    EXPECT_TRUE(NandReadBuffer(back.data(), 0, 0x8000));
    EXPECT_EQ(data, std::vector<uint8_t>(back.begin(), back.begin() + 0x3E00));
    EXPECT_EQ(std::vector<uint8_t>(0x4200, 0xCD), std::vector<uint8_t>(back.begin() + 0x3E00, back.end()));
}

TEST(NandBootArea, DoubledBusSecondRangeDataIsRefusedNotOverlaid) {
    auto module = OpenNand("pxa320-76ec", {"nand.os_builds_bbmt=false"});
    // Logical block 1 holds data on both lanes of physical block 1.
    std::vector<uint8_t> block1 = Pattern(0x8000, 41);
    ASSERT_TRUE(NandWriteBuffer(block1.data(), 0x8000, 0x8000));

    // Boot-area bytes for the second range would land on the low lane of the
    // same physical block: refused, and that block keeps its data.
    std::vector<uint8_t> area = Pattern(0x8000, 42);
    EXPECT_FALSE(NandWriteBuffer(area.data(), 0, 0x8000));
    EXPECT_FALSE(NandWriteBuffer(area.data() + 0x3E00, 0x3E00, 0x200));
    std::vector<uint8_t> low = ReadChip(*module, 0).main_range(0x4000, 0x4000);
    std::vector<uint8_t> high = ReadChip(*module, 1).main_range(0x4000, 0x4000);
    for (size_t i = 0; i < block1.size(); i++) {
        ASSERT_EQ(block1[i], (i % 2 == 0 ? low : high)[i / 2]) << "byte " << i;
    }
    std::vector<uint8_t> back(0x8000, 0);
    EXPECT_TRUE(NandReadBuffer(back.data(), 0x8000, 0x8000));
    EXPECT_EQ(block1, back);
}

TEST(NandBootArea, DoubledBusStagingWriteBackReadsBackEqual) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    // The staging buffer's first two blocks: a first stage below the table
    // page, nothing more in block 0, a second stage in logical block 1.
    std::vector<uint8_t> staged(0x10000, 0xFF);
    std::vector<uint8_t> firstStage = Pattern(0x3000, 51);
    std::vector<uint8_t> secondStage = Pattern(0x8000, 52);
    std::copy(firstStage.begin(), firstStage.end(), staged.begin());
    std::copy(secondStage.begin(), secondStage.end(), staged.begin() + 0x8000);

    EXPECT_TRUE(NandWriteBuffer(staged.data(), 0, 0x8000));
    EXPECT_TRUE(NandWriteBuffer(staged.data() + 0x8000, 0x8000, 0x8000));
    for (DWORD offset = 0; offset < 0x10000; offset += 0x8000) {
        std::vector<uint8_t> back(staged.begin() + offset, staged.begin() + offset + 0x8000);
        EXPECT_TRUE(NandReadBuffer(back.data(), offset, 0x8000));
        EXPECT_EQ(std::vector<uint8_t>(staged.begin() + offset, staged.begin() + offset + 0x8000), back)
            << "piece at " << std::hex << offset;
    }
    // Each physical byte was programmed by one view only.
    RawChip low = ReadChip(*module, 0);
    EXPECT_EQ(firstStage, low.main_range(0, 0x3000));
    std::vector<uint8_t> lowLane = low.main_range(0x4000, 0x4000);
    for (size_t i = 0; i < secondStage.size(); i += 2) {
        ASSERT_EQ(secondStage[i], lowLane[i / 2]) << "byte " << i;
    }
}

TEST(NandBootArea, TheLastPageIsNotStoredAndAPieceStartingThereFails) {
    const struct {
        const char* profile;
        DWORD lastPage;
        DWORD pageSize;
        DWORD unstoredFrom;  // what the back-end reports it does not store, to 0x8000 or 0x40000
    } cases[] = {{"pxa320-75ec", 0x7C00, 0x400, 0x3E00}, {"pxa300-f1ec", 0x3F800, 0x800, 0x3F800}};
    for (const auto& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        DWORD from = 0, to = 0;
        EXPECT_TRUE(FlashOps.UnstoredRange(&from, &to));
        EXPECT_EQ(c.unstoredFrom, from) << c.profile;
        EXPECT_EQ(c.lastPage + c.pageSize, to) << c.profile;
        std::vector<uint8_t> bytes(16, 0x11);
        EXPECT_FALSE(NandWriteBuffer(bytes.data(), c.lastPage, 16)) << c.profile;
        EXPECT_FALSE(NandReadBuffer(bytes.data(), c.lastPage + 4, 8)) << c.profile;
        std::vector<uint8_t> guard(c.pageSize + 8, 0xEE);
        EXPECT_TRUE(NandReadBuffer(guard.data(), c.lastPage - 8, c.pageSize + 8)) << c.profile;
        EXPECT_EQ(std::vector<uint8_t>(c.pageSize, 0xEE), std::vector<uint8_t>(guard.begin() + 8, guard.end()));
    }
}

TEST(NandRawAccess, ReachesTheTablePageItself) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> page(2048, 0);
    RawAccess = TRUE;
    BOOL read = NandReadBuffer(page.data(), 0x1F800, 2048);
    RawAccess = FALSE;
    EXPECT_TRUE(read);
    EXPECT_EQ(ReadChip(*module, 0).main_range(0x1F800, 2048), page);
    EXPECT_EQ(0x4E, page[0]);
    EXPECT_EQ(0x52, page[1]);
}

struct PlacementCase {
    const char* profile;
    DWORD offset;
    DWORD length;
};

// Where a device byte lies in the chip files: chip and byte address.
std::pair<unsigned, uint64_t> Place(const std::string& profile, uint64_t device) {
    if (profile == "pxa320-75ec" || profile == "pxa320-76ec") {
        return {static_cast<unsigned>(device % 2), device / 2};
    }
    if (profile == "pxa320-dcad" && device >= 0x20000000) {
        return {1, device - 0x20000000};
    }
    return {0, device};
}

TEST(NandWriteBuffer, EveryPartGetsTheBytesWhereTheyBelong) {
    // clang-format off
    const PlacementCase cases[] = {
        // profile       offset       length
        {"pxa320-75ec", 0x10000, 0x10000},
        {"pxa320-76ec", 0x7D60000, 0x10000},
        {"pxa320-d3ec", 0x3EB80000, 0x20000},
        {"pxa300-f1ec", 0x7D60000, 0x20000},
        {"pxa320-dcad", 0x1FFE0000, 0x40000},
    };
    // clang-format on
    for (const PlacementCase& c : cases) {
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
        std::vector<uint8_t> data = Pattern(c.length, c.offset);
        ASSERT_TRUE(NandWriteBuffer(data.data(), c.offset, c.length)) << c.profile;
        // Each chip's bytes of the range, gathered from its file in one read.
        RawChip chips[2] = {ReadChip(*module, 0), ReadChip(*module, 1)};
        std::vector<uint8_t> expected[2];
        uint64_t first[2] = {UINT64_MAX, UINT64_MAX};
        for (DWORD i = 0; i < c.length; i++) {
            auto [chip, address] = Place(c.profile, uint64_t{c.offset} + i);
            if (first[chip] == UINT64_MAX) {
                first[chip] = address;
            }
            ASSERT_EQ(first[chip] + expected[chip].size(), address) << "contiguous in each chip";
            expected[chip].push_back(data[i]);
        }
        for (unsigned chip = 0; chip < 2; chip++) {
            if (!expected[chip].empty()) {
                EXPECT_EQ(expected[chip], chips[chip].main_range(first[chip], expected[chip].size()))
                    << c.profile << " chip " << chip;
            }
        }
        std::vector<uint8_t> back(c.length, 0);
        EXPECT_TRUE(NandReadBuffer(back.data(), c.offset, c.length));
        EXPECT_EQ(data, back) << c.profile;
    }
}

TEST(NandWriteBuffer, RangesPastTheUsableDeviceAreRefused) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    ASSERT_EQ(0x7D80000u, FlashDeviceSize);
    std::vector<uint8_t> bytes(64, 0x22);
    const struct {
        DWORD offset;
        DWORD length;
    } cases[] = {{0x7D80000 - 4, 8}, {0x7D80000, 4}, {0xFFFFFFF0, 0x20}, {0x100, 0xFFFFFF00}};
    for (const auto& c : cases) {
        BusRecorder recorder(module->module());
        EXPECT_FALSE(NandWriteBuffer(bytes.data(), c.offset, c.length)) << std::hex << c.offset;
        EXPECT_FALSE(NandReadBuffer(bytes.data(), c.offset, c.length)) << std::hex << c.offset;
        EXPECT_FALSE(NandEraseRange(c.offset, c.length)) << std::hex << c.offset;
        EXPECT_TRUE(Commands(recorder).empty()) << std::hex << c.offset;
    }
}

TEST(NandWriteBuffer, LengthsAndOffsetsOffWholeWordsLoseNoByteAndTouchNoOther) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> first = Pattern(7, 61);
    std::vector<uint8_t> second = Pattern(6, 62);
    EXPECT_TRUE(NandWriteBuffer(first.data(), 0x40000, 7));
    EXPECT_TRUE(NandWriteBuffer(second.data(), 0x40009, 6));
    RawChip chip = ReadChip(*module, 0);
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), {0xFF, 0xFF});
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(expected, chip.main_range(0x40000, expected.size()));

    // A read of an odd length writes exactly that many bytes.
    std::vector<uint8_t> back(15 + 4, 0xEE);
    EXPECT_TRUE(NandReadBuffer(back.data(), 0x40000, 15));
    EXPECT_EQ(std::vector<uint8_t>(expected.begin(), expected.begin() + 15),
              std::vector<uint8_t>(back.begin(), back.begin() + 15));
    EXPECT_EQ(std::vector<uint8_t>(4, 0xEE), std::vector<uint8_t>(back.begin() + 15, back.end()));
    std::vector<uint8_t> middle(5, 0);
    EXPECT_TRUE(NandReadBuffer(middle.data(), 0x40005, 5));
    EXPECT_EQ(std::vector<uint8_t>(expected.begin() + 5, expected.begin() + 10), middle);
}

TEST(NandWords, MoveExactlyFourBytes) {
    auto module = OpenNand("pxa320-d3ec", {"nand.os_builds_bbmt=false"});
    EXPECT_TRUE(NandWriteWord(0x40004, 0x12345678));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12, 0xFF}),
              ReadChip(*module, 0).main_range(0x40000, 9));
    EXPECT_EQ(0x12345678u, NandReadWord(0x40004));
    EXPECT_EQ(0xFFFFFFFFu, NandReadWord(0x40008));
}

TEST(NandBlockSize, IsTheSameForEveryOffset) {
    auto module = OpenNand("pxa320-75ec", {"nand.os_builds_bbmt=false"});
    for (DWORD offset : {0u, 0x12345u, 0x8000u, FlashDeviceSize - 1}) {
        EXPECT_EQ(0x8000u, NandBlockSize(offset));
    }
    EXPECT_EQ(1024u, NandPageSize());
}

TEST(NandEraseRange, CoversWholeBlocksFromTheBlockHoldingTheOffset) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    std::vector<uint8_t> data = Pattern(0x60000, 71);
    ASSERT_TRUE(NandWriteBuffer(data.data(), 0x40000, 0x60000));
    EXPECT_TRUE(NandEraseRange(0x60010, 0));
    RawChip chip = ReadChip(*module, 0);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 0x20000), chip.main_range(0x40000, 0x20000));
    EXPECT_EQ(std::vector<uint8_t>(0x20000, 0xFF), chip.main_range(0x60000, 0x20000));
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 0x40000, data.end()), chip.main_range(0x80000, 0x20000));

    EXPECT_TRUE(NandEraseRange(0x40000, 0x40001));
    chip = ReadChip(*module, 0);
    EXPECT_EQ(std::vector<uint8_t>(0x60000, 0xFF), chip.main_range(0x40000, 0x60000));
}

// The boot area's second range lies in its second block on 128 KiB parts:
// an erase that meets the area takes both of its blocks (the table page
// survives), whatever the previous contents.
TEST(NandEraseRange, AnEraseThatMeetsTheBootAreaCoversAllOfIt) {
    const struct {
        const char* profile;
        DWORD offset, length;
        DWORD erasedEnd;  // the device offset up to which chip 0 reads erased
        DWORD keptFrom;   // and from which it keeps its data
    } cases[] = {
        {"pxa300-f1ec", 0, 0x1000, 0x40000, 0x40000},
        {"pxa300-f1ec", 0x30000, 0x10, 0x40000, 0x40000},
        {"pxa320-75ec", 0, 0x100, 0x4000, 0x4000},  // block 0 only: 16 KiB per chip
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " at " + std::to_string(c.offset));
        auto module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"}, false);
        const bool large = c.erasedEnd == 0x40000;
        const DWORD tableOffset = large ? 0x1F800 : 0x3E00, tableLength = large ? 0x800 : 0x200;
        const DWORD tableEnd = tableOffset + tableLength;
        std::vector<uint8_t> table = ReadChip(*module, 0).main_range(tableOffset, tableLength);
        std::vector<uint8_t> data = Pattern(0x60000, 72);
        PokeChipFile(*module, "nand-0.main", 0, std::vector<uint8_t>(data.begin(), data.begin() + tableOffset));
        PokeChipFile(*module, "nand-0.main", tableEnd, std::vector<uint8_t>(data.begin() + tableEnd, data.end()));
        module->reopen();
        ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
        ASSERT_TRUE(NandEraseRange(c.offset, c.length));
        RawChip chip = ReadChip(*module, 0);
        EXPECT_TRUE(table == chip.main_range(tableOffset, tableLength));
        EXPECT_TRUE(std::vector<uint8_t>(tableOffset, 0xFF) == chip.main_range(0, tableOffset));
        EXPECT_TRUE(std::vector<uint8_t>(c.erasedEnd - tableEnd, 0xFF) ==
                    chip.main_range(tableEnd, c.erasedEnd - tableEnd));
        EXPECT_TRUE(std::vector<uint8_t>(data.begin() + c.keptFrom, data.begin() + c.keptFrom + 0x100) ==
                    chip.main_range(c.keptFrom, 0x100));
    }
}

TEST(NandOperations, FailWithoutTheMapMagic) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    BbmtMap[0] = 0;
    std::vector<uint8_t> bytes(8, 0);
    BusRecorder recorder(module->module());
    EXPECT_FALSE(NandWriteBuffer(bytes.data(), 0x40000, 8));
    EXPECT_FALSE(NandReadBuffer(bytes.data(), 0x40000, 8));
    EXPECT_FALSE(NandEraseRange(0x40000, 8));
    EXPECT_TRUE(Commands(recorder).empty());
}

}  // namespace

namespace {

// The small large-page part with block 5 failing every program and erase,
// page 0 of block 5 and page 0 of blocks 2 and 6 holding data.
struct RetryModule {
    std::unique_ptr<testing_support::TestModule> module;
    std::vector<uint8_t> page = Pattern(2048, 801);

    explicit RetryModule(const std::string& fault) {
        ResetSystemState();
        module = std::make_unique<testing_support::TestModule>("pxa300-f1ec",
                                                               std::vector<std::string>{"nand.bad_blocks=[5]", fault});
        for (uint64_t block : {2, 5, 6}) PokeChipFile(*module, "nand-0.main", block * 0x20000, page);
        module->reopen();
        EXPECT_EQ(kFlashBackendNand, SelectFlashBackend());
    }
};

struct RetryCase {
    const char* name;
    const char* fault;  // each listing misses once
    char op;            // 'W' write block 2, 'R' read it, 'E' erase block 6, 'C' write block 5 and copy page 0
    size_t misses;
};

// A chip that misses a start never raises RDY, the wait for it runs out, and
// the operation is tried again: each succeeds only because it is (twice
// missed, the program succeeds on its third try). Every miss costs a wait of
// 1,400,002 status reads.
TEST(NandRetries, MissedStartsAreOutlastedByTheNextTry) {
    // clang-format off
    const RetryCase cases[] = {
        {"page program",            "nand.fault.missed_program=[129, 129]", 'W', 2},
        {"page read",               "nand.fault.missed_read=[128]",         'R', 1},
        {"block erase",             "nand.fault.missed_erase=[6]",          'E', 1},
        {"relocation's page copy",  "nand.fault.missed_read=[320]",         'C', 1},
    };
    // clang-format on
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.name);
        RetryModule m(c.fault);
        testing_support::EventRecorder faults(m.module->module(), sim::event_bit(sim::EventKind::Fault));
        std::vector<uint8_t> data = Pattern(2048, 802);
        std::vector<uint8_t> back(2048, 0);
        switch (c.op) {
            case 'W':
                EXPECT_TRUE(NandWriteBuffer(data.data(), 0x40000 + 2048, 2048));
                EXPECT_EQ(data, ReadChip(*m.module, 0).main_range(0x40000 + 2048, 2048));
                break;
            case 'R':
                EXPECT_TRUE(NandReadBuffer(back.data(), 0x40000, 2048));
                EXPECT_EQ(m.page, back);
                break;
            case 'E':
                EXPECT_TRUE(NandEraseRange(0xC0000, 0x20000));
                EXPECT_EQ(std::vector<uint8_t>(2048, 0xFF), ReadChip(*m.module, 0).main_range(0xC0000, 2048));
                break;
            case 'C':
                EXPECT_TRUE(NandWriteBuffer(data.data(), 5 * 0x20000 + 2048, 2048));
                EXPECT_EQ(1023u, BbmtMapEntry(5));
                EXPECT_EQ(m.page, ReadChip(*m.module, 0).main_range(1023 * 0x20000, 2048));
                break;
        }
        size_t missed = 0;
        for (const sim::DeviceEvent& e : faults.events()) missed += e.fault == sim::FaultKind::MissedStart;
        EXPECT_EQ(c.misses, missed) << "every listed start was missed";
    }
}

}  // namespace

namespace {

struct EccCase {
    const char* name;
    const char* fault;
    bool read;           // ReadBuffer's result
    size_t readsOfLast;  // reads of the range's last page: one per try
};

// The back-end reads as it finds the controller; with ECC on, a page with one
// flipped bit reads as written, and one with two fails every try while the
// pages after it are still read.
TEST(NandReadBuffer, WithEccOnACorrectedPageReadsAsWrittenAndAnUncorrectableOneFails) {
    // clang-format off
    const EccCase cases[] = {
        {"one flipped bit",   "nand.fault.bitflip=[129]",       true,  1},
        {"two flipped bits",  "nand.fault.uncorrectable=[129]", false, 3},
        {"no flipped bit",    "",                               true,  1},
        {"worn: a flip a read", "nand.wear.bitflip_ppm=1000000", true,  1},
    };
    // clang-format on
    for (const EccCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto module =
            OpenNand("pxa300-f1ec", *c.fault ? std::vector<std::string>{c.fault} : std::vector<std::string>{});
        std::vector<uint8_t> data = Pattern(3 * 2048, 901);
        ASSERT_TRUE(NandWriteBuffer(data.data(), 0x40000, 3 * 2048));
        testing_support::EventRecorder reads(module->module(), sim::event_bit(sim::EventKind::Started));
        NandEnableEcc(TRUE);
        std::vector<uint8_t> back(3 * 2048, 0);
        EXPECT_EQ(c.read, NandReadBuffer(back.data(), 0x40000, 3 * 2048) != 0);
        NandEnableEcc(FALSE);
        if (c.read) {
            EXPECT_EQ(data, back);
        }
        size_t readsOfLast = 0;
        for (const sim::DeviceEvent& e : reads.events())
            readsOfLast += e.op == sim::Operation::PageRead && e.address == 0x40000 + 2 * 2048;
        EXPECT_EQ(c.readsOfLast, readsOfLast);
    }
}

// Worn cells flip bits at a rate, drawn from the seed: the same seed flips
// the same bits of the same reads, and ECC corrects and reports each.
TEST(NandReadBuffer, FlipsAtARateRepeatWithTheirSeedAndEccCorrectsThem) {
    std::vector<uint8_t> data = Pattern(16 * 2048, 902);
    auto raw_reads = [&data](uint32_t seed) {
        SCOPED_TRACE(testing::Message() << "nand.wear.seed=" << seed);
        auto module =
            OpenNand("pxa300-f1ec", {"nand.wear.bitflip_ppm=500000", "nand.wear.seed=" + std::to_string(seed)});
        EXPECT_TRUE(NandWriteBuffer(data.data(), 0x40000, data.size()));
        testing_support::EventRecorder events(
            module->module(), sim::event_bit(sim::EventKind::Fault) | sim::event_bit(sim::EventKind::EccCorrected));
        std::vector<uint8_t> back(data.size(), 0);
        NandEnableEcc(TRUE);
        EXPECT_TRUE(NandReadBuffer(back.data(), 0x40000, back.size()));
        NandEnableEcc(FALSE);
        EXPECT_EQ(data, back);
        size_t flips = 0, corrected = 0;
        for (const sim::DeviceEvent& e : events.events()) {
            flips += e.fault == sim::FaultKind::BitFlip;
            corrected += e.kind == sim::EventKind::EccCorrected;
        }
        EXPECT_GT(flips, 0u);
        EXPECT_EQ(flips, corrected);
        EXPECT_TRUE(NandReadBuffer(back.data(), 0x40000, back.size()));
        return back;
    };
    std::vector<uint8_t> a = raw_reads(7), b = raw_reads(7), c = raw_reads(8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    size_t flipped = 0;
    for (size_t i = 0; i < data.size(); ++i) flipped += std::popcount(static_cast<uint8_t>(a[i] ^ data[i]));
    EXPECT_GT(flipped, 0u) << "without ECC the flips show";
    EXPECT_LE(flipped, 16u) << "one bit at most in each page read";
}

}  // namespace
