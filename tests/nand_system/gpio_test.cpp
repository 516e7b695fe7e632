// Pin control on the three processor kinds, observed as register writes on
// the bus, and the pin setup of the two small-page NAND parts.
#include <gtest/gtest.h>

#include "board/gpio.h"
#include "flash/flash_ops.h"
#include "tests/nand_system/nand_test_support.h"

using namespace nand_test;
using testing_support::BusRecorder;
using testing_support::RecordedAccess;

namespace {

struct Write {
    uint32_t phys;
    uint32_t value;
    uint32_t mask;  // the bits the check looks at
};

// The writes to the GPIO and pin-function blocks, in order.
std::vector<RecordedAccess> PinWrites(const BusRecorder& recorder) {
    std::vector<RecordedAccess> writes;
    for (const RecordedAccess& access : recorder.accesses()) {
        if (access.write && access.phys >= 0x40E00000 && access.phys < 0x40E12000) {
            writes.push_back(access);
        }
    }
    return writes;
}

void ExpectWrites(const std::vector<Write>& expected, const std::vector<RecordedAccess>& actual,
                  const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(expected[i].phys, actual[i].phys) << what << " write " << i;
        EXPECT_EQ(expected[i].value, actual[i].value & expected[i].mask) << what << " write " << i;
    }
}

std::unique_ptr<testing_support::TestModule> OpenModule(const std::string& profile) {
    ResetSystemState();
    return std::make_unique<testing_support::TestModule>(profile);
}

enum class Call { Level, Direction, Function, DrivePinHigh };

struct PinCase {
    const char* name;
    const char* profile;
    Call call;
    DWORD pin;
    DWORD function;
    BOOL on;
    std::vector<Write> writes;
};

TEST(PinControl, RegisterWritesByProcessor) {
    // clang-format off
    const PinCase cases[] = {
        {"level 130 on a PXA320", "pxa320-d3ec", Call::Level, 130, 0, TRUE, {{0x40E00018, 0x4, ~0u}}},
        {"level 130 on a PXA300", "pxa300-f1ec", Call::Level, 130, 0, TRUE, {{0x40E00018, 0x4, ~0u}}},
        {"level 130 on a PXA27x", "pxa270", Call::Level, 130, 0, TRUE, {{0x40E00018, 0x4, ~0u}}},
        {"level 100 low on a PXA27x", "pxa270", Call::Level, 100, 0, FALSE, {{0x40E00124, 0x10, ~0u}}},
        {"direction 100 on a PXA27x", "pxa270", Call::Direction, 100, 0, TRUE, {{0x40E0010C, 0x10, 0x10}}},
        {"direction 40 input on a PXA320", "pxa320-d3ec", Call::Direction, 40, 0, FALSE,
         {{0x40E00424, 0x100, ~0u}}},
        {"function 60 on a PXA320", "pxa320-d3ec", Call::Function, 60, 0, TRUE, {{0x40E10488, 0, 7}}},
        {"function 50, 2 on a PXA300", "pxa300-f1ec", Call::Function, 50, 2, TRUE,
         {{0x40E1045C, 2, 7}, {0x40E00404, 1u << 18, ~0u}}},
        {"function 50, 0 on a PXA300", "pxa300-f1ec", Call::Function, 50, 0, TRUE, {{0x40E1045C, 0, 7}}},
        {"function 20, 1 input on a PXA27x", "pxa270", Call::Function, 20, 1, FALSE,
         {{0x40E00058, 1u << 8, 3u << 8}, {0x40E0000C, 0, 1u << 20}}},
        {"pin 73 high on a PXA300", "pxa300-f1ec", Call::DrivePinHigh, 73, 0, TRUE,
         {{0x40E104B8, 0, 7}, {0x40E00408, 1u << 9, ~0u}, {0x40E00020, 1u << 9, ~0u}}},
        {"pin 73 high on a PXA320", "pxa320-d3ec", Call::DrivePinHigh, 73, 0, TRUE,
         {{0x40E104DC, 0, 7}, {0x40E00408, 1u << 9, ~0u}, {0x40E00020, 1u << 9, ~0u}}},
    };
    // clang-format on
    for (const PinCase& c : cases) {
        auto module = OpenModule(c.profile);
        GpioInit();
        BusRecorder recorder(module->module());
        switch (c.call) {
            case Call::Level: EXPECT_TRUE(GpioSetLevel(c.pin, c.on)) << c.name; break;
            case Call::Direction: EXPECT_TRUE(GpioSetDirection(c.pin, c.on)) << c.name; break;
            case Call::Function: GpioSetFunction(c.pin, c.function, c.on); break;
            case Call::DrivePinHigh: DrivePinHigh(c.pin); break;
        }
        ExpectWrites(c.writes, PinWrites(recorder), c.name);
        GpioRelease();
    }
}

