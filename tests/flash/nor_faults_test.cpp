// NOR failures: chips that never become ready (exact time-outs on the
// virtual clock, also across the tick counter's wrap), error bits after
// erase and program, and programming voltage low.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "platform/windows.h"
#include "tests/flash/nor_test_support.h"

using flash_test::OpenNor;
using flash_test::PeekFlash;
using flash_test::PokeFlash;
using flash_test::Write;
using flash_test::Writes;
using flash_test::WritesOf;
using testing_support::BusRecorder;

namespace {

enum class Op { Erase, Word, Buffer };

struct TimeoutCase {
    const char* name;
    Op op;
    const char* startTick;
    DWORD timeoutMs;
    DWORD slackMs;    // a 100 ms sleep may overshoot the erase's deadline
    Write lastWrite;  // the closing Read Array
};

const TimeoutCase kTimeouts[] = {
    {"erase", Op::Erase, "clock.start_ms=0", 10000, 100, {0x80000, 0x00FF00FF}},
    {"word", Op::Word, "clock.start_ms=0", 1000, 1, {0x80010, 0x00FF00FF}},
    {"buffer", Op::Buffer, "clock.start_ms=0", 2000, 1, {0x8003C, 0x00FF00FF}},
    {"erase across the wrap", Op::Erase, "clock.start_ms=0xFFFFF000", 10000, 100, {0x80000, 0x00FF00FF}},
    {"word across the wrap", Op::Word, "clock.start_ms=0xFFFFFF00", 1000, 1, {0x80010, 0x00FF00FF}},
    {"buffer across the wrap", Op::Buffer, "clock.start_ms=0xFFFFFC00", 2000, 1, {0x8003C, 0x00FF00FF}},
};

TEST(NorTimeouts, ChipThatNeverBecomesReady) {
    for (const TimeoutCase& c : kTimeouts) {
        SCOPED_TRACE(c.name);
        // A slow bus keeps the busy polls of a second down to a few thousand.
        auto module = OpenNor("pxa270", {"nor.fault.never_ready=true", "bus.cycle_ns=20000", c.startTick});
        PokeFlash(*module, 0x80000, {0x00});
        std::vector<BYTE> data(64, 0x00);

        BusRecorder recorder(module->module());
        DWORD start = GetTickCount();
        switch (c.op) {
            case Op::Erase: EXPECT_FALSE(FlashOps.EraseRange(0x80000, 0x40000)); break;
            case Op::Word: EXPECT_FALSE(FlashOps.WriteWord(0x80010, 0)); break;
            case Op::Buffer: EXPECT_FALSE(FlashOps.WriteBuffer(data.data(), 0x80000, 64)); break;
        }
        DWORD elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed, c.timeoutMs);
        EXPECT_LE(elapsed, c.timeoutMs + c.slackMs);
        ASSERT_FALSE(recorder.accesses().empty());
        EXPECT_EQ(c.lastWrite, Writes(recorder).back());
        // The buffered program gives up after its first chunk.
        if (c.op == Op::Buffer) {
            EXPECT_EQ(1u, WritesOf(recorder, 0x00E800E8).size());
        }
        EXPECT_EQ(0x00, PeekFlash(*module, 0x80000, 1)[0]);
    }
}

TEST(NorTimeouts, ErasePollsEvery100Ms) {
    auto module = OpenNor("pxa270", {"nor.fault.never_ready=true"});
    PokeFlash(*module, 0x40000, {0x00});
    BusRecorder recorder(module->module());
    EXPECT_FALSE(NorEraseBlock(0x40000));
    size_t statusReads = 0;
    bool afterConfirm = false;
    for (const auto& access : recorder.accesses()) {
        if (access.write && access.value == 0x00D000D0) afterConfirm = true;
        if (afterConfirm && !access.write) statusReads++;
    }
    // A poll about every 100 ms for 10 s, not a busy loop.
    EXPECT_GE(statusReads, 90u);
    EXPECT_LE(statusReads, 101u);
}

