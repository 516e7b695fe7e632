// Injected faults from the profile, the chips' events and the counters
// derived from them, and the profile keys the model refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "module/assembly/nor_profile.h"
#include "module/hw/wear/wear_file.h"
#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::kReady;
using nor_test::NorBus;
using testing_support::TestModule;

enum class Op { WordProgram, BufferProgram, Erase };

struct FaultCase {
    const char* name;
    const char* profile;
    std::string fault;  // one profile line
    Op op;
    uint32_t offset;
    uint32_t status;
    uint32_t stored;  // the word at offset afterwards (the array starts as 0x5A bytes or erased)
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, StatusAndArray) {
    const FaultCase& c = GetParam();
    TestModule module(c.profile, {"nor.query_size=19", c.fault});
    NorBus nor(module);
    uint32_t block = c.offset & ~(nor.pair().block_size_at(c.offset) - 1);
    nor.LockCommand(block, 0xD0);
    nor.Command(block, 0x50);
    testing_support::EventRecorder trace(module.module());
    uint32_t status = 0;
    switch (c.op) {
        case Op::WordProgram: status = nor.ProgramWord(c.offset, 0x00000000); break;
        case Op::BufferProgram: status = nor.ProgramBuffer(c.offset, {0x0, 0x0}); break;
        case Op::Erase:
            nor.FillFile(block, nor.pair().block_size_at(c.offset), 0x5A);
            status = nor.Erase(c.offset);
            break;
    }
    EXPECT_EQ(c.status, status);
    nor.Command(c.offset, 0xFF);
    EXPECT_EQ(c.stored, nor.Read(c.offset));
    EXPECT_EQ(c.stored, nor.FileWord(c.offset));
    bool failed = c.status != kReady;
    EXPECT_EQ(failed ? 2u : 0u, nor.counters().failed_operations);
    EXPECT_EQ(failed ? 2u : 0u, trace.of(sim::EventKind::Fault).size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    // clang-format off
    testing::Values(
        FaultCase{"erase_error", "pxa270", "nor.fault.erase_error=[0x40000]", Op::Erase, 0x40000, 0x00A000A0, 0x5A5A5A5A},
        FaultCase{"erase_error_named_inside_block", "pxa270", "nor.fault.erase_error=[0x7FFF0]", Op::Erase, 0x40100,
                  0x00A000A0, 0x5A5A5A5A},
        FaultCase{"erase_error_other_block", "pxa270", "nor.fault.erase_error=[0x40000]", Op::Erase, 0x80000, kReady,
                  0xFFFFFFFF},
        FaultCase{"erase_error_spares_programs", "pxa270", "nor.fault.erase_error=[0x40000]", Op::WordProgram, 0x40000,
                  kReady, 0x00000000},
        FaultCase{"program_error_word", "pxa270", "nor.fault.program_error=[0x40000]", Op::WordProgram, 0x40010,
                  0x00900090, 0xFFFFFFFF},
        FaultCase{"program_error_buffer", "pxa270", "nor.fault.program_error=[0x40000]", Op::BufferProgram, 0x40010,
                  0x00900090, 0xFFFFFFFF},
        FaultCase{"program_error_spares_erase", "pxa270", "nor.fault.program_error=[0x40000]", Op::Erase, 0x40000,
                  kReady, 0xFFFFFFFF},
        FaultCase{"vpp_low_program", "pxa270", "nor.fault.vpp_low=true", Op::WordProgram, 0x40000, 0x00980098,
                  0xFFFFFFFF},
        FaultCase{"vpp_low_buffer", "pxa270", "nor.fault.vpp_low=true", Op::BufferProgram, 0x40000, 0x00980098,
                  0xFFFFFFFF},
        FaultCase{"vpp_low_erase", "pxa270", "nor.fault.vpp_low=true", Op::Erase, 0x40000, 0x00A800A8, 0x5A5A5A5A},
        FaultCase{"p30_parameter_block", "pxa270-p30", "nor.fault.erase_error=[0x10000]", Op::Erase, 0x10000,
                  0x00A000A0, 0x5A5A5A5A},
        FaultCase{"p30_next_parameter_block", "pxa270-p30", "nor.fault.erase_error=[0x10000]", Op::Erase, 0x20000,
                  kReady, 0xFFFFFFFF},
        FaultCase{"fail_from_first_erase", "pxa270", "nor.wear.fail_from_op=1", Op::Erase, 0x40000, 0x00A000A0,
                  0x5A5A5A5A},
        FaultCase{"fail_from_first_program", "pxa270", "nor.wear.fail_from_op=1", Op::BufferProgram, 0x40000,
                  0x00900090, 0xFFFFFFFF},
        FaultCase{"fail_from_second", "pxa270", "nor.wear.fail_from_op=2", Op::Erase, 0x40000, kReady, 0xFFFFFFFF}),
    // clang-format on
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(NorFault, FaultOnOneBlockTakesItsTimeFirst) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.fault.erase_error=[0x40000]"});
    NorBus nor(module);
    uint64_t start = nor.now_ns();
    EXPECT_EQ(0x00A000A0u, nor.Erase(0x40000));
    EXPECT_GE(nor.now_ns() - start, 1000000000u) << "the erase runs its time, then reports";
}

// Each chip counts its blocks' erases in wear.bin, made at the first count:
// a block at its erase limit fails its next erase with SR5, after a restart
// too, while its neighbours erase on.
TEST(NorWear, ErasesAreCountedKeptAndWearTheBlockOut) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.wear.erase_limit=2"});
    std::filesystem::path dir = module.dir() / "module";
    EXPECT_FALSE(std::filesystem::exists(dir / sim::WearFile::kFileName)) << "nothing has worn yet";
    {
        NorBus nor(module);
        EXPECT_EQ(kReady, nor.Erase(0x40000));
        EXPECT_EQ(kReady, nor.Erase(0x40000));
    }
    module.reopen();
    NorBus nor(module);
    EXPECT_EQ(0x00A000A0u, nor.Erase(0x40000)) << "the third erase";
    nor.Command(0x40000, 0x50);
    EXPECT_EQ(kReady, nor.ProgramWord(0x40000, 0x12345678)) << "what the last erase left still programs";
    EXPECT_EQ(kReady, nor.Erase(0x80000));
    sim::WearFile wear;
    std::string error;
    ASSERT_TRUE(wear.open(dir, {2, 4, 0}, &error)) << error;
    for (unsigned chip : {0u, 1u}) {
        SCOPED_TRACE(chip);
        EXPECT_EQ(0u, wear.erases(chip, 0));
        EXPECT_EQ(2u, wear.erases(chip, 1)) << "a failed erase does not count";
        EXPECT_EQ(1u, wear.erases(chip, 2));
    }
    sim::WearFile other;
    EXPECT_FALSE(other.open(dir, {2, 8, 0}, &error));
    EXPECT_NE(std::string::npos, error.find("wear.bin counts 2 chips of 4 blocks; the flash has 2 chips of 8 blocks"))
        << error;
}

