// Every way an image file can fail to read, and the reading rules that keep a
// file going, observed through the message boxes and the flash operations.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "module/observer.h"
#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/fake_flash.h"
#include "tests/update/update_harness.h"
#include "tools/mkbin/bin_writer.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

constexpr uint32_t kBlock = 0x10000;

class ImageReading : public ::testing::Test {
protected:
    TestModule module{"pxa270"};
    UpdateHarness harness;
    FakeFlash flash{0x2000000, kBlock, kFlashBackendNor};
};

std::vector<uint8_t> header_bytes(uint32_t start, uint32_t length) { return BinBuilder(start, length).bytes(); }

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t keep) {
    bytes.resize(keep);
    return bytes;
}

struct FailureCase {
    const char* name;
    std::vector<uint8_t> image;
    const char* text;
    const char* caption;
};

TEST(ImageReadingFailures, EachShowsItsMessageAndEndsTheUpdate) {
    TestModule module{"pxa270"};
    const std::vector<uint8_t> data = pattern(100, 1);
    const std::vector<uint8_t> one_record = BinBuilder(0x80000, 0x10000).record(0x80000, data).bytes();
    const std::vector<uint8_t> big = pattern(0x5000, 2);
    std::vector<uint8_t> wrong_signature = header_bytes(0x80000, 0x10000);
    wrong_signature[6] = '\r';
    std::vector<uint8_t> lower_case = header_bytes(0x80000, 0x10000);
    lower_case[0] = 'b';

    // clang-format off
    const FailureCase cases[] = {
        {"empty file", {}, "Not a WinCE Binary Image file!", "ERRER"},
        {"six signature bytes", cut(signature_bytes(), 6), "Not a WinCE Binary Image file!", "ERRER"},
        {"last signature byte differs", wrong_signature, "Not a WinCE Binary Image file!", "ERRER"},
        {"first signature byte differs", lower_case, "Not a WinCE Binary Image file!", "ERRER"},
        {"ends inside image start", cut(header_bytes(0x80000, 0x10000), 10), "Unexpected end of file!", "ERROR"},
        {"ends inside image length", cut(header_bytes(0x80000, 0x10000), 14), "Unexpected end of file!", "ERROR"},
        {"header without records", header_bytes(0x80000, 0x10000), "Unexpected end of file!", "ERROR"},
        {"record head cut short", cut(one_record, 15 + 11), "Unexpected end of file!", "ERROR"},
        {"record data cut short", cut(one_record, one_record.size() - 1), "Unexpected end of file!", "ERROR"},
        {"second piece cut short",
         cut(BinBuilder(0x80000, 0x10000).record(0x80000, big).bytes(), 15 + 12 + 0x4800), "Unexpected end of file!",
         "ERROR"},
        {"no end record", one_record, "Unexpected end of file!", "ERROR"},
        {"checksum differs",
         BinBuilder(0x80000, 0x10000).record_with_checksum(0x80000, data, 12345).end().bytes(), kBadChecksum, "ERROR"},
        {"checksum differs above the low 16 bits",
         BinBuilder(0x80000, 0x10000).record_with_checksum(0x80000, data, mkbin::byte_sum(data) + 0x10000)
             .end().bytes(), kBadChecksum, "ERROR"},
        {"empty record with a checksum",
         BinBuilder(0x80000, 0x10000).record_with_checksum(0x80000, {}, 1).end().bytes(), kBadChecksum, "ERROR"},
        // Which record's bytes would the flash keep? Neither: the file is refused.
        {"a record inside an earlier one",
         BinBuilder(0x80000, 0x10000).record(0x80000, data).record(0x80010, pattern(4, 3)).end().bytes(),
         "Records at 00080000  Len: 00000064(100) and at 00080010  Len: 00000004(4) overlap!", "ERROR"},
        {"a record over the start of a later-placed one",
         BinBuilder(0x80000, 0x10000).record(0x80100, data).record(0x800F0, pattern(0x20, 3)).end().bytes(),
         "Records at 00080100  Len: 00000064(100) and at 000800f0  Len: 00000020(32) overlap!", "ERROR"},
        {"records that touch, then one over both",
         BinBuilder(0x80000, 0x10000).record(0x80000, data).record(0x80064, data).record(0x80063, pattern(2, 3))
             .end().bytes(),
         "Records at 00080000  Len: 00000064(100) and at 00080063  Len: 00000002(2) overlap!", "ERROR"},
        {"an overlap found before a later checksum error",
         BinBuilder(0x80000, 0x10000).record(0x80000, data).record(0x80000, data)
             .record_with_checksum(0x81000, data, 1).end().bytes(), kBadChecksum, "ERROR"},
    };
    // clang-format on
    // One rule on either flash.
    for (uint32_t backend : {kFlashBackendNor, kFlashBackendNand}) {
        for (const FailureCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (backend == kFlashBackendNor ? " on NOR" : " on NAND"));
            UpdateHarness run;
            FakeFlash fresh{0x2000000, kBlock, backend};
            run.run(c.image);
            ASSERT_EQ(run.boxes().size(), 1u);
            EXPECT_EQ(run.boxes()[0].text, c.text);
            EXPECT_EQ(run.boxes()[0].caption, c.caption);
            EXPECT_EQ(run.boxes()[0].flags, 0u);
            EXPECT_EQ(run.worker_result(), 0);
            // The whole file is read before the flash is touched at all.
            EXPECT_TRUE(fresh.calls().empty());
        }
    }
}

