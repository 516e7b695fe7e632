// The NAND controller and chips driven through the bus with a driver's
// register sequences; results observed in the status register, the data
// words and the flash files.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/nand_model/dfc_sequences.h"
#include "tests/support/test_module.h"

using nand_test::Dfc;
using testing_support::TestModule;

namespace {

// Command words as the driver composes them (before the chip-select bit).
constexpr uint32_t kReadIdWord = 0x00610090;
constexpr uint32_t kLargeRead = 0x000D3000;     // 5 address cycles, 00h/30h
constexpr uint32_t kLargeProgram = 0x022D1080;  // 5 address cycles, 80h/10h, AUTO_RS
constexpr uint32_t kLargeErase = 0x024BD060;    // 3 row cycles, 60h/D0h, AUTO_RS
constexpr uint32_t kF1Read = 0x000C3000;        // 4 address cycles
constexpr uint32_t kF1Program = 0x022C1080;
constexpr uint32_t kSmallRead = 0x00030000;  // 3 address cycles, 00h
constexpr uint32_t kSmallProgram = 0x022B1080;
constexpr uint32_t kSmallErase = 0x024AD060;  // 2 row cycles
constexpr uint32_t kCs1 = 1u << 24;

uint32_t large_page_address(uint32_t page) { return page << 16; }
uint32_t small_page_address(uint32_t page) { return page << 8; }

std::vector<uint32_t> pattern(size_t words, uint32_t seed) {
    std::vector<uint32_t> out(words);
    for (size_t i = 0; i < words; ++i) out[i] = seed * 0x9E3779B9u + static_cast<uint32_t>(i) * 0x01010101u;
    return out;
}

std::vector<uint8_t> file_bytes(const TestModule& m, const std::string& name, uint64_t offset, size_t length) {
    std::vector<uint8_t> all = m.read_file(name);
    std::vector<uint8_t> out(length, 0xFF);  // past the end of the file the chip is erased
    for (size_t i = 0; i < length; ++i)
        if (offset + i < all.size()) out[i] = all[offset + i];
    return out;
}

std::vector<uint8_t> as_bytes(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

void patch_file(const TestModule& m, const std::string& name, uint64_t offset, uint8_t xor_mask) {
    uint8_t old = testing_support::peek_file(m.file(name), offset, 1)[0];
    testing_support::poke_file(m.file(name), offset, {static_cast<uint8_t>(old ^ xor_mask)});
}

// One page program: command, WRDREQ, data, finish.
int program(Dfc& dfc, uint32_t word, uint32_t address, const std::vector<uint32_t>& data) {
    if (!dfc.start(word, address, 0) || !dfc.wait(sim::kNdsrWrDReq)) return 1;
    dfc.write_words(data);
    return dfc.finish();
}

int read(Dfc& dfc, uint32_t word, uint32_t address, size_t words, std::vector<uint32_t>* data) {
    if (!dfc.start(word, address, 0) || !dfc.wait(sim::kNdsrRdDReq)) return 1;
    *data = dfc.read_words(words);
    return dfc.finish();
}

struct ReadIdCase {
    const char* profile;
    uint32_t ndcr;
    uint32_t chip_select;
    uint32_t first_word;
    uint32_t second_word;
};

// Each row's case; an ASSERT ends its own row only.
void check_read_id(const ReadIdCase& c) {
    TestModule m(c.profile);
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, c.ndcr);
    ASSERT_TRUE(dfc.start(kReadIdWord | c.chip_select, 0, 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrRdDReq, 10));
    std::vector<uint32_t> words = dfc.read_words(2);
    uint32_t done = c.chip_select ? sim::kNdsrCs1Cmdd : sim::kNdsrCs0Cmdd;
    EXPECT_TRUE(dfc.wait(done, 10));
    EXPECT_EQ(words[0], c.first_word);
    EXPECT_EQ(words[1], c.second_word);
    EXPECT_EQ(dfc.read(sim::NDCR) & sim::kNdcrNdRun, 0u) << "ND_RUN cleared when done";
}

TEST(NandController, ReadIdGivesTheChipsBytesLowFirst) {
    // clang-format off
    const ReadIdCase cases[] = {
        // profile        NDCR        CS     first word   second word
        {"pxa320-75ec", 0x080A1FFF, 0,     0x000075EC, 0x00000000},
        {"pxa320-76ec", 0x080C1FFF, 0,     0x3F5A76EC, 0x00000000},
        {"pxa320-d3ec", 0x018DDFFF, 0,     0x9551D3EC, 0x00000058},
        {"pxa320-d3ec", 0x080A1FFF, 0,     0x0000D3EC, 0x00000000},  // not yet configured: 16-bit bus
        {"pxa300-f1ec", 0x010DDFFF, 0,     0x9500F1EC, 0x00000040},
        {"pxa320-dcad", 0x010CDFFF, 0,     0x9510DCAD, 0x00000000},
        {"pxa320-dcad", 0x010DDFFF, kCs1,  0x9510DCAD, 0x00000054},
        // No chip on chip select 1: the bus floats high for the RD_ID_CNT (5) bytes gathered.
        {"pxa320-d3ec", 0x018DDFFF, kCs1,  0xFFFFFFFF, 0x000000FF},
    };
    // clang-format on
    for (const ReadIdCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.profile << " NDCR 0x" << std::hex << c.ndcr << " CS"
                                        << (c.chip_select ? 1 : 0));
        check_read_id(c);
    }
}

