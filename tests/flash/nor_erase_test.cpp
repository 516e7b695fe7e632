// NOR erase: widening to whole blocks, the blocks erased, the progress
// reports, the blank check and the range check at the device end.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "tests/flash/nor_test_support.h"

using flash_test::OpenNor;
using flash_test::PeekFlash;
using flash_test::PokeFlash;
using flash_test::WritesOf;
using testing_support::BusRecorder;

namespace {

std::vector<std::pair<DWORD, DWORD>> reports;
BOOL RecordReport(DWORD done, DWORD total) {
    reports.emplace_back(done, total);
    return TRUE;
}

// Every block start in [0, end) gets a marker byte, so that no block is blank.
std::vector<DWORD> MarkBlocks(testing_support::TestModule& module, DWORD end) {
    std::vector<DWORD> starts;
    for (DWORD offset = 0; offset < end; offset += FlashOps.BlockSize(offset)) {
        PokeFlash(module, offset + 4, {0x5A});
        starts.push_back(offset);
    }
    return starts;
}

struct RangeCase {
    const char* profile;
    DWORD offset, length;
    std::vector<DWORD> erased;
    DWORD total;
};

const RangeCase kRanges[] = {
    {"pxa270-p30", 0, 0x50000, {0, 0x10000, 0x20000, 0x30000, 0x40000}, 0x80000},
    {"pxa270-p30", 0x10000, 0x30000, {0x10000, 0x20000, 0x30000}, 0x30000},
    {"pxa270-p30", 0x8000, 0x10, {0}, 0x10000},
    {"pxa270-p30", 0x3FFFF, 2, {0x30000, 0x40000}, 0x50000},
    {"pxa270-p30", 0x40001, 0, {0x40000}, 0x40000},
    {"pxa270-p30", 0x40000, 0, {}, 0},
    {"pxa270-p30", 0x30000, 0x10001, {0x30000, 0x40000}, 0x50000},
    {"pxa270", 0x10000, 0x10, {0}, 0x40000},
    {"pxa270", 0x40000, 0x40001, {0x40000, 0x80000}, 0x80000},
    {"pxa270", 0x7FFFF, 1, {0x40000}, 0x40000},
    {"pxa270", 0x0, 0x100000, {0, 0x40000, 0x80000, 0xC0000}, 0x100000},
};

TEST(NorEraseRange, WideningMatrix) {
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(std::string(c.profile) + " offset " + std::to_string(c.offset) + " length " +
                     std::to_string(c.length));
        auto module = OpenNor(c.profile);
        std::vector<DWORD> marked = MarkBlocks(*module, 0x140000);
        reports.clear();
        SetEraseProgressHook(RecordReport, 0x10000);

        BusRecorder recorder(module->module());
        EXPECT_TRUE(FlashOps.EraseRange(c.offset, c.length));
        EXPECT_EQ(c.erased, WritesOf(recorder, 0x00200020));

        // One report before each block, with the bytes done so far.
        std::vector<std::pair<DWORD, DWORD>> expected;
        for (DWORD block : c.erased) expected.emplace_back(block - c.erased.front(), c.total);
        EXPECT_EQ(expected, reports);

        // Erased blocks read all ones; the others keep their marker.
        for (DWORD block : marked) {
            bool erased = std::find(c.erased.begin(), c.erased.end(), block) != c.erased.end();
            EXPECT_EQ(erased ? 0xFF : 0x5A, PeekFlash(*module, block + 4, 1)[0]) << std::hex << block;
        }
    }
}

TEST(NorEraseRange, PastTheDeviceEndErasesNothing) {
    const struct {
        const char* profile;
        DWORD offset, length;
        BOOL result;
        // clang-format off
    } rows[] = {
        {"pxa270", 0x1FC0000, 0x40000, TRUE},
        {"pxa270", 0x1FC0000, 0x40001, FALSE},
        {"pxa270", 0x1FFFFFF, 2, FALSE},
        {"pxa270", 0x2000000, 0, TRUE},
        {"pxa270", 0x2000001, 0, FALSE},
        {"pxa270", 0xFFFFFFF0, 0x20, FALSE},
        {"pxa270", 0x40000, 0xFFFFFFFF, FALSE},
        {"pxa270-p30", 0x3FC0000, 0x40000, TRUE},
        {"pxa270-p30", 0x3FFFFFC, 8, FALSE},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + std::to_string(row.offset) + " " + std::to_string(row.length));
        auto module = OpenNor(row.profile);
        PokeFlash(*module, FlashDeviceSize - 0x40000, {0x00});
        reports.clear();
        SetEraseProgressHook(RecordReport, 0x10000);
        BusRecorder recorder(module->module());

        EXPECT_EQ(row.result, FlashOps.EraseRange(row.offset, row.length));
        if (!row.result) {
            EXPECT_TRUE(recorder.accesses().empty());
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(0x00, PeekFlash(*module, FlashDeviceSize - 0x40000, 1)[0]);
        }
    }
}

struct BlankCase {
    const char* name;
    std::vector<std::pair<DWORD, uint8_t>> bytes;  // block-relative offset, value
    bool erased;
};

TEST(NorEraseBlock, BlankCheckDecidesTheErase) {
    const BlankCase cases[] = {
        {"all ones", {}, false},
        {"first word differs", {{0, 0xFE}}, true},
        {"last byte differs", {{0x3FFFF, 0x7F}}, true},
        {"middle byte differs", {{0x20001, 0x00}}, true},
    };
    for (const BlankCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto module = OpenNor("pxa270");
        for (const auto& b : c.bytes) PokeFlash(*module, 0xC0000 + b.first, {b.second});
        BusRecorder recorder(module->module());
        EXPECT_TRUE(NorEraseBlock(0xC0000));
        EXPECT_EQ(c.erased ? 1u : 0u, WritesOf(recorder, 0x00200020).size());
        EXPECT_EQ(std::vector<uint8_t>(0x40000, 0xFF), PeekFlash(*module, 0xC0000, 0x40000));
    }
}

TEST(NorBlankCheck, WholeWordsOnly) {
    auto module = OpenNor("pxa270");
    PokeFlash(*module, 0x100, {0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    EXPECT_TRUE(NorBlankCheck(0x100, 4));
    EXPECT_TRUE(NorBlankCheck(0x100, 7));  // the partial word is not looked at
    EXPECT_FALSE(NorBlankCheck(0x100, 8));
    EXPECT_TRUE(NorBlankCheck(0x104, 3));  // below one word: always true
    EXPECT_FALSE(NorBlankCheck(0xFC, 12));

    // It stops at the first word that differs.
    BusRecorder recorder(module->module());
    EXPECT_FALSE(NorBlankCheck(0x104, 0x40000));
    EXPECT_EQ(1u, recorder.accesses().size());
}

TEST(NorEraseRange, HookStopsTheErase) {
    auto module = OpenNor("pxa270");
    MarkBlocks(*module, 0x100000);
    reports.clear();
    SetEraseProgressHook(
        [](DWORD done, DWORD total) -> BOOL {
            reports.emplace_back(done, total);
            return done < 0x80000;
        },
        0x10000);
    BusRecorder recorder(module->module());
    EXPECT_FALSE(FlashOps.EraseRange(0, 0x100000));
    EXPECT_EQ((std::vector<DWORD>{0, 0x40000}), WritesOf(recorder, 0x00200020));
    EXPECT_EQ(3u, reports.size());
    EXPECT_EQ(0x5A, PeekFlash(*module, 0x80004, 1)[0]);
    EXPECT_EQ(0x5A, PeekFlash(*module, 0xC0004, 1)[0]);
}

}  // namespace
