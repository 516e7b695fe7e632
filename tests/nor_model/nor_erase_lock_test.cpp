// Block erase and block locking: which bytes of nor.bin an erase sets, how
// locks refuse it, J3 legacy clear-all against P30 per-block locks.
#include <gtest/gtest.h>

#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::kBusy;
using nor_test::kReady;
using nor_test::NorBus;
using testing_support::TestModule;

struct EraseCase {
    const char* name;
    const char* profile;
    uint32_t command_offset;  // anywhere inside the block
    uint32_t block_start;
    uint32_t block_size;
};

void PrintTo(const EraseCase& c, std::ostream* out) { *out << c.name; }

class EraseTest : public testing::TestWithParam<EraseCase> {};

TEST_P(EraseTest, SetsExactlyTheBlockToOnes) {
    const EraseCase& c = GetParam();
    TestModule module(c.profile, {"nor.query_size=19"});
    NorBus nor(module);
    nor.FillFile(0, 0x100000, 0x00);
    nor.Command(c.block_start, 0x60);
    nor.Command(c.block_start, 0xD0);
    ASSERT_EQ(kReady, nor.Poll(c.block_start, 10000));
    EXPECT_EQ(kReady, nor.Erase(c.command_offset));
    nor.Command(c.block_start, 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(c.block_size, 0xFF), nor.FileBytes(c.block_start, c.block_size));
    if (c.block_start > 0) {
        EXPECT_EQ(0u, nor.FileWord(c.block_start - 4)) << "block below untouched";
    }
    if (c.block_start + c.block_size < 0x100000) {
        EXPECT_EQ(0u, nor.FileWord(c.block_start + c.block_size)) << "block above untouched";
    }
    EXPECT_EQ(uint64_t{c.block_size}, nor.counters().bytes_erased);
    EXPECT_EQ(c.block_size, nor.pair().block_size_at(c.command_offset));
}

INSTANTIATE_TEST_SUITE_P(Layouts, EraseTest,
                         testing::Values(EraseCase{"j3_first", "pxa270", 0x0, 0x0, 0x40000},
                                         EraseCase{"j3_inside", "pxa270", 0x40004, 0x40000, 0x40000},
                                         EraseCase{"j3_last_word", "pxa270", 0xFFFFC, 0xC0000, 0x40000},
                                         EraseCase{"p30_parameter_0", "pxa270-p30", 0x8, 0x0, 0x10000},
                                         EraseCase{"p30_parameter_1", "pxa270-p30", 0x1FFFC, 0x10000, 0x10000},
                                         EraseCase{"p30_parameter_3", "pxa270-p30", 0x30000, 0x30000, 0x10000},
                                         EraseCase{"p30_main_first", "pxa270-p30", 0x40000, 0x40000, 0x40000},
                                         EraseCase{"p30_main_last", "pxa270-p30", 0xC1234, 0xC0000, 0x40000}),
                         [](const testing::TestParamInfo<EraseCase>& info) { return std::string(info.param.name); });

TEST(NorErase, K3LayoutIsUniform) {
    TestModule module("pxa270", {"nor.device_code=0x8801", "nor.query_size=19"});
    NorBus nor(module);
    for (uint32_t offset : {0x0u, 0x10000u, 0x3FFFCu, 0x40000u})
        EXPECT_EQ(0x40000u, nor.pair().block_size_at(offset)) << std::hex << offset;
    nor.FillFile(0, 0x40000, 0x00);
    nor.LockCommand(0x10000, 0xD0);
    EXPECT_EQ(kReady, nor.Erase(0x10000));
    EXPECT_EQ(std::vector<uint8_t>(0x40000, 0xFF), nor.FileBytes(0, 0x40000));
}

TEST(NorErase, LockedBlockRefusesWithSR1AndSR5) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x40000]"});
    NorBus nor(module);
    nor.FillFile(0x40000, 0x40000, 0x5A);
    EXPECT_EQ(0x00A200A2u, nor.Erase(0x40000));
    EXPECT_EQ(0x5A5A5A5Au, nor.FileWord(0x40000));
    EXPECT_EQ(0u, nor.counters().bytes_erased);
    // An unlocked neighbour erases; the error bits stay until Clear Status.
    nor.FillFile(0x80000, 0x4, 0x5A);
    EXPECT_EQ(0x00A200A2u, nor.Erase(0x80000));
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x80000));
}