TEST(NorEvents, OnlyCountedUntilSomeoneListensThenTellTheSteps) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    sim::EventSink& events = module.module().events();
    nor.ProgramWord(0x40, 0x1);
    EXPECT_FALSE(events.wants(sim::EventKind::Command)) << "nobody listens: an event costs one test";
    EXPECT_FALSE(events.wants(sim::EventKind::Read));
    EXPECT_EQ(2u, nor.counters().operations(sim::Operation::WordProgram)) << "the counters always listen";
    std::vector<std::string> chip1;
    {
        testing_support::EventRecorder trace(module.module());
        nor.ProgramWord(0x40, 0x0);
        nor.Command(0x40, 0xFF);
        chip1 = trace.lines(sim::EventSource::Nor, 1);
    }
    EXPECT_FALSE(events.wants(sim::EventKind::Command)) << "the recorder is gone";
    // The first program ended with its ready read at 210.3 us; each bus
    // access costs 100 ns; the second program is busy 210 us from its data write.
    std::vector<std::string> expected = {
        "t=210.400us chip1 0x00000040 command value=0x0040",
        "t=210.500us chip1 0x00000040 started word-program value=0x0000",
        "t=420.500us chip1 0x00000040 finished word-program status=0x80",
        "t=420.700us chip1 0x00000040 command value=0x00ff",
    };
    EXPECT_EQ(expected, chip1);
}

TEST(NorEvents, CountWhatTheChipsDid) {
    TestModule module("pxa270", {"nor.query_size=19", "nor.locked=[0x80000]"});
    NorBus nor(module);
    nor.ProgramWord(0x0, 0x0);
    nor.ProgramWord(0x4, 0x0);
    std::vector<uint32_t> words(16, 0);
    nor.ProgramBuffer(0x40, words);
    nor.Erase(0x40000);
    nor.Erase(0x80000);  // locked: refused
    nor.Command(0, 0x20);
    nor.Command(0, 0x00);  // sequence error
    const sim::FlashCounters& c = nor.counters();
    // Byte counts are the device's; operation counts add up both chips.
    EXPECT_EQ(8u + 64u, c.bytes_programmed);
    EXPECT_EQ(0x40000u, c.bytes_erased);
    EXPECT_EQ(4u, c.operations(sim::Operation::WordProgram));
    EXPECT_EQ(2u, c.operations(sim::Operation::BufferProgram));
    EXPECT_EQ(4u, c.operations(sim::Operation::BlockErase));
    EXPECT_EQ(2u, c.failed_operations);
    EXPECT_EQ(2u, c.sequence_errors);
}

struct BadProfileCase {
    const char* name;
    std::vector<std::string> overrides;
    const char* message;  // part of the error
};

void PrintTo(const BadProfileCase& c, std::ostream* out) { *out << c.name; }