TEST(NandController, ReadIdBytesLeftInTheFifoGoToTheFlashWithTheNextProgram) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_TRUE(dfc.start(kReadIdWord, 0, 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrRdDReq));
    dfc.read_words(1);  // the second word stays behind
    std::vector<uint32_t> data = pattern(512, 3);
    EXPECT_EQ(program(dfc, kLargeProgram, large_page_address(5), data), 0);
    std::vector<uint8_t> page = file_bytes(m, "nand-0.main", 5 * 2048, 2048);
    std::vector<uint8_t> expected = {0x58, 0x00, 0x00, 0x00};
    std::vector<uint8_t> host = as_bytes(data);
    expected.insert(expected.end(), host.begin(), host.end() - 4);
    EXPECT_EQ(page, expected);
}

TEST(NandController, ProgramAndReadBackLargePage) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    std::vector<uint32_t> data = pattern(512, 7);
    uint64_t before = dfc.now();
    EXPECT_EQ(program(dfc, kLargeProgram, large_page_address(7), data), 0);
    EXPECT_GE(dfc.now() - before, 200000u) << "tPROG";
    EXPECT_EQ(file_bytes(m, "nand-0.main", 7 * 2048, 2048), as_bytes(data));
    EXPECT_EQ(file_bytes(m, "nand-0.oob", 7 * 64, 64), std::vector<uint8_t>(64, 0xFF)) << "spare not sent";
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(7), 512, &back), 0);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(dfc.read(sim::NDSR) & sim::kNdsrCs0PageD);
}

struct EccCase {
    const char* name;
    uint32_t flips_in_file;  // bits flipped in the stored page before the read
    bool ecc_on_read;
    int expected_code;
    bool sberr;
    bool data_as_written;
};