TEST(NorErase, WithoutConfirmIsASequenceError) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    nor.FillFile(0, 0x10, 0x00);
    nor.Command(0, 0x20);
    nor.Command(0, 0x40);
    EXPECT_EQ(0x00B000B0u, nor.Read(0));
    EXPECT_EQ(0u, nor.FileWord(0));
}

TEST(NorLock, J3SetLockTakesItsTimeAndPersistsBitsInTheLockFile) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    uint64_t start = nor.now_ns();
    EXPECT_EQ(kReady, nor.LockCommand(0x80000, 0x01));
    uint64_t elapsed = nor.now_ns() - start;
    EXPECT_GE(elapsed, 64000u);
    EXPECT_LT(elapsed, 70000u);
    EXPECT_EQ(0x00010001u, nor.LockWord(0x80000));
    EXPECT_EQ(0u, nor.LockWord(0x40000));
    std::vector<uint8_t> locks = module.read_file("nor.locks");
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 1, 1, 0, 0}), locks);
}

TEST(NorLock, J3ClearAllIsBusyHalfASecondAndClearsEveryBlock) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x0, 0x40000, 0xC0000]"});
    NorBus nor(module);
    nor.FillFile(0x100, 4, 0x33);
    nor.Command(0x40000, 0x60);
    uint64_t start = nor.now_ns();
    nor.Command(0x40000, 0xD0);
    // While busy every read gives the status, and commands are ignored.
    EXPECT_EQ(kBusy, nor.Read(0x100));
    nor.Command(0, 0xFF);
    nor.Command(0, 0x90);
    EXPECT_EQ(kBusy, nor.Read(0x8));
    int reads = 0;
    EXPECT_EQ(kReady, nor.Poll(0x40000, 10000, &reads));
    uint64_t elapsed = nor.now_ns() - start;
    EXPECT_GE(elapsed, 500000000u);
    EXPECT_LT(elapsed, 501000000u);
    EXPECT_GE(reads, 490);
    EXPECT_LE(reads, 500);
    for (uint32_t block = 0; block < 4; ++block) EXPECT_EQ(0u, nor.LockWord(block * 0x40000)) << block;
    EXPECT_EQ(std::vector<uint8_t>(8, 0), module.read_file("nor.locks"));
    EXPECT_EQ(0x33333333u, nor.Read(0x100)) << "array untouched";
}

TEST(NorLock, J3ReadsStatusWhenIdentifierIsAskedAtOnceAfterClearAll) {
    // Reading the lock word straight after the confirm meets a busy chip.
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x40000]"});
    NorBus nor(module);
    nor.Command(0x40000, 0x60);
    nor.Command(0x40000, 0xD0);
    nor.Command(0x40000, 0x90);
    EXPECT_EQ(kBusy, nor.Read(0x40008));
    nor.Command(0x40000, 0xFF);
    EXPECT_EQ(kBusy, nor.Read(0x40000)) << "Read Array is ignored while busy";
}

TEST(NorLock, J3HasNoLockDown) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    EXPECT_EQ(0x00B000B0u, nor.LockCommand(0x40000, 0x2F));
    EXPECT_EQ(0u, nor.LockWord(0x40000));
}

TEST(NorLock, LockSetupWithAnUnknownConfirmIsASequenceError) {
    for (const char* profile : {"pxa270", "pxa270-p30"}) {
        TestModule module(profile, {"nor.query_size=19"});
        NorBus nor(module);
        EXPECT_EQ(0x00B000B0u, nor.LockCommand(0x40000, 0x20)) << profile;
    }
}

