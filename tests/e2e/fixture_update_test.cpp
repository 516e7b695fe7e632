// Real Windows CE images, built for other boards, written onto every module
// profile whose flash holds old data: every record must land where its
// address says (translated), the rest of the image's range must read erased,
// everything outside it must be untouched (the erase's widening to whole
// blocks keeps what they hold beside the image), and on NAND every page
// holding data must carry the controller's code of that data, so that it
// reads with ECC on without an error. Where the build left a flat image
// (.nb0), the flash must hold it too: an expectation from outside the
// project's own image reader.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/flash_layout.h"
#include "tests/support/case_name.h"
#include "tools/mkbin/bin_writer.h"

namespace {

using namespace e2e;
using testing_support::fixture;
using testing_support::read_binary;

struct FixtureCase {
    const char* file;
    uint32_t placed_at;  // flash offset where the image start lands
    const char* flat;    // the same build as a flat image, or nullptr
    uint32_t flat_at;    // the image offset where the flat image begins
    uint32_t length;     // the image's length, as the fixtures' README gives it
};

// Starts 0x80000000..0x9C9FFFFF land at configuration item 5's word 0 (the
// profiles' 0x80000); starts below 0x80000000 are flash offsets already.
// The stepping-stone loaders' flat images begin at their code, one page
// into the image; the unsorted build has none of its own.
// clang-format off
const FixtureCase kPlaced[] = {
    {"omap3530evm_EBOOTSD.bin", 0x80000, "omap3530evm_EBOOTSD.nb0", 0, 0x2f0f4},       // start 0x87E00000
    {"z2170p_EBOOTSD_sorted.bin", 0x80000, "z2170p_EBOOTSD_sorted.nb0", 0, 0x2910c},   // start 0x87E00000
    {"z2170p_EBOOTSD_unsorted.bin", 0x80000, nullptr, 0, 0x2910c},                     // records out of address order
    {"ok6410_EBOOT.bin", 0x80000, "ok6410_EBOOT.nb0", 0, 0x5efe0},                     // start 0x80030000
    {"tenbyten6410mlc_EBOOT.bin", 0x80000, "tenbyten6410mlc_EBOOT.nb0", 0, 0x4dd7c},   // start 0x80030000
    {"tenbyten6410mlc_NBL2.bin", 0x80000, "tenbyten6410mlc_NBL2.nb0", 0, 0xe240},     // start 0x80000000
    {"tenbyten6410slc_STEPLDR.bin", 0, "tenbyten6410slc_STEPLDR.nb0", 0x1000, 0x2040}, // start 0, data record at 0
    {"tenbyten6410mlc_NBL1.bin", 0, "tenbyten6410mlc_NBL1.nb0", 0x1000, 0x2058},       // start 0, data record at 0
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
    put(expected, profile.kind, c.placed_at, std::vector<uint8_t>(bin.image_length, 0xFF));
    for (const mkbin::ParsedRecord& r : bin.records) {
        uint32_t offset = r.address - bin.image_start + c.placed_at;
        put(expected, profile.kind, offset,
            std::vector<uint8_t>(file.begin() + r.data_offset, file.begin() + r.data_offset + r.length));
    }
    Files flash = module.flash_files();
    EXPECT_EQ(first_difference(flash, expected, false), "");
    EXPECT_EQ(ecc_mismatch(flash, profile.kind, erase_start, erase_end), "");
    EXPECT_EQ(json_value(report, "bytes_erased"), std::to_string(erase_end - erase_start));

    // Every byte of the flat image, except the zeros its tools pad the gaps
    // between records with, which the update leaves erased.
    if (c.flat) {
        std::vector<uint8_t> flat = read_binary(fixture(c.flat));
        ASSERT_FALSE(flat.empty()) << c.flat;
        const uint32_t from = c.placed_at + c.flat_at;
        EXPECT_EQ(bin.image_length, c.length);
        Files held = module.flash_files();
        size_t padding = 0, compared = 0;
        for (size_t i = 0; i < flat.size() && c.flat_at + i < c.length; ++i, ++compared) {
            Place p = place_of(profile.kind, from + static_cast<uint32_t>(i));
            uint8_t byte = held.at(p.file).at(p.offset);
            if (byte == 0xFF && flat[i] == 0x00) {
                ++padding;
                continue;
            }
            ASSERT_EQ(byte, flat[i]) << c.flat << " at 0x" << std::hex << i;
        }
        EXPECT_LT(padding, compared / 2) << "most of the flat image is code and data";
    }
}

INSTANTIATE_TEST_SUITE_P(RealImages, FixtureUpdate,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kPlaced))),
                                            ::testing::Range(0, static_cast<int>(std::size(kFixtureProfiles)))),
                         [](const ::testing::TestParamInfo<FixtureUpdate::ParamType>& info) {
                             std::string name = kPlaced[std::get<0>(info.param)].file;
                             name = testing_support::test_name(name.substr(0, name.find('.')));
                             return name + "_on_" + profile_name(kFixtureProfiles[std::get<1>(info.param)]);
                         });

// Images whose start is not translated and lies past the 32 MiB device (or
// wraps past 2^32 into a record at address 0) cannot be placed: the erase
// refuses the range and the old flash contents stay as they were. The
// program's message stays; the host adds the image's range (start and
// length from the fixtures' README) and the flash's end.
struct OutsideCase {
    const char* file;
    const char* range;
};

class FixtureOutsideDevice : public ::testing::TestWithParam<OutsideCase> {};

TEST_P(FixtureOutsideDevice, FailsWithoutChangingTheFlash) {
    constexpr uint8_t kOldData = 0xA5;
    ModuleDir module("pxa270");
    module.fill_nor(kOldData);
    ToolRun run = module.update_tool({}, "/u " + fixture(GetParam().file).string());
    std::string report = module.report();
    EXPECT_EQ(json_value(report, "outcome"), "failure") << report << run.output;
    EXPECT_EQ(message_boxes(report), std::vector<std::string>{"ERROR: Error erasing Flash!"}) << report;
    EXPECT_NE(run.errors.find(std::string("updatetool: the image's range ") + GetParam().range +
                              " ends past the flash's end 0x02000000\n"),
              std::string::npos)
        << run.errors;
    std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), kOldData), static_cast<long>(flash.size()));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(RealImages, FixtureOutsideDevice,
                         ::testing::Values(OutsideCase{"omap3530evm_XLDRNAND.bin", "0x40200000-0x40209397"},
                                           OutsideCase{"omap3530evm_XLDRSD.bin", "0x401ff000-0x4020bdc7"},
                                           OutsideCase{"tenbyten6410slc_STEPLDR_IROM_SD.bin", "0x0bfff000-0x0c00101f"},
                                           OutsideCase{"ok6410_STEPLDR.bin", "0xfffff000-0x100002057"}),
                         [](const ::testing::TestParamInfo<OutsideCase>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });
// clang-format on

}  // namespace
