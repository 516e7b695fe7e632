// NOR programming and reading: the write-buffer chunks on the bus, exact
// bytes in the flash file for aligned and unaligned data, word programs, and
// the range checks at the device end.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "tests/flash/nor_test_support.h"

using flash_test::OpenNor;
using flash_test::PeekFlash;
using flash_test::PokeFlash;
using flash_test::Write;
using flash_test::Writes;
using flash_test::WritesOf;
using testing_support::BusRecorder;

namespace {

// A source of exactly length bytes on the heap, so that reading one byte
// past it is caught by the address sanitizer.
std::unique_ptr<BYTE[]> Source(DWORD length, BYTE seed) {
    std::unique_ptr<BYTE[]> bytes(new BYTE[length]);
    for (DWORD i = 0; i < length; i++) bytes[i] = static_cast<BYTE>(seed + i * 7);
    return bytes;
}

TEST(NorWriteBuffer, SixteenBytesAcrossA64ByteBoundary) {
    auto module = OpenNor("pxa270");
    auto data = Source(16, 0x10);
    BusRecorder recorder(module->module());
    ASSERT_TRUE(FlashOps.WriteBuffer(data.get(), 0x3C, 16));

    auto word = [&](int i) {
        return static_cast<uint32_t>(data[i] | data[i + 1] << 8 | data[i + 2] << 16 | data[i + 3] << 24);
    };
    std::vector<Write> expected = {
        {0x3C, 0x00E800E8}, {0x3C, 0x00000000}, {0x3C, word(0)},    {0x3C, 0x00D000D0},
        {0x40, 0x00E800E8}, {0x40, 0x00020002}, {0x40, word(4)},    {0x44, word(8)},
        {0x48, word(12)},   {0x48, 0x00D000D0}, {0x48, 0x00FF00FF},
    };
    EXPECT_EQ(expected, Writes(recorder));
    // Status polls only at the chunk's first word (buffer) and last word (done).
    for (const auto& access : recorder.accesses())
        if (!access.write) {
            EXPECT_TRUE(access.phys == 0x3C || access.phys == 0x40 || access.phys == 0x48);
        }
    EXPECT_EQ(std::vector<uint8_t>(data.get(), data.get() + 16), PeekFlash(*module, 0x3C, 16));
}

struct ChunkCase {
    DWORD offset, length;
    std::vector<Write> chunks;  // chunk address and count word
};

const ChunkCase kChunks[] = {
    {0x400, 64, {{0x400, 0x000F000F}}},
    {0x400, 4, {{0x400, 0x00000000}}},
    {0x400, 200, {{0x400, 0x000F000F}, {0x440, 0x000F000F}, {0x480, 0x000F000F}, {0x4C0, 0x00010001}}},
    {0x3C, 16, {{0x3C, 0x00000000}, {0x40, 0x00020002}}},
    {0x10, 6, {{0x10, 0x00010001}}},
    {0x7F0, 0x20, {{0x7F0, 0x00030003}, {0x800, 0x00030003}}},
    {0x20, 0x80, {{0x20, 0x00070007}, {0x40, 0x000F000F}, {0x80, 0x00070007}}},
    // Unaligned starts: the first word is padded in front, never shifted.
    {0x3D, 3, {{0x3C, 0x00000000}}},
    {0x3E, 4, {{0x3C, 0x00000000}, {0x40, 0x00000000}}},
    {0x101, 1, {{0x100, 0x00000000}}},
    {0x1FF, 66, {{0x1FC, 0x00000000}, {0x200, 0x000F000F}, {0x240, 0x00000000}}},
};

TEST(NorWriteBuffer, ChunkMatrixAndExactBytes) {
    for (const ChunkCase& c : kChunks) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " length " + std::to_string(c.length));
        auto module = OpenNor("pxa270");
        auto data = Source(c.length, static_cast<BYTE>(c.offset));
        BusRecorder recorder(module->module());
        ASSERT_TRUE(FlashOps.WriteBuffer(data.get(), c.offset, c.length));