class BadProfileTest : public testing::TestWithParam<BadProfileCase> {};

TEST_P(BadProfileTest, ModuleRefusesWithAReason) {
    const BadProfileCase& c = GetParam();
    try {
        TestModule module("pxa270", c.overrides);
        FAIL() << "module opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BadProfileTest,
    testing::Values(
        BadProfileCase{"misspelt_fault", {"nor.query_size=19", "nor.fault.erase_eror=[0]"}, "nor.fault.erase_eror"},
        BadProfileCase{"misspelt_time", {"nor.query_size=19", "nor.time.erase_ms=3"}, "nor.time.erase_ms"},
        BadProfileCase{"fault_past_end", {"nor.query_size=19", "nor.fault.program_error=[0x100000]"}, "0x100000"},
        BadProfileCase{"lock_past_end", {"nor.query_size=19", "nor.locked=[0x40000, 0x200000]"}, "0x200000"},
        BadProfileCase{"query_size_small", {"nor.query_size=16"}, "nor.query_size 16"},
        BadProfileCase{"query_size_large", {"nor.query_size=27"}, "nor.query_size 27"},
        BadProfileCase{"unknown_family", {"nor.query_size=19", "nor.family=\"x\""}, "nor.family"},
        BadProfileCase{"code_as_text", {"nor.device_code=\"abc\""}, "nor.device_code must be an integer in 0..0xFFFF"},
        BadProfileCase{"size_negative", {"nor.query_size=-1"}, "nor.query_size -1 is outside 17..26"},
        BadProfileCase{"size_not_a_number", {"nor.query_size=abc"}, "nor.query_size=abc: nor.query_size must be"},
        BadProfileCase{"item5_empty", {"hal.item5=[]"}, "hal.item5 must be a list of 1 to 64 integers"},
        BadProfileCase{"product_wide", {"cpu.product=0xFFFFFFFFFFFF"}, "cpu.product 0xFFFFFFFFFFFF is outside 0..63"},
        BadProfileCase{"unknown_key", {"nor.speed=1"}, "unknown key nor.speed"},
        BadProfileCase{"list_for_flag", {"nor.fault.vpp_low=[1]"}, "nor.fault.vpp_low must be true or false"},
        BadProfileCase{"misspelt_wear", {"nor.wear.erase_limt=3"}, "unknown key nor.wear.erase_limt"},
        BadProfileCase{"flips_past_a_million",
                       {"nand.wear.bitflip_ppm=1000001"},
                       "nand.wear.bitflip_ppm 1000001 is outside 0..1000000"},
        BadProfileCase{"p30_too_small", {"nor.family=\"p30\"", "nor.query_size=17"}, "too small"}),
    [](const testing::TestParamInfo<BadProfileCase>& info) { return std::string(info.param.name); });

TEST(NorProfile, SizeOfAKnownCodeComesFromItsPartAndAnUnknownCodeNeedsOne) {
    struct {
        uint32_t device_code;
        bool ok;
        uint64_t device_size;
        // clang-format off
    } const cases[] = {
        {0x0016, true, 0x800000}, {0x0018, true, 0x2000000}, {0x001D, true, 0x4000000},
        {0x881A, true, 0x1000000}, {0x8803, true, 0x4000000}, {0x1234, false, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        sim::Config profile;
        profile.set_u32("nor.device_code", c.device_code, true);
        sim::NorPairConfig config;
        std::string error;
        EXPECT_EQ(c.ok, sim::nor_config_from_profile(profile, &config, &error)) << std::hex << c.device_code;
        if (c.ok) {
            EXPECT_EQ(c.device_size, config.device_size()) << std::hex << c.device_code;
        } else {
            EXPECT_NE(std::string::npos, error.find("nor.query_size is needed")) << error;
        }
    }
}

TEST(NorProfile, FamilyKeyGivesAnUnknownCodeTheP30Layout) {
    TestModule module("pxa270", {"nor.device_code=0x8922", "nor.family=\"p30\"", "nor.query_size=19"});
    NorBus nor(module);
    EXPECT_EQ(0x10000u, nor.pair().block_size_at(0x30000));
    EXPECT_EQ(0x40000u, nor.pair().block_size_at(0x40000));
    EXPECT_EQ(0x00010001u, nor.LockWord(0x0)) << "locked at power-up";
    nor.Command(0, 0x90);
    EXPECT_EQ(0x89228922u, nor.Read(4));
}

TEST(NorProfile, UnknownCodeBehavesAsJ3) {
    TestModule module("pxa270", {"nor.device_code=0x8922", "nor.query_size=19"});
    NorBus nor(module);
    EXPECT_EQ(0x40000u, nor.pair().block_size_at(0x0));
    EXPECT_EQ(0u, nor.LockWord(0x0)) << "J3 bits, unlocked as created";
    nor.Command(0, 0x98);
    EXPECT_EQ(0x00050005u, nor.Read(4 * 0x2A)) << "32-byte buffer";
}

}  // namespace
