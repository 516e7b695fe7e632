// The image writer's pieces checked against bytes worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/mkbin/bin_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const Bytes& bytes, size_t at) { return mkbin::get_le32(bytes.data() + at); }

TEST(ByteSum, Matrix) {
    struct Case {
        Bytes data;
        uint32_t sum;
    };
    // clang-format off
    const Case cases[] = {
        {{}, 0},
        {{0x61, 0x62, 0x63}, 0x126},
        {{0xFF}, 0xFF},
        {Bytes(0x10000, 0xFF), 0xFF0000},
        {{0x80, 0x80}, 0x100},
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(mkbin::byte_sum(c.data), c.sum) << c.data.size() << " bytes";
}

// The one number reader of the three tools, at mkbin's 32-bit limit.
TEST(ParseU32, AcceptsDecimalAndHexOnly) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    };
    // clang-format off
    const Case cases[] = {
        {"0", true, 0},          {"4096", true, 4096},        {"0x1000", true, 0x1000},
        {"0XFFFFFFFF", true, 0xFFFFFFFF}, {"4294967295", true, 0xFFFFFFFF}, {"4294967296", false, 0},
        {"0x100000000", false, 0}, {"", false, 0},            {"12a", false, 0},
        {"0x", false, 0},        {"-1", false, 0},            {"0x1_000", true, 0x1000},
        {"1_000_000", true, 1000000}, {"1__0", false, 0},     {"_1", false, 0},
        {"1_", false, 0},        {"010", true, 10},           {"0b1", false, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        uint32_t value = 12345;
        EXPECT_EQ(mkbin::parse_u32(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(FileTime, KnownInstants) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t filetime;
    };
    const Case cases[] = {
        {"1601-01-01 00:00:00", true, 0},
        {"1601-01-01 00:00:01", true, 10000000},
        {"1970-01-01 00:00:00", true, 116444736000000000ull},
        {"2007-03-12 10:20:30", true, 128181684300000000ull},
        {"2000-02-29 00:00:00", true, 125962560000000000ull},
        {"2007-02-29 00:00:00", false, 0},
        {"2007-13-01 00:00:00", false, 0},
        {"2007-03-12 24:00:00", false, 0},
        {"1600-12-31 23:59:59", false, 0},
        {"2007-03-12", false, 0},
        {"2007-03-12 10:20:30x", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t filetime = 7;
        EXPECT_EQ(mkbin::filetime_from_text(c.text, &filetime), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(filetime, c.filetime) << c.text;
        }
    }
}

TEST(PatternByte, NoAlignedWordReadsErased) {
    for (uint32_t offset = 0; offset < 0x40000; offset += 4) {
        bool all_ones = true;
        for (uint32_t k = 0; k < 4; ++k) all_ones = all_ones && mkbin::pattern_byte(offset + k) == 0xFF;
        ASSERT_FALSE(all_ones) << "offset 0x" << std::hex << offset;
    }
}

TEST(MemoryImage, PlacementsMergeAndOverwrite) {
    mkbin::MemoryImage image;
    image.put(0x100, Bytes{1, 2, 3, 4});
    image.put(0x200, Bytes{9});
    ASSERT_EQ(image.segments().size(), 2u);

    // Overlapping the first run's tail and touching nothing else.
    image.put(0x102, Bytes{7, 7, 7, 7});
    // Touching the end of the merged run joins it.
    image.put(0x106, Bytes{8});
    ASSERT_EQ(image.segments().size(), 2u);
    EXPECT_EQ(image.segments().at(0x100), (Bytes{1, 2, 7, 7, 7, 7, 8}));

    // One placement spanning both runs makes one run; later bytes win.
    image.put(0x0FF, Bytes(0x102, 0xAA));
    ASSERT_EQ(image.segments().size(), 1u);
    const Bytes& run = image.segments().at(0x0FF);
    EXPECT_EQ(run.size(), 0x102u);
    EXPECT_EQ(image.end(), 0x201u);
    EXPECT_EQ(run[0x201 - 0xFF - 1], 0xAA);
}

TEST(MemoryImage, StopsAtTheTopOfTheAddressSpace) {
    mkbin::MemoryImage image;
    image.put(0xFFFFFFFE, Bytes{1, 2, 3, 4});
    ASSERT_EQ(image.segments().size(), 1u);
    EXPECT_EQ(image.segments().at(0xFFFFFFFE), (Bytes{1, 2}));
    EXPECT_EQ(image.end(), 1ull << 32);
}

TEST(RecordsFromImage, SplitsRunsAtTheRecordSize) {
    mkbin::MemoryImage image;
    image.put(0x1000, Bytes(0x25, 0x11));
    image.put(0x2000, Bytes(0x10, 0x22));
    struct Case {
        uint32_t record_size;
        std::vector<std::pair<uint32_t, size_t>> records;
    };
    const Case cases[] = {
        {0, {{0x1000, 0x25}, {0x2000, 0x10}}},
        {0x10, {{0x1000, 0x10}, {0x1010, 0x10}, {0x1020, 0x5}, {0x2000, 0x10}}},
        {0x100, {{0x1000, 0x25}, {0x2000, 0x10}}},
        {1, {}},
    };
    for (const Case& c : cases) {
        std::vector<mkbin::Record> records = mkbin::records_from_image(image, c.record_size);
        if (c.record_size == 1) {
            EXPECT_EQ(records.size(), 0x35u);
            continue;
        }
        ASSERT_EQ(records.size(), c.records.size()) << "record size " << c.record_size;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].address, c.records[i].first);
            EXPECT_EQ(records[i].data.size(), c.records[i].second);
        }
    }
}

