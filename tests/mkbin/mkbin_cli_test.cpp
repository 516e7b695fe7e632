// The mkbin tool run as a user runs it; its files read back with the format's
// reader and checked field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_module.h"
#include "tools/common/cli.h"
#include "tools/mkbin/bin_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;

class MkbinCli : public ::testing::Test {
protected:
    // Runs mkbin with the arguments; returns the exit code.
    int run(const std::string& arguments, std::string* output = nullptr) {
        std::string out;
        int code = testing_support::run_command(testing_support::binary("mkbin") + " " + arguments + " 2>&1", &out);
        if (output) *output = out;
        return code;
    }
    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }

    // Builds a file and reads its memory image back from the records.
    void build(const std::string& arguments, mkbin::ParsedBin* parsed, std::map<uint32_t, uint8_t>* memory) {
        std::string output;
        ASSERT_EQ(run("-o " + path("out.bin") + " " + arguments, &output), 0) << output;
        file_ = testing_support::read_binary(path("out.bin"));
        std::string error;
        ASSERT_TRUE(mkbin::parse_bin(file_, parsed, &error)) << error;
        for (const mkbin::ParsedRecord& r : parsed->records) {
            ASSERT_TRUE(r.sum_matches) << "record at 0x" << std::hex << r.address;
            for (uint32_t i = 0; i < r.length; ++i) (*memory)[r.address + i] = file_[r.data_offset + i];
        }
    }

    static uint32_t word(const std::map<uint32_t, uint8_t>& memory, uint32_t address) {
        uint32_t value = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            auto it = memory.find(address + k);
            if (it == memory.end())
                ADD_FAILURE() << "no byte placed at 0x" << std::hex << address + k;
            else
                value |= static_cast<uint32_t>(it->second) << (8 * k);
        }
        return value;
    }

    TempDir dir_;
    Bytes file_;
};

TEST_F(MkbinCli, RomImageHeadersAreConsistent) {
    mkbin::ParsedBin parsed;
    std::map<uint32_t, uint8_t> memory;
    build(
        "--start 0x80000000 --length 0x40000 --fill pattern --record-size 0x4000 --rom --toc-offset 0x300 "
        "--built \"2007-03-12 10:20:30\"",
        &parsed, &memory);
    EXPECT_EQ(parsed.image_start, 0x80000000u);
    EXPECT_EQ(parsed.image_length, 0x40000u);
    EXPECT_EQ(parsed.records.size(), 16u);
    EXPECT_EQ(memory.size(), 0x40000u);

    const uint32_t base = 0x80000000;
    EXPECT_EQ(word(memory, base + 0x40), 0x43454345u);
    uint32_t toc_pointer = word(memory, base + 0x44);
    uint32_t toc_offset = word(memory, base + 0x48);
    EXPECT_EQ(toc_offset, 0x300u);
    uint32_t physfirst = word(memory, base + toc_offset + 8);
    uint32_t physlast = word(memory, base + toc_offset + 12);
    EXPECT_EQ(toc_pointer - toc_offset, physfirst);
    EXPECT_EQ(physfirst, 0x80000000u);
    // The last word of the image: the size the flash's reader works out is the length.
    EXPECT_EQ(physlast - physfirst + 4, 0x40000u);
    // The first table-of-contents entry follows the 84-byte ROMHDR.
    uint32_t entry = base + toc_offset + 84;
    EXPECT_EQ(word(memory, entry + 4), static_cast<uint32_t>(128181684300000000ull));
    EXPECT_EQ(word(memory, entry + 8), static_cast<uint32_t>(128181684300000000ull >> 32));
    // Outside the headers the fill pattern stands.
    EXPECT_EQ(memory.at(base + 0x1234), mkbin::pattern_byte(0x1234));
}

TEST_F(MkbinCli, RomHeaderOverridesMakeInconsistentImages) {
    mkbin::ParsedBin parsed;
    std::map<uint32_t, uint8_t> memory;
    build("--start 0 --rom --physfirst 0x1000 --physlast 0x6FFC --toc-pointer 0x1234", &parsed, &memory);
    EXPECT_EQ(word(memory, 0x44), 0x1234u);
    EXPECT_EQ(word(memory, 0x200 + 8), 0x1000u);
    EXPECT_EQ(word(memory, 0x200 + 12), 0x6FFCu);
    // Default length: up to the end of the first TOC entry.
    EXPECT_EQ(parsed.image_length, 0x200u + 84 + 32);
}

