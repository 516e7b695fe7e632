// The first 256 KiB of NAND flash: staged in RAM, written after every record
// in erase-block pieces, read back and compared.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/fake_flash.h"
#include "tests/update/update_harness.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

class NandStaging : public ::testing::Test {
protected:
    TestModule module{"pxa270"};
    UpdateHarness harness;

    bool holds(FakeFlash& flash, uint32_t offset, const std::vector<uint8_t>& data, size_t from = 0,
               size_t count = SIZE_MAX) {
        count = std::min(count, data.size() - from);
        return std::equal(data.begin() + from, data.begin() + from + count, flash.contents().begin() + offset);
    }
    bool erased(FakeFlash& flash, uint32_t from, uint32_t to) {
        return std::all_of(flash.contents().begin() + from, flash.contents().begin() + to,
                           [](uint8_t b) { return b == 0xFF; });
    }
};

struct Call {
    char op;
    uint32_t offset;
    uint32_t length;
    bool operator==(const FlashCall& c) const { return op == c.op && offset == c.offset && length == c.length; }
};

void expect_calls(const std::vector<FlashCall>& actual, const std::vector<Call>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(expected[i] == actual[i])
            << "call " << i << ": " << actual[i].op << " " << std::hex << actual[i].offset << " " << actual[i].length;
}

// Over old data: the erased blocks' bytes outside the image are read before
// the erase, the staged ones go back with the boot area, the others after
// the records.
TEST_F(NandStaging, BootAreaIsWrittenLastInBlockPiecesAndCheckedBack) {
    FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
    const std::vector<uint8_t> old = pattern(0x80000, 9);
    std::copy(old.begin(), old.end(), flash.contents().begin());
    const std::vector<uint8_t> low = pattern(0x3800, 1);
    const std::vector<uint8_t> high = pattern(0x4000, 2);
    harness.run(BinBuilder(0x3C000, 0x8000).record(0x3C000, low).record(0x40000, high).end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);
    expect_calls(flash.calls(), {
                                    {'R', 0x20000, 0x1C000},  // kept before the image, staged
                                    {'R', 0x44000, 0x1C000},  // kept after it
                                    {'E', 0x20000, 0x20000},
                                    {'E', 0x40000, 0x20000},
                                    {'W', 0x40000, 0x4000},   // above the boot area: at once
                                    {'W', 0x44000, 0x1C000},  // the kept bytes after the records
                                    {'W', 0x20000, 0x1F800},  // then the staged, erased piece
                                    {'R', 0x20000, 0x1F800},
                                });
    EXPECT_TRUE(holds(flash, 0x3C000, low));
    EXPECT_TRUE(erased(flash, 0x3F800, 0x40000));
    EXPECT_TRUE(holds(flash, 0x40000, high));
    EXPECT_TRUE(holds(flash, 0, old, 0, 0x3C000));
    EXPECT_TRUE(holds(flash, 0x44000, old, 0x44000, 0x3C000));
}

TEST_F(NandStaging, PieceAcrossTheStagingEndIsSplit) {
    FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
    // Old data after the image: the kept bytes go back after the records.
    std::fill(flash.contents().begin() + 0x42000, flash.contents().begin() + 0x60000, 0x5A);
    // Erased bytes where the boot area stores nothing are not data.
    std::vector<uint8_t> data = pattern(0x4000, 3);
    std::fill(data.begin() + 0x1800, data.begin() + 0x2000, 0xFF);
    harness.run(BinBuilder(0x3E000, 0x4000).record(0x3E000, data).end().bytes());
    EXPECT_EQ(harness.worker_result(), 1);
    expect_calls(flash.calls_of('W'), {
                                          {'W', 0x40000, 0x2000},
                                          {'W', 0x42000, 0x1E000},  // kept after the image
                                          {'W', 0x20000, 0x1F800},
                                      });
    EXPECT_TRUE(holds(flash, 0x40000, data, 0x2000));
    EXPECT_TRUE(holds(flash, 0x3E000, data, 0, 0x1800));
    EXPECT_TRUE(erased(flash, 0x3F800, 0x40000));
}

TEST_F(NandStaging, NorFlashNeverStages) {
    FakeFlash flash{0x1000000, 0x40000, kFlashBackendNor};
    const std::vector<uint8_t> data = pattern(0x100, 4);
    harness.run(BinBuilder(0, 0x40000).record(0x100, data).end().bytes());
    EXPECT_EQ(harness.worker_result(), 1);
    expect_calls(flash.calls_of('W'), {{'W', 0x100, 0x100}});
    EXPECT_TRUE(flash.calls_of('R').empty());
    EXPECT_TRUE(holds(flash, 0x100, data));
}