TEST(WriteBin, BytesOfASmallFile) {
    mkbin::BinFile file;
    file.image_start = 0x80001000;
    file.image_length = 0x20;
    mkbin::Record record;
    record.address = 0x80001004;
    record.data = {0x61, 0x62, 0x63};
    file.records.push_back(record);
    file.end_length = 0x80001000;
    Bytes out;
    std::string error;
    ASSERT_TRUE(mkbin::write_bin(file, &out, &error));
    const Bytes expected = {
        'B',  '0',  '0',  '0',  'F',  'F',  '\n',                                // signature
        0x00, 0x10, 0x00, 0x80, 0x20, 0x00, 0x00, 0x00,                          // start, length
        0x04, 0x10, 0x00, 0x80, 0x03, 0x00, 0x00, 0x00,                          // address, length
        0x26, 0x01, 0x00, 0x00, 0x61, 0x62, 0x63,                                // sum, data
        0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,  // end record
    };
    EXPECT_EQ(out, expected);
}

TEST(WriteBin, DeliberateFaults) {
    mkbin::BinFile base;
    base.image_start = 0x1000;
    for (uint32_t i = 0; i < 3; ++i) {
        mkbin::Record r;
        r.address = 0x1000 + 0x10 * i;
        r.data = Bytes(0x10, static_cast<uint8_t>(i + 1));
        base.records.push_back(r);
    }
    base.records[1].checksum = 0xBAD;
    Bytes out;
    std::string error;

    // Reordered and repeated records.
    mkbin::BinFile reordered = base;
    reordered.order = std::vector<size_t>{2, 0, 0};
    ASSERT_TRUE(mkbin::write_bin(reordered, &out, &error));
    EXPECT_EQ(le32(out, 15), 0x1020u);
    EXPECT_EQ(le32(out, 15 + 28), 0x1000u);
    EXPECT_EQ(le32(out, 15 + 56), 0x1000u);
    EXPECT_EQ(out.size(), 15u + 3 * 28 + 12);

    // An order naming a record that does not exist is refused.
    mkbin::BinFile bad_order = base;
    bad_order.order = std::vector<size_t>{3};
    EXPECT_FALSE(mkbin::write_bin(bad_order, &out, &error));
    EXPECT_NE(error.find("record 3"), std::string::npos) << error;

    // No end record; a truncated file; the wrong sum stays as asked.
    mkbin::BinFile no_end = base;
    no_end.end_record = false;
    ASSERT_TRUE(mkbin::write_bin(no_end, &out, &error));
    EXPECT_EQ(out.size(), 15u + 3 * 28);
    EXPECT_EQ(le32(out, 15 + 28 + 8), 0xBADu);

    mkbin::BinFile cut = base;
    cut.truncate = 20;
    ASSERT_TRUE(mkbin::write_bin(cut, &out, &error));
    EXPECT_EQ(out.size(), 20u);
}