        // Each Write to Buffer is followed by its count word at the same address.
        std::vector<Write> writes = Writes(recorder);
        std::vector<Write> chunks;
        for (size_t i = 0; i + 1 < writes.size(); i++)
            if (writes[i].value == 0x00E800E8) chunks.push_back({writes[i].phys, writes[i + 1].value});
        EXPECT_EQ(c.chunks, chunks);

        // The data lands where it was asked to, and the bytes around it are
        // still erased.
        std::vector<uint8_t> around = PeekFlash(*module, c.offset - 8, c.length + 16);
        EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), std::vector<uint8_t>(around.begin(), around.begin() + 8));
        EXPECT_EQ(std::vector<uint8_t>(data.get(), data.get() + c.length),
                  std::vector<uint8_t>(around.begin() + 8, around.begin() + 8 + c.length));
        EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), std::vector<uint8_t>(around.end() - 8, around.end()));
    }
}

TEST(NorWriteBuffer, PaddingLeavesNeighbouringBytesAlone) {
    auto module = OpenNor("pxa270");
    const BYTE neighbours[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_TRUE(FlashOps.WriteBuffer(neighbours, 0x200, sizeof neighbours));
    PokeFlash(*module, 0x201, {0xFF, 0xFF});
    PokeFlash(*module, 0x206, {0xFF});

    auto middle = Source(2, 0x00);  // 0x00, 0x07
    ASSERT_TRUE(FlashOps.WriteBuffer(middle.get(), 0x201, 2));
    auto last = Source(1, 0x06);
    ASSERT_TRUE(FlashOps.WriteBuffer(last.get(), 0x206, 1));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x00, 0x07, 0x44, 0x55, 0x66, 0x06, 0x88}), PeekFlash(*module, 0x200, 8));
}

TEST(NorWriteBuffer, ZeroLengthOnlyRestoresReadArray) {
    auto module = OpenNor("pxa270");
    BYTE unused = 0;
    BusRecorder recorder(module->module());
    EXPECT_TRUE(FlashOps.WriteBuffer(&unused, 0x400, 0));
    EXPECT_EQ((std::vector<Write>{{0x400, 0x00FF00FF}}), Writes(recorder));
}

TEST(NorWriteBuffer, LargeWriteReadsBack) {
    auto module = OpenNor("pxa270-p30");
    const DWORD length = 0x4000 + 13;
    auto data = Source(length, 0x42);
    ASSERT_TRUE(FlashOps.WriteBuffer(data.get(), 0x1000003, length));
    std::vector<BYTE> back(length);
    ASSERT_TRUE(FlashOps.ReadBuffer(back.data(), 0x1000003, length));
    EXPECT_EQ(std::vector<BYTE>(data.get(), data.get() + length), back);
    EXPECT_EQ(std::vector<uint8_t>(data.get(), data.get() + length), PeekFlash(*module, 0x1000003, length));
}

TEST(NorWriteWord, SequenceAndBytes) {
    auto module = OpenNor("pxa270");
    BusRecorder recorder(module->module());
    EXPECT_TRUE(FlashOps.WriteWord(0x1234, 0xA1B2C3D4));
    std::vector<Write> expected = {{0x1234, 0x00400040}, {0x1234, 0xA1B2C3D4}, {0x1234, 0x00FF00FF}};
    EXPECT_EQ(expected, Writes(recorder));
    for (const auto& access : recorder.accesses()) EXPECT_EQ(0x1234u, access.phys);
    EXPECT_EQ((std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}), PeekFlash(*module, 0x1234, 4));
    EXPECT_EQ(0xA1B2C3D4u, FlashOps.ReadWord(0x1234));
}

