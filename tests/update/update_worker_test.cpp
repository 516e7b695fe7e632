// The worker's path through a good image on a flash in memory: placement,
// pieces, exact lengths, progress shown, the reset question.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "res/resource_ids.h"
#include "shell/shell_state.h"
#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/fake_flash.h"
#include "tests/update/update_harness.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

class UpdateWorkerTest : public ::testing::Test {
protected:
    TestModule module{"pxa270", {"-hal.item5"}};
    UpdateHarness harness;
    FakeFlash flash{0x2000000, 0x10000, kFlashBackendNor};

    bool flash_holds(uint32_t offset, const std::vector<uint8_t>& data) {
        return std::equal(data.begin(), data.end(), flash.contents().begin() + offset);
    }
    bool flash_erased(uint32_t from, uint32_t to) {
        return std::all_of(flash.contents().begin() + from, flash.contents().begin() + to,
                           [](uint8_t b) { return b == 0xFF; });
    }
};

TEST_F(UpdateWorkerTest, RamLinkedImageLandsAtTheDefaultPlace) {
    const std::vector<uint8_t> first = pattern(0x1234, 1);
    const std::vector<uint8_t> second = pattern(0x9000, 2);
    // Without item 5 an image linked at 0x80080000 starts at flash offset 0x80000.
    harness.run(BinBuilder(0x80080000, 0x20000).record(0x80080000, first).record(0x80091000, second).end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);
    EXPECT_TRUE(flash_holds(0x80000, first));
    EXPECT_TRUE(flash_holds(0x91000, second));
    EXPECT_TRUE(flash_erased(0x80000 + first.size(), 0x91000));
    EXPECT_EQ(harness.texts_of(IDC_IMAGE_LINE), std::vector<std::string>{"Image: 00080000  Len: 00020000(131072)"});
    EXPECT_EQ(harness.texts_of(IDC_STATUS_LINE).back(), "Section: 00091000  Len: 00009000(36864)");
}

TEST_F(UpdateWorkerTest, EraseComesFirstThenPiecesOf16K) {
    const std::vector<uint8_t> data = pattern(0x9003, 3);
    harness.run(BinBuilder(0x80000, 0x20000).record(0x80000, data).end().bytes());
    std::vector<FlashCall> calls = flash.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].op, 'E');
    EXPECT_EQ(calls[0].offset, 0x80000u);
    EXPECT_EQ(calls[1].op, 'E');
    EXPECT_EQ(calls[1].offset, 0x90000u);
    const uint32_t offsets[] = {0x80000, 0x84000, 0x88000};
    const uint32_t lengths[] = {0x4000, 0x4000, 0x1003};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[2 + i].op, 'W');
        EXPECT_EQ(calls[2 + i].offset, offsets[i]);
        EXPECT_EQ(calls[2 + i].length, lengths[i]);
    }
}

TEST_F(UpdateWorkerTest, ShortRecordProgramsItsOwnBytesOnly) {
    // The piece buffer still holds the zeros of the first record when the
    // 5-byte record is read: none of them may reach flash.
    const std::vector<uint8_t> zeros(16, 0x00);
    const std::vector<uint8_t> five = {1, 2, 3, 4, 5};
    harness.run(
        BinBuilder(0x80000, 0x10000).record_with_checksum(0x80000, zeros, 0).record(0x80100, five).end().bytes());
    std::vector<FlashCall> writes = flash.calls_of('W');
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].offset, 0x80100u);
    EXPECT_EQ(writes[1].length, 5u);
    EXPECT_TRUE(flash_holds(0x80100, five));
    EXPECT_TRUE(flash_erased(0x80105, 0x80110));
}

TEST_F(UpdateWorkerTest, ProgressBarsCountKilobytesWithRangeAtLeastOne) {
    struct BarCase {
        uint32_t image_length;
        std::vector<uint32_t> record_lengths;  // one after the other from 0x80000, 0x1000 apart
        long image_high;
        std::vector<long> record_highs;  // the erase's range first (one 64 KiB block), then one per record
        long image_position;
    };
    const BarCase cases[] = {
        {0x300, {0x100}, 1, {64, 1}, 0},
        {0x10000, {2047, 2048, 0x5000}, 64, {64, 1, 2, 20}, (2047 + 2048 + 0x5000) >> 10},
    };
    for (const BarCase& c : cases) {
        SCOPED_TRACE(c.image_length);
        UpdateHarness run;
        FakeFlash fresh{0x2000000, 0x10000, kFlashBackendNor};
        BinBuilder image(0x80000, c.image_length);
        for (size_t i = 0; i < c.record_lengths.size(); ++i)
            image.record(0x80000 + 0x1000 * static_cast<uint32_t>(i),
                         pattern(c.record_lengths[i], static_cast<uint8_t>(4 + i)));
        run.run(image.end().bytes());
        EXPECT_EQ(run.worker_result(), 1);
        std::vector<long> record_ranges;
        for (const BarChange& change : run.bar_changes(IDC_PROGRESS_RECORD))
            if (change.new_range) record_ranges.push_back(change.high);
        EXPECT_EQ(record_ranges, c.record_highs);
        std::vector<BarChange> bars = run.bar_changes(IDC_PROGRESS_IMAGE);
        ASSERT_FALSE(bars.empty());
        EXPECT_EQ(bars.front().high, c.image_high);
        EXPECT_EQ(bars.back().position, c.image_position);
    }
}

