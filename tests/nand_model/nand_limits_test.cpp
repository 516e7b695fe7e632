// A NAND chip against its datasheet's limits: programs of each page's main
// and spare areas counted since the block's erase, kept with the chip across
// a power cycle, a violation past the part's NOP (1/2 on the small-page
// parts, 4/4 on the large-page ones) and for a marked bad block, and the
// bits a program past the limit leaves unreliable.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "module/hw/nand/nand_chip.h"
#include "tests/support/test_module.h"

namespace {

class Violations : public sim::EventListener {
public:
    void on_event(const sim::DeviceEvent& e) override {
        lines.push_back(std::string(sim::name_of(e.fault)) + " " + std::to_string(e.address / e.length) + " " +
                        std::to_string(e.value));
    }
    std::vector<std::string> lines;
};

// One chip over its files in a folder; reopened, it is the chip after a power cycle.
struct Chip {
    testing_support::TempDir dir;
    sim::EventSink events;
    Violations violations;
    std::unique_ptr<sim::NandStorage> storage;
    std::unique_ptr<sim::NandChip> chip;
    sim::NandChipConfig config;
    uint64_t now = 0;

    Chip(uint32_t id, bool corrupt) {
        config.part = sim::find_nand_part(id);
        config.corrupt_past_nop = corrupt;
        config.faults.bad_blocks = {3};
        events.listen(&violations, sim::event_bit(sim::EventKind::Violation));
        power_up();
    }
    void power_up() {
        chip.reset();
        const sim::NandPart& p = *config.part;
        storage = std::make_unique<sim::NandStorage>(p.page_bytes, p.spare_bytes, p.pages());
        std::string error;
        EXPECT_TRUE(storage->open(dir.path(), 0, &error)) << error;
        chip = std::make_unique<sim::NandChip>(config, *storage, events);
    }
    void row(uint8_t first_command, uint32_t row, unsigned column_cycles) {
        const sim::NandPart& p = *config.part;
        chip->command(first_command, now);
        uint8_t cycles[5] = {};
        for (unsigned i = 0; i < p.row_cycles(); ++i) cycles[column_cycles + i] = static_cast<uint8_t>(row >> 8 * i);
        chip->address(cycles, column_cycles + p.row_cycles(), ++now);
    }
    // A page program with a 0 byte at the start of the main area, the spare area or both.
    void program(uint32_t page, bool main, bool spare) {
        const sim::NandPart& p = *config.part;
        std::vector<uint8_t> raw(p.raw_page_bytes(), 0xFF);
        if (main) raw[1] = 0x00;
        if (spare) raw[p.page_bytes + 1] = 0x00;
        row(sim::kNandCmdProgram, page, p.column_cycles());
        chip->write_data(raw.data(), raw.size(), ++now);
        chip->command(sim::kNandCmdProgramConfirm, ++now);
        now = chip->ready_at() + 1;
    }
    void erase(uint32_t block) {
        row(sim::kNandCmdErase, block * config.part->pages_per_block, 0);
        chip->command(sim::kNandCmdEraseConfirm, ++now);
        now = chip->ready_at() + 1;
    }
    // The steps, one letter and a number each: M page (main area), S page
    // (spare), B page (both), E block, P (a power cycle).
    void run(const std::string& steps) {
        for (size_t i = 0; i < steps.size();) {
            char op = steps[i++];
            size_t end = steps.find(' ', i);
            uint32_t n = static_cast<uint32_t>(std::stoul("0" + steps.substr(i, end - i)));
            i = end == std::string::npos ? steps.size() : end + 1;
            switch (op) {
                case 'M': program(n, true, false); break;
                case 'S': program(n, false, true); break;
                case 'B': program(n, true, true); break;
                case 'E': erase(n); break;
                case 'P': power_up(); break;
                default: FAIL() << "step " << op;
            }
        }
    }
};

struct LimitCase {
    uint32_t id;
    const char* steps;
    std::vector<std::string> violations;  // rule, page, the count it reached
};

TEST(NandLimits, ViolationsOfTheSequence) {
    // Block 3 is bad; a marker is its page 0 or 1's spare byte (5 on small
    // pages, 0 on large), here programmed as a 0 in spare byte 1.
    // clang-format off
    const LimitCase cases[] = {
        {0x75EC, "M1 S1 S1",                  {}},
        {0x75EC, "M1 M1",                     {"nop-main 1 2"}},
        {0x75EC, "B1 S1 S1",                  {"nop-spare 1 3"}},
        {0x75EC, "M1 E0 M1",                  {}},
        {0x75EC, "M1 P M1",                   {"nop-main 1 2"}},   // the cells know what they took
        {0x75EC, "M1 M1 P M1",                {"nop-main 1 2", "nop-main 1 3"}},
        {0x75EC, "M1 M40",                    {}},                 // another block's page
        {0x76EC, "B31 B31",                   {"nop-main 31 2"}},
        {0xF1EC, "M1 M1 M1 M1 S1 S1 S1 S1",   {}},
        {0xF1EC, "M1 M1 M1 M1 M1",            {"nop-main 1 5"}},
        {0xF1EC, "B1 B1 P B1 B1 P B1",        {"nop-main 1 5", "nop-spare 1 5"}},
        {0xD3EC, "S2 S2 S2 S2 E0 S2 S2",      {}},
        {0xDCAD, "M7 M7 M7 M7 M7 M7",         {"nop-main 7 5", "nop-main 7 6"}},
        // Programs into a block with a marker, then its erase (reported as the block): each breaks the rule.
        {0x75EC, "S96 M97 E3",                {"marked-bad-block 96 0", "marked-bad-block 97 0", "marked-bad-block 3 0"}},
    };
    // clang-format on
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + ": " + c.steps);
        Chip chip(c.id, false);
        // A marker written as the factory writes it: straight into the cells.
        if (std::string(c.steps).find("96") != std::string::npos) {
            const sim::NandPart& p = *chip.config.part;
            std::vector<uint8_t> raw(p.raw_page_bytes(), 0xFF);
            raw[p.page_bytes + p.bad_block_byte] = 0x00;
            chip.storage->program_page(3 * p.pages_per_block, raw.data());
        }
        chip.run(c.steps);
        EXPECT_EQ(chip.violations.lines, c.violations);
    }
}

TEST(NandLimits, ProgramPastTheLimitLeavesSeededBitsUnreliable) {
    for (bool corrupt : {false, true}) {
        Chip chip(0x75EC, corrupt);
        chip.run("M1 M1");
        std::vector<uint8_t> raw(chip.config.part->raw_page_bytes());
        chip.storage->read_page(1, raw.data());
        size_t wrong = 0;
        for (uint32_t i = 0; i < 512; ++i) wrong += raw[i] != (i == 1 ? 0x00 : 0xFF);
        if (corrupt)
            EXPECT_GT(wrong, 0u) << "a share of the main area's bits reads back wrong";
        else
            EXPECT_EQ(wrong, 0u) << "only recorded";
        // The same seed, the same program: the same bits.
        Chip again(0x75EC, corrupt);
        again.run("M1 M1");
        std::vector<uint8_t> same(raw.size());
        again.storage->read_page(1, same.data());
        EXPECT_EQ(same, raw);
    }
}

}  // namespace
