// A power cut in an update, end to end: what the cut run says, what
// modulectl check finds, and a small sweep whose every retry must succeed.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

std::string made_image(const e2e::ModuleDir& module, const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-o", module.scratch(name).string()};
    all.insert(all.end(), args.begin(), args.end());
    e2e::ToolRun made = e2e::run_tool("mkbin", all);
    EXPECT_EQ(made.exit_code, 0) << made.output;
    return module.scratch(name).string();
}

nlohmann::json read_json(const std::filesystem::path& path) {
    std::ifstream in(path);
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    return j.is_discarded() ? nlohmann::json::object() : j;
}

struct Case {
    const char* profile;
    const char* cut;     // a named operation inside the bootloader's writing
    const char* damage;  // what check names in the boot region
    const char* phase;   // the cut's phase in check's JSON
};

const Case kCases[] = {
    {"pxa270", "program@0x10000", "partly programmed by the cut", "program"},
    {"pxa300-f1ec", "program@0x10000", "uncorrectable ECC error", "boot-area staging"},
};

// A bootloader update cut at a named program: the module opens, check names
// the damaged block and says not bootable; the retry restores it.
TEST(PowerCut, ANamedCutLeavesAnOpenableModuleThatIsNotBootable) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile);
        std::string image =
            made_image(module, "boot.bin", {"--start", "0", "--length", "0x30000", "--fill", "pattern"});
        ASSERT_EQ(e2e::run_tool("modulectl", {"cut", module.path().string(), "--at", c.cut, "--seed", "9"}).exit_code,
                  0);
        e2e::ToolRun cut = module.update_tool({"-q"}, "/u " + image);
        EXPECT_EQ(cut.exit_code, 5) << cut.output;
        EXPECT_EQ(e2e::json_value(module.report(), "outcome"), "power-cut");

        // Openable, disarmed, and the cut recorded.
        EXPECT_EQ(e2e::run_tool("modulectl", {"show", module.path().string()}).exit_code, 0);
        std::ifstream toml(module.file("module.toml"));
        std::string profile((std::istreambuf_iterator<char>(toml)), std::istreambuf_iterator<char>());
        EXPECT_EQ(profile.find("cut_at"), std::string::npos) << profile;

        e2e::ToolRun check = e2e::run_tool("modulectl", {"check", module.path().string(), image});
        EXPECT_EQ(check.exit_code, 1) << check.output;
        EXPECT_NE(check.output.find(c.damage), std::string::npos) << check.output;
        EXPECT_NE(check.output.find("not bootable: the boot region holds a damaged block"), std::string::npos)
            << check.output;
        e2e::ToolRun json = e2e::run_tool("modulectl", {"check", module.path().string(), "--json"});
        nlohmann::json j = nlohmann::json::parse(json.output.substr(0, json.output.rfind('}') + 1), nullptr, false);
        ASSERT_TRUE(j.is_object()) << json.output;
        EXPECT_EQ(j["power_cut"]["phase"], c.phase);
        EXPECT_EQ(j["power_cut"]["section"], "Bootloader");
        EXPECT_EQ(j["damaged_sections"], nlohmann::json::array({"Bootloader"}));

        e2e::ToolRun retry = module.update_tool({"-q", "--verify"}, "/u " + image);
        EXPECT_EQ(retry.exit_code, 0) << retry.output;
        EXPECT_EQ(e2e::run_tool("modulectl", {"check", module.path().string(), image}).exit_code, 0);
    }
}

// What check says of a boot region with no cut recorded. On NOR a cut block
// reads like data, so without the record or the image check says what the
// content shows, and never "bootable" for what it could not check.
struct BootRegionCase {
    const char* name;
    const char* profile;
    std::vector<std::string> bootloader;  // mkbin arguments of the bootloader written; empty: none
    const char* cut;                      // a cut of its second update, whose record is then deleted; "" none
    uint64_t erased_from, erased_to;      // bytes erased by hand afterwards
    bool with_image;
    int status;
    const char* verdict;  // check's last line
};

const std::vector<std::string> kRomBootloader = {"--start", "0", "--length", "0x30000", "--fill", "pattern", "--rom"};

// clang-format off
const BootRegionCase kBootRegions[] = {
    {"written_no_image",         "pxa270",      kRomBootloader, "",        0, 0, false, 3,
     "not verified: no damage recorded; give the image to verify the boot region"},
    {"written_with_image",       "pxa270",      kRomBootloader, "",        0, 0, true,  0,
     "bootable: the bootloader is whole and matches the image"},
    {"torn_erase_no_image",      "pxa270",      kRomBootloader, "erase@0", 0, 0, false, 3,
     "not verified: no damage recorded; give the image to verify the boot region"},
    {"torn_erase_with_image",    "pxa270",      kRomBootloader, "erase@0", 0, 0, true,  1,
     "not bootable: the boot region differs from the image in"},
    {"raw_bootloader_no_image",  "pxa270",      {"--start", "0", "--length", "0x30000", "--fill", "pattern"}, "", 0, 0, false, 3,
     "not verified: no damage recorded; give the image to verify the boot region"},
    {"header_not_holding",       "pxa270",      {"--start", "0", "--length", "0x30000", "--fill", "pattern", "--rom", "--toc-pointer", "0x1234"}, "", 0, 0, false, 1,
     "not bootable: the boot region is damaged: its ROM header and table of contents do not hold together"},
    {"image_into_erased_block",  "pxa270-p30",  kRomBootloader, "",        0x10000, 0x20000, false, 1,
     "not bootable: the boot region is damaged: its ROM image runs into an erased block at 0x00010000"},
    {"no_bootloader",            "pxa270",      {},             "",        0, 0, false, 1,
     "not bootable: the boot region starts erased: no bootloader"},
    {"nand_written_no_image",    "pxa300-f1ec", kRomBootloader, "",        0, 0, false, 0,
     "bootable: the bootloader is whole"},
};
// clang-format on

