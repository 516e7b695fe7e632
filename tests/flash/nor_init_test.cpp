// NOR identification: geometry class by device code, device size from the
// query table, the identification sequence on the bus, and the unlocking at
// start.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "module/os/windows_table.h"
#include "platform/windows.h"
#include "tests/flash/nor_test_support.h"

using flash_test::LockWord;
using flash_test::OpenModule;
using flash_test::OpenNor;
using flash_test::Write;
using flash_test::Writes;
using flash_test::WritesOf;
using testing_support::BusRecorder;

namespace {

struct ClassCase {
    std::vector<std::string> overrides;
    DWORD geometryClass;
    DWORD deviceSize;
    DWORD smallBlock;       // BlockSize(0) and BlockSize(0x30000)
    DWORD firstEraseTotal;  // the hook's total for EraseRange(0x10000, 0x10)
};

const ClassCase kClasses[] = {
    {{"nor.device_code=0x0099", "nor.query_size=24"}, 0, 0x2000000, 0x40000, 0x40000},
    {{"nor.device_code=0x0016", "nor.query_size=22"}, 0, 0x800000, 0x40000, 0x40000},
    {{"nor.device_code=0x0017", "nor.query_size=23"}, 1, 0x1000000, 0x40000, 0x40000},
    {{"nor.device_code=0x0018", "nor.query_size=24"}, 1, 0x2000000, 0x40000, 0x40000},
    {{"nor.device_code=0x0019", "nor.query_size=24"}, 1, 0x2000000, 0x40000, 0x40000},
    {{"nor.device_code=0x001D", "nor.query_size=25"}, 0, 0x4000000, 0x40000, 0x40000},
    {{"nor.device_code=0x8801", "nor.query_size=23"}, 2, 0x1000000, 0x40000, 0x40000},
    {{"nor.device_code=0x8803", "nor.query_size=25"}, 2, 0x4000000, 0x40000, 0x40000},
    {{"nor.device_code=0x881A", "nor.query_size=23"}, 3, 0x1000000, 0x10000, 0x10000},
    {{"nor.device_code=0x881B", "nor.query_size=24"}, 3, 0x2000000, 0x10000, 0x10000},
    {{"nor.device_code=0x891C", "nor.query_size=25"}, 3, 0x4000000, 0x10000, 0x10000},
    {{"nor.device_code=0x8922", "nor.query_size=25", "nor.family=p30"}, 3, 0x4000000, 0x10000, 0x10000},
    // The device size is two chips of 2^n bytes, at most 64 MB.
    {{"nor.device_code=0x0018", "nor.query_size=26"}, 1, 0x4000000, 0x40000, 0x40000},
    {{"nor.device_code=0x0018", "nor.query_size=17"}, 1, 0x40000, 0x40000, 0x40000},
};

DWORD hookTotal;
BOOL RecordTotal(DWORD, DWORD total) {
    hookTotal = total;
    return TRUE;
}

TEST(NorInit, GeometryClassAndSize) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.overrides[0] + " " + c.overrides[1]);
        auto module = OpenNor("pxa270", c.overrides);
        EXPECT_EQ(c.geometryClass, NorGeometryClass);
        EXPECT_EQ(c.deviceSize, FlashDeviceSize);
        EXPECT_EQ(c.smallBlock, FlashOps.BlockSize(0));
        EXPECT_EQ(c.smallBlock, FlashOps.BlockSize(0x30000));
        EXPECT_EQ(0x40000u, FlashOps.BlockSize(0x40000));
        EXPECT_EQ(0x40000u, FlashOps.BlockSize(FlashDeviceSize - 4));

        hookTotal = 0;
        SetEraseProgressHook(RecordTotal, 0x10000);
        EXPECT_TRUE(FlashOps.EraseRange(0x10000, 0x10));
        EXPECT_EQ(c.firstEraseTotal, hookTotal);
    }
}

TEST(NorInit, BlockSizeOfClass3) {
    auto module = OpenNor("pxa270-p30");
    const struct {
        DWORD offset, size;
    } rows[] = {{0, 0x10000},       {0xFFFC, 0x10000},  {0x10000, 0x10000},  {0x3FFFF, 0x10000},
                {0x40000, 0x40000}, {0x7FFFC, 0x40000}, {0x3FC0000, 0x40000}};
    for (const auto& row : rows) EXPECT_EQ(row.size, FlashOps.BlockSize(row.offset)) << std::hex << row.offset;
}

