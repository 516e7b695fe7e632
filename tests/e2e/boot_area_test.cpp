// Bootloaders installed with the real program on every module profile, over
// blank, smaller and larger previous bootloaders, checked in the raw chip
// files against the flash layout as the format documents give it; damaged
// files and an abort during the erase.
#include <gtest/gtest.h>

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

std::string write_file(const e2e::ModuleDir& module, const mkbin::BinFile& bin) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(mkbin::write_bin(bin, &bytes, &error)) << error;
    std::filesystem::path path = module.scratch("image.bin");
    testing_support::write_binary(path, bytes);
    return path.string();
}

std::string refusal(const Profile& profile) {
    return profile.kind == Kind::NandLarge ? "ERROR: The boot area cannot store data at 0003f800 - 0003ffff!"
                                           : "ERROR: The boot area cannot store data at 00003e00 - 00007fff!";
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
        erase_blocks(expected, profile.kind, 0, erased_range(profile, 0, size).second);
        put(expected, profile.kind, 0, data);
        EXPECT_EQ(ecc_mismatch(module.flash_files(), profile.kind, 0, size), "");
    } else {
        EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report;
        EXPECT_EQ(e2e::message_boxes(report), std::vector<std::string>{refusal(profile)});
    }
    EXPECT_EQ(first_difference(module.flash_files(), expected, !fits), "");
}

std::string install_name(const ::testing::TestParamInfo<InstallMatrix::ParamType>& info) {
    static const char* const sizes[] = {"small", "one_block", "fits", "too_large"};
    static const char* const previous[] = {"over_blank", "over_smaller", "over_larger"};
    return profile_name(std::get<0>(info.param)) + "_" + sizes[static_cast<int>(std::get<1>(info.param))] + "_" +
           previous[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, InstallMatrix,
                         ::testing::Combine(::testing::Range(0, kProfileCount),
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
                         ::testing::Combine(::testing::Range(0, kProfileCount), ::testing::Bool()),
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

INSTANTIATE_TEST_SUITE_P(OperatingSystem, AbortDuringErase, ::testing::Range(0, kProfileCount),
                         [](const ::testing::TestParamInfo<int>& info) { return profile_name(info.param); });

}  // namespace
