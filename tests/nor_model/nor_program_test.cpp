// Word and buffered programs through the bus: what lands in nor.bin, the
// status words, and the write buffer's sequence errors.
#include <gtest/gtest.h>

#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::kReady;
using nor_test::NorBus;
using testing_support::TestModule;

// Ready with SR4 and SR5 in both halves: a command-sequence error.
constexpr uint32_t kSequenceError = 0x00B000B0;

TEST(NorProgram, ProgrammingOnlyClearsBits) {
    struct {
        uint32_t first;
        uint32_t second;
        uint32_t stored;
        // clang-format off
    } const cases[] = {
        {0x12345678, 0xFFFFFFFF, 0x12345678},
        {0x12345678, 0xFFFF0000, 0x12340000},
        {0x0000FFFF, 0xFFFF0000, 0x00000000},
        {0xF0F0F0F0, 0x0F0F0F0F, 0x00000000},
        {0xFFFFFFFF, 0x80000001, 0x80000001},
    };
    // clang-format on
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    uint32_t offset = 0x1000;
    for (const auto& c : cases) {
        EXPECT_EQ(kReady, nor.ProgramWord(offset, c.first));
        EXPECT_EQ(kReady, nor.ProgramWord(offset, c.second));
        nor.Command(offset, 0xFF);
        EXPECT_EQ(c.stored, nor.Read(offset)) << std::hex << c.first << " then " << c.second;
        EXPECT_EQ(c.stored, nor.FileWord(offset));
        offset += 4;
    }
}

// The pair stands alone here: built from a configuration filled in by hand,
// on a bus of its own, with no module or profile around it.
TEST(NorProgram, WordProgramLandsInBothChipsLittleEndian) {
    sim::NorChipConfig chip;  // a J3 of 2^18 bytes, its typical busy times
    chip.device_code = 0x0016;
    chip.query_size = 18;
    chip.timings = {210000, 218000, 1000000000, 1000000000, 500000000, 64000};
    sim::NorPairConfig config{{chip, chip}, {}};
    nor_test::StandalonePair standalone(config);
    NorBus nor(standalone);
    EXPECT_EQ(0x80000u, nor.pair().device_size());
    // 0x40 and its alternate 0x10 both start a word program.
    nor.Command(0x2000, 0x10);
    nor.Write(0x2000, 0xA1B2C3D4);
    EXPECT_EQ(kReady, nor.Poll(0x2000, 1000));
    EXPECT_EQ(kReady, nor.ProgramWord(0x2004, 0x11223344));
    // Chip 0 holds bytes 0-1 of each bus word, chip 1 bytes 2-3.
    std::vector<uint8_t> expected = {0xD4, 0xC3, 0xB2, 0xA1, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(expected, nor.FileBytes(0x2000, 8));
    EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), nor.FileBytes(0x2008, 8));
}

TEST(NorProgram, ChipReadsStatusAfterProgramUntilReadArray) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    EXPECT_EQ(kReady, nor.ProgramWord(0x300, 0x00000000));
    EXPECT_EQ(kReady, nor.Read(0x300));
    EXPECT_EQ(kReady, nor.Read(0x0)) << "status is shown at every address";
    nor.Command(0x300, 0xFF);
    EXPECT_EQ(0u, nor.Read(0x300));
    EXPECT_EQ(0xFFFFFFFFu, nor.Read(0x0));
}

TEST(NorProgram, BufferProgramWritesTheWindow) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    std::vector<uint32_t> words;
    for (uint32_t i = 0; i < 16; ++i) words.push_back(0x01010101u * i + 0x00100010u);
    EXPECT_EQ(kReady, nor.ProgramBuffer(0x40, words));
    nor.Command(0x7C, 0xFF);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(words[i], nor.FileWord(0x40 + 4 * i)) << "word " << i;
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x3C));
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x80));
}