void check_ecc(const EccCase& c) {
    TestModule m("pxa300-f1ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x010DDFFF | sim::kNdcrEccEn | sim::kNdcrSpareEn);
    std::vector<uint32_t> data = pattern(512, 11);
    std::vector<uint32_t> spare(10, 0xFFFFFFFF);
    std::vector<uint32_t> sent = data;
    sent.insert(sent.end(), spare.begin(), spare.end());
    ASSERT_EQ(program(dfc, kF1Program, large_page_address(3), sent), 0);
    std::vector<uint8_t> oob = file_bytes(m, "nand-0.oob", 3 * 64, 64);
    EXPECT_EQ(std::vector<uint8_t>(oob.begin(), oob.begin() + 40), std::vector<uint8_t>(40, 0xFF));
    EXPECT_NE(std::vector<uint8_t>(oob.begin() + 40, oob.end()), std::vector<uint8_t>(24, 0xFF)) << "ECC bytes stored";
    if (c.flips_in_file >= 1) patch_file(m, "nand-0.main", 3 * 2048 + 100, 0x04);
    if (c.flips_in_file >= 2) patch_file(m, "nand-0.main", 3 * 2048 + 200, 0x01);
    if (!c.ecc_on_read) dfc.set_ndcr_bits(0, sim::kNdcrEccEn);
    std::vector<uint32_t> back;
    size_t words = 512 + (c.ecc_on_read ? 10 : 16);
    EXPECT_EQ(read(dfc, kF1Read, large_page_address(3), words, &back), c.expected_code);
    uint32_t status = dfc.read(sim::NDSR);
    EXPECT_EQ((status & sim::kNdsrSbErr) != 0, c.sberr);
    back.resize(512);
    EXPECT_EQ(back == data, c.data_as_written);
    const sim::FlashCounters& counted = m.module().events().counters();
    EXPECT_EQ(counted.ecc_corrected, c.sberr ? 1u : 0u);
    EXPECT_EQ(counted.ecc_uncorrectable, c.expected_code == 2 ? 1u : 0u);
    EXPECT_EQ(counted.bytes_programmed, 2048u);
}

TEST(NandController, EccStoredOnProgramAndCheckedOnRead) {
    // clang-format off
    const EccCase cases[] = {
        // name                         flips ECC   code  SBERR  data as written
        {"clean page, ECC on",             0, true,  0,  false, true},
        {"one flipped bit, ECC on",        1, true,  0,  true,  true},
        {"one flipped bit, ECC off",       1, false, 0,  false, false},
        {"two flipped bits, ECC on",       2, true,  2,  false, false},
    };
    // clang-format on
    for (const EccCase& c : cases) {
        SCOPED_TRACE(c.name);
        check_ecc(c);
    }
}

TEST(NandController, ErasedPageReadWithEccOnIsUncorrectable) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage | sim::kNdcrEccEn);
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(100), 512, &back), 2);
    EXPECT_EQ(back, std::vector<uint32_t>(512, 0xFFFFFFFF));
    dfc.set_ndcr_bits(0, sim::kNdcrEccEn);
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(100), 512, &back), 0);
}

TEST(NandController, ProgrammingOnlyClearsBits) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_EQ(program(dfc, kLargeProgram, large_page_address(9), std::vector<uint32_t>(512, 0xF0F0FF00)), 0);
    ASSERT_EQ(program(dfc, kLargeProgram, large_page_address(9), std::vector<uint32_t>(512, 0x0FFF0FF0)), 0);
    std::vector<uint32_t> back;
    ASSERT_EQ(read(dfc, kLargeRead, large_page_address(9), 512, &back), 0);
    EXPECT_EQ(back, std::vector<uint32_t>(512, 0x00F00F00));
}

TEST(NandController, EraseReturnsTheBlockToAllOnes) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    for (uint32_t page : {192u, 255u, 256u})
        ASSERT_EQ(program(dfc, kLargeProgram, large_page_address(page), pattern(512, page)), 0);
    uint64_t before = dfc.now();
    ASSERT_TRUE(dfc.start(kLargeErase, 192, 0));  // row address of block 3
    EXPECT_EQ(dfc.finish(), 0);
    EXPECT_GE(dfc.now() - before, 1500000u) << "tBERS";
    EXPECT_EQ(file_bytes(m, "nand-0.main", 192 * 2048, 64 * 2048), std::vector<uint8_t>(64 * 2048, 0xFF));
    EXPECT_EQ(file_bytes(m, "nand-0.main", 256 * 2048, 2048), as_bytes(pattern(512, 256))) << "next block kept";
    EXPECT_EQ(m.module().events().counters().bytes_erased, 64u * 2048);
    EXPECT_EQ(m.module().events().counters().bytes_programmed, 3u * 2048);
}

struct BadBlockCase {
    const char* profile;
    const char* bad_blocks;
    uint32_t ndcr;
    uint32_t word;  // program or erase command word, chip select included
    uint32_t address;
    size_t data_words;       // 0: erase
    uint32_t expected_bits;  // BBD and CMDD bits of NDSR
    const char* logged;      // the fault in the module's event log ("" none)
};

