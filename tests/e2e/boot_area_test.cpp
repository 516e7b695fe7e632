// Bootloaders installed with the real program on every module profile, over
// blank, smaller and larger previous bootloaders, checked in the raw chip
// files against the flash layout as the format documents give it; damaged
// files and an abort during the erase.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "tests/e2e/flash_layout.h"
#include "tools/mkbin/bin_writer.h"

namespace {

using namespace e2e;

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

std::string write_file(const e2e::ModuleDir& module, const mkbin::BinFile& bin, const char* name = "image.bin") {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(mkbin::write_bin(bin, &bytes, &error)) << error;
    std::filesystem::path path = module.scratch(name);
    testing_support::write_binary(path, bytes);
    return path.string();
}

// Where a profile's boot area stores nothing, as the NAND format document
// lays it out: on 128 KiB blocks the area's last page, on a doubled bus
// everything from its table page to the end of block 0; the staged area's
// last 2 KiB are never written back. NOR stores every byte.
std::vector<std::pair<uint32_t, uint32_t>> unstored(const Profile& profile) {
    switch (profile.kind) {
        case Kind::Nor: return {};
        case Kind::NandLarge: return {{0x3F800, 0x40000}};
        case Kind::NandDoubled: return {{0x3E00, 0x8000}, {0x3F800, 0x40000}};
    }
    return {};
}

// The first place the data cannot be stored, as the refusal names it; empty
// when the flash takes it all.
std::string refusal(const Profile& profile, uint32_t start, const std::vector<uint8_t>& data) {
    for (auto [from, to] : unstored(profile))
        for (uint32_t at = std::max(start, from); at < std::min<uint64_t>(to, uint64_t{start} + data.size()); ++at)
            if (data[at - start] != 0xFF) {
                char text[80];
                std::snprintf(text, sizeof text, "ERROR: The boot area cannot store data at %08x - %08x!", from,
                              to - 1);
                return text;
            }
    return "";
}

// Where images start: at 0, inside block 0, at the relocation table page's
// offset (NOR has none; the same offset serves), at the second erase block,
// at the last byte the boot area stores.
enum class Start { Zero, InsideBlockZero, TablePage, SecondBlock, LastStored };
enum class Size { Small, OneBlock, Fits, TooLarge, Short, Long };
enum class Previous { Blank, Smaller, Larger };

uint32_t start_of(const Profile& profile, Start start) {
    switch (start) {
        case Start::Zero: return 0;
        case Start::InsideBlockZero: return std::min(profile.block, profile.fits) / 2;
        case Start::TablePage: return profile.kind == Kind::NandDoubled ? 0x3E00 : 0x1F800;
        case Start::SecondBlock: return profile.block;
        case Start::LastStored: return profile.fits - 1;
    }
    return 0;
}

// Short images end at the last stored byte at the latest; long ones cross
// at least one block boundary.
uint32_t size_of(const Profile& profile, uint32_t start, Size size) {
    switch (size) {
        case Size::Small: return 0x1000;
        case Size::OneBlock: return profile.block;
        case Size::Fits: return profile.fits;
        case Size::TooLarge: return profile.fits + 0x800;
        case Size::Short: return start < profile.fits ? std::min(0x800u, profile.fits - start) : 0x800u;
        case Size::Long: return 0x800 + profile.block;
    }
    return 0;
}

using InstallCase = std::tuple<int, Start, Size, Previous>;

class InstallMatrix : public ::testing::TestWithParam<InstallCase> {};

// The erase takes whole blocks; what they hold outside the image comes back.
// Bytes of the image's range that no record covers read erased; here the
// records cover the whole range.
TEST_P(InstallMatrix, LandsAsLaidOutKeepsTheRestOrIsRefusedUntouched) {
    const Profile& profile = kProfiles[std::get<0>(GetParam())];
    const uint32_t start = start_of(profile, std::get<1>(GetParam()));
    const uint32_t size = size_of(profile, start, std::get<2>(GetParam()));
    const Previous previous = std::get<3>(GetParam());
    e2e::ModuleDir module = make_module(profile);

    // The previous bootloader as the program leaves it, with its ECC.
    Files before = module.flash_files();
    if (previous != Previous::Blank) {
        std::vector<uint8_t> old = bytes_of(previous == Previous::Smaller ? 0x800 : profile.fits, 0x5A);
        put(before, profile.kind, 0, old);
        put_codes(before, profile.kind, 0, static_cast<uint32_t>(old.size()));
        poke_all(module, before, true);
    }
    const std::vector<uint8_t> data = bytes_of(size, 0);
    const std::string image = write_file(module, bootloader(data, start));
    e2e::ToolRun run = module.update_tool({}, "/u " + image);
    std::string report = module.report();
    ASSERT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;

    Files expected = before;
    const Files after = module.flash_files();
    const std::string refused = refusal(profile, start, data);
    if (refused.empty()) {
        EXPECT_EQ(e2e::json_value(report, "outcome"), "success") << report << run.output;
        EXPECT_TRUE(e2e::message_boxes(report).empty()) << report;
        put(expected, profile.kind, start, data);
        auto [erased_start, erased_end] = erased_range(profile, start, start + size);
        EXPECT_EQ(ecc_mismatch(after, profile.kind, erased_start, erased_end), "");
        e2e::ToolRun check = e2e::run_tool("modulectl", {"check", module.path().string(), image});
        // On NOR an image past the first block leaves the bootloader's start
        // to content alone, which cannot prove it whole: the old bytes are
        // compared below instead.
        const bool unverifiable = profile.kind == Kind::Nor && start >= 0x40000;
        EXPECT_EQ(check.exit_code, unverifiable ? 3 : 0) << check.output;
        EXPECT_NE(check.output.find(unverifiable ? "\nnot verified: no damage recorded" : "\nbootable: "),
                  std::string::npos)
            << check.output;
    } else {
        EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
        EXPECT_EQ(e2e::message_boxes(report), std::vector<std::string>{refused});
    }
    EXPECT_EQ(first_difference(after, expected, !refused.empty()), "");
}

std::vector<InstallCase> install_cases() {
    std::vector<InstallCase> cases;
    for (int p = 0; p < kProfileCount; ++p) {
        // Over a smaller bootloader once a profile; the bytes an image
        // shorter than the old bootloader keeps are crossed over a larger one.
        for (Size size : {Size::Small, Size::OneBlock, Size::Fits, Size::TooLarge})
            for (Previous previous : {Previous::Blank, Previous::Smaller, Previous::Larger})
                if (previous != Previous::Smaller || size == Size::Fits)
                    cases.emplace_back(p, Start::Zero, size, previous);
        for (Start start : {Start::InsideBlockZero, Start::TablePage, Start::SecondBlock, Start::LastStored})
            for (Size size : {Size::Short, Size::Long}) cases.emplace_back(p, start, size, Previous::Larger);
    }
    return cases;
}

std::string install_name(const ::testing::TestParamInfo<InstallCase>& info) {
    static const char* const starts[] = {"at_0", "inside_block_0", "at_table_page", "at_second_block",
                                         "at_last_stored_byte"};
    static const char* const sizes[] = {"small", "one_block", "fits", "too_large", "short", "long"};
    static const char* const previous[] = {"over_blank", "over_smaller", "over_larger"};
    return profile_name(std::get<0>(info.param)) + "_" + starts[static_cast<int>(std::get<1>(info.param))] + "_" +
           sizes[static_cast<int>(std::get<2>(info.param))] + "_" + previous[static_cast<int>(std::get<3>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, InstallMatrix, ::testing::ValuesIn(install_cases()), install_name);

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
                         ::testing::Combine(::testing::Range(0, kProfileCount), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<DamagedFile::ParamType>& info) {
                             return profile_name(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_truncated" : "_bad_checksum");
                         });

// An operating-system image of three blocks' length over old data, from the
// main dialog, at 0x80000 or half a block after it; Abort at the erase
// report for 0x10000 bytes or one block in, whichever is later (reports come
// every 0x10000 bytes from the erased blocks' start). The blocks erased get
// back what they held before the image; the block the erase did not reach
// keeps all it holds.
class AbortDuringErase : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(AbortDuringErase, EndsAsAFailureWithoutTheResetQuestion) {
    const Profile& profile = kProfiles[std::get<0>(GetParam())];
    const bool mid_block = std::get<1>(GetParam());
    const uint32_t step = std::max(profile.osBlock, 0x10000u);
    const uint32_t block_start = 0x80000, start = block_start + (mid_block ? profile.osBlock / 2 : 0);
    const uint32_t length = 3 * step, stop = block_start + step;
    e2e::ModuleDir module = make_module(profile);
    Files before = module.flash_files();
    const std::vector<uint8_t> old = bytes_of(4 * step, 0x5A);
    put(before, profile.kind, block_start, old);
    poke_all(module, before);

    // Linked at 0x80000000 + 0x80000 it lands at configuration item 5's 0x80000; half a block on, an
    // untranslated start is the flash offset.
    std::string path = write_file(module, bootloader(bytes_of(length, 0), mid_block ? start : 0x80000000 + start));
    char at[16];
    std::snprintf(at, sizeof at, "%.8x", start + step);
    module.update_tool({"--answer", "ok", "--escape-at", std::string("Erasing Flash Sector at ") + at}, "",
                       "Update Bootloader/Image\n" + path + "\n");
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "aborted") << report;
    for (const std::string& box : e2e::message_boxes(report)) EXPECT_EQ(box.rfind("RESET", 0), std::string::npos);
    EXPECT_EQ(e2e::json_value(report, "reboot"), "null");
    // Only the kept bytes before the image are programmed: the block holding
    // the kept bytes after it was never erased.
    EXPECT_EQ(e2e::json_value(report, "bytes_written"), std::to_string(start - block_start));
    Files expected = before;
    erase_blocks(expected, profile.kind, block_start, stop);
    put(expected, profile.kind, block_start, std::vector<uint8_t>(old.begin(), old.begin() + (start - block_start)));
    EXPECT_EQ(first_difference(module.flash_files(), expected, false), "");
}

INSTANTIATE_TEST_SUITE_P(OperatingSystem, AbortDuringErase,
                         ::testing::Combine(::testing::Range(0, kProfileCount), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<AbortDuringErase::ParamType>& info) {
                             return profile_name(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_mid_block" : "_at_a_block");
                         });

// After an update of the boot region, the program's own view is not the last
// word: an image whose records leave the region's first bytes erased passes
// every check of the program, and the module would not boot. The run fails
// and says why; the flash is as the records left it.
class NoBootloaderLeft : public ::testing::TestWithParam<int> {};

TEST_P(NoBootloaderLeft, IsAFailureWithItsOwnMessage) {
    const Profile& profile = kProfiles[GetParam()];
    e2e::ModuleDir module = make_module(profile);
    const std::vector<uint8_t> old = bytes_of(profile.fits, 0x5A);
    ASSERT_EQ(module.update_tool({}, "/u " + write_file(module, bootloader(old), "old.bin")).exit_code, 0);
    Files expected = module.flash_files();

    mkbin::MemoryImage upper;
    upper.put(0x800, bytes_of(0x800, 0));
    mkbin::BinFile bin;
    bin.image_start = 0;
    bin.image_length = 0x1000;
    bin.records = mkbin::records_from_image(upper, 0x10000);
    e2e::ToolRun run = module.update_tool({}, "/u " + write_file(module, bin));
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(run.last_error_line(),
              "updatetool: update failed: the module would not boot: the boot region starts erased: no bootloader");
    nlohmann::json report = nlohmann::json::parse(module.report(), nullptr, false);
    EXPECT_EQ(report["boot_region"]["bootable"], false) << module.report();
    EXPECT_TRUE(report["message_boxes"].empty()) << module.report();
    put(expected, profile.kind, 0, std::vector<uint8_t>(0x800, 0xFF));
    put(expected, profile.kind, 0x800, bytes_of(0x800, 0));
    EXPECT_EQ(first_difference(module.flash_files(), expected, false), "");
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, NoBootloaderLeft, ::testing::Range(0, kProfileCount),
                         [](const ::testing::TestParamInfo<int>& info) { return profile_name(info.param); });

// modulectl check DIR IMAGE after a whole bootloader update, then with the
// boot region changed behind the program's back: one byte that differs from
// the image (on NAND one bit, which the page's ECC corrects: not damage), or
// its first page erased (on NAND with its spare area, as an erase leaves it).
class CheckAgainstTheImage : public ::testing::TestWithParam<int> {};

TEST_P(CheckAgainstTheImage, SaysWhyTheRegionWouldNotBoot) {
    const Profile& profile = kProfiles[GetParam()];
    struct Row {
        const char* name;
        int status;
        const char* says;
    };
    const Row rows[] = {
        {"as written", 0, "\nbootable: the bootloader is whole and matches the image\n"},
        {"one byte differs", 1, "\nnot bootable: the boot region differs from the image in 1 bytes\n"},
        {"starts erased", 1, "\nnot bootable: the boot region starts erased: no bootloader\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::ModuleDir module = make_module(profile);
        const std::string image = write_file(module, bootloader(bytes_of(profile.fits, 0)));
        ASSERT_EQ(module.update_tool({}, "/u " + image).exit_code, 0);
        Place first = place_of(profile.kind, 0x100);
        if (std::string(row.name) == "one byte differs") {
            uint8_t byte = module.flash_files().at(first.file).at(first.offset);
            module.poke(first.file, first.offset, {static_cast<uint8_t>(byte ^ 0x10)});
        }
        if (std::string(row.name) == "starts erased") {
            const uint32_t page = profile.kind == Kind::Nor ? 0x1000 : profile.kind == Kind::NandLarge ? 2048 : 512;
            module.poke(first.file, 0, std::vector<uint8_t>(page, 0xFF));
            if (profile.kind != Kind::Nor) module.poke("nand-0.oob", 0, std::vector<uint8_t>(page / 32, 0xFF));
        }
        e2e::ToolRun check = e2e::run_tool("modulectl", {"check", module.path().string(), image});
        EXPECT_EQ(check.exit_code, row.status) << check.output;
        EXPECT_NE(check.output.find(row.says), std::string::npos) << check.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, CheckAgainstTheImage, ::testing::Range(0, kProfileCount),
                         [](const ::testing::TestParamInfo<int>& info) { return profile_name(info.param); });

}  // namespace
