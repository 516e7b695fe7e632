// A power cut in an update, end to end: what the cut run says, what
// modulectl check finds, and a small sweep whose every retry must succeed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
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

// The rect elements of an SVG whose class holds the word, by XPath; -1 when
// xmllint fails.
int rects(const std::string& svg, const std::string& word) {
    std::string output;
    std::string xpath = "count(//*[local-name()='rect'][contains(concat(' ', @class, ' '), ' " + word + " ')])";
    int status = testing_support::run_command(
        "xmllint --xpath " + e2e::shell_quote(xpath) + " " + e2e::shell_quote(svg) + " 2>&1", &output);
    return status == 0 ? std::stoi(output) : -1;
}

// The sweep's picture: well-formed, one mark per point in the state its row
// gives, the window drawn when there is one, and rendered by librsvg.
void check_picture(const std::string& svg, const nlohmann::json& table) {
    std::string output;
    ASSERT_EQ(testing_support::run_command("xmllint --noout " + e2e::shell_quote(svg) + " 2>&1", &output), 0) << output;
    std::map<std::string, int> states;
    for (const nlohmann::json& p : table["points"])
        ++states[p["retry_verified"].get<bool>() && p["retry_exit_status"] == 0
                     ? (p["bootable"].get<bool>() ? "bootable" : "not-bootable")
                     : "retry-failed"];
    EXPECT_EQ(rects(svg, "mark"), static_cast<int>(table["points"].size()));
    for (const char* state : {"bootable", "not-bootable", "retry-failed"})
        EXPECT_EQ(rects(svg, state), states[state]) << state;
    EXPECT_EQ(rects(svg, "window"), table["summary"]["window"].is_null() ? 0 : 1);
    std::ifstream in(svg);
    std::string drawn((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const nlohmann::json& p : table["points"]) {
        for (const char* band : {"section", "phase"})
            EXPECT_NE(drawn.find("<title>" + std::string(band) + " " + p[band].get<std::string>() + "</title>"),
                      std::string::npos)
                << band << " " << p[band];
    }
    const std::string png = svg + ".png";
    ASSERT_EQ(testing_support::run_command(
                  "rsvg-convert -o " + e2e::shell_quote(png) + " " + e2e::shell_quote(svg) + " 2>&1", &output),
              0)
        << output;
    std::ifstream picture(png, std::ios::binary);
    std::string head(8, '\0');
    picture.read(head.data(), 8);
    EXPECT_EQ(head.substr(1, 3), "PNG");
}

struct SweepCase {
    const char* profile;
    bool os;         // an OS update over a bootloader; else a bootloader update
    unsigned depth;  // 2: each retry cut at as many points again
    unsigned points;
};

const SweepCase kSweeps[] = {
    {"pxa270", false, 1, 5},     {"pxa270", true, 1, 5},  {"pxa300-f1ec", false, 1, 5},
    {"pxa300-f1ec", true, 1, 5}, {"pxa270", false, 2, 2}, {"pxa300-f1ec", true, 2, 2},
};

// A few seeded cut points per profile, a bootloader update and an OS update
// over a bootloader, and cuts of the retries: every cut is taken, every
// retry succeeds and verifies, only cuts in the boot region leave the board
// unbootable, and the window in device time spans the first to the last of
// them.
TEST(PowerCut, ASmallSweepRetriesEveryCutToAVerifiedUpdate) {
    const bool pictures = testing_support::run_command("command -v xmllint rsvg-convert >/dev/null", nullptr) == 0;
    for (const SweepCase& c : kSweeps) {
        // Under the emulator a double cut's four runs cost minutes; the host build runs them.
        if (*UPDATETOOL_TOOL_RUNNER && c.depth > 1) continue;
        SCOPED_TRACE(std::string(c.profile) + (c.os ? " OS update" : " bootloader update") + " depth " +
                     std::to_string(c.depth));
        e2e::ModuleDir module(c.profile);
        std::string image =
            c.os ? made_image(module, "os.bin", {"--start", "0x80080000", "--length", "0x20000", "--fill", "pattern"})
                 : made_image(module, "boot.bin", {"--start", "0", "--length", "0x20000", "--fill", "pattern"});
        if (c.os) e2e::bootloader_on_flash(module);
        std::string table = module.scratch("sweep.json").string(), svg = module.scratch("sweep.svg").string();
        std::vector<std::string> args = {"sweep",
                                         module.path().string(),
                                         image,
                                         "--points",
                                         std::to_string(c.points),
                                         "--seed",
                                         "4",
                                         "--jobs",
                                         "2",
                                         "--depth",
                                         std::to_string(c.depth)};
        // A cross-built modulectl starts the cross-built tools through the emulator too.
        if (*UPDATETOOL_TOOL_RUNNER) args.insert(args.end(), {"--runner", UPDATETOOL_TOOL_RUNNER});
        args.insert(args.end(), {"--svg", svg, "--json", table});
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
        ASSERT_EQ(j["points"].size(), c.points) << sweep.output;
        EXPECT_GT(j["flash_operations"].get<uint64_t>(), 5u);
        const double update_us = j["update_us"].get<double>();
        double before = 0;
        size_t doubles = 0;
        for (const nlohmann::json& p : j["points"]) {
            SCOPED_TRACE(p.dump());
            EXPECT_TRUE(p["cut"].get<bool>());
            EXPECT_EQ(p["retry_outcome"], "success");
            EXPECT_TRUE(p["retry_verified"].get<bool>());
            EXPECT_EQ(p["bootable"].get<bool>(), c.os);
            // Device time runs on with the operations, inside the update's.
            EXPECT_GT(p["time_us"].get<double>(), before);
            EXPECT_LT(p["time_us"].get<double>(), update_us);
            before = p["time_us"].get<double>();
            EXPECT_EQ(p.contains("second_cuts"), c.depth == 2);
            if (c.depth < 2) continue;
            EXPECT_EQ(p["second_cuts"].size(), c.points);
            for (const nlohmann::json& q : p["second_cuts"]) {
                ++doubles;
                EXPECT_TRUE(q["cut"].get<bool>());
                EXPECT_EQ(q["bootable"].get<bool>(), c.os) << "the retry rewrites what the first cut hit";
                EXPECT_EQ(q["retry_outcome"], "success");
                EXPECT_TRUE(q["retry_verified"].get<bool>());
            }
        }
        const nlohmann::json& summary = j["summary"];
        EXPECT_EQ(summary["not_bootable"], c.os ? 0u : c.points);
        EXPECT_EQ(summary["retries_verified"], c.points);
        if (c.os) {
            EXPECT_TRUE(summary["window"].is_null());
            EXPECT_NE(sweep.output.find("window: no cut point leaves the board unbootable in this "), std::string::npos)
                << sweep.output;
        } else {
            const nlohmann::json &w = summary["window"], &first = j["points"].front(), &last = j["points"].back();
            ASSERT_TRUE(w.is_object()) << summary.dump();
            EXPECT_EQ(w["first_op"], first["operation"]);
            EXPECT_EQ(w["last_op"], last["operation"]);
            EXPECT_EQ(w["first_us"], first["time_us"]);
            EXPECT_EQ(w["last_us"], last["time_us"]);
            EXPECT_DOUBLE_EQ(w["seconds"].get<double>(),
                             (last["time_us"].get<double>() - first["time_us"].get<double>()) / 1e6);
            EXPECT_DOUBLE_EQ(w["share"].get<double>(), w["seconds"].get<double>() * 1e6 / update_us);
            EXPECT_NE(sweep.output.find("window: a power loss bricks the board during "), std::string::npos)
                << sweep.output;
        }
        if (c.depth == 2) {
            EXPECT_EQ(summary["double_cuts"], doubles);
            EXPECT_EQ(summary["unbootable_only_after_double_cut"], 0u);
            EXPECT_EQ(summary["final_retries_verified"], doubles);
            EXPECT_NE(sweep.output.find("none leaves the board unbootable where the single cut did not; every final "
                                        "retry succeeded and verified"),
                      std::string::npos)
                << sweep.output;
        }
        if (pictures) check_picture(svg, j);
    }
}

// Four shards of a sweep run by GNU parallel and merged give the table and
// summary of one run; tables of another sweep, or missing or repeated
// shards, are refused, naming the difference.
TEST(PowerCut, ShardsRunInParallelMergeIntoTheTableOfOneRun) {
    if (*UPDATETOOL_TOOL_RUNNER || testing_support::run_command("command -v parallel >/dev/null", nullptr) != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/setup.sh installs it), or a cross build";
    e2e::ModuleDir module("pxa270");
    std::string image = made_image(module, "boot.bin", {"--start", "0", "--length", "0x8000", "--fill", "pattern"});
    const std::string whole = module.scratch("whole.json").string();
    const std::vector<std::string> sweep = {"sweep", module.path().string(), image, "--points", "4", "--seed", "3"};
    std::vector<std::string> args = sweep;
    args.insert(args.end(), {"--json", whole});
    ASSERT_EQ(e2e::run_tool("modulectl", args).exit_code, 0);

    std::string command = "cd " + e2e::shell_quote(module.scratch("").string()) +
                          " && parallel --will-cite --halt now,fail=1 -j 2 " +
                          e2e::shell_quote(testing_support::binary("modulectl"));
    for (const std::string& a : sweep) command += " " + e2e::shell_quote(a);
    command += " --jobs 1 --shard {}/4 --json part-{}.json ::: 1 2 3 4 2>&1";
    std::string output;
    ASSERT_EQ(testing_support::run_command(command, &output), 0) << output;
    auto part = [&](int i) { return module.scratch("part-" + std::to_string(i) + ".json").string(); };
    const std::string merged = module.scratch("merged.json").string(), csv = module.scratch("merged.csv").string();
    e2e::ToolRun merge = e2e::run_tool(
        "modulectl", {"sweep", "--merge", part(3), part(1), part(4), part(2), "-o", csv, "--json", merged});
    ASSERT_EQ(merge.exit_code, 0) << merge.output;
    nlohmann::json one = read_json(whole), all = read_json(merged);
    ASSERT_EQ(one["points"].size(), 4u);
    EXPECT_EQ(all["points"], one["points"]);
    EXPECT_EQ(all["summary"], one["summary"]);
    EXPECT_EQ(all["shard"], "merged");
    EXPECT_NE(merge.output.find("window: a power loss bricks the board during "), std::string::npos) << merge.output;
    std::ifstream table(csv);
    std::string text((std::istreambuf_iterator<char>(table)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 4 + 2 + 2) << text;

    // A shard of another seed, a shard missing, a shard given twice.
    nlohmann::json other = read_json(part(2));
    other["inputs"]["seed"] = 5;
    std::ofstream(module.scratch("other.json")) << other.dump();
    struct Refusal {
        std::vector<std::string> parts;
        std::string says;
    };
    const Refusal refusals[] = {
        {{part(1), module.scratch("other.json").string(), part(3), part(4)},
         "other.json is of other inputs than " + part(1) + ": seed 5, not 3"},
        {{part(1), part(2), part(4)}, "missing"},
        {{part(1), part(2), part(3), part(4), part(2)}, "given twice"},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> merge_args = {"sweep", "--merge"};
        merge_args.insert(merge_args.end(), r.parts.begin(), r.parts.end());
        e2e::ToolRun refused = e2e::run_tool("modulectl", merge_args);
        EXPECT_EQ(refused.exit_code, 2) << refused.output;
        EXPECT_NE(refused.errors.find(r.says), std::string::npos) << refused.errors;
    }
}

}  // namespace