TEST(NorReadBuffer, AnyOffsetAndLength) {
    auto module = OpenNor("pxa270");
    PokeFlash(*module, 0x5001, {1, 2, 3, 4, 5});
    BYTE out[5] = {};
    ASSERT_TRUE(FlashOps.ReadBuffer(out, 0x5001, 5));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4, 5}), std::vector<BYTE>(out, out + 5));
    ASSERT_TRUE(FlashOps.ReadBuffer(out, 0x5003, 1));
    EXPECT_EQ(3, out[0]);
}

enum class Op { ReadBuffer, WriteBuffer, ReadWord, WriteWord };

struct RangeCase {
    Op op;
    DWORD offset, length;  // relative to the device end when fromEnd
    bool fromEnd;
    bool accepted;
};

const RangeCase kRangeChecks[] = {
    {Op::ReadBuffer, 16, 16, true, true},
    {Op::ReadBuffer, 16, 17, true, false},
    {Op::ReadBuffer, 0, 0, true, false},
    {Op::ReadBuffer, 0, 1, true, false},
    {Op::ReadBuffer, 0x10, 0xFFFFFFF8, false, false},  // offset + length wraps past 4 GB
    {Op::WriteBuffer, 4, 4, true, true},
    {Op::WriteBuffer, 4, 5, true, false},
    {Op::WriteBuffer, 0, 0, true, false},
    {Op::WriteBuffer, 0x10, 0xFFFFFFF8, false, false},
    {Op::WriteBuffer, 0x3, 0xFFFFFFFE, false, false},
    {Op::ReadWord, 4, 0, true, true},
    {Op::ReadWord, 0, 0, true, false},
    {Op::ReadWord, 0xFFFFFFFC, 0, false, false},
    {Op::WriteWord, 4, 0, true, true},
    {Op::WriteWord, 0, 0, true, false},
    {Op::WriteWord, 0xFFFFFFFC, 0, false, false},
};

TEST(NorRangeChecks, AtTheDeviceEnd) {
    const char* const profiles[] = {"pxa270", "pxa270-p30"};
    for (const char* profile : profiles) {
        auto module = OpenNor(profile);
        // The last word of the device holds a marker to read back.
        PokeFlash(*module, FlashDeviceSize - 4, {0x00, 0xFF, 0xFF, 0xFF});
        for (const RangeCase& c : kRangeChecks) {
            DWORD offset = c.fromEnd ? FlashDeviceSize - c.offset : c.offset;
            SCOPED_TRACE(std::string(profile) + " op " + std::to_string(static_cast<int>(c.op)) + " offset " +
                         std::to_string(offset) + " length " + std::to_string(c.length));
            std::vector<BYTE> buffer(c.accepted ? c.length : 64, 0xFF);
            BusRecorder recorder(module->module());
            switch (c.op) {
                case Op::ReadBuffer:
                    EXPECT_EQ(c.accepted, FlashOps.ReadBuffer(buffer.data(), offset, c.length) != 0);
                    break;
                case Op::WriteBuffer:
                    EXPECT_EQ(c.accepted, FlashOps.WriteBuffer(buffer.data(), offset, c.length) != 0);
                    break;
                case Op::ReadWord: EXPECT_EQ(c.accepted ? 0xFFFFFF00u : 0u, FlashOps.ReadWord(offset)); break;
                case Op::WriteWord: EXPECT_EQ(c.accepted, FlashOps.WriteWord(offset, 0xFFFFFFFF) != 0); break;
            }
            if (!c.accepted) {
                EXPECT_TRUE(recorder.accesses().empty());
            }
        }
    }
}

TEST(NorRangeChecks, UnalignedWordAccessRefused) {
    auto module = OpenNor("pxa270");
    BusRecorder recorder(module->module());
    EXPECT_FALSE(FlashOps.WriteWord(0x102, 0));
    EXPECT_EQ(0u, FlashOps.ReadWord(0x101));
    EXPECT_TRUE(recorder.accesses().empty());
    EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), PeekFlash(*module, 0x100, 8));
}

}  // namespace