TEST_F(NandStaging, ChipThatDoesNotStoreTheLastPageOfItsBootAreaStillVerifies) {
    // 32 KiB blocks: logical 0x7C00 .. 0x7FFF is neither written nor read.
    FakeFlash flash{0x1000000, 0x8000, kFlashBackendNand};
    flash.set_unstored(0x7C00, 0x8000);
    const std::vector<uint8_t> data = pattern(0x1000, 5);
    harness.run(BinBuilder(0, 0x8000).record(0x7000, data).end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);
    EXPECT_TRUE(holds(flash, 0x7000, data, 0, 0xC00));
    EXPECT_TRUE(erased(flash, 0x7C00, 0x8000));
    // The image's one 32 KiB block is the only piece written and read back.
    expect_calls(flash.calls_of('W'), {{'W', 0, 0x8000}});
    expect_calls(flash.calls_of('R'), {{'R', 0, 0x8000}});
}

// Boot-area pieces outside the image's erased blocks keep what they hold:
// the write-back neither programs them (with ECC on, even 0xFF pages would
// overwrite their stored ECC bytes) nor reads them back, and data for them
// are refused before anything is erased. Past the staged boot area's
// write-back, kept bytes go to flash directly.
TEST_F(NandStaging, PiecesOutsideTheErasedRangeAreLeftAlone) {
    {
        FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
        std::fill(flash.contents().begin() + 0x3F800, flash.contents().begin() + 0x40000, 0x5A);
        harness.run(BinBuilder(0x20000, 0x100).record(0x20000, pattern(0x100, 7)).end().bytes());
        EXPECT_EQ(harness.worker_result(), 1);
        expect_calls(flash.calls_of('W'), {{'W', 0x3F800, 0x800}, {'W', 0x20000, 0x1F800}});
    }
    {
        // Kept bytes that read erased are as the erase leaves them: not programmed again.
        UpdateHarness run;
        FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
        run.run(BinBuilder(0x20000, 0x100).record(0x20000, pattern(0x100, 7)).end().bytes());
        EXPECT_EQ(run.worker_result(), 1);
        expect_calls(flash.calls_of('W'), {{'W', 0x20000, 0x1F800}});
        expect_calls(flash.calls_of('R'), {{'R', 0x20100, 0x1F700}, {'R', 0x3F800, 0x800}, {'R', 0x20000, 0x1F800}});
    }
    {
        UpdateHarness run;
        FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
        // The record lies outside the image range that the header declares.
        run.run(BinBuilder(0x20000, 0x100).record(0x1000, pattern(0x100, 8)).end().bytes());
        EXPECT_EQ(run.worker_result(), 0);
        ASSERT_EQ(run.boxes().size(), 1u);
        EXPECT_EQ(run.boxes()[0].caption, "ERROR");
        EXPECT_EQ(run.boxes()[0].text, "Record at 00001000  Len: 00000100(256) lies outside the erased range!");
        EXPECT_TRUE(flash.calls().empty());
    }
}

struct BootFailure {
    const char* name;
    char failing_op;  // 'W' write fails, 'R' read fails, 'C' read returns other data
    const char* text;
};

TEST_F(NandStaging, BootAreaFailuresShowTheirMessage) {
    const BootFailure cases[] = {
        {"write fails", 'W', "Error writing to Flash!"},
        {"read fails", 'R', "Error reading Flash!"},
        {"read differs", 'C', "Error veryfing Flash!"},
    };
    for (const BootFailure& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateHarness run;
        FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
        if (c.failing_op == 'W') flash.before_write = [](const FlashCall& call) { return call.offset != 0x20000; };
        if (c.failing_op == 'R') flash.before_read = [](const FlashCall& call) { return call.offset != 0x20000; };
        if (c.failing_op == 'C')
            flash.after_read = [](uint8_t* destination, const FlashCall& call) {
                if (call.offset == 0x20000) destination[0x1234] ^= 0x01;
            };
        run.run(BinBuilder(0, 0x40000).record(0x100, pattern(0x100, 6)).end().bytes());
        ASSERT_EQ(run.boxes().size(), 1u);
        EXPECT_EQ(run.boxes()[0].text, c.text);
        EXPECT_EQ(run.boxes()[0].caption, "ERROR");
        EXPECT_EQ(run.worker_result(), 0);
    }
}

TEST_F(NandStaging, NothingStagedMeansNoBootAreaWrite) {
    FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
    harness.run(BinBuilder(0x40000, 0x20000).record(0x40000, pattern(0x10, 7)).end().bytes());
    expect_calls(flash.calls_of('W'), {{'W', 0x40000, 0x800}});
    EXPECT_TRUE(flash.calls_of('R').empty());
}

struct PagedRecord {
    uint32_t address;
    uint32_t length;
    int fill;  // a byte value, or -1 for a pattern
};

