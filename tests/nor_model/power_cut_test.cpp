// What a power cut leaves: the seeded mix of old and new bits of an operation
// cut part-way (module/hw/cut_bits.h), and the NOR pair losing its power in
// the erase or program a profile names.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "module/hw/cut_bits.h"
#include "module/hw/nand/nand_ecc.h"
#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::NorBus;
using testing_support::TestModule;

std::vector<uint8_t> pattern(size_t n, uint8_t salt) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + salt);
    return bytes;
}

size_t bits(const std::vector<uint8_t>& bytes, bool ones) {
    size_t n = 0;
    for (uint8_t b : bytes) n += std::popcount(static_cast<unsigned>(ones ? b : static_cast<uint8_t>(~b)));
    return n;
}

TEST(CutBits, LeaveASeededRepeatableMixOfOldAndNewBits) {
    struct Row {
        const char* name;
        bool erase;
        double done;
        uint64_t seed;
    };
    const Row rows[] = {
        {"erase 10%", true, 0.1, 1},    {"erase 50%", true, 0.5, 2},    {"erase 90%", true, 0.9, 3},
        {"program 10%", false, 0.1, 1}, {"program 50%", false, 0.5, 2}, {"program 90%", false, 0.9, 3},
    };
    const std::vector<uint8_t> old = pattern(4096, 5), data = pattern(4096, 11);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto run = [&](uint64_t seed) {
            std::vector<uint8_t> cells = old;
            if (r.erase)
                sim::cut_erase(cells, r.done, seed);
            else
                sim::cut_program(cells, data, r.done, seed);
            return cells;
        };
        std::vector<uint8_t> cells = run(r.seed);
        EXPECT_EQ(cells, run(r.seed)) << "same seed, same bits";
        EXPECT_NE(cells, run(r.seed + 1)) << "another seed, other bits";
        std::vector<uint8_t> whole(old.size()), changed(old.size()), left(old.size());
        for (size_t i = 0; i < old.size(); ++i) {
            whole[i] = r.erase ? 0xFF : old[i] & data[i];
            // Only the operation's own direction: an erase sets, a program clears.
            EXPECT_EQ(r.erase ? (cells[i] & old[i]) : (cells[i] | old[i]), old[i]) << i;
            changed[i] = cells[i] ^ old[i];
            left[i] = cells[i] ^ whole[i];
        }
        // Part-way: some bits moved, some (still 0 after an erase, still 1 of
        // a program's 0 bits) did not, in about the share done.
        size_t moved = bits(changed, true), stayed = bits(left, true);
        ASSERT_GT(moved, 0u);
        ASSERT_GT(stayed, 0u);
        double share = static_cast<double>(moved) / static_cast<double>(moved + stayed);
        EXPECT_NEAR(share, r.done, 0.05);
    }
    std::vector<uint8_t> cells = old;
    sim::cut_erase(cells, 0, 1);
    EXPECT_EQ(cells, old) << "lost before it began";
}

// A NAND page programmed part-way from erased: its ECC, programmed with it,
// no longer checks against its data.
TEST(CutBits, APageProgramCutPartWayNoLongerMatchesItsEcc) {
    for (uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::vector<uint8_t> page = pattern(2048 + 64, 3);
        std::fill(page.begin() + 2048, page.end(), 0xFF);
        sim::ecc_compute(page.data(), 2048, page.data() + 2048 + 40);
        std::vector<uint8_t> cells(page.size(), 0xFF);
        sim::cut_program(cells, page, 0.5, seed);
        EXPECT_EQ(sim::ecc_correct(cells.data(), 2048, cells.data() + 2048 + 40), sim::EccOutcome::Uncorrectable);
    }
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The pair loses its power in the operation named: the process ends at once
// with status 5, the block is left part-done, the cut is recorded and disarmed.
TEST(NorPowerCut, TheNamedOperationIsLeftPartDoneAndTheProcessEnds) {
    GTEST_FLAG_SET(death_test_style, "fast");
    struct Row {
        const char* cut;
        uint8_t before;  // the block's bytes before
        bool erase;
    };
    for (const Row& r : {Row{"erase@0x40004", 0x00, true}, Row{"program@0x40040", 0xFF, false}}) {
        SCOPED_TRACE(r.cut);
        TestModule module("pxa270-p30", {"nor.query_size=19", std::string("power.cut_at=") + r.cut, "power.seed=5"});
        NorBus nor(module);
        nor.FillFile(0x40000, 0x40000, r.before);
        nor.Command(0x40000, 0x60);
        nor.Command(0x40000, 0xD0);
        nor.Poll(0x40000, 10000);
        EXPECT_EXIT(r.erase ? nor.Erase(0x40000) : nor.ProgramBuffer(0x40040, std::vector<uint32_t>(16, 0)),
                    testing::ExitedWithCode(5), "module: power cut: ");
        std::vector<uint8_t> range = r.erase ? nor.FileBytes(0x40000, 0x40000) : nor.FileBytes(0x40040, 64);
        EXPECT_GT(bits(range, true), 0u);
        EXPECT_GT(bits(range, false), 0u);
        if (!r.erase) {
            EXPECT_EQ(nor.FileWord(0x40080), 0xFFFFFFFFu) << "past the buffer: untouched";
        }
        const std::filesystem::path dir = module.module().dir();
        EXPECT_NE(file_text(dir / "module.toml").find("seed = 5"), std::string::npos);
        EXPECT_EQ(file_text(dir / "module.toml").find("cut_at"), std::string::npos);
        // Both chips of the pair take part in one operation, the first of the run.
        EXPECT_NE(file_text(dir / "power-cut.json").find("\"operation\": 1,"), std::string::npos);
        EXPECT_NE(file_text(dir / "power-cut.json").find(r.erase ? "\"erase\"" : "\"program\""), std::string::npos);
    }
}

}  // namespace