void check_bad_block(const BadBlockCase& c) {
    TestModule m(c.profile, {std::string("nand.bad_blocks=") + c.bad_blocks});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, c.ndcr);
    ASSERT_TRUE(dfc.start(c.word, c.address, 0));
    if (c.data_words) {
        ASSERT_TRUE(dfc.wait(sim::kNdsrWrDReq));
        dfc.write_words(pattern(c.data_words, 1));
    }
    ASSERT_TRUE(dfc.wait(sim::kNdsrRdy));
    EXPECT_EQ(dfc.read(sim::NDSR) & 0x1E0, c.expected_bits);
    bool failed = *c.logged != 0;
    EXPECT_EQ(m.module().events().counters().bad_block_reports, failed ? 1u : 0u);
    EXPECT_EQ(m.module().events().counters().failed_operations, failed ? 1u : 0u);
    std::vector<uint8_t> log = m.read_file("events.log");
    std::string text(log.begin(), log.end());
    EXPECT_EQ(text.find(": fault: ") != std::string::npos, failed) << text;
    EXPECT_NE(text.find(c.logged), std::string::npos) << text;
}

TEST(NandController, FailingProgramOrEraseReportsBadBlockAndCommandDone) {
    const uint32_t cs0 = sim::kNdsrCs0Bbd | sim::kNdsrCs0Cmdd, cs1 = sim::kNdsrCs1Bbd | sim::kNdsrCs1Cmdd;
    // clang-format off
    const BadBlockCase cases[] = {
        // profile        bad blocks      NDCR        command word           address                words expected
        {"pxa320-d3ec", "[5]",          0x010DDFFF, kLargeProgram,         large_page_address(320), 512, cs0,
         "nand-0: fault: program of page 320 failed (bad block 5)"},
        {"pxa320-d3ec", "[5]",          0x010DDFFF, kLargeErase,           320,                     0,   cs0,
         "nand-0: fault: erase of block 5 failed (bad block)"},
        {"pxa320-d3ec", "[6]",          0x010DDFFF, kLargeProgram,         large_page_address(320), 512, sim::kNdsrCs0Cmdd, ""},
        {"pxa320-dcad", "[4098]",       0x010CDFFF, kLargeProgram | kCs1,  large_page_address(128), 512, cs1,
         "nand-1: fault: program of page 128 failed (bad block 2)"},
        {"pxa320-dcad", "[4098]",       0x010CDFFF, kLargeErase | kCs1,    128,                     0,   cs1,
         "nand-1: fault: erase of block 2 failed (bad block)"},
        {"pxa320-dcad", "[4098]",       0x010CDFFF, kLargeErase,           128,                     0,   sim::kNdsrCs0Cmdd, ""},
        {"pxa320-75ec", "[9]",          0x080A1FFF, kSmallProgram,         small_page_address(288), 256, cs0,
         "nand-0: fault: program of page 288 failed (bad block 9)"},
        {"pxa320-75ec", "[2057]",       0x080A1FFF, kSmallProgram,         small_page_address(288), 256, cs0,
         "nand-1: fault: program of page 288 failed (bad block 9)"},
        {"pxa320-75ec", "[2057]",       0x000A1FFF, kSmallProgram,         small_page_address(288), 128, sim::kNdsrCs0Cmdd, ""},
        {"pxa320-75ec", "[2057]",       0x080A1FFF, kSmallErase,           288,                     0,   cs0,
         "nand-1: fault: erase of block 9 failed (bad block)"},
    };
    // clang-format on
    for (const BadBlockCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.profile << " bad " << c.bad_blocks << " word 0x" << std::hex << c.word);
        check_bad_block(c);
    }
}