TEST_F(MkbinCli, RealisticPiecesLandAtTheirOffsets) {
    mkbin::ParsedBin parsed;
    std::map<uint32_t, uint8_t> memory;
    build(
        "--start 0x40000 --compressed 0x6000 --bootloader-version 1.2.7.3 --version-offset 0xFFC "
        "--banner \"1.3 for Zantrel Fennaro Built Mar 12 2007\" --banner-offset 0x2000 "
        "--config-block 40 --config-offset 0x3000",
        &parsed, &memory);
    // Compressed header: COMP, 0, size.
    EXPECT_EQ(word(memory, 0x40000), 0x504D4F43u);
    EXPECT_EQ(word(memory, 0x40008), 0x6000u);
    // Version record across a 4 KiB boundary.
    const uint32_t expected_version[] = {0x01234567, 1, 2, 0x00030007, 0x89ABCDEF};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(word(memory, 0x40FFC + 4 * i), expected_version[i]) << i;
    // Banner prefix, the text, a zero byte.
    std::string banner;
    for (uint32_t a = 0x42000; memory.count(a) && memory.at(a) != 0; ++a) banner += static_cast<char>(memory.at(a));
    EXPECT_EQ(banner, "Microsoft Windows CE Ethernet Bootloader 1.3 for Zantrel Fennaro Built Mar 12 2007");
    // Configuration block, then its erased word.
    EXPECT_EQ(word(memory, 0x43000), 0xCF014000u);
    for (uint32_t o = 4; o < 40; o += 4) EXPECT_NE(word(memory, 0x43000 + o), 0xFFFFFFFFu) << o;
    EXPECT_EQ(word(memory, 0x43000 + 40), 0xFFFFFFFFu);
    EXPECT_EQ(parsed.image_length, 0x3000u + 44);
}

TEST_F(MkbinCli, DataFilesRawShortcutAndRecordLists) {
    testing_support::write_binary(path("a.raw"), Bytes{1, 2, 3, 4, 5});
    testing_support::write_binary(path("list.txt"), Bytes());
    {
        std::string list = "0x9000 @a.raw\n0x9100 0102 sum=0x77\nend 0x42\nraw FFEE\n";
        testing_support::write_binary(path("list.txt"), Bytes(list.begin(), list.end()));
    }
    std::string output;
    ASSERT_EQ(run("-o " + path("raw.bin") + " --raw " + path("a.raw") + " --address 0x80001000", &output), 0) << output;
    mkbin::ParsedBin parsed;
    std::string error;
    ASSERT_TRUE(mkbin::parse_bin(testing_support::read_binary(path("raw.bin")), &parsed, &error)) << error;
    EXPECT_EQ(parsed.image_start, 0x80001000u);
    EXPECT_EQ(parsed.image_length, 5u);
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.records[0].checksum, 15u);

    ASSERT_EQ(run("-o " + path("list.bin") + " --start 0x9000 --data 0x8000=" + path("a.raw") + " --records " +
                      path("list.txt") + " --no-end",
                  &output),
              0)
        << output;
    ASSERT_TRUE(mkbin::parse_bin(testing_support::read_binary(path("list.bin")), &parsed, &error)) << error;
    ASSERT_EQ(parsed.records.size(), 3u);
    EXPECT_EQ(parsed.records[0].address, 0x8000u);
    EXPECT_EQ(parsed.records[1].address, 0x9000u);
    EXPECT_TRUE(parsed.records[1].sum_matches);
    EXPECT_EQ(parsed.records[2].checksum, 0x77u);
    EXPECT_FALSE(parsed.records[2].sum_matches);
    EXPECT_EQ(parsed.end_length, 0x42u);
    EXPECT_EQ(parsed.trailing_bytes, 2u);
}

TEST_F(MkbinCli, FileFaultOptions) {
    struct Case {
        const char* options;
        size_t size;  // bytes in the file
        bool parses;
        std::vector<uint32_t> addresses;  // records in file order
        uint32_t end_length;
    };
    // Three 0x10-byte records at 0x100, 0x110, 0x120; 15 + 3 * 28 + 12 = 111 bytes.
    const Case cases[] = {
        {"", 111, true, {0x100, 0x110, 0x120}, 0},
        {"--end-length 0x80000", 111, true, {0x100, 0x110, 0x120}, 0x80000},
        {"--end-length=524288", 111, true, {0x100, 0x110, 0x120}, 0x80000},
        {"--reverse", 111, true, {0x120, 0x110, 0x100}, 0},
        {"--order 1,1", 83, true, {0x110, 0x110}, 0},
        {"--no-end", 99, false, {0x100, 0x110, 0x120}, 0},
        {"--truncate 50", 50, false, {0x100}, 0},
        {"--truncate=0x32", 50, false, {0x100}, 0},
    };
    for (const Case& c : cases) {
        std::string output;
        ASSERT_EQ(
            run("-o " + path("f.bin") + " --start 0x100 --length 0x30 --fill 0x5A --record-size 0x10 " + c.options,
                &output),
            0)
            << c.options << ": " << output;
        Bytes file = testing_support::read_binary(path("f.bin"));
        EXPECT_EQ(file.size(), c.size) << c.options;
        mkbin::ParsedBin parsed;
        std::string error;
        EXPECT_EQ(mkbin::parse_bin(file, &parsed, &error), c.parses) << c.options << ": " << error;
        ASSERT_EQ(parsed.records.size(), c.addresses.size()) << c.options;
        for (size_t i = 0; i < c.addresses.size(); ++i) EXPECT_EQ(parsed.records[i].address, c.addresses[i]);
        if (c.parses) {
            EXPECT_EQ(parsed.end_length, c.end_length) << c.options;
        }
    }
}