// The file stays open from the check pass to the end. A file whose size or
// modification time changed before the erase is refused then, with nothing
// erased; one changed later still has each record checked while it is
// written, and data the check never saw are not placed outside the image.
TEST_F(ImageReading, AFileChangedAfterItsCheckIsRefusedOrCheckedAgainWhileWriting) {
    const std::vector<uint8_t> first = pattern(0x100, 3);
    const std::vector<uint8_t> second = pattern(0x6000, 4);
    // The image ends inside its last block: the rest of that block is read before the erase.
    const std::vector<uint8_t> good =
        BinBuilder(0x80000, 0x1F000).record(0x80000, first).record(0x90000, second).end().bytes();
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    struct ChangeCase {
        const char* name;
        char at;  // 'R' at the read of the kept bytes, just before the erase; 'E' at the erase
        std::vector<uint8_t> changed;
        const char* text;
        size_t erases;
        // The first record's piece, and the second's as far as they went; the
        // kept tail of the last block reads erased and is not programmed again.
        size_t writes;
    };
    const ChangeCase cases[] = {
        {"rewritten as it was, later", 'R', good, "Image File has changed since it was checked!", 0, 0},
        {"one byte longer", 'R', longer, "Image File has changed since it was checked!", 0, 0},
        {"second checksum now wrong", 'E',
         BinBuilder(0x80000, 0x1F000).record(0x80000, first).record_with_checksum(0x90000, second, 7).end().bytes(),
         kBadChecksum, 2, 3},
        {"second checksum now wrong above the low 16 bits", 'E',
         BinBuilder(0x80000, 0x1F000)
             .record(0x80000, first)
             .record_with_checksum(0x90000, second, mkbin::byte_sum(second) + 0x10000)
             .end()
             .bytes(),
         kBadChecksum, 2, 3},
        {"second record now outside the image", 'E',
         BinBuilder(0x80000, 0x1F000).record(0x80000, first).record(0xA0000, second).end().bytes(),
         "Record at 000a0000  Len: 00006000(24576) lies outside the erased range!", 2, 1},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateHarness run;
        FakeFlash fresh{0x2000000, kBlock, kFlashBackendNor};
        std::filesystem::path file = run.image_path();
        auto change = [&] {
            testing_support::write_binary(file, c.changed);
            std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(2));
        };
        if (c.at == 'R') fresh.before_read = [&](const FlashCall&) { return change(), true; };
        if (c.at == 'E') fresh.before_erase = [&](const FlashCall&) { change(); };
        run.run(good);
        ASSERT_EQ(run.boxes().size(), 1u);
        EXPECT_EQ(run.boxes()[0].text, c.text);
        EXPECT_EQ(run.worker_result(), 0);
        EXPECT_EQ(fresh.calls_of('E').size(), c.erases);
        EXPECT_EQ(fresh.calls_of('W').size(), c.writes);
        if (c.writes) {
            EXPECT_TRUE(std::equal(first.begin(), first.end(), fresh.contents().begin() + 0x80000));
        }
    }
}

TEST_F(ImageReading, FileThatCannotBeOpenedNamesItsPath) {
    std::string missing = (harness.image_path().parent_path() / "missing.bin").string();
    harness.run_path(sim::utf16(missing));
    ASSERT_EQ(harness.boxes().size(), 1u);
    EXPECT_EQ(harness.boxes()[0].text, "Cannot Open Image File " + missing);
    EXPECT_EQ(harness.boxes()[0].caption, "ERROR");
    EXPECT_EQ(harness.worker_result(), 0);
    EXPECT_TRUE(flash.calls().empty());
}

TEST_F(ImageReading, LongPathIsCutToTheMessageBuffer) {
    // 259 characters: the most ImagePath holds.
    std::string dir = harness.image_path().parent_path().string() + "/";
    std::string missing = dir + std::string(259 - dir.size() - 4, 'x') + ".bin";
    ASSERT_EQ(missing.size(), 259u);
    harness.run_path(sim::utf16(missing));
    ASSERT_EQ(harness.boxes().size(), 1u);
    std::string full = "Cannot Open Image File " + missing;
    EXPECT_EQ(harness.boxes()[0].text, full.substr(0, 255));
}

TEST_F(ImageReading, HeaderAndEndRecordOnlyEraseTheRangeAndSucceed) {
    harness.run(BinBuilder(0x80000, 0x30000).end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);
    std::vector<FlashCall> erased = flash.calls_of('E');
    ASSERT_EQ(erased.size(), 3u);
    EXPECT_EQ(erased[0].offset, 0x80000u);
    EXPECT_EQ(erased[2].offset, 0xA0000u);
    EXPECT_TRUE(flash.calls_of('W').empty());
}

TEST_F(ImageReading, RecordsThatOnlyLookLikeTheEnd) {
    const std::vector<uint8_t> data = pattern(64, 5);
    // Address 0 with a checksum, and an empty record at a nonzero address,
    // are ordinary; the end record's length is never used and what follows
    // it is never read.
    std::vector<uint8_t> image = BinBuilder(0, 0x20000)
                                     .record(0, data)
                                     .record_with_checksum(0x10000, {}, 0)
                                     .end(0xFFFFFFFF)
                                     .raw({1, 2, 3})
                                     .bytes();
    harness.run(image);
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.contents().begin()));
    ASSERT_EQ(flash.calls_of('W').size(), 1u);
    EXPECT_EQ(harness.texts_of(1004).back(), "Section: 00010000  Len: 00000000(0)");
}

}  // namespace
}  // namespace update_tests