TEST(NorProgram, BufferLoadsInAnyOrderAndUnloadedWordsStayErased) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    nor.Command(0x100, 0xE8);
    ASSERT_EQ(kReady, nor.Read(0x100));
    nor.Write(0x100, 0x00030003);  // four words: 0x100 .. 0x10C
    nor.Write(0x100, 0x11111111);  // the first word fixes the window
    nor.Write(0x10C, 0x44444444);
    nor.Write(0x104, 0x22222222);
    nor.Write(0x104, 0x2222AAAA);  // a second load of a word replaces the first
    nor.Command(0x10C, 0xD0);
    EXPECT_EQ(kReady, nor.Poll(0x10C, 1000));
    EXPECT_EQ(0x11111111u, nor.FileWord(0x100));
    EXPECT_EQ(0x2222AAAAu, nor.FileWord(0x104));
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x108)) << "never loaded";
    EXPECT_EQ(0x44444444u, nor.FileWord(0x10C));
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x110)) << "past the window";
}

// A Write to Buffer sequence, step by step: E8 at e8, count at e8, the data
// writes, then the closing write.
struct BufferStep {
    uint32_t offset;
    uint32_t value;
};

struct SequenceCase {
    const char* name;
    const char* profile;
    uint32_t count_word;
    std::vector<BufferStep> loads;
    BufferStep closing;
    uint32_t status;
    BufferStep stored;  // a bus word of the array afterwards
};

void PrintTo(const SequenceCase& c, std::ostream* out) { *out << c.name; }

class BufferSequenceTest : public testing::TestWithParam<SequenceCase> {};

TEST_P(BufferSequenceTest, StatusAndArray) {
    const SequenceCase& c = GetParam();
    TestModule module(c.profile, {"nor.query_size=19"});
    NorBus nor(module);
    // The blocks above the bottom 256 KiB are unlocked on both families.
    nor.Command(0x40000, 0x60);
    nor.Command(0x40000, 0xD0);
    ASSERT_EQ(kReady, nor.Poll(0x40000, 10000));
    nor.Command(0x40000, 0x50);
    std::vector<uint8_t> before = nor.FileBytes(0x40000, 0x400);

    nor.Command(0x40000, 0xE8);
    ASSERT_EQ(kReady, nor.Read(0x40000));
    nor.Write(0x40000, c.count_word);
    for (const BufferStep& s : c.loads) nor.Write(s.offset, s.value);
    nor.Write(c.closing.offset, c.closing.value);
    EXPECT_EQ(c.status, nor.Poll(0x40000, 10000));
    nor.Command(0x40000, 0xFF);
    EXPECT_EQ(c.stored.value, nor.FileWord(c.stored.offset));
    if (c.status == kSequenceError) {
        EXPECT_EQ(before, nor.FileBytes(0x40000, 0x400)) << "nothing programmed";
    }
}

std::vector<BufferStep> Loads(uint32_t first, uint32_t count) {
    std::vector<BufferStep> loads;
    for (uint32_t i = 0; i < count; ++i) loads.push_back({first + 4 * i, 0x12345678u - i});
    return loads;
}

const BufferStep kConfirmAt40000 = {0x40000, 0x00D000D0};