TEST(PinControl, FunctionChangesKeepTheOtherMfprBits) {
    auto module = OpenModule("pxa320-d3ec");
    GpioSetFunction(73, 5, TRUE);
    BusRecorder recorder(module->module());
    GpioSetFunction(73, 0, TRUE);
    std::vector<RecordedAccess> writes = PinWrites(recorder);
    ASSERT_FALSE(writes.empty());
    uint32_t before = 0;
    for (const RecordedAccess& access : recorder.accesses()) {
        if (!access.write && access.phys == 0x40E104DC) {
            before = access.value;
        }
    }
    EXPECT_EQ(0x40E104DCu, writes[0].phys);
    EXPECT_EQ(before & ~7u, writes[0].value);
    GpioRelease();
}

TEST(PinControl, SetOperationsMapTheWindowsThemselvesAndReleaseUnmaps) {
    auto module = OpenModule("pxa300-f1ec");
    ASSERT_FALSE(GpioInitialised);
    EXPECT_TRUE(GpioSetLevel(5, TRUE));
    EXPECT_TRUE(GpioInitialised);
    EXPECT_NE(nullptr, GpioWindow);
    EXPECT_NE(nullptr, PinFunctionWindow);
    GpioRelease();
    EXPECT_FALSE(GpioInitialised);
    EXPECT_EQ(nullptr, GpioWindow);
    EXPECT_EQ(nullptr, PinFunctionWindow);
    BusRecorder recorder(module->module());
    EXPECT_TRUE(GpioSetDirection(5, TRUE));
    ExpectWrites({{0x40E00400, 1u << 5, ~0u}}, PinWrites(recorder), "direction after release");
    GpioRelease();
}

TEST(PinControl, PinsTheProcessorLacksAreLeftAlone) {
    const struct {
        const char* profile;
        DWORD pin;
    } cases[] = {{"pxa270", 128}, {"pxa300-f1ec", 139}, {"pxa320-d3ec", 140}};
    for (const auto& c : cases) {
        auto module = OpenModule(c.profile);
        GpioInit();
        BusRecorder recorder(module->module());
        EXPECT_FALSE(GpioSetDirection(c.pin, TRUE)) << c.profile;
        GpioSetFunction(c.pin, 0, TRUE);
        EXPECT_TRUE(PinWrites(recorder).empty()) << c.profile;
        GpioRelease();
    }
}

TEST(PinControl, SmallPageNandPartsDrivePin73High) {
    const struct {
        const char* profile;
        bool pinSetUp;
        // clang-format off
    } cases[] = {
        {"pxa320-75ec", true}, {"pxa320-76ec", true}, {"pxa320-d3ec", false},
        {"pxa300-f1ec", false}, {"pxa320-dcad", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        ResetSystemState();
        testing_support::TestModule module(c.profile, {"nand.os_builds_bbmt=false"});
        BusRecorder recorder(module.module());
        ASSERT_NE(0, SelectFlashBackend()) << c.profile;
        std::vector<RecordedAccess> writes = PinWrites(recorder);
        if (c.pinSetUp) {
            ExpectWrites({{0x40E104DC, 0, 7}, {0x40E00408, 1u << 9, ~0u}, {0x40E00020, 1u << 9, ~0u}}, writes,
                         c.profile);
        } else {
            EXPECT_TRUE(writes.empty()) << c.profile;
        }
        EXPECT_FALSE(GpioInitialised) << "windows released after the pin setup";
    }
}

}  // namespace
