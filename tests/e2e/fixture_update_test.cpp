// Real Windows CE images, built for other boards, written onto every module
// profile whose flash holds old data: every record must land where its
// address says (translated), the rest of the widened erase range must read
// erased, everything outside it must be untouched, and on NAND every page
// holding data must carry the controller's code of that data, so that it
// reads with ECC on without an error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/flash_layout.h"
#include "tools/mkbin/bin_writer.h"

namespace {

using namespace e2e;
using testing_support::fixture;
using testing_support::read_binary;

struct FixtureCase {
    const char* file;
    uint32_t placed_at;  // flash offset where the image start lands
};

// Starts 0x80000000..0x9C9FFFFF land at configuration item 5's word 0 (the
// profiles' 0x80000); starts below 0x80000000 are flash offsets already.
// clang-format off
const FixtureCase kPlaced[] = {
    {"omap3530evm_EBOOTSD.bin", 0x80000},     // start 0x87E00000
    {"z2170p_EBOOTSD_sorted.bin", 0x80000},   // start 0x87E00000
    {"z2170p_EBOOTSD_unsorted.bin", 0x80000}, // records out of address order, back to shared pages
    {"ok6410_EBOOT.bin", 0x80000},            // start 0x80030000
    {"tenbyten6410mlc_EBOOT.bin", 0x80000},   // start 0x80030000
    {"tenbyten6410mlc_NBL2.bin", 0x80000},    // start 0x80000000
    {"tenbyten6410slc_STEPLDR.bin", 0},       // start 0, data record at address 0
    {"tenbyten6410mlc_NBL1.bin", 0},          // start 0, data record at address 0
};
// One profile of each flash layout.
const int kFixtureProfiles[] = {0, 2, 5};
// clang-format on

// Old data below 0x100000: on NOR everywhere, on NAND above the boot area.
constexpr uint32_t kOldEnd = 0x100000;

class FixtureUpdate : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FixtureUpdate, RecordsLandTranslatedAndOnlyTheErasedRangeChanges) {
    const FixtureCase& c = kPlaced[std::get<0>(GetParam())];
    const Profile& profile = kProfiles[kFixtureProfiles[std::get<1>(GetParam())]];
    std::vector<uint8_t> file = read_binary(fixture(c.file));
    ASSERT_FALSE(file.empty()) << c.file;
    mkbin::ParsedBin bin;
    std::string error;
    ASSERT_TRUE(mkbin::parse_bin(file, &bin, &error)) << error;

    ModuleDir module = make_module(profile);
    Files before = module.flash_files();
    const uint32_t old_start = profile.kind == Kind::Nor ? 0 : 0x40000;
    put(before, profile.kind, old_start, bytes_of(kOldEnd - old_start, 0xA5));
    poke_all(module, before);
    ToolRun run = module.update_tool({"--verify"}, "/u " + fixture(c.file).string());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    std::string report = module.report();
    ASSERT_EQ(json_value(report, "outcome"), "success") << report << run.output;
    // The tool's own verify agrees with the layout worked out here.
    EXPECT_EQ(nlohmann::json::parse(report)["verify"]["matches"], true) << report;

    Files expected = before;
    auto [erase_start, erase_end] = erased_range(profile, c.placed_at, c.placed_at + bin.image_length);
    erase_blocks(expected, profile.kind, erase_start, erase_end);
    for (const mkbin::ParsedRecord& r : bin.records) {
        uint32_t offset = r.address - bin.image_start + c.placed_at;
        put(expected, profile.kind, offset,
            std::vector<uint8_t>(file.begin() + r.data_offset, file.begin() + r.data_offset + r.length));
    }
    Files flash = module.flash_files();
    EXPECT_EQ(first_difference(flash, expected, false), "");
    EXPECT_EQ(ecc_mismatch(flash, profile.kind, erase_start, erase_end), "");
    EXPECT_EQ(json_value(report, "bytes_erased"), std::to_string(erase_end - erase_start));
}

INSTANTIATE_TEST_SUITE_P(RealImages, FixtureUpdate,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kPlaced))),
                                            ::testing::Range(0, static_cast<int>(std::size(kFixtureProfiles)))),
                         [](const ::testing::TestParamInfo<FixtureUpdate::ParamType>& info) {
                             std::string name = kPlaced[std::get<0>(info.param)].file;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name + "_on_" + profile_name(kFixtureProfiles[std::get<1>(info.param)]);
                         });

// Images whose start is not translated and lies past the 32 MiB device (or
// wraps past 2^32 into a record at address 0) cannot be placed: the erase
// refuses the range and the old flash contents stay as they were.
class FixtureOutsideDevice : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureOutsideDevice, FailsWithoutChangingTheFlash) {
    constexpr uint8_t kOldData = 0xA5;
    ModuleDir module("pxa270");
    module.fill_nor(kOldData);
    ToolRun run = module.update_tool({}, "/u " + fixture(GetParam()).string());
    std::string report = module.report();
    EXPECT_EQ(json_value(report, "outcome"), "failure") << report << run.output;
    EXPECT_EQ(message_boxes(report), std::vector<std::string>{"ERROR: Error erasing Flash!"}) << report;
    std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), kOldData), static_cast<long>(flash.size()));
}

INSTANTIATE_TEST_SUITE_P(RealImages, FixtureOutsideDevice,
                         ::testing::Values("omap3530evm_XLDRNAND.bin", "omap3530evm_XLDRSD.bin",
                                           "tenbyten6410slc_STEPLDR_IROM_SD.bin", "ok6410_STEPLDR.bin"));

}  // namespace
