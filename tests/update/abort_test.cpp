// Abort noticed at each stage of an update, and what follows from it.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/fake_flash.h"
#include "tests/update/update_harness.h"
#include "update/update.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

class AbortTest : public ::testing::Test {
protected:
    TestModule module{"pxa270"};
    UpdateHarness harness;
    FakeFlash flash{0x2000000, 0x10000, kFlashBackendNor};
    const std::vector<uint8_t> first = pattern(0x100, 1);
    const std::vector<uint8_t> second = pattern(0x8000, 2);

    // Three 64 KiB blocks; two records.
    std::vector<uint8_t> image(uint32_t second_checksum_delta = 0) {
        uint32_t sum = 0;
        for (uint8_t b : second) sum += b;
        return BinBuilder(0x80000, 0x30000)
            .record(0x80000, first)
            .record_with_checksum(0x90000, second, sum + second_checksum_delta)
            .end()
            .bytes();
    }
    size_t writes() const { return flash.calls_of('W').size(); }
    size_t erases() const { return flash.calls_of('E').size(); }
};

TEST_F(AbortTest, BeforeTheEraseNothingIsErasedAndTheUpdateSucceeds) {
    flash.contents()[0x80010] = 0x12;
    AbortRequested = 1;
    harness.answer({"no"});
    harness.run(image(), false);
    EXPECT_EQ(erases(), 0u);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(flash.contents()[0x80010], 0x12);
    EXPECT_EQ(harness.worker_result(), 1);
    // Outside quiet mode the reset question still follows.
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].caption, "RESET");
}

TEST_F(AbortTest, DuringTheEraseTheRestOfTheRangeStaysAndTheUpdateFails) {
    flash.contents()[0xA0010] = 0x34;
    harness.abort_on_text("Erasing Flash Sector at 00090000");
    harness.run(image(), false);
    // The block at 0x80000 was erased; the report before 0x90000 stopped it.
    ASSERT_EQ(erases(), 1u);
    EXPECT_EQ(flash.calls_of('E')[0].offset, 0x80000u);
    EXPECT_EQ(flash.contents()[0xA0010], 0x34);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(harness.worker_result(), 0);
    // Half an image is no reason to reset: no question (nor a warning: the
    // blank flash holds no section).
    EXPECT_TRUE(harness.boxes().empty());
}

TEST_F(AbortTest, AfterTheEraseNoRecordIsReadAndTheUpdateFails) {
    // Set while the last block is erased, after its report.
    flash.before_erase = [](const FlashCall& call) {
        if (call.offset == 0xA0000) AbortRequested = 1;
    };
    harness.run(image());
    EXPECT_EQ(erases(), 3u);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(harness.worker_result(), 0);
}

TEST_F(AbortTest, BeforeAPieceTheRecordFailsItsChecksum) {
    harness.abort_on_text("Section: 00090000");
    harness.run(image());
    EXPECT_EQ(writes(), 1u);  // only the first record
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].text, kBadChecksum);
    EXPECT_EQ(harness.worker_result(), 0);
}

TEST_F(AbortTest, BeforeAPieceOfARecordWhoseSumStillMatches) {
    // Checksum 0 matches the empty partial sum: the finish follows, but the
    // record is not whole.
    const std::vector<uint8_t> zeros(0x100, 0);
    harness.abort_on_text("Section: 00090000");
    harness.run(BinBuilder(0x80000, 0x30000).record(0x80000, first).record(0x90000, zeros).end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(harness.worker_result(), 0);
}

TEST_F(AbortTest, InsideARecordAfterItsFirstPiece) {
    flash.before_write = [](const FlashCall& call) {
        if (call.offset == 0x90000) AbortRequested = 1;
        return true;
    };
    harness.run(image());
    // 0x8000 bytes are two pieces: the second is never read.
    EXPECT_EQ(writes(), 2u);
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].text, kBadChecksum);
}

TEST_F(AbortTest, AfterARecordTheImageIsWholeOnlyWithoutRecordsLeft) {
    struct Case {
        uint32_t aborted_at;  // the write that sets the flag
        size_t writes;
        long result;
    };
    // Set during the first record's only piece: the second is never read.
    // Set during the second record's last piece: nothing is left.
    const Case cases[] = {{0x80000, 1, 0}, {0x94000, 3, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.aborted_at);
        UpdateHarness run;
        FakeFlash fresh{0x2000000, 0x10000, kFlashBackendNor};
        AbortRequested = 0;
        fresh.before_write = [&](const FlashCall& call) {
            if (call.offset == c.aborted_at) AbortRequested = 1;
            return true;
        };
        run.run(image());
        EXPECT_EQ(fresh.calls_of('W').size(), c.writes);
        EXPECT_TRUE(run.boxes().empty());
        EXPECT_EQ(run.worker_result(), c.result);
    }
}

}  // namespace
}  // namespace update_tests