TEST(NorInit, IdentificationSequence) {
    testing_support::TestModule module("pxa270");
    flash_test::ResetFlashState();
    BusRecorder recorder(module.module());
    ASSERT_EQ(kFlashBackendNor, SelectFlashBackend());

    const auto& accesses = recorder.accesses();
    ASSERT_GE(accesses.size(), 5u);
    // Read Identifier, manufacturer, device code, Read Query, query field 0x27.
    EXPECT_TRUE(accesses[0].write && accesses[0].phys == 0 && accesses[0].value == 0x00900090);
    EXPECT_TRUE(!accesses[1].write && accesses[1].phys == 0 && accesses[1].value == 0x00890089);
    EXPECT_TRUE(!accesses[2].write && accesses[2].phys == 4 && accesses[2].value == 0x00180018);
    EXPECT_TRUE(accesses[3].write && accesses[3].phys == 0 && accesses[3].value == 0x00980098);
    EXPECT_TRUE(!accesses[4].write && accesses[4].phys == 0x9C && (accesses[4].value & 0xFF) == 24);
    // It ends with Clear Status and Read Array at offset 0.
    std::vector<Write> writes = Writes(recorder);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ((Write{0, 0x00500050}), writes[writes.size() - 2]);
    EXPECT_EQ((Write{0, 0x00FF00FF}), writes.back());
    // An unlocked J3 pair needs no lock command.
    EXPECT_TRUE(WritesOf(recorder, 0x00600060).empty());
}