TEST(NorLock, P30PerBlockCommandsTakeEffectAtOnce) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    NorBus nor(module);
    struct {
        uint32_t block;
        uint16_t confirm;
        uint32_t lock_word;
    } const steps[] = {
        {0x40000, 0xD0, 0x00000000},  // unlock
        {0x10000, 0xD0, 0x00000000},  // unlock a parameter block
        {0x40000, 0x01, 0x00010001},  // lock again
        {0x80000, 0x2F, 0x00030003},  // lock down
        {0x80000, 0xD0, 0x00030003},  // a locked-down block stays locked
    };
    for (const auto& s : steps) {
        nor.Command(s.block, 0x60);
        nor.Command(s.block, s.confirm);
        // No wait: Read Identifier straight after the confirm.
        nor.Command(s.block, 0x90);
        EXPECT_EQ(s.lock_word, nor.Read(s.block + 8)) << std::hex << s.block << " " << s.confirm;
        nor.Command(s.block, 0xFF);
    }
    EXPECT_EQ(0x00010001u, nor.LockWord(0x0)) << "neighbours keep their bits";
    EXPECT_EQ(0x00010001u, nor.LockWord(0x20000));
    EXPECT_EQ(0x00010001u, nor.LockWord(0xC0000));
    EXPECT_FALSE(std::filesystem::exists(module.dir() / "module" / "nor.locks"));
}

TEST(NorLock, P30LocksReturnAtEveryPowerUp) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    NorBus nor(module);
    nor.LockCommand(0x40000, 0xD0);
    ASSERT_EQ(0u, nor.LockWord(0x40000));
    module.reopen();
    NorBus reopened(module);
    EXPECT_EQ(0x00010001u, reopened.LockWord(0x40000));
}

struct StuckCase {
    const char* name;
    const char* profile;
    const char* fault;
    uint32_t unlock_at;
    uint32_t status;
};

void PrintTo(const StuckCase& c, std::ostream* out) { *out << c.name; }

class StuckLockTest : public testing::TestWithParam<StuckCase> {};

TEST_P(StuckLockTest, BitStaysAndOnlyTheLoudFaultReports) {
    const StuckCase& c = GetParam();
    TestModule module(c.profile, {"nor.query_size=19", std::string(c.fault) + "=[0x80000]"});
    NorBus nor(module);
    EXPECT_EQ(0x00010001u, nor.LockWord(0x80000)) << "a stuck bit is set from power-up";
    testing_support::EventRecorder trace(module.module());
    EXPECT_EQ(c.status, nor.LockCommand(c.unlock_at, 0xD0));
    EXPECT_EQ(0x00010001u, nor.LockWord(0x80000));
    EXPECT_EQ(0x00A200A2u, nor.Erase(0x80000)) << "erase still refused";
    int faults = 0;
    for (const sim::DeviceEvent& e : trace.of(sim::EventKind::Fault))
        if (e.fault == sim::FaultKind::StuckLock) ++faults;
    EXPECT_EQ(2, faults) << "one per chip";
}

INSTANTIATE_TEST_SUITE_P(
    Families, StuckLockTest,
    testing::Values(StuckCase{"j3_clear_all", "pxa270", "nor.fault.stuck_lock", 0x0, 0x00A000A0},
                    StuckCase{"p30_unlock", "pxa270-p30", "nor.fault.stuck_lock", 0x80000, 0x00A000A0},
                    StuckCase{"j3_silent", "pxa270", "nor.fault.silent_lock", 0x0, 0x00800080},
                    StuckCase{"p30_silent", "pxa270-p30", "nor.fault.silent_lock", 0x80000, 0x00800080}),
    [](const testing::TestParamInfo<StuckCase>& info) { return std::string(info.param.name); });

TEST(NorLock, J3ClearAllSparesOnlyTheStuckBlock) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x0, 0x40000]", "nor.fault.stuck_lock=[0xC0000]"});
    NorBus nor(module);
    EXPECT_EQ(0x00A000A0u, nor.LockCommand(0x0, 0xD0));
    const uint32_t expected[] = {0, 0, 0, 0x00010001};
    for (uint32_t block = 0; block < 4; ++block) EXPECT_EQ(expected[block], nor.LockWord(block * 0x40000)) << block;
}

}  // namespace
