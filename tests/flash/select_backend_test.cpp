// Back-end selection by processor product number, once per process, and the
// product number read directly or through the HAL's kernel-mode call.
#include <gtest/gtest.h>

#include "board/cpu_product.h"
#include "flash/flash_ops.h"
#include "flash/nand/nand_flash.h"
#include "flash/nor/nor_flash.h"
#include "tests/flash/nor_test_support.h"

using flash_test::OpenModule;
using flash_test::OpenNor;
using testing_support::BusRecorder;
using testing_support::TestModule;

namespace {

void ExpectNorColumn() {
    EXPECT_EQ(&NorEraseRange, FlashOps.EraseRange);
    EXPECT_EQ(&NorWriteWord, FlashOps.WriteWord);
    EXPECT_EQ(&NorWriteBuffer, FlashOps.WriteBuffer);
    EXPECT_EQ(&NorReadWord, FlashOps.ReadWord);
    EXPECT_EQ(&NorReadBuffer, FlashOps.ReadBuffer);
    EXPECT_EQ(&NorBlockSize, FlashOps.BlockSize);
    EXPECT_EQ(nullptr, FlashOps.PageSize);
}

void ExpectNandColumn() {
    EXPECT_EQ(&NandEraseRange, FlashOps.EraseRange);
    EXPECT_EQ(&NandWriteWord, FlashOps.WriteWord);
    EXPECT_EQ(&NandWriteBuffer, FlashOps.WriteBuffer);
    EXPECT_EQ(&NandReadWord, FlashOps.ReadWord);
    EXPECT_EQ(&NandReadBuffer, FlashOps.ReadBuffer);
    EXPECT_EQ(&NandBlockSize, FlashOps.BlockSize);
    EXPECT_EQ(&NandPageSize, FlashOps.PageSize);
}

struct ProductCase {
    const char* major;
    const char* product;
    DWORD expected;
};

// On 6.0 and later a user-mode read of coprocessor 15 stops the module, so
// these rows pass only through the HAL's kernel-mode call.
// clang-format off
const ProductCase kProducts[] = {
    {"os.major=5", "cpu.product=17", 17}, {"os.major=5", "cpu.product=0", 0},
    {"os.major=5", "cpu.product=2", 2},   {"os.major=5", "cpu.product=8", 8},
    {"os.major=5", "cpu.product=63", 63}, {"os.major=6", "cpu.product=17", 17},
    {"os.major=6", "cpu.product=2", 2},   {"os.major=7", "cpu.product=8", 8},
    {"os.major=6", "cpu.product=63", 63}, {"os.major=4", "cpu.product=17", 17},
};
// clang-format on

TEST(ReadCpuProductId, DirectOrThroughHal) {
    for (const ProductCase& c : kProducts) {
        SCOPED_TRACE(std::string(c.major) + " " + c.product);
        TestModule module("pxa270", {c.major, c.product});
        EXPECT_EQ(c.expected, ReadCpuProductId());
    }
}

TEST(ReadCpuProductId, RefusedKernelCallReadsZero) {
    TestModule module("pxa270", {"os.major=6", "hal.kernel_call=false"});
    EXPECT_EQ(0u, ReadCpuProductId());
}

TEST(SelectFlashBackend, Pxa27xSelectsNor) {
    int selected = 0;
    auto module = OpenModule("pxa270", {}, &selected);
    EXPECT_EQ(kFlashBackendNor, selected);
    EXPECT_EQ(kFlashBackendNor, FlashBackend);
    EXPECT_TRUE(FlashInitialised);
    EXPECT_EQ(0x2000000u, FlashDeviceSize);
    ExpectNorColumn();
}

TEST(SelectFlashBackend, SecondCallReturnsOneWithoutTouchingFlash) {
    auto module = OpenNor("pxa270");
    BusRecorder recorder(module->module());
    EXPECT_EQ(1, SelectFlashBackend());
    EXPECT_EQ(1, SelectFlashBackend());
    EXPECT_TRUE(recorder.accesses().empty());
    EXPECT_EQ(kFlashBackendNor, FlashBackend);
}

TEST(SelectFlashBackend, NorThroughHalOnNewerSystems) {
    int selected = 0;
    auto module = OpenModule("pxa270", {"os.major=6"}, &selected);
    EXPECT_EQ(kFlashBackendNor, selected);
    EXPECT_EQ(0x2000000u, FlashDeviceSize);
    EXPECT_EQ(0xFFFFFFFFu, FlashOps.ReadWord(0x100));
}

struct NandProfileCase {
    const char* profile;
    DWORD deviceSize;  // blocks less the reserve pool, times the block size
};

TEST(SelectFlashBackend, Pxa3xxSelectsNand) {
    // clang-format off
    const NandProfileCase cases[] = {
        {"pxa320-75ec", 0x3EC0000}, {"pxa320-76ec", 0x7D78000}, {"pxa320-d3ec", 0x3EBA0000},
        {"pxa300-f1ec", 0x7D80000}, {"pxa320-dcad", 0x3EBA0000},
    };
    // clang-format on
    for (const NandProfileCase& c : cases) {
        SCOPED_TRACE(c.profile);
        int selected = -1;
        auto module = OpenModule(c.profile, {}, &selected);
        EXPECT_EQ(kFlashBackendNand, selected);
        EXPECT_EQ(kFlashBackendNand, FlashBackend);
        EXPECT_TRUE(FlashInitialised);
        EXPECT_EQ(c.deviceSize, FlashDeviceSize);
        ExpectNandColumn();
        EXPECT_EQ(1, SelectFlashBackend());
    }
}

struct ManufacturerCase {
    const char* name;
    std::vector<std::string> overrides;
};

TEST(SelectFlashBackend, ForeignFlashFailsAndRetries) {
    const ManufacturerCase cases[] = {
        {"another maker", {"nor.manufacturer=0x00B0"}},
        {"chips disagreeing", {"nor.chip1.manufacturer=0x0001"}},
    };
    for (const ManufacturerCase& c : cases) {
        SCOPED_TRACE(c.name);
        int selected = -1;
        auto module = OpenModule("pxa270", c.overrides, &selected);
        EXPECT_EQ(0, selected);
        EXPECT_EQ(kFlashBackendNone, FlashBackend);
        EXPECT_FALSE(FlashInitialised);
        EXPECT_EQ(0u, FlashDeviceSize);
        ExpectNorColumn();

        // Every ranged operation now fails its range check without touching
        // the bus; an empty erase still succeeds.
        BusRecorder recorder(module->module());
        BYTE buffer[16] = {};
        EXPECT_FALSE(FlashOps.ReadBuffer(buffer, 0, sizeof buffer));
        EXPECT_FALSE(FlashOps.WriteBuffer(buffer, 0, sizeof buffer));
        EXPECT_FALSE(FlashOps.WriteWord(0, 0));
        EXPECT_EQ(0u, FlashOps.ReadWord(0));
        EXPECT_FALSE(FlashOps.EraseRange(0, 0x40000));
        EXPECT_TRUE(FlashOps.EraseRange(0, 0));
        EXPECT_TRUE(recorder.accesses().empty());

        // The next selection starts again and identifies the chips again.
        EXPECT_EQ(0, SelectFlashBackend());
        EXPECT_FALSE(recorder.accesses().empty());
        EXPECT_EQ(0x00900090u, recorder.accesses().front().value);
        // The chips are left in read-array mode.
        EXPECT_EQ(0x00FF00FFu, flash_test::Writes(recorder).back().value);
    }
}

}  // namespace