TEST(NandController, EachChipTellsItsOperationFromStartToEnd) {
    // Doubled bus: one program command, one page program on each chip; the
    // high lane's chip has block 1 bad.
    TestModule m("pxa320-75ec", {"nand.bad_blocks=[2049]"});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x080A1FFF);
    testing_support::EventRecorder events(m.module(), sim::event_bit(sim::EventKind::Started) |
                                                          sim::event_bit(sim::EventKind::Finished) |
                                                          sim::event_bit(sim::EventKind::BadBlock));
    EXPECT_EQ(program(dfc, kSmallProgram, small_page_address(32), pattern(256, 1)), 4);
    for (unsigned chip = 0; chip < 2; ++chip) {
        SCOPED_TRACE(testing::Message() << "chip " << chip);
        std::vector<sim::DeviceEvent> seen;
        for (const sim::DeviceEvent& e : events.events())
            if (e.source == sim::EventSource::NandChip && e.unit == chip) seen.push_back(e);
        EXPECT_EQ(seen.size(), 2u);
        if (seen.size() != 2) continue;
        EXPECT_EQ(seen[0].kind, sim::EventKind::Started);
        EXPECT_EQ(seen[1].kind, sim::EventKind::Finished);
        for (const sim::DeviceEvent& e : seen) {
            EXPECT_EQ(e.op, sim::Operation::PageProgram);
            EXPECT_EQ(e.address, 32u * 512) << "page 32 of the chip";
            EXPECT_EQ(e.length, 512u);
            EXPECT_EQ(e.block, 1u);
        }
        EXPECT_EQ(seen[1].time_ns - seen[0].time_ns, 200000u) << "tPROG";
        EXPECT_EQ(seen[1].value, chip ? 0xC1u : 0xC0u) << "status";
        EXPECT_EQ(seen[1].fault, chip ? sim::FaultKind::BadBlock : sim::FaultKind::None);
    }
    std::vector<sim::DeviceEvent> reports = events.of(sim::EventKind::BadBlock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].unit, 1u) << "the chip";
    EXPECT_EQ(reports[0].block, 1u);
    const sim::FlashCounters& counted = m.module().events().counters();
    EXPECT_EQ(counted.operations(sim::Operation::PageProgram), 2u);
    EXPECT_EQ(counted.bytes_programmed, 512u) << "the good chip's page only";
}

TEST(NandController, FailedProgramLeavesThePageAsItWas) {
    TestModule m("pxa300-f1ec", {"nand.bad_blocks=[2]"});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x010DDFFF);
    EXPECT_EQ(program(dfc, kF1Program, large_page_address(130), pattern(512, 5)), 4);
    EXPECT_EQ(file_bytes(m, "nand-0.main", 130 * 2048, 2048), std::vector<uint8_t>(2048, 0xFF));
}

TEST(NandController, DoubledBusInterleavesTheChipsByteByByte) {
    TestModule m("pxa320-75ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x080A1FFF | sim::kNdcrSpareEn);
    // Device offset 0x8000: the chips' own address 0x4000, page 32.
    std::vector<uint32_t> data = pattern(256 + 8, 21);
    ASSERT_EQ(program(dfc, kSmallProgram, small_page_address(32), data), 0);
    std::vector<uint8_t> stream = as_bytes(data);
    std::vector<uint8_t> lane[2];
    for (size_t i = 0; i < stream.size(); ++i) lane[i & 1].push_back(stream[i]);
    for (unsigned chip = 0; chip < 2; ++chip) {
        std::string n = std::to_string(chip);
        EXPECT_EQ(file_bytes(m, "nand-" + n + ".main", 32 * 512, 512),
                  std::vector<uint8_t>(lane[chip].begin(), lane[chip].begin() + 512))
            << "chip " << chip;
        EXPECT_EQ(file_bytes(m, "nand-" + n + ".oob", 32 * 16, 16),
                  std::vector<uint8_t>(lane[chip].begin() + 512, lane[chip].end()))
            << "chip " << chip;
    }
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kSmallRead, small_page_address(32), 256 + 8, &back), 0);
    EXPECT_EQ(back, data);
}

TEST(NandController, EightBitModeOnADoubledBusUsesChipZeroAlone) {
    TestModule m("pxa320-76ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x000C1FFF);  // DWIDTH_C clear
    std::vector<uint32_t> data = pattern(128, 4);
    // 76EC: 4 address cycles; device offset 0x3C00 is the chip's page 30.
    ASSERT_EQ(program(dfc, 0x022C1080, small_page_address(30), data), 0);
    EXPECT_EQ(file_bytes(m, "nand-0.main", 30 * 512, 512), as_bytes(data));
    EXPECT_EQ(file_bytes(m, "nand-1.main", 30 * 512, 512), std::vector<uint8_t>(512, 0xFF));
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, 0x00040000, small_page_address(30), 128, &back), 0);
    EXPECT_EQ(back, data);
}

