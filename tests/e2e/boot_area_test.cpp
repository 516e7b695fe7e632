// Bootloaders installed with the real program on every module profile, over
// blank, smaller and larger previous bootloaders, checked in the raw chip
// files against the flash layout as the format documents give it; damaged
// files and an abort during the erase.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tools/mkbin/bin_writer.h"

namespace {

enum class Kind { Nor, NandLarge, NandDoubled };

struct Profile {
    const char* name;
    const char* size;  // a module setting that keeps the flash small, or ""
    Kind kind;
    uint32_t block;    // the erase block at offset 0
    uint32_t fits;     // the largest bootloader the flash takes from offset 0
    uint32_t osBlock;  // the erase block at 0x80000
};

// NOR takes any size; 128 KiB NAND blocks hold 0x3F800 bytes beside the
// table page; a doubled bus holds what lies below its table page at 0x3E00.
// clang-format off
const Profile kProfiles[] = {
    {"pxa270",      "nor.query_size=21", Kind::Nor,         0x40000, 0x40000, 0x40000},
    {"pxa270-p30",  "nor.query_size=21", Kind::Nor,         0x10000, 0x40000, 0x40000},
    {"pxa320-75ec", "",                  Kind::NandDoubled, 0x8000,  0x3E00,  0x8000},
    {"pxa320-76ec", "",                  Kind::NandDoubled, 0x8000,  0x3E00,  0x8000},
    {"pxa320-d3ec", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
    {"pxa300-f1ec", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
    {"pxa320-dcad", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
};
// clang-format on

struct Place {
    std::string file;
    uint64_t offset;
};

// Where a flash offset's byte lies in the chip files. Large NAND: the table
// page takes physical 0x1F800..0x1FFFF, so the boot area's bytes from there
// on are shifted by one page. Doubled bus: block 0 is chip 0 alone, 8 bits
// wide; other blocks interleave both chips byte by byte.
Place place_of(Kind kind, uint32_t offset) {
    switch (kind) {
        case Kind::Nor: return {"nor.bin", offset};
        case Kind::NandLarge:
            return {"nand-0.main", offset >= 0x1F800 && offset < 0x3F800 ? offset + 0x800ull : offset};
        case Kind::NandDoubled:
            if (offset < 0x8000) return {"nand-0.main", offset};
            return {"nand-" + std::to_string(offset & 1) + ".main", offset >> 1};
    }
    return {};
}

using Files = std::map<std::string, std::vector<uint8_t>>;

void put(Files& files, Kind kind, uint32_t offset, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        Place p = place_of(kind, offset + static_cast<uint32_t>(i));
        files.at(p.file).at(p.offset) = bytes[i];
    }
}

// Erases whole blocks [from, to) as the chips hold them: a doubled bus's
// block is half its bytes on each chip at half the offset; the table page
// is written back after every erase of its block.
void erase_blocks(Files& files, Kind kind, uint32_t from, uint32_t to) {
    auto fill = [&](const std::string& name, uint64_t a, uint64_t b) {
        std::fill(files.at(name).begin() + a, files.at(name).begin() + b, 0xFF);
    };
    switch (kind) {
        case Kind::Nor: fill("nor.bin", from, to); break;
        case Kind::NandLarge:
            fill("nand-0.main", from, from == 0 ? 0x1F800 : from);
            fill("nand-0.main", from == 0 ? 0x20000 : from, to);
            break;
        case Kind::NandDoubled:
            fill("nand-0.main", from / 2, from == 0 ? 0x3E00 : from / 2);
            fill("nand-0.main", from == 0 ? 0x4000 : from / 2, to / 2);
            fill("nand-1.main", from / 2, to / 2);
            break;
    }
}

// The end of the blocks an erase from 0 to `end` covers.
uint32_t erased_end(const Profile& profile, uint32_t end) {
    switch (profile.kind) {
        case Kind::Nor:
            if (profile.block < 0x40000 && end <= 0x40000)  // four small blocks at the bottom
                return (end + profile.block - 1) / profile.block * profile.block;
            return (end + 0x3FFFF) / 0x40000 * 0x40000;
        case Kind::NandLarge: return 0x40000;  // both boot blocks, whatever the size
        case Kind::NandDoubled: return (end + 0x7FFF) / 0x8000 * 0x8000;
    }
    return 0;
}

// Old flash contents: the data areas as the files should hold them.
void poke_all(const e2e::ModuleDir& module, const Files& files) {
    for (const auto& [name, bytes] : files)
        if (name.find(".oob") == std::string::npos) module.poke(name, 0, bytes);
}

std::vector<uint8_t> bytes_of(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> out(size);
    for (uint32_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(mkbin::pattern_byte(i) ^ seed);
    return out;
}

// A bootloader image at flash offset 0 in records of 0x10000 bytes.
mkbin::BinFile bootloader(const std::vector<uint8_t>& data, uint32_t start = 0) {
    mkbin::MemoryImage image;
    image.put(start, data);
    mkbin::BinFile bin;
    bin.image_start = start;
    bin.image_length = static_cast<uint32_t>(data.size());
    bin.records = mkbin::records_from_image(image, 0x10000);
    return bin;
}

std::string write_file(const e2e::ModuleDir& module, const mkbin::BinFile& bin) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(mkbin::write_bin(bin, &bytes, &error)) << error;
    std::filesystem::path path = module.scratch("image.bin");
    testing_support::write_binary(path, bytes);
    return path.string();
}

// The first chip file that differs from what was expected, and where. The
// spare areas hold the controller's ECC of what was programmed: they are
// compared only where nothing was to be programmed.
std::string first_difference(const Files& actual, const Files& expected, bool spare_areas) {
    for (const auto& [name, bytes] : expected) {
        if (!spare_areas && name.find(".oob") != std::string::npos) continue;
        auto it = actual.find(name);
        if (it == actual.end()) return name + " is missing";
        const std::vector<uint8_t>& got = it->second;
        if (got.size() != bytes.size()) return name + " has " + std::to_string(got.size()) + " bytes";
        auto mismatch = std::mismatch(bytes.begin(), bytes.end(), got.begin());
        if (mismatch.first != bytes.end()) {
            char text[96];
            std::snprintf(text, sizeof text, "%s at 0x%zx: 0x%02x, expected 0x%02x", name.c_str(),
                          static_cast<size_t>(mismatch.first - bytes.begin()), *mismatch.second, *mismatch.first);
            return text;
        }
    }
    return "";
}

std::string refusal(const Profile& profile) {
    return profile.kind == Kind::NandLarge ? "ERROR: The boot area cannot store data at 0003f800 - 0003ffff!"
                                           : "ERROR: The boot area cannot store data at 00003e00 - 00007fff!";
}

e2e::ModuleDir make_module(const Profile& profile) {
    if (*profile.size) return e2e::ModuleDir(profile.name, {profile.size});
    return e2e::ModuleDir(profile.name);
}

enum class Size { Small, OneBlock, Fits, TooLarge };
enum class Previous { Blank, Smaller, Larger };

uint32_t size_of(const Profile& profile, Size size) {
    switch (size) {
        case Size::Small: return 0x1000;
        case Size::OneBlock: return profile.block;
        case Size::Fits: return profile.fits;
        case Size::TooLarge: return profile.fits + 0x800;
    }
    return 0;
}

class InstallMatrix : public ::testing::TestWithParam<std::tuple<int, Size, Previous>> {};

TEST_P(InstallMatrix, LandsAsLaidOutOrIsRefusedUntouched) {
    const Profile& profile = kProfiles[std::get<0>(GetParam())];
    const uint32_t size = size_of(profile, std::get<1>(GetParam()));
    const Previous previous = std::get<2>(GetParam());
    e2e::ModuleDir module = make_module(profile);

    Files before = module.flash_files();
    if (previous != Previous::Blank) {
        std::vector<uint8_t> old = bytes_of(previous == Previous::Smaller ? 0x800 : profile.fits, 0x5A);
        put(before, profile.kind, 0, old);
        poke_all(module, before);
    }
    const std::vector<uint8_t> data = bytes_of(size, 0);
    e2e::ToolRun run = module.update_tool({}, "/u " + write_file(module, bootloader(data)));
    std::string report = module.report();
    ASSERT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;

    Files expected = before;
    const bool fits = profile.kind == Kind::Nor || size <= profile.fits;
    if (fits) {
        EXPECT_EQ(e2e::json_value(report, "outcome"), "success") << report;
        EXPECT_TRUE(e2e::message_boxes(report).empty()) << report;
        erase_blocks(expected, profile.kind, 0, erased_end(profile, size));
        put(expected, profile.kind, 0, data);
    } else {
        EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
        EXPECT_EQ(e2e::message_boxes(report), std::vector<std::string>{refusal(profile)});
    }
    EXPECT_EQ(first_difference(module.flash_files(), expected, !fits), "");
}

std::string profile_name(int index) {
    std::string name = kProfiles[index].name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

std::string install_name(const ::testing::TestParamInfo<InstallMatrix::ParamType>& info) {
    static const char* const sizes[] = {"small", "one_block", "fits", "too_large"};
    static const char* const previous[] = {"over_blank", "over_smaller", "over_larger"};
    return profile_name(std::get<0>(info.param)) + "_" + sizes[static_cast<int>(std::get<1>(info.param))] + "_" +
           previous[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, InstallMatrix,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kProfiles))),
                                            ::testing::Values(Size::Small, Size::OneBlock, Size::Fits, Size::TooLarge),
                                            ::testing::Values(Previous::Blank, Previous::Smaller, Previous::Larger)),
                         install_name);

// Over an installed bootloader: a file cut in its data and a file whose last
// record's sum is wrong are refused before anything is erased.
class DamagedFile : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DamagedFile, LeavesEveryChipFileAsItWas) {
    const Profile& profile = kProfiles[std::get<0>(GetParam())];
    const bool truncated = std::get<1>(GetParam());
    e2e::ModuleDir module = make_module(profile);
    Files before = module.flash_files();
    put(before, profile.kind, 0, bytes_of(profile.fits, 0x5A));
    poke_all(module, before);

