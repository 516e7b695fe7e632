// The erase walk shared by both back-ends, driven with a recording block
// eraser: which blocks are erased, which progress reports come, and where the
// walk stops.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "flash/flash_ops.h"

namespace {

struct Walk {
    std::vector<DWORD> erased;
    std::vector<std::pair<DWORD, DWORD>> reports;
    DWORD failBlock = 0xFFFFFFFF;  // the block whose erase fails
    DWORD stopAtReport = 0;        // 1-based report that answers zero; 0 never
    DWORD smallBlocksBelow = 0;    // 64 KB blocks below this offset, 256 KB above
};
Walk* walk;

DWORD TestBlockSize(DWORD offset) { return offset < walk->smallBlocksBelow ? 0x10000 : 0x40000; }

BOOL TestEraseBlock(DWORD offset) {
    if (offset == walk->failBlock) return FALSE;
    walk->erased.push_back(offset);
    return TRUE;
}

BOOL TestHook(DWORD done, DWORD total) {
    walk->reports.emplace_back(done, total);
    return walk->reports.size() != walk->stopAtReport;
}

DWORD ZeroBlockSize(DWORD) { return 0; }

class EraseBlocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        walk = &state;
        FlashDeviceSize = 0x2000000;
        SetEraseProgressHook(TestHook, 0x10000);
    }
    void TearDown() override {
        SetEraseProgressHook(nullptr, 0);
        FlashDeviceSize = 0;
        walk = nullptr;
    }
    Walk state;
};

struct WalkCase {
    const char* name;
    DWORD start, total, step, smallBelow, failBlock, stopAt;
    BOOL result;
    std::vector<DWORD> erased;
    std::vector<DWORD> reportedDone;
};

std::vector<DWORD> Blocks(DWORD start, DWORD count, DWORD size) {
    std::vector<DWORD> out;
    for (DWORD i = 0; i < count; i++) out.push_back(start + i * size);
    return out;
}

// clang-format off
const WalkCase kWalkCases[] = {
    {"step below block size reports every block", 0, 0x100000, 0x10000, 0, ~0u, 0, TRUE,
     Blocks(0, 4, 0x40000), {0, 0x40000, 0x80000, 0xC0000}},
    {"step equal to block size reports every block", 0x80000, 0xC0000, 0x40000, 0, ~0u, 0, TRUE,
     Blocks(0x80000, 3, 0x40000), {0, 0x40000, 0x80000}},
    {"step of 1 MB reports blocks 1, 5, 9", 0, 0x300000, 0x100000, 0, ~0u, 0, TRUE,
     Blocks(0, 12, 0x40000), {0, 0x100000, 0x200000}},
    {"step 0 reports every block", 0x40000, 0x80000, 0, 0, ~0u, 0, TRUE,
     Blocks(0x40000, 2, 0x40000), {0, 0x40000}},
    {"step larger than the range reports once", 0, 0x80000, 0xFFFFFFFF, 0, ~0u, 0, TRUE,
     Blocks(0, 2, 0x40000), {0}},
    {"mixed block sizes", 0, 0x80000, 0x10000, 0x40000, ~0u, 0, TRUE,
     {0, 0x10000, 0x20000, 0x30000, 0x40000}, {0, 0x10000, 0x20000, 0x30000, 0x40000}},
    {"mixed sizes with a 256 KB step", 0, 0x80000, 0x40000, 0x40000, ~0u, 0, TRUE,
     {0, 0x10000, 0x20000, 0x30000, 0x40000}, {0, 0x40000}},
    {"zero on the first report erases nothing", 0, 0x100000, 0x10000, 0, ~0u, 1, FALSE, {}, {0}},
    {"zero on the third report stops before the third block", 0, 0x100000, 0x10000, 0, ~0u, 3,
     FALSE, Blocks(0, 2, 0x40000), {0, 0x40000, 0x80000}},
    {"a failed block stops the walk", 0, 0x100000, 0x10000, 0, 0x80000, 0, FALSE,
     Blocks(0, 2, 0x40000), {0, 0x40000, 0x80000}},
    {"empty range succeeds without a report", 0x40000, 0, 0x10000, 0, ~0u, 0, TRUE, {}, {}},
    {"range ending at the device end", 0x1FC0000, 0x40000, 0x10000, 0, ~0u, 0, TRUE,
     {0x1FC0000}, {0}},
    {"range past the device end", 0x1FC0000, 0x80000, 0x10000, 0, ~0u, 0, FALSE, {}, {}},
    {"range wrapping past 4 GB", 0xFFFC0000, 0x80000, 0x10000, 0, ~0u, 0, FALSE, {}, {}},
};
// clang-format on