TEST(NandController, ChipSelectOneReachesTheSecondChip) {
    TestModule m("pxa320-dcad");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x010CDFFF);
    std::vector<uint32_t> data = pattern(512, 8);
    ASSERT_TRUE(dfc.start(kLargeProgram | kCs1, large_page_address(64), 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrWrDReq));
    dfc.write_words(data);
    EXPECT_EQ(dfc.finish(), 0);
    EXPECT_TRUE(dfc.read(sim::NDSR) & sim::kNdsrCs1Cmdd);
    EXPECT_FALSE(dfc.read(sim::NDSR) & sim::kNdsrCs0Cmdd);
    EXPECT_EQ(file_bytes(m, "nand-1.main", 64 * 2048, 2048), as_bytes(data));
    EXPECT_EQ(file_bytes(m, "nand-0.main", 64 * 2048, 2048), std::vector<uint8_t>(2048, 0xFF));
}

TEST(NandController, StatusBitsClearOnlyWhereOnesAreWritten) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_TRUE(dfc.start(kLargeErase, 64, 0));
    ASSERT_EQ(dfc.finish(), 0);
    uint32_t before = dfc.read(sim::NDSR);
    ASSERT_EQ(before & (sim::kNdsrRdy | sim::kNdsrCs0Cmdd), sim::kNdsrRdy | sim::kNdsrCs0Cmdd);
    dfc.write(sim::NDSR, sim::kNdsrRdy);
    EXPECT_EQ(dfc.read(sim::NDSR), before & ~sim::kNdsrRdy);
}

struct TimingCase {
    std::vector<std::string> overrides;
    uint64_t program_ns;
};

void check_busy_time(const TimingCase& c) {
    TestModule m("pxa320-d3ec", c.overrides);
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_TRUE(dfc.start(kLargeProgram, large_page_address(1), 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrWrDReq));
    dfc.write_words(pattern(512, 1));
    uint64_t confirmed = dfc.now();
    ASSERT_TRUE(dfc.wait(sim::kNdsrRdy));
    uint64_t took = dfc.now() - confirmed;
    EXPECT_GE(took, c.program_ns);
    EXPECT_LE(took, c.program_ns + 1000) << "the last poll lands on the end of the busy time";
}

TEST(NandController, BusyTimesRunOnTheVirtualClock) {
    const TimingCase cases[] = {
        {{}, 200000},
        {{"nand.time.program_ns=700000"}, 700000},
        {{"nand.time.program_ns=3500000"}, 3500000},  // longer than one poll step
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "program " << c.program_ns << " ns");
        check_busy_time(c);
    }
}

TEST(NandController, ChipThatNeverBecomesReadyTimesOutEveryWait) {
    TestModule m("pxa320-d3ec", {"nand.fault.never_ready=true"});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x080A1FFF);
    ASSERT_TRUE(dfc.start(kReadIdWord, 0, 0)) << "WRCMDREQ comes from the controller";
    uint64_t before = dfc.now();
    EXPECT_FALSE(dfc.wait(sim::kNdsrRdDReq | sim::kNdsrCs0Cmdd, 20000));
    EXPECT_EQ(dfc.now() - before, 20000u * 100) << "each poll costs one bus cycle, nothing more";
}

TEST(NandController, ChipHangsAtTheGivenBusyOperation) {
    TestModule m("pxa320-d3ec", {"nand.fault.never_ready_after=2"});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_TRUE(dfc.start(0x00A000FF, 0, 0));  // reset: busy operation 1
    EXPECT_TRUE(dfc.wait(sim::kNdsrRdy));
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(0), 512, &back), 1);  // busy operation 2 never ends
    EXPECT_EQ(program(dfc, kLargeProgram, large_page_address(1), pattern(512, 1)), 1);
}

struct FlipCase {
    const char* fault;
    bool ecc;
    int code;
    uint32_t status_bit;
    int differing_bits;  // between the data read and the data written
};

