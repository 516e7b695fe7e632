// Busy times on the module's virtual clock: the default typical times, the
// profile's overrides, the polling cost, and a chip that never gets ready.
#include <gtest/gtest.h>

#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::kBusy;
using nor_test::kReady;
using nor_test::NorBus;
using testing_support::TestModule;

enum class Op { WordProgram, BufferProgram, Erase, SetLock, ClearLocks, Unlock };

struct TimingCase {
    const char* name;
    const char* profile;
    std::vector<std::string> overrides;
    Op op;
    uint32_t offset;
    uint64_t busy_ns;  // the chip's busy time
    int reads;         // status reads until ready: one per 1 ms of polling, plus the ready one
};

void PrintTo(const TimingCase& c, std::ostream* out) { *out << c.name; }

class BusyTimeTest : public testing::TestWithParam<TimingCase> {};

// Starts the operation; returns after its last (starting) write.
void Start(NorBus& nor, Op op, uint32_t offset) {
    switch (op) {
        case Op::WordProgram:
            nor.Command(offset, 0x40);
            nor.Write(offset, 0x12345678);
            break;
        case Op::BufferProgram:
            nor.Command(offset, 0xE8);
            nor.Read(offset);
            nor.Write(offset, 0x000F000F);
            for (uint32_t i = 0; i < 16; ++i) nor.Write(offset + 4 * i, i);
            nor.Command(offset + 60, 0xD0);
            break;
        case Op::Erase:
            nor.Command(offset, 0x20);
            nor.Command(offset, 0xD0);
            break;
        case Op::SetLock:
            nor.Command(offset, 0x60);
            nor.Command(offset, 0x01);
            break;
        case Op::ClearLocks:
        case Op::Unlock:
            nor.Command(offset, 0x60);
            nor.Command(offset, 0xD0);
            break;
    }
}

TEST_P(BusyTimeTest, ReadyAfterTheBusyTime) {
    const TimingCase& c = GetParam();
    std::vector<std::string> overrides = c.overrides;
    overrides.push_back("nor.query_size=19");
    TestModule module(c.profile, overrides);
    NorBus nor(module);
    if (std::string(c.profile) == "pxa270-p30" && c.op != Op::Unlock) nor.LockCommand(c.offset, 0xD0);
    Start(nor, c.op, c.offset);
    uint64_t started = nor.now_ns();
    int reads = 0;
    EXPECT_EQ(kReady, nor.Poll(c.offset, 100000, &reads));
    // The ready read lands one bus cycle (100 ns) after the end of the busy time.
    EXPECT_EQ(c.busy_ns + 100, nor.now_ns() - started);
    EXPECT_EQ(c.reads, reads);
}

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000000;

INSTANTIATE_TEST_SUITE_P(
    Times, BusyTimeTest,
    // clang-format off
    testing::Values(
        TimingCase{"j3_word_program", "pxa270", {}, Op::WordProgram, 0x100, 210 * kUs, 2},
        TimingCase{"j3_buffer_program", "pxa270", {}, Op::BufferProgram, 0x100, 218 * kUs, 2},
        TimingCase{"j3_block_erase", "pxa270", {}, Op::Erase, 0x40000, 1000 * kMs, 1001},
        TimingCase{"j3_set_lock", "pxa270", {}, Op::SetLock, 0x40000, 64 * kUs, 2},
        TimingCase{"j3_clear_locks", "pxa270", {}, Op::ClearLocks, 0x40000, 500 * kMs, 501},
        TimingCase{"p30_word_program", "pxa270-p30", {}, Op::WordProgram, 0x40000, 256 * kUs, 2},
        TimingCase{"p30_main_erase", "pxa270-p30", {}, Op::Erase, 0x40000, 1200 * kMs, 1201},
        TimingCase{"p30_parameter_erase", "pxa270-p30", {}, Op::Erase, 0x10000, 400 * kMs, 401},
        TimingCase{"p30_unlock_at_once", "pxa270-p30", {}, Op::Unlock, 0x40000, 0, 1},
        TimingCase{"word_override", "pxa270", {"nor.time.word_program_us=50"}, Op::WordProgram, 0x100, 50 * kUs, 2},
        TimingCase{"buffer_override", "pxa270", {"nor.time.buffer_program_us=2500"}, Op::BufferProgram, 0x100,
                   2500 * kUs, 4},
        TimingCase{"erase_override", "pxa270", {"nor.time.block_erase_ms=3"}, Op::Erase, 0x40000, 3 * kMs, 4},
        TimingCase{"parameter_override", "pxa270-p30", {"nor.time.parameter_erase_ms=7"}, Op::Erase, 0x0, 7 * kMs, 8},
        TimingCase{"clear_override", "pxa270", {"nor.time.clear_locks_ms=20"}, Op::ClearLocks, 0x0, 20 * kMs, 21},
        TimingCase{"lock_override", "pxa270", {"nor.time.set_lock_us=5"}, Op::SetLock, 0x0, 5 * kUs, 2},
        TimingCase{"p30_lock_override", "pxa270-p30", {"nor.time.set_lock_us=1500"}, Op::Unlock, 0x40000,
                   1500 * kUs, 3}),
    // clang-format on
    [](const testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST(NorTiming, ReadsOutsideABusyTimeCostOnlyTheBusCycle) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    uint64_t start = nor.now_ns();
    for (int i = 0; i < 10; ++i) nor.Read(4 * i);
    nor.Command(0, 0x70);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(kReady, nor.Read(0));
    EXPECT_EQ(21 * 100u, nor.now_ns() - start);
}

TEST(NorTiming, TimeOfOneChipBusyCountsForThePair) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    // Only the low chip programs; the high chip idles in status mode.
    nor.Write(0x100, 0x00700040);
    nor.Write(0x100, 0x00700000);
    EXPECT_EQ(0x00800000u, nor.Read(0x100));
    int reads = 0;
    EXPECT_EQ(kReady, nor.Poll(0x100, 100, &reads));
    EXPECT_EQ(1, reads);
    nor.Command(0x100, 0xFF);
    EXPECT_EQ(0xFFFF0000u, nor.Read(0x100)) << "low chip programmed, high chip untouched";
}