TEST_F(UpdateWorkerTest, EraseProgressNamesEachBlockFromTheImageStart) {
    harness.run(BinBuilder(0x80000, 0x30000).end().bytes());
    std::vector<std::string> erasing;
    for (const std::string& t : harness.texts_of(IDC_STATUS_LINE))
        if (t.rfind("Erasing", 0) == 0) erasing.push_back(t);
    EXPECT_EQ(erasing, (std::vector<std::string>{"Erasing Flash Sector at 00080000", "Erasing Flash Sector at 00090000",
                                                 "Erasing Flash Sector at 000a0000"}));
}

struct ResetCase {
    bool quiet;
    const char* answer;
    bool question;
    int reboots;
};

TEST_F(UpdateWorkerTest, ResetQuestionAfterSuccessOutsideQuietMode) {
    const ResetCase cases[] = {
        {false, "yes", true, 1},
        {false, "no", true, 0},
        {true, "yes", false, 0},
    };
    for (const ResetCase& c : cases) {
        SCOPED_TRACE(std::string(c.quiet ? "quiet " : "") + c.answer);
        UpdateHarness run;
        FakeFlash fresh{0x2000000, 0x10000, kFlashBackendNor};
        run.answer({c.answer});
        // 0x80000 .. 0x8FFFF touches no section of an empty flash: no warning.
        run.run(BinBuilder(0x80000, 0x10000).record(0x80000, pattern(16, 7)).end().bytes(), c.quiet);
        std::vector<SeenBox> boxes = run.boxes();
        ASSERT_EQ(boxes.size(), c.question ? 1u : 0u);
        if (c.question) {
            EXPECT_EQ(boxes[0].text, "To finish the update reset the system.\n Reset now?");
            EXPECT_EQ(boxes[0].caption, "RESET");
            EXPECT_EQ(boxes[0].flags, 4u);
        }
        EXPECT_EQ(run.reboots(), c.reboots);
        EXPECT_EQ(ImagePath[0], 0);
    }
}

TEST_F(UpdateWorkerTest, NoResetQuestionAfterAFailure) {
    harness.run(BinBuilder(0x80000, 0x10000).record_with_checksum(0x80000, pattern(8, 8), 1).end().bytes(), false);
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].text, kBadChecksum);
    EXPECT_EQ(harness.reboots(), 0);
}

TEST_F(UpdateWorkerTest, FailedPieceWriteStopsTheUpdate) {
    flash.before_write = [](const FlashCall& call) { return call.offset != 0x84000; };
    harness.run(BinBuilder(0x80000, 0x20000).record(0x80000, pattern(0xC000, 9)).end().bytes());
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].text, "Error writing to Flash!");
    EXPECT_EQ(harness.boxes()[0].caption, "ERROR");
    EXPECT_EQ(harness.worker_result(), 0);
    // Nothing after the failed piece is written.
    EXPECT_EQ(flash.calls_of('W').size(), 1u);
}

// The bytes the erase would take beside the image cannot be kept when their
// read fails: the update stops before anything is erased.
TEST(KeptBytes, AFailedReadRefusesTheUpdateBeforeTheErase) {
    TestModule module{"pxa270"};
    struct Case {
        const char* name;
        uint32_t backend;
        uint32_t block;
        uint32_t start, length;
        const char* text;
    };
    const Case cases[] = {
        {"NOR, after the image", kFlashBackendNor, 0x10000, 0x80000, 0x8000,
         "Error reading Flash at 00088000 - 0008ffff!"},
        {"NAND, staged before the image", kFlashBackendNand, 0x20000, 0x3C000, 0x8000,
         "Error reading Flash at 00020000 - 0003bfff!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateHarness run;
        FakeFlash fresh{0x1000000, c.block, c.backend};
        fresh.before_read = [](const FlashCall&) { return false; };
        run.run(BinBuilder(c.start, c.length).record(c.start, pattern(0x100, 10)).end().bytes());
        ASSERT_EQ(run.boxes().size(), 1u);
        EXPECT_EQ(run.boxes()[0].text, c.text);
        EXPECT_EQ(run.boxes()[0].caption, "ERROR");
        EXPECT_EQ(run.worker_result(), 0);
        EXPECT_TRUE(fresh.calls_of('E').empty());
        EXPECT_TRUE(fresh.calls_of('W').empty());
    }
}

TEST_F(UpdateWorkerTest, ImagePathIsEmptiedAfterEveryUpdate) {
    harness.run(BinBuilder(0x80000, 0x10000).bytes());
    EXPECT_EQ(harness.worker_result(), 0);
    EXPECT_EQ(ImagePath[0], 0);
}

}  // namespace
}  // namespace update_tests