void check_flips(const FlipCase& c) {
    TestModule m("pxa320-d3ec", {c.fault});
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage | sim::kNdcrEccEn);
    std::vector<uint32_t> data = pattern(512, 9);
    ASSERT_EQ(program(dfc, kLargeProgram, large_page_address(9), data), 0);
    if (!c.ecc) dfc.set_ndcr_bits(0, sim::kNdcrEccEn);
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(9), 512, &back), c.code);
    EXPECT_EQ(dfc.read(sim::NDSR) & (sim::kNdsrSbErr | sim::kNdsrDbErr), c.status_bit);
    int differing = 0;
    for (size_t i = 0; i < back.size(); ++i) differing += __builtin_popcount(back[i] ^ data[i]);
    EXPECT_EQ(differing, c.differing_bits);
    EXPECT_EQ(file_bytes(m, "nand-0.main", 9 * 2048, 2048), as_bytes(data)) << "the array itself is intact";
}

TEST(NandController, InjectedBitFlipsShowOnRead) {
    // clang-format off
    const FlipCase cases[] = {
        // fault                           ECC    code  NDSR bit         bits that differ
        {"nand.fault.bitflip=[9]",         false, 0,    0,               1},
        {"nand.fault.bitflip=[9]",         true,  0,    sim::kNdsrSbErr, 0},
        {"nand.fault.uncorrectable=[9]",   false, 0,    0,               2},
        {"nand.fault.uncorrectable=[9]",   true,  2,    sim::kNdsrDbErr, 2},
        {"nand.fault.bitflip=[10]",        true,  0,    0,               0},
    };
    // clang-format on
    for (const FlipCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fault << (c.ecc ? ", ECC on" : ", ECC off"));
        check_flips(c);
    }
}

TEST(NandController, ClearingNdRunAbandonsACommand) {
    TestModule m("pxa320-d3ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, nand_test::kNdcrLargePage);
    ASSERT_TRUE(dfc.start(kLargeProgram, large_page_address(2), 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrWrDReq));
    dfc.write_words(pattern(100, 2));  // short of a page: the controller waits for more
    EXPECT_FALSE(dfc.wait(sim::kNdsrCs0Cmdd, 1000));
    dfc.set_ndcr_bits(0, sim::kNdcrNdRun);
    std::vector<uint32_t> back;
    EXPECT_EQ(read(dfc, kLargeRead, large_page_address(2), 512, &back), 0) << "the next command runs";
    EXPECT_EQ(back, std::vector<uint32_t>(512, 0xFFFFFFFF)) << "nothing was programmed";
}

}  // namespace

namespace {

struct PresetCase {
    const char* profile;
    uint32_t ndcr, ndtr0, ndtr1;
    uint32_t id;
};

void check_preset(const PresetCase& c) {
    TestModule m(c.profile);
    Dfc dfc(m.module());
    EXPECT_EQ(dfc.read(sim::NDCR), c.ndcr);
    EXPECT_EQ(dfc.read(sim::NDTR0CS0), c.ndtr0);
    EXPECT_EQ(dfc.read(sim::NDTR1CS0), c.ndtr1);
    // Identification alone works without configuring anything.
    ASSERT_TRUE(dfc.start(kReadIdWord, 0, 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrRdDReq));
    EXPECT_EQ(dfc.read_words(2)[0] & 0xFFFF, c.id);
}

TEST(NandController, StartsConfiguredAsTheRunningSystemLeftIt) {
    const PresetCase cases[] = {
        {"pxa320-75ec", 0x080A1FFF, 0x80B0B, 0x06240061, 0x75EC},
        {"pxa320-76ec", 0x080C1FFF, 0x80B0B, 0x06240061, 0x76EC},
        {"pxa320-d3ec", 0x018DDFFF, 0x2090A, 0x082C0061, 0xD3EC},
        {"pxa300-f1ec", 0x010DDFFF, 0x3090B, 0x0F4E0091, 0xF1EC},
        {"pxa320-dcad", 0x010CDFFF, 0x2090A, 0x0A340061, 0xDCAD},
    };
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(c.profile);
        check_preset(c);
    }
}

}  // namespace