    mkbin::BinFile bin = bootloader(bytes_of(profile.fits, 0));
    if (truncated)
        bin.truncate = mkbin::kFileHeaderSize + mkbin::kRecordHeadSize + profile.fits / 2;
    else
        bin.records.back().checksum = mkbin::byte_sum(bin.records.back().data) + 1;
    module.update_tool({}, "/u " + write_file(module, bin));
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
    EXPECT_EQ(e2e::message_boxes(report),
              std::vector<std::string>{truncated ? "ERROR: Unexpected end of file!"
                                                 : "ERROR: BAD CRC, Image File seems to be corrupt. Don't reboot "
                                                   "Now! Try updating with another file"});
    EXPECT_EQ(first_difference(module.flash_files(), before, true), "");
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, DamagedFile,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kProfiles))),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<DamagedFile::ParamType>& info) {
                             return profile_name(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_truncated" : "_bad_checksum");
                         });

// An operating-system image of three blocks at 0x80000 over old data, from
// the main dialog; Abort at the erase report for 0x10000 bytes or one block
// in, whichever is later (reports come every 0x10000 bytes).
class AbortDuringErase : public ::testing::TestWithParam<int> {};

TEST_P(AbortDuringErase, EndsAsAFailureWithoutTheResetQuestion) {
    const Profile& profile = kProfiles[GetParam()];
    const uint32_t step = std::max(profile.osBlock, 0x10000u);
    const uint32_t start = 0x80000, length = 3 * step, stop = start + step;
    e2e::ModuleDir module = make_module(profile);
    Files before = module.flash_files();
    put(before, profile.kind, start, bytes_of(length, 0x5A));
    poke_all(module, before);

    std::string path = write_file(module, bootloader(bytes_of(length, 0), 0x80000000 + start));
    char at[16];
    std::snprintf(at, sizeof at, "%.8x", stop);
    module.update_tool({"--answer", "ok", "--escape-at", std::string("Erasing Flash Sector at ") + at}, "",
                       "Update Bootloader/Image\n" + path + "\n");
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "aborted") << report;
    for (const std::string& box : e2e::message_boxes(report)) EXPECT_EQ(box.rfind("RESET", 0), std::string::npos);
    EXPECT_EQ(e2e::json_value(report, "reboot"), "null");
    Files expected = before;
    erase_blocks(expected, profile.kind, start, stop);
    EXPECT_EQ(first_difference(module.flash_files(), expected, false), "");
}

INSTANTIATE_TEST_SUITE_P(OperatingSystem, AbortDuringErase, ::testing::Range(0, static_cast<int>(std::size(kProfiles))),
                         [](const ::testing::TestParamInfo<int>& info) { return profile_name(info.param); });

}  // namespace
