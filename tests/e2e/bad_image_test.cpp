// Bad .bin files given to the real program: each ends with its message and
// caption, the report says failure, and the flash is not touched at all: the
// whole file is read before anything is erased (run under the sanitizers in
// the test build).
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/e2e_support.h"

namespace {

using testing_support::read_binary;
using testing_support::write_binary;

constexpr uint8_t kOldData = 0x5A;

std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::vector<uint8_t> header(uint32_t start, uint32_t length) {
    std::vector<uint8_t> out = {'B', '0', '0', '0', 'F', 'F', '\n'};
    for (uint8_t b : le32(start)) out.push_back(b);
    for (uint8_t b : le32(length)) out.push_back(b);
    return out;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

struct BadCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* box;  // "CAPTION: text"
};

std::vector<BadCase> bad_cases() {
    std::vector<BadCase> cases;
    cases.push_back({"empty", {}, "ERRER: Not a WinCE Binary Image file!"});
    cases.push_back(
        {"wrong_signature", {'B', '0', '0', '0', 'F', 'F', '\r', 0, 0, 0, 0}, "ERRER: Not a WinCE Binary Image file!"});
    cases.push_back({"signature_cut", {'B', '0', '0'}, "ERRER: Not a WinCE Binary Image file!"});
    std::vector<uint8_t> cut_header = header(0x80000, 0x1000);
    cut_header.resize(12);
    cases.push_back({"header_cut", cut_header, "ERROR: Unexpected end of file!"});
    // A record that claims nearly 4 GiB of data but carries 16 bytes.
    std::vector<uint8_t> hostile = header(0x100000, 0x1000);
    append(hostile, le32(0x100000));
    append(hostile, le32(0xFFFFFFF0));
    append(hostile, le32(0x1234));
    append(hostile, std::vector<uint8_t>(16, 0x11));
    cases.push_back({"hostile_length", hostile, "ERROR: Unexpected end of file!"});
    // All records present but no end record.
    std::vector<uint8_t> no_end = header(0x100000, 0x10);
    append(no_end, le32(0x100000));
    append(no_end, le32(4));
    append(no_end, le32(4 * 0x22));
    append(no_end, std::vector<uint8_t>(4, 0x22));
    cases.push_back({"no_end_record", no_end, "ERROR: Unexpected end of file!"});
    // A wrong checksum.
    std::vector<uint8_t> bad_sum = header(0x100000, 0x10);
    append(bad_sum, le32(0x100000));
    append(bad_sum, le32(4));
    append(bad_sum, le32(1));
    append(bad_sum, std::vector<uint8_t>(4, 0x22));
    append(bad_sum, std::vector<uint8_t>(12, 0));
    cases.push_back(
        {"bad_checksum", bad_sum,
         "ERROR: BAD CRC, Image File seems to be corrupt. Don't reboot Now! Try updating with another file"});
    // A sound record in a block the image range does not reach: never erased.
    std::vector<uint8_t> outside = header(0x100000, 0x10);
    append(outside, le32(0x200000));
    append(outside, le32(4));
    append(outside, le32(4 * 0x22));
    append(outside, std::vector<uint8_t>(4, 0x22));
    append(outside, std::vector<uint8_t>(12, 0));
    cases.push_back(
        {"record_not_erased", outside, "ERROR: Record at 00200000  Len: 00000004(4) lies outside the erased range!"});
    // A sound record in the image's block but past the image's end: that part of the block is kept.
    std::vector<uint8_t> past_end = header(0x100000, 0x10);
    append(past_end, le32(0x100010));
    append(past_end, le32(4));
    append(past_end, le32(4 * 0x22));
    append(past_end, std::vector<uint8_t>(4, 0x22));
    append(past_end, std::vector<uint8_t>(12, 0));
    cases.push_back({"record_past_the_image", past_end,
                     "ERROR: Record at 00100010  Len: 00000004(4) lies outside the erased range!"});
    // Two records that give the same bytes.
    std::vector<uint8_t> overlap = header(0x100000, 0x10);
    append(overlap, le32(0x100000));
    append(overlap, le32(8));
    append(overlap, le32(8 * 0x22));
    append(overlap, std::vector<uint8_t>(8, 0x22));
    append(overlap, le32(0x100004));
    append(overlap, le32(4));
    append(overlap, le32(4 * 0x33));
    append(overlap, std::vector<uint8_t>(4, 0x33));
    append(overlap, std::vector<uint8_t>(12, 0));
    cases.push_back({"overlapping_records", overlap,
                     "ERROR: Records at 00100000  Len: 00000008(8) and at 00100004  Len: 00000004(4) overlap!"});
    return cases;
}

TEST(BadImage, EachEndsWithItsMessageAndLeavesTheFlashAsItWas) {
    for (const BadCase& c : bad_cases()) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module("pxa270");
        module.fill_nor(kOldData);
        write_binary(module.scratch("bad.bin"), c.bytes);
        e2e::ToolRun run = module.update_tool({}, "/u " + module.scratch("bad.bin").string());
        EXPECT_EQ(run.exit_code, 1) << run.output;
        std::string report = module.report();
        EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
        // A damaged file is no failure of the flash: no operation is named.
        EXPECT_EQ(e2e::json_value(report, "failed_operation"), "null") << report;
        std::vector<std::string> boxes = e2e::message_boxes(report);
        ASSERT_EQ(boxes.size(), 1u) << report << run.output;
        EXPECT_EQ(boxes[0], c.box);
        EXPECT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;
        std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
        EXPECT_EQ(std::count(flash.begin(), flash.end(), kOldData), static_cast<long>(flash.size()));
    }
}

TEST(BadImage, MissingFileIsReportedWithItsPath) {
    e2e::ModuleDir module("pxa270");
    std::string path = module.scratch("no-such.bin").string();
    module.update_tool({}, "/u " + path);
    std::vector<std::string> boxes = e2e::message_boxes(module.report());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR: Cannot Open Image File " + path);
}

TEST(BadImage, OverlongPathIsRefusedNotCut) {
    e2e::ModuleDir module("pxa270");
    std::string path = module.scratch(std::string(300, 'x') + ".bin").string();
    module.update_tool({}, "/u " + path);
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
    std::vector<std::string> boxes = e2e::message_boxes(report);
    ASSERT_EQ(boxes.size(), 1u) << report;
    EXPECT_EQ(boxes[0].rfind("ERROR: ", 0), 0u) << boxes[0];
}

}  // namespace