TEST_F(EraseBlocksTest, WalkMatrix) {
    for (const WalkCase& c : kWalkCases) {
        SCOPED_TRACE(c.name);
        state = Walk{};
        state.failBlock = c.failBlock;
        state.stopAtReport = c.stopAt;
        state.smallBlocksBelow = c.smallBelow;
        SetEraseProgressHook(TestHook, c.step);

        EXPECT_EQ(c.result, EraseBlocks(c.start, c.total, TestBlockSize, TestEraseBlock));
        EXPECT_EQ(c.erased, state.erased);
        std::vector<DWORD> done;
        for (const auto& report : state.reports) {
            EXPECT_EQ(c.total, report.second);
            EXPECT_LT(report.first, c.total);
            done.push_back(report.first);
        }
        EXPECT_EQ(c.reportedDone, done);
    }
}

TEST_F(EraseBlocksTest, NoCallbackErasesWithoutReports) {
    SetEraseProgressHook(nullptr, 0x10000);
    EXPECT_TRUE(EraseBlocks(0, 0xC0000, TestBlockSize, TestEraseBlock));
    EXPECT_EQ(Blocks(0, 3, 0x40000), state.erased);
    EXPECT_TRUE(state.reports.empty());
}

TEST_F(EraseBlocksTest, ZeroDeviceSizeRefusesEveryNonEmptyRange) {
    FlashDeviceSize = 0;
    EXPECT_FALSE(EraseBlocks(0, 0x40000, TestBlockSize, TestEraseBlock));
    EXPECT_TRUE(EraseBlocks(0, 0, TestBlockSize, TestEraseBlock));
    EXPECT_TRUE(state.erased.empty());
    EXPECT_TRUE(state.reports.empty());
}

TEST_F(EraseBlocksTest, ZeroBlockSizeFailsInsteadOfLooping) {
    EXPECT_FALSE(EraseBlocks(0, 0x40000, ZeroBlockSize, TestEraseBlock));
    EXPECT_TRUE(state.erased.empty());
}

// A step changed by the callback takes effect from its own report on.
DWORD stepChanges;
BOOL WideningHook(DWORD done, DWORD total) {
    walk->reports.emplace_back(done, total);
    if (++stepChanges == 1) SetEraseProgressHook(WideningHook, 0x80000);
    return TRUE;
}

TEST_F(EraseBlocksTest, StepReadAfterEachReport) {
    stepChanges = 0;
    SetEraseProgressHook(WideningHook, 0x10000);
    EXPECT_TRUE(EraseBlocks(0, 0x100000, TestBlockSize, TestEraseBlock));
    std::vector<std::pair<DWORD, DWORD>> expected = {{0, 0x100000}, {0x80000, 0x100000}};
    EXPECT_EQ(expected, state.reports);
}

TEST_F(EraseBlocksTest, HookStaysUntilSetAgain) {
    SetEraseProgressHook(TestHook, 0x40000);
    EXPECT_EQ(reinterpret_cast<void*>(TestHook), reinterpret_cast<void*>(EraseProgressHook.callback));
    EXPECT_EQ(0x40000u, EraseProgressHook.step);
    EXPECT_TRUE(EraseBlocks(0, 0x40000, TestBlockSize, TestEraseBlock));
    EXPECT_TRUE(EraseBlocks(0x40000, 0x40000, TestBlockSize, TestEraseBlock));
    EXPECT_EQ(2u, state.reports.size());
}

}  // namespace