TEST(RecordList, ParsesEveryLineKind) {
    const std::string text =
        "# addresses and data\n"
        "0x80001000 616263\n"
        "0x80002000 - sum=0 # an empty record\n"
        "0x0 00 sum=5 len=9\n"
        "end 0x1234\n"
        "raw DEADBEEF\n";
    std::vector<mkbin::Record> records;
    std::string error;
    ASSERT_TRUE(mkbin::parse_record_list(text, "", &records, &error)) << error;
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].address, 0x80001000u);
    EXPECT_EQ(records[0].data, (Bytes{0x61, 0x62, 0x63}));
    EXPECT_FALSE(records[0].checksum.has_value());
    EXPECT_TRUE(records[1].data.empty());
    EXPECT_EQ(records[1].checksum, 0u);
    EXPECT_EQ(records[2].checksum, 5u);
    EXPECT_EQ(records[2].length, 9u);
    EXPECT_TRUE(records[3].end);
    EXPECT_EQ(records[3].length, 0x1234u);
    EXPECT_TRUE(records[4].raw);
    EXPECT_EQ(records[4].data, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(RecordList, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* line;
    };
    // clang-format off
    const Case cases[] = {
        {"0x1000 abc\n", "line 1"},
        {"\n\nzz 00\n", "line 3"},
        {"0x1000 00 crc=1\n", "line 1"},
        {"0x1000\n", "line 1"},
        {"0x1000 00\nend x\n", "line 2"},
        {"0x1000 @/nonexistent/file\n", "line 1"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<mkbin::Record> records;
        std::string error;
        EXPECT_FALSE(mkbin::parse_record_list(c.text, "", &records, &error)) << c.text;
        EXPECT_NE(error.find(c.line), std::string::npos) << c.text << " -> " << error;
    }
}

TEST(ParseBin, ReadsWhatWasWrittenAndFindsFaults) {
    // File: header, a good record, a bad-sum record, end record, 3 bytes after it.
    Bytes file = {'B', '0', '0', '0', 'F', 'F', '\n'};
    mkbin::put_le32(file, 0x80000000);
    mkbin::put_le32(file, 0x100);
    mkbin::put_le32(file, 0x80000000);
    mkbin::put_le32(file, 2);
    mkbin::put_le32(file, 3);
    file.push_back(1);
    file.push_back(2);
    mkbin::put_le32(file, 0x80000010);
    mkbin::put_le32(file, 1);
    mkbin::put_le32(file, 9);
    file.push_back(1);
    mkbin::put_le32(file, 0);
    mkbin::put_le32(file, 0xABCD);
    mkbin::put_le32(file, 0);
    file.insert(file.end(), {7, 7, 7});

    mkbin::ParsedBin parsed;
    std::string error;
    ASSERT_TRUE(mkbin::parse_bin(file, &parsed, &error)) << error;
    EXPECT_EQ(parsed.image_start, 0x80000000u);
    EXPECT_EQ(parsed.image_length, 0x100u);
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_TRUE(parsed.records[0].sum_matches);
    EXPECT_FALSE(parsed.records[1].sum_matches);
    EXPECT_TRUE(parsed.has_end);
    EXPECT_EQ(parsed.end_length, 0xABCDu);
    EXPECT_EQ(parsed.trailing_bytes, 3u);

    // Every cut inside a head or data is found.
    struct Cut {
        size_t keep;
        const char* what;
    };
    const Cut cuts[] = {{3, "signature"}, {10, "image start"}, {20, "record head"},
                        {28, "data"},     {41, "data"},        {50, "record head"}};
    for (const Cut& cut : cuts) {
        Bytes shorter(file.begin(), file.begin() + cut.keep);
        EXPECT_FALSE(mkbin::parse_bin(shorter, &parsed, &error)) << cut.keep;
        EXPECT_NE(error.find(cut.what), std::string::npos) << cut.keep << ": " << error;
    }
}

TEST(Pieces, VersionSpecText) {
    struct Case {
        const char* text;
        bool ok;
        mkbin::VersionSpec spec;
    };
    // clang-format off
    const Case cases[] = {
        {"1.2.7", true, {1, 2, 7, 0}},      {"1.2.7.3", true, {1, 2, 7, 3}},
        {"0x2.1.0.65535", true, {2, 1, 0, 65535}}, {"1.2", false, {}},
        {"1.2.65536", false, {}},          {"1.2.3.4.5", false, {}},
        {"1..3", false, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        mkbin::VersionSpec spec;
        EXPECT_EQ(mkbin::parse_version_spec(c.text, &spec), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(spec.board_id, c.spec.board_id);
        EXPECT_EQ(spec.major, c.spec.major);
        EXPECT_EQ(spec.minor, c.spec.minor);
        EXPECT_EQ(spec.beta, c.spec.beta);
    }
}

TEST(Pieces, ConfigBlockSizes) {
    for (uint32_t size : {4u, 40u, 0x1000u, 0x3FFFCu}) {
        mkbin::MemoryImage image;
        ASSERT_TRUE(mkbin::add_config_block(image, 0x40000, size));
        const Bytes& block = image.segments().at(0x40000);
        ASSERT_EQ(block.size(), size + 4);
        EXPECT_EQ(le32(block, 0), mkbin::kConfigBlockMagic);
        size_t first_erased = 0;
        while (le32(block, first_erased) != 0xFFFFFFFF) first_erased += 4;
        EXPECT_EQ(first_erased, size);
    }
    mkbin::MemoryImage image;
    EXPECT_FALSE(mkbin::add_config_block(image, 0, 0));
    EXPECT_FALSE(mkbin::add_config_block(image, 0, 6));
}

}  // namespace