// 2: the command line cannot be carried out, or a file cannot be read.
TEST_F(MkbinCli, BadArgumentsFailWithAReason) {
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    };
    const std::string out = "-o " + path("x.bin");
    const Case cases[] = {
        {"--start 0", 2, "no output file"},
        {out, 2, "no image start"},
        {out + " --start 0 --bogus", 2, "unknown option --bogus"},
        {out + " --start 0 stray", 2, "unexpected argument 'stray'"},
        {out + " --start zz", 2, "--start: 'zz' is not a number"},
        {out + " --start 0x100000000", 2, "--start: '0x100000000' is over 0xFFFFFFFF"},
        {out + " --start 0 --bootloader-version 1.2", 2, "--bootloader-version"},
        {out + " --start 0 --config-block 6", 2, "--config-block"},
        {out + " --start 0 --config-block 0x40000004", 2, "--config-block: '0x40000004' is over 1 GiB"},
        {out + " --start 0 --fill 0x11", 2, "--fill needs --length"},
        {out + " --start 0 --length 0xFFFFFFFF --fill pattern", 2, "--length with --fill is over 1 GiB"},
        {out + " --start 0 --built \"2007-03-12 10:20:30\"", 2, "need --rom"},
        {out + " --start 0 --order 5", 2, "record order"},
        {out + " --start 0 --data 0=" + path("missing.raw"), 2, "cannot read"},
        {out + " --start 0 --data 0=" + dir_.path().string(), 2, "is a directory"},
        {"--info " + dir_.path().string(), 2, "is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string output;
        EXPECT_EQ(run(c.arguments, &output), c.status);
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << "one line: " << output;
    }
}

TEST_F(MkbinCli, HelpAndInfo) {
    std::string output;
    ASSERT_EQ(run("--version", &output), 0);
    EXPECT_TRUE(std::regex_match(output, std::regex("mkbin [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << output;
    ASSERT_EQ(run("--help", &output), 0);
    for (const char* option :
         {"--start", "--data", "--records", "--no-end", "--end-length", "--truncate", "--order", "--rom", "--built",
          "--compressed", "--bootloader-version", "--banner", "--config-block", "--raw", "--address"})
        EXPECT_NE(output.find(option), std::string::npos) << option;

    ASSERT_EQ(run("-o " + path("i.bin") + " --start 0x100 --records /dev/null --end-length 7"), 0);
    ASSERT_EQ(run("--info " + path("i.bin"), &output), 0) << output;
    EXPECT_NE(output.find("start 0x00000100 length 0x00000000"), std::string::npos) << output;
    EXPECT_NE(output.find("end length 0x00000007"), std::string::npos) << output;

    ASSERT_EQ(run("-o " + path("j.bin") + " --start 0x100 --length 4 --fill 1 --no-end"), 0);
    EXPECT_EQ(run("--info " + path("j.bin"), &output), 1);
    EXPECT_NE(output.find("record 0x00000100 length 0x00000004 sum 0x00000004 ok"), std::string::npos) << output;
    EXPECT_NE(output.find("error:"), std::string::npos) << output;
}

}  // namespace

namespace {

// The tools' guard (run_guarded, shared by all three): an exception on the
// main thread or on another one ends the tool with one line and status 2,
// never with an abort.
TEST(ToolGuard, AnExceptionAnywhereEndsWithOneLineAndTheHostStatus) {
    EXPECT_EXIT(std::exit(cli::run_guarded("tool", []() -> int { throw std::runtime_error("main thread gave up"); })),
                testing::ExitedWithCode(2), "^tool: main thread gave up\n$");
    EXPECT_EXIT(cli::run_guarded("tool",
                                 [] {
                                     std::thread worker([] { throw std::runtime_error("worker gave up"); });
                                     worker.join();
                                     return 0;
                                 }),
                testing::ExitedWithCode(2), "^tool: worker gave up\n$");
}

}  // namespace