TEST(NorInit, FailureLeavesNothingMapped) {
    const struct {
        const char* name;
        std::vector<std::string> overrides;
        bool touchesBus;
    } rows[] = {
        {"HAL refuses the window", {"os.major=6", "hal.kernel_call=false"}, false},
        {"another maker", {"nor.manufacturer=0x0001"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing_support::TestModule module("pxa270", row.overrides);
        flash_test::ResetFlashState();
        size_t windows = sim::committed_windows().size();
        BusRecorder recorder(module.module());
        EXPECT_FALSE(NorInit());
        EXPECT_EQ(0u, FlashDeviceSize);
        EXPECT_EQ(nullptr, NorWindow);
        EXPECT_EQ(windows, sim::committed_windows().size());
        EXPECT_EQ(row.touchesBus, !recorder.accesses().empty());
        if (row.touchesBus) {
            EXPECT_EQ((Write{0, 0x00FF00FF}), Writes(recorder).back());
        }
    }
}

TEST(NorInit, WholeDeviceReadableAfterInit) {
    auto module = OpenNor("pxa270-p30");
    flash_test::PokeFlash(*module, 0x3FFFFF8, {1, 2, 3, 4, 5, 6, 7, 8});
    BYTE tail[8] = {};
    EXPECT_TRUE(FlashOps.ReadBuffer(tail, 0x3FFFFF8, sizeof tail));
    EXPECT_EQ(0x04030201u, FlashOps.ReadWord(0x3FFFFF8));
    EXPECT_EQ(8, tail[7]);
}

TEST(NorUnlockAll, BootAreaKeepsItsLocks) {
    // The P30 comes up with every block locked.
    auto module = OpenNor("pxa270-p30");
    for (DWORD offset : {0x0u, 0x10000u, 0x20000u, 0x30000u})
        EXPECT_NE(0u, LockWord(offset) & 0x00010001) << std::hex << offset;
    for (DWORD offset : {0x40000u, 0x80000u, 0x2000000u, 0x3FC0000u})
        EXPECT_EQ(0u, LockWord(offset) & 0x00010001) << std::hex << offset;
}

TEST(NorUnlockAll, UnlocksEveryBlockFromTheBootAreaUp) {
    testing_support::TestModule module("pxa270-p30");
    flash_test::ResetFlashState();
    BusRecorder recorder(module.module());
    ASSERT_EQ(kFlashBackendNor, SelectFlashBackend());
    std::vector<uint32_t> unlocked = WritesOf(recorder, 0x00600060);
    ASSERT_EQ(255u, unlocked.size());
    EXPECT_EQ(0x40000u, unlocked.front());
    EXPECT_EQ(0x3FC0000u, unlocked.back());
}

TEST(NorUnlockAll, J3BootAreaLockLeftAsFound) {
    auto module = OpenNor("pxa270", {"nor.locked=[0x0]"});
    EXPECT_NE(0u, LockWord(0) & 0x00010001);
    EXPECT_EQ(0u, LockWord(0x40000) & 0x00010001);
}

TEST(NorUnlockBlock, J3WaitsForTheClearBeforeTrustingTheLockWord) {
    testing_support::TestModule module("pxa270", {"nor.locked=[0x80000]"});
    flash_test::ResetFlashState();
    BusRecorder recorder(module.module());
    DWORD start = GetTickCount();
    ASSERT_EQ(kFlashBackendNor, SelectFlashBackend());
    // Clearing takes the J3 pair about half a second; the init waited it out.
    EXPECT_GE(GetTickCount() - start, 500u);
    EXPECT_EQ(0u, LockWord(0x80000) & 0x00010001);

    // After the confirm, the lock word is read again only once a status read
    // at the block has shown both chips ready.
    const auto& accesses = recorder.accesses();
    size_t confirm = 0;
    while (confirm < accesses.size() && !(accesses[confirm].write && accesses[confirm].value == 0x00D000D0)) confirm++;
    ASSERT_LT(confirm, accesses.size());
    EXPECT_EQ(0x80000u, accesses[confirm].phys);
    size_t next = confirm + 1;
    while (next < accesses.size() && !accesses[next].write) {
        EXPECT_EQ(0x80000u, accesses[next].phys);
        next++;
    }
    ASSERT_LT(next, accesses.size());
    ASSERT_GT(next, confirm + 1);
    EXPECT_EQ(0x00800080u, accesses[next - 1].value & 0x00800080);
    EXPECT_EQ(0x00900090u, accesses[next].value);
}

TEST(NorUnlockBlock, EraseAfterJ3ClearReallyErases) {
    auto module = OpenNor("pxa270");
    flash_test::LockBlock(0x80000);
    ASSERT_NE(0u, LockWord(0x80000) & 0x00010001);
    flash_test::PokeFlash(*module, 0x80000, {0x12, 0x34, 0x56, 0x78});
    flash_test::PokeFlash(*module, 0xBFFFC, {0x00});

    EXPECT_TRUE(FlashOps.EraseRange(0x80000, 0x40000));
    EXPECT_EQ(std::vector<uint8_t>(0x40000, 0xFF), flash_test::PeekFlash(*module, 0x80000, 0x40000));
    EXPECT_EQ(0u, LockWord(0x80000) & 0x00010001);
}

// Also when the unlock reports no error: the lock bit read back decides.
TEST(NorUnlockBlock, StuckLockFailsTheErase) {
    const std::pair<const char*, const char*> cases[] = {
        {"pxa270", "nor.fault.stuck_lock=[0x80000]"},
        {"pxa270-p30", "nor.fault.stuck_lock=[0x80000]"},
        {"pxa270", "nor.fault.silent_lock=[0x80000]"},
        {"pxa270-p30", "nor.fault.silent_lock=[0x80000]"},
    };
    for (const auto& [profile, fault] : cases) {
        SCOPED_TRACE(std::string(profile) + " " + fault);
        auto module = OpenNor(profile, {fault});
        flash_test::PokeFlash(*module, 0x80000, {0x00, 0x11});
        BusRecorder recorder(module->module());
        EXPECT_FALSE(NorUnlockBlock(0x80000));
        EXPECT_FALSE(FlashOps.EraseRange(0x80000, 0x10));
        EXPECT_TRUE(WritesOf(recorder, 0x00200020).empty());
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0x11}), flash_test::PeekFlash(*module, 0x80000, 2));
        // The pair is back in read-array mode.
        EXPECT_EQ(0x00FF00FFu, Writes(recorder).back().value);
        EXPECT_EQ(0xFFFF1100u, FlashOps.ReadWord(0x80000));
    }
}

}  // namespace