struct PagedCase {
    const char* name;
    std::vector<PagedRecord> records;
    std::vector<Call> calls;  // after the erase of the image's blocks
    uint32_t failing_write;   // a write at this offset fails; 0 for none
};

// Above the boot area every 2 KiB page is programmed once, with all the data
// of the records that share it. Records in address order have each page
// programmed when the data leave it; out of order, up to eight part-filled
// pages wait, and a record that comes back to a page programmed before has
// the page's block read, erased and written again.
TEST_F(NandStaging, PagesAreProgrammedOnceWithAllTheirData) {
    // Nine part-filled pages in block 0x60000, so that a page gathered
    // before them has been programmed to make room.
    auto around = [](PagedRecord first, PagedRecord last) {
        std::vector<PagedRecord> records = {first};
        for (uint32_t k = 0; k < 9; ++k) records.push_back({0x60000 + k * 0x1000, 0x10, -1});
        records.push_back(last);
        return records;
    };
    // clang-format off
    const PagedCase cases[] = {
        {"records sharing pages in order", {{0x40000, 0x10, -1}, {0x40010, 0x7F0, -1}, {0x40800, 0x900, -1}},
         {{'W', 0x40000, 0x800}, {'W', 0x40800, 0x800}, {'W', 0x41000, 0x800}}, 0},
        {"a piece boundary inside a page", {{0x40010, 0x4800, -1}},
         {{'W', 0x40000, 0x800}, {'W', 0x40800, 0x3800}, {'W', 0x44000, 0x800}, {'W', 0x44800, 0x800}}, 0},
        {"out of order, back to a gathered page", {{0x40100, 0x100, -1}, {0x60000, 0x10, -1}, {0x40000, 0x100, -1}},
         {{'W', 0x40000, 0x800}, {'W', 0x60000, 0x800}}, 0},
        {"out of order, back to a programmed page", around({0x40100, 0x100, -1}, {0x40000, 0x100, -1}),
         {{'W', 0x40000, 0x800}, {'W', 0x60000, 0x800}, {'W', 0x61000, 0x800}, {'R', 0x40000, 0x800},
          {'R', 0x40000, 0x20000}, {'E', 0x40000, 0x20000}, {'W', 0x40000, 0x800}, {'W', 0x62000, 0x800},
          {'W', 0x63000, 0x800}, {'W', 0x64000, 0x800}, {'W', 0x65000, 0x800}, {'W', 0x66000, 0x800},
          {'W', 0x67000, 0x800}, {'W', 0x68000, 0x800}}, 0},
        {"a page of erased bytes is not programmed", around({0x40700, 0x100, 0xFF}, {0x40000, 0x700, -1}),
         {{'W', 0x60000, 0x800}, {'W', 0x61000, 0x800}, {'R', 0x40000, 0x800}, {'W', 0x40000, 0x800},
          {'W', 0x62000, 0x800}, {'W', 0x63000, 0x800}, {'W', 0x64000, 0x800}, {'W', 0x65000, 0x800},
          {'W', 0x66000, 0x800}, {'W', 0x67000, 0x800}, {'W', 0x68000, 0x800}}, 0},
        {"the last page is refused", {{0x40000, 0x10, -1}}, {}, 0x40000},
    };
    // clang-format on
    for (const PagedCase& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateHarness run;
        FakeFlash flash{0x1000000, 0x20000, kFlashBackendNand};
        if (c.failing_write) flash.before_write = [&](const FlashCall& call) { return call.offset != c.failing_write; };
        BinBuilder bin(0x40000, 0x40000);
        std::vector<uint8_t> expected(0x40000, 0xFF);
        for (size_t i = 0; i < c.records.size(); ++i) {
            const PagedRecord& r = c.records[i];
            std::vector<uint8_t> data = r.fill < 0 ? pattern(r.length, 20 + static_cast<uint32_t>(i))
                                                   : std::vector<uint8_t>(r.length, static_cast<uint8_t>(r.fill));
            bin.record(r.address, data);
            std::copy(data.begin(), data.end(), expected.begin() + (r.address - 0x40000));
        }
        run.run(bin.end().bytes());
        std::vector<FlashCall> calls = flash.calls();
        expect_calls(std::vector<FlashCall>(calls.begin() + 2, calls.end()), c.calls);
        EXPECT_LE(flash.most_programs_of_a_page(), 1u);
        if (c.failing_write) {
            ASSERT_EQ(run.boxes().size(), 1u);
            EXPECT_EQ(run.boxes()[0].text, "Error writing to Flash!");
            EXPECT_EQ(run.worker_result(), 0);
            continue;
        }
        EXPECT_TRUE(run.boxes().empty());
        EXPECT_EQ(run.worker_result(), 1);
        EXPECT_TRUE(holds(flash, 0x40000, expected));
    }
}

}  // namespace
}  // namespace update_tests