TEST(NorErrorBits, EraseErrorFailsOnlyThatBlock) {
    for (const char* profile : {"pxa270", "pxa270-p30"}) {
        SCOPED_TRACE(profile);
        auto module = OpenNor(profile, {"nor.fault.erase_error=[0x80000]"});
        PokeFlash(*module, 0x80000, {0x00});
        PokeFlash(*module, 0xC0000, {0x00});
        PokeFlash(*module, 0x100000, {0x00});

        EXPECT_FALSE(FlashOps.EraseRange(0x80000, 0x80000));
        EXPECT_EQ(0x00, PeekFlash(*module, 0x80000, 1)[0]);
        EXPECT_EQ(0x00, PeekFlash(*module, 0xC0000, 1)[0]);
        // The error does not stick to the next operation.
        EXPECT_TRUE(FlashOps.EraseRange(0xC0000, 0x80000));
        EXPECT_EQ(0xFF, PeekFlash(*module, 0xC0000, 1)[0]);
        EXPECT_EQ(0xFF, PeekFlash(*module, 0x100000, 1)[0]);
        EXPECT_EQ(0xFFFFFF00u, FlashOps.ReadWord(0x80000));
    }
}

TEST(NorErrorBits, ProgramErrorFailsWordAndBufferPrograms) {
    for (const char* profile : {"pxa270", "pxa270-p30"}) {
        SCOPED_TRACE(profile);
        auto module = OpenNor(profile, {"nor.fault.program_error=[0x80000]"});
        std::vector<BYTE> data(100, 0x3C);

        EXPECT_FALSE(FlashOps.WriteWord(0x80000, 0x12345678));
        EXPECT_FALSE(FlashOps.WriteBuffer(data.data(), 0x80100, 100));
        EXPECT_EQ(std::vector<uint8_t>(0x200, 0xFF), PeekFlash(*module, 0x80000, 0x200));

        // Another block programs fine afterwards.
        EXPECT_TRUE(FlashOps.WriteWord(0xC0000, 0x12345678));
        EXPECT_TRUE(FlashOps.WriteBuffer(data.data(), 0xC0100, 100));
        EXPECT_EQ(0x12345678u, FlashOps.ReadWord(0xC0000));
        EXPECT_EQ(std::vector<uint8_t>(100, 0x3C), PeekFlash(*module, 0xC0100, 100));
    }
}

TEST(NorErrorBits, BufferProgramStopsAtTheFailingChunk) {
    auto module = OpenNor("pxa270", {"nor.fault.program_error=[0xC0000]"});
    std::vector<BYTE> data(0x100, 0x00);
    BusRecorder recorder(module->module());
    EXPECT_FALSE(FlashOps.WriteBuffer(data.data(), 0xBFF80, 0x100));
    // Two chunks land below the faulty block; the first chunk in it fails.
    EXPECT_EQ((std::vector<uint32_t>{0xBFF80, 0xBFFC0, 0xC0000}), WritesOf(recorder, 0x00E800E8));
    EXPECT_EQ(std::vector<uint8_t>(0x80, 0x00), PeekFlash(*module, 0xBFF80, 0x80));
    EXPECT_EQ(std::vector<uint8_t>(0x80, 0xFF), PeekFlash(*module, 0xC0000, 0x80));
    EXPECT_EQ((Write{0xC003C, 0x00FF00FF}), Writes(recorder).back());
}

TEST(NorErrorBits, ProgrammingVoltageLow) {
    auto module = OpenNor("pxa270", {"nor.fault.vpp_low=true"});
    PokeFlash(*module, 0x40000, {0x00});
    std::vector<BYTE> data(8, 0x00);
    EXPECT_FALSE(FlashOps.EraseRange(0x40000, 0x40000));
    EXPECT_FALSE(FlashOps.WriteWord(0x80000, 0));
    EXPECT_FALSE(FlashOps.WriteBuffer(data.data(), 0x80000, 8));
    EXPECT_EQ(0x00, PeekFlash(*module, 0x40000, 1)[0]);
    EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), PeekFlash(*module, 0x80000, 8));
}

}  // namespace