struct NeverReadyCase {
    const char* name;
    const char* profile;
    Op op;
    uint32_t offset;
};

void PrintTo(const NeverReadyCase& c, std::ostream* out) { *out << c.name; }

class NeverReadyTest : public testing::TestWithParam<NeverReadyCase> {};

TEST_P(NeverReadyTest, BusyForeverAndEachPollCostsAMillisecond) {
    const NeverReadyCase& c = GetParam();
    TestModule module(c.profile, {"nor.query_size=19", "nor.fault.never_ready=true"});
    NorBus nor(module);
    testing_support::EventRecorder trace(module.module());
    Start(nor, c.op, c.offset);
    uint64_t started = nor.now_ns();
    int reads = 0;
    EXPECT_EQ(kBusy, nor.Poll(c.offset, 2000, &reads));
    EXPECT_EQ(2000, reads);
    EXPECT_EQ(2000 * (kMs + 100), nor.now_ns() - started);
    nor.Command(c.offset, 0xFF);
    EXPECT_EQ(kBusy, nor.Read(c.offset)) << "Read Array is ignored while busy";
    int faults = 0;
    for (const sim::DeviceEvent& e : trace.of(sim::EventKind::Fault))
        if (e.fault == sim::FaultKind::NeverReady) ++faults;
    EXPECT_EQ(2, faults);
    EXPECT_EQ(2u, nor.counters().failed_operations);
}

INSTANTIATE_TEST_SUITE_P(Operations, NeverReadyTest,
                         testing::Values(NeverReadyCase{"word_program", "pxa270", Op::WordProgram, 0x100},
                                         NeverReadyCase{"buffer_program", "pxa270", Op::BufferProgram, 0x100},
                                         NeverReadyCase{"erase", "pxa270", Op::Erase, 0x40000},
                                         NeverReadyCase{"j3_set_lock", "pxa270", Op::SetLock, 0x40000},
                                         NeverReadyCase{"p30_unlock", "pxa270-p30", Op::Unlock, 0x40000}),
                         [](const testing::TestParamInfo<NeverReadyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(NorTiming, ReadStatusIsTheOneCommandABusyChipTakes) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    testing_support::EventRecorder trace(module.module());
    Start(nor, Op::Erase, 0x40000);
    nor.Command(0x40000, 0x70);
    nor.Command(0x40000, 0x50);
    nor.Command(0x40000, 0x90);
    std::vector<sim::EventKind> chip0;
    for (const sim::DeviceEvent& e : trace.events())
        if (e.source == sim::EventSource::Nor && e.unit == 0) chip0.push_back(e.kind);
    using K = sim::EventKind;
    EXPECT_EQ((std::vector<K>{K::Command, K::Started, K::Command, K::Ignored, K::Ignored}), chip0);
    EXPECT_EQ(4u, nor.counters().ignored_while_busy);
}

}  // namespace