TEST(PowerCut, CheckSaysOfANorBootRegionOnlyWhatItCouldCheck) {
    for (const BootRegionCase& c : kBootRegions) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module(c.profile);
        std::string image;
        if (!c.bootloader.empty()) {
            image = made_image(module, "boot.bin", c.bootloader);
            EXPECT_EQ(module.update_tool({"-q"}, "/u " + image).exit_code, 0);
        }
        if (*c.cut) {
            ASSERT_EQ(
                e2e::run_tool("modulectl", {"cut", module.path().string(), "--at", c.cut, "--seed", "9"}).exit_code, 0);
            EXPECT_EQ(module.update_tool({"-q"}, "/u " + image).exit_code, 5);
            ASSERT_TRUE(std::filesystem::remove(module.file("power-cut.json")));
        }
        if (c.erased_to > c.erased_from)
            module.poke("nor.bin", c.erased_from, std::vector<uint8_t>(c.erased_to - c.erased_from, 0xFF));
        std::vector<std::string> args = {"check", module.path().string()};
        if (c.with_image) args.push_back(image);
        e2e::ToolRun check = e2e::run_tool("modulectl", args);
        EXPECT_EQ(check.exit_code, c.status) << check.output;
        std::string last = check.output.substr(check.output.rfind('\n', check.output.size() - 2) + 1);
        EXPECT_EQ(last.rfind(c.verdict, 0), 0u) << check.output;
        args.push_back("--json");
        e2e::ToolRun json = e2e::run_tool("modulectl", args);
        nlohmann::json j = nlohmann::json::parse(json.output.substr(0, json.output.rfind('}') + 1), nullptr, false);
        ASSERT_TRUE(j.is_object()) << json.output;
        EXPECT_EQ(j["bootable"], c.status == 0);
        EXPECT_EQ(j["verified"], c.status != 3);
        EXPECT_EQ(j["power_cut"], nullptr);
    }
}

// A few seeded cut points per profile, a bootloader update and an OS update
// over a bootloader: every cut is taken, every retry succeeds and verifies,
// and only cuts in the boot region leave the board unbootable.
TEST(PowerCut, ASmallSweepRetriesEveryCutToAVerifiedUpdate) {
    for (const Case& c : kCases) {
        for (bool os : {false, true}) {
            SCOPED_TRACE(std::string(c.profile) + (os ? " OS update" : " bootloader update"));
            e2e::ModuleDir module(c.profile);
            std::string image =
                os ? made_image(module, "os.bin", {"--start", "0x80080000", "--length", "0x20000", "--fill", "pattern"})
                   : made_image(module, "boot.bin", {"--start", "0", "--length", "0x20000", "--fill", "pattern"});
            if (os) e2e::bootloader_on_flash(module);
            std::string table = module.scratch("sweep.json").string();
            std::vector<std::string> args = {
                "sweep", module.path().string(), image, "--points", "5", "--seed", "4", "--jobs", "2"};
            // A cross-built modulectl starts the cross-built tools through the emulator too.
            if (*UPDATETOOL_TOOL_RUNNER) args.insert(args.end(), {"--runner", UPDATETOOL_TOOL_RUNNER});
            args.insert(args.end(), {"--json", table});
            e2e::ToolRun sweep = e2e::run_tool("modulectl", args);
            EXPECT_EQ(sweep.exit_code, 0) << sweep.output;
            nlohmann::json j = read_json(table);
            // The module in memory gives the rows of scratch copies and processes, bit for bit
            // (a cross build's sweep runs processes through the emulator either way).
            if (!*UPDATETOOL_TOOL_RUNNER) {
                args[args.size() - 1] = module.scratch("processes.json").string();
                args.push_back("--processes");
                e2e::ToolRun processes = e2e::run_tool("modulectl", args);
                EXPECT_EQ(processes.exit_code, 0) << processes.output;
                EXPECT_EQ(read_json(module.scratch("processes.json"))["points"], j["points"]);
            }
            ASSERT_EQ(j["points"].size(), 5u) << sweep.output;
            EXPECT_GT(j["flash_operations"].get<uint64_t>(), 5u);
            for (const nlohmann::json& p : j["points"]) {
                SCOPED_TRACE(p.dump());
                EXPECT_TRUE(p["cut"].get<bool>());
                EXPECT_EQ(p["retry_outcome"], "success");
                EXPECT_TRUE(p["retry_verified"].get<bool>());
                EXPECT_EQ(p["bootable"].get<bool>(), os);
            }
        }
    }
}

}  // namespace