INSTANTIATE_TEST_SUITE_P(
    Sequences, BufferSequenceTest,
    // clang-format off
    testing::Values(
        // J3: 16-word buffer per chip, 64 bytes of the bus.
        SequenceCase{"j3_full_buffer", "pxa270", 0x000F000F, Loads(0x40000, 16), kConfirmAt40000, kReady, {0x4003C, 0x12345678u - 15}},
        SequenceCase{"j3_count_too_big", "pxa270", 0x00100010, {}, kConfirmAt40000, kSequenceError, {0x40000, 0xFFFFFFFF}},
        SequenceCase{"j3_crosses_buffer_boundary", "pxa270", 0x00010001, Loads(0x4003C, 2), kConfirmAt40000,
                     kSequenceError, {0x4003C, 0xFFFFFFFF}},
        SequenceCase{"j3_load_outside_window", "pxa270", 0x00010001,
                     {{0x40000, 0x1}, {0x40008, 0x2}}, kConfirmAt40000, kSequenceError, {0x40000, 0xFFFFFFFF}},
        SequenceCase{"j3_first_load_in_other_block", "pxa270", 0x00000000, {{0x80000, 0x1}}, kConfirmAt40000,
                     kSequenceError, {0x80000, 0xFFFFFFFF}},
        SequenceCase{"j3_read_array_instead_of_confirm", "pxa270", 0x00000000, {{0x40000, 0x1}},
                     {0x40000, 0x00FF00FF}, kSequenceError, {0x40000, 0xFFFFFFFF}},
        SequenceCase{"j3_one_chip_confirms", "pxa270", 0x00000000, {{0x40000, 0x1}}, {0x40000, 0x00FF00D0},
                     0x00B00080, {0x40000, 0xFFFF0001}},
        // P30: 32-word buffer per chip, 128 bytes of the bus.
        SequenceCase{"p30_full_buffer", "pxa270-p30", 0x001F001F, Loads(0x40000, 32), kConfirmAt40000, kReady, {0x4007C, 0x12345678u - 31}},
        SequenceCase{"p30_count_too_big", "pxa270-p30", 0x00200020, {}, kConfirmAt40000, kSequenceError, {0x40000, 0xFFFFFFFF}},
        SequenceCase{"p30_spans_j3_boundary", "pxa270-p30", 0x00010001, Loads(0x4003C, 2), kConfirmAt40000, kReady, {0x40040, 0x12345677}},
        SequenceCase{"p30_crosses_buffer_boundary", "pxa270-p30", 0x00010001, Loads(0x4007C, 2), kConfirmAt40000,
                     kSequenceError, {0x4007C, 0xFFFFFFFF}},
        SequenceCase{"p30_erase_instead_of_confirm", "pxa270-p30", 0x00000000, {{0x40000, 0x1}},
                     {0x40000, 0x00200020}, kSequenceError, {0x40000, 0xFFFFFFFF}}),
    // clang-format on
    [](const testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

TEST(NorProgram, J3RefusesTheBufferAfterASequenceErrorUntilClearStatus) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    nor.Command(0x40, 0xE8);
    nor.Write(0x40, 0x00200020);  // 33 words: too many
    EXPECT_EQ(kSequenceError, nor.Read(0x40));
    // Buffer not available (XSR bit 7 clear), however often it is asked.
    for (int i = 0; i < 3; ++i) {
        nor.Command(0x40, 0xE8);
        EXPECT_EQ(0u, nor.Read(0x40)) << "attempt " << i;
    }
    nor.Command(0x40, 0x50);
    nor.Command(0x40, 0xE8);
    EXPECT_EQ(kReady, nor.Read(0x40));
    nor.Write(0x40, 0);
    nor.Write(0x40, 0x5555AAAA);
    nor.Command(0x40, 0xD0);
    EXPECT_EQ(kReady, nor.Poll(0x40, 100));
    EXPECT_EQ(0x5555AAAAu, nor.FileWord(0x40));
}

TEST(NorProgram, P30TakesTheBufferDespiteAStandingSequenceError) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    NorBus nor(module);
    nor.Command(0x40000, 0x60);
    nor.Command(0x40000, 0xD0);
    nor.Command(0x40000, 0xE8);
    nor.Write(0x40000, 0x00200020);
    EXPECT_EQ(kSequenceError, nor.Read(0x40000));
    nor.Command(0x40000, 0xE8);
    EXPECT_EQ(kReady, nor.Read(0x40000));
}

TEST(NorProgram, ErrorBitsStickUntilClearStatus) {
    TestModule module("pxa270", {"nor.query_size=18"});
    NorBus nor(module);
    nor.Command(0, 0x20);
    nor.Command(0, 0xFF);  // not the confirm
    EXPECT_EQ(kSequenceError, nor.Read(0));
    EXPECT_EQ(kSequenceError, nor.ProgramWord(0x10, 0x0)) << "a good program leaves the old bits";
    nor.Command(0, 0x50);
    EXPECT_EQ(kReady, nor.Read(0)) << "Clear Status keeps the chip reading status";
    EXPECT_EQ(kReady, nor.ProgramWord(0x14, 0x0));
    nor.Command(0, 0xFF);
    EXPECT_EQ(0u, nor.Read(0x10));
    EXPECT_EQ(0u, nor.Read(0x14));
}

TEST(NorProgram, LockedBlockRefusesProgramsWithSR1AndSR4) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    NorBus nor(module);
    // P30 blocks are locked at power-up.
    EXPECT_EQ(0x00920092u, nor.ProgramWord(0x40000, 0x0));
    nor.Command(0x40000, 0x50);
    EXPECT_EQ(0x00920092u, nor.ProgramBuffer(0x40000, {0x0, 0x0}));
    nor.Command(0x40000, 0xFF);
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x40000));
    EXPECT_EQ(0xFFFFFFFFu, nor.FileWord(0x40004));
}

}  // namespace
