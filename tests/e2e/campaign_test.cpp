// modulectl campaign: a plan's matrix of modules and images run cell by
// cell, each cell's outcome against its expectation, the report in three
// forms; plans with a mistake refused before anything runs; a cell that
// hangs reported and the campaign gone on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/test_module.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

std::string text_of(const fs::path& path) {
    std::vector<uint8_t> bytes = testing_support::read_binary(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_text(const fs::path& path, const std::string& text) {
    testing_support::write_binary(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void expect_progress_line(const std::string& errors, size_t index, size_t total, const std::string& cell,
                          const std::string& outcome) {
    const std::string begins = "modulectl campaign: cell " + std::to_string(index) + " of " + std::to_string(total) +
                               ", " + cell + ": " + outcome;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(begins, 0) == 0) {
            // With the time the cell took and the time left.
            EXPECT_TRUE(std::regex_search(line, std::regex("; [0-9.:]+( s)?, [0-9.:]+( s)? left$"))) << line;
            return;
        }
    ADD_FAILURE() << "no line " << begins << " in\n" << errors;
}

// A cell that hangs is ended at its limit and the next cell runs; a cell
// that misses its expectation makes the exit status 1; the report replaces
// an earlier one whole, and a folder of other files is refused.
TEST(Campaign, ACellThatHangsOrMissesItsExpectationIsReportedAndTheCampaignGoesOn) {
    testing_support::TempDir dir;
    write_text(dir.path() / "stray.dat", "sixteen bytes...");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-o", "os.bin", "--start", "0x80080000", "--length", "0x100"},
          {"-o", "stray.bin", "--start", "0x80080000", "--length", "0x100", "--data", "0x80280000=stray.dat"}}) {
        args[1] = (dir.path() / args[1]).string();
        if (args.size() > 6) args.back() = "0x80280000=" + (dir.path() / "stray.dat").string();
        e2e::ToolRun made = e2e::run_tool("mkbin", args);
        ASSERT_EQ(made.exit_code, 0) << made.output;
    }
    write_text(dir.path() / "plan.toml",
               "[[module]]\nname = \"nand\"\nprofile = \"pxa300-f1ec\"\n\n"
               "[[image]]\nname = \"hang\"\nfile = \"os.bin\"\ntimeout = 0.001\n\n"
               "[[image]]\nname = \"hoped\"\nfile = \"stray.bin\"\nexpect = \"success\"\n\n"
               "[[image]]\nname = \"deep\"\nfile = \"os.bin\"\nsweep = { points = 1 }\ndepth = 2\n");
    const fs::path out = dir.path() / "report";
    fs::create_directories(out);
    write_text(out / "report.json", "{}\n");  // an earlier report: replaced
    const std::vector<std::string> args = {"campaign", (dir.path() / "plan.toml").string(), "-o", out.string()};
    e2e::ToolRun run = e2e::run_tool("modulectl", args);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    expect_progress_line(run.errors, 1, 3, "nand / hang", "timed out (expected success)");
    expect_progress_line(run.errors, 2, 3, "nand / hoped", "refused (expected success)");
    expect_progress_line(run.errors, 3, 3, "nand / deep", "success (expected success)");
    EXPECT_NE(run.output.find("1 of 3 cells met their expectation"), std::string::npos) << run.output;
    json report = json::parse(text_of(out / "report.json"), nullptr, false);
    ASSERT_TRUE(report.is_object() && report["cells"].size() == 3) << run.output;
    // The retry of the cut is cut too, and retried again.
    const json& deep = report["cells"][2];
    EXPECT_EQ(deep["depth"], 2);
    EXPECT_GT(deep["double_cuts"].get<uint64_t>(), 0u) << deep["sweep"];
    EXPECT_EQ(deep["final_retries_verified"], deep["double_cuts"]);
    EXPECT_EQ(report["cells"][0]["outcome"], "timed out");
    EXPECT_TRUE(std::regex_search(report["cells"][0]["problem"].get<std::string>(),
                                  std::regex("^timed out after [0-9.]+ s while ")))
        << report["cells"][0]["problem"];
    EXPECT_EQ(report["cells"][1]["outcome"], "refused");
    EXPECT_EQ(report["cells"][1]["met"], false);
    EXPECT_EQ(report["cells"][1]["summary"],
              "updatetool: update failed: Record at 00280000  Len: 00000010(16) lies outside the erased range!");
    std::istringstream csv(text_of(out / "report.csv"));
    std::string line;
    EXPECT_TRUE(std::getline(csv, line) && std::getline(csv, line));
    EXPECT_EQ(line.rfind("nand,hang,success,timed out,no,-1,", 0), 0u) << line;
    EXPECT_TRUE(std::getline(csv, line) && std::getline(csv, line));  // hoped, then deep
    EXPECT_NE(line.find(",2," + deep["double_cuts"].dump() + "," + deep["unbootable_only_after_double_cut"].dump() +
                        "," + deep["final_retries_verified"].dump() + ","),
              std::string::npos)
        << line;
    // Nothing of the work is left beside the report.
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".report."), std::string::npos) << entry.path();

    fs::create_directories(dir.path() / "other");
    write_text(dir.path() / "other" / "notes.txt", "mine\n");
    e2e::ToolRun refused = e2e::run_tool("modulectl", {"campaign", args[1], "-o", (dir.path() / "other").string()});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(refused.errors, "modulectl campaign: " + (dir.path() / "other").string() +
                                  " is neither new, nor empty, nor a campaign's report\n");
    EXPECT_EQ(text_of(dir.path() / "other" / "notes.txt"), "mine\n");
}

// Interrupted part-way through a cell: no report is left, finished or half
// made, and nothing of the work.
TEST(Campaign, AnInterruptedCampaignLeavesNoReport) {
    if (*UPDATETOOL_TOOL_RUNNER) GTEST_SKIP() << "the signal goes to the emulator";
    testing_support::TempDir dir;
    e2e::ToolRun made = e2e::run_tool("mkbin", {"-o", (dir.path() / "os.bin").string(), "--start", "0x80080000",
                                                "--length", "0x100000", "--fill", "pattern"});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    write_text(dir.path() / "plan.toml",
               "[[module]]\nprofile = \"pxa300-f1ec\"\n[[image]]\nfile = \"os.bin\"\nsweep = { every = 1 }\n");
    const std::string command = "cd " + e2e::shell_quote(dir.path().string()) + " && " +
                                testing_support::binary("modulectl") +
                                " campaign plan.toml -o report 2>/dev/null & pid=$!; sleep 1; kill -INT $pid; "
                                "wait $pid; echo $?";
    std::string output;
    testing_support::run_command(command, &output);
    EXPECT_EQ(output, "130\n");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"os.bin", "plan.toml"}));
}

struct BadPlan {
    const char* name;
    const char* plan;
    const char* error;  // the one line on stderr after "modulectl campaign: "
};

const char kGoodModule[] = "[[module]]\nprofile = \"pxa270\"\n";

const BadPlan kBadPlans[] = {
    {"unknown key", "[[module]]\nprofile = \"pxa270\"\n\n[[image]]\nfile = \"os.bin\"\nverfy = true\n",
     "plan.toml:6: image.verfy: unknown key (known: name, file, expect, verify, dialog, answers, sweep, depth, "
     "timeout)"},
    {"unknown top-level key", "title = \"x\"\n", "plan.toml:1: title: unknown key (known: campaign, module, image)"},
    {"unknown profile", "[[module]]\nprofile = \"pxa999\"\n",
     "plan.toml:2: module.profile: unknown profile 'pxa999' (see modulectl profiles)"},
    {"missing image", "[[module]]\nprofile = \"pxa270\"\n[[image]]\nfile = \"gone.bin\"\n",
     "plan.toml:4: image.file: no such file: DIR/gone.bin"},
    {"missing prerequisite", "[[module]]\nprofile = \"pxa270\"\nprerequisites = [\"old.bin\"]\n",
     "plan.toml:3: module.prerequisites: no such file: DIR/old.bin"},
    {"wrong type", "[[module]]\nprofile = \"pxa270\"\n[[image]]\nfile = \"os.bin\"\nsweep = { points = \"4\" }\n",
     "plan.toml:5: image.sweep.points: must be an integer, not a string"},
    {"wrong type of a flag", "[[module]]\nprofile = \"pxa270\"\n[[image]]\nfile = \"os.bin\"\nverify = \"yes\"\n",
     "plan.toml:5: image.verify: must be true or false, not a string"},
    {"an expectation of no kind", "[[module]]\nprofile = \"pxa270\"\n[[image]]\nfile = \"os.bin\"\nexpect = \"ok\"\n",
     "plan.toml:5: image.expect: must be success, refused or declined, not 'ok'"},
    {"both sweep forms",
     "[[module]]\nprofile = \"pxa270\"\n[[image]]\nfile = \"os.bin\"\nsweep = { every = 2, points = 4 }\n",
     "plan.toml:5: image.sweep: give one of every and points"},
    {"a profile key of no kind", "[[module]]\nprofile = \"pxa270\"\nset = [\"nor.nonsense=1\"]\n",
     "plan.toml:3: module.set: "},
    {"a module folder that is none", "[[module]]\nfolder = \"nowhere\"\n",
     "plan.toml:2: module.folder: not a module: "},
    {"no images", kGoodModule, "plan.toml:1: image: the plan names no [[image]]"},
    {"not TOML", "[[module]\n", "plan.toml:1: TOML: "},
    {"a timeout of none", "[campaign]\ntimeout = 0\n", "plan.toml:2: campaign.timeout: must be more than 0 seconds"},
};

class BadCampaignPlan : public testing::TestWithParam<BadPlan> {};

TEST_P(BadCampaignPlan, IsOneLineNamingFileLineAndKeyAndNothingRuns) {
    testing_support::TempDir dir;
    e2e::ToolRun made =
        e2e::run_tool("mkbin", {"-o", (dir.path() / "os.bin").string(), "--start", "0x80080000", "--length", "0x100"});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    write_text(dir.path() / "plan.toml", GetParam().plan);
    e2e::ToolRun run = e2e::run_tool(
        "modulectl", {"campaign", (dir.path() / "plan.toml").string(), "-o", (dir.path() / "r").string()});
    EXPECT_EQ(run.exit_code, 2) << run.output;
    const std::string line = e2e::replace_all(run.errors, dir.path().string(), "DIR");
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_EQ(line.rfind("modulectl campaign: " + e2e::replace_all(GetParam().error, "plan.toml", "DIR/plan.toml"), 0),
              0u)
        << line;
    EXPECT_FALSE(fs::exists(dir.path() / "r"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

INSTANTIATE_TEST_SUITE_P(Plans, BadCampaignPlan, testing::ValuesIn(kBadPlans),
                         [](const testing::TestParamInfo<BadPlan>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                             return name;
                         });

// The fenced sh block of docs/tools.md's campaign section.
std::string campaign_doc_block() {
    std::ifstream doc(std::string(UPDATETOOL_SOURCE_DIR) + "/docs/tools.md");
    std::string block;
    bool in_section = false, in_block = false;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("## ", 0) == 0) in_section = line.rfind("## modulectl campaign", 0) == 0;
        if (!in_section) continue;
        if (line == "```sh")
            in_block = true;
        else if (line == "```")
            in_block = false;
        else if (in_block)
            block += line + "\n";
    }
    return block;
}

bool have(const std::string& program) {
    std::string out;
    return testing_support::run_command("command -v " + program + " >/dev/null 2>&1", &out) == 0;
}

// The share of the screenshot's pixels in its commonest colour, and how
// many colours it has (netpbm's ppmhist lists them, commonest first).
void colours_of(const fs::path& png, double* commonest_share, size_t* colours) {
    std::string hist;
    ASSERT_EQ(
        testing_support::run_command("pngtopnm " + e2e::shell_quote(png.string()) + " | ppmhist -noheader", &hist), 0);
    std::istringstream lines(hist);
    uint64_t total = 0, first = 0;
    *colours = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        unsigned r, g, b, lum;
        uint64_t count = 0;
        if (!(words >> r >> g >> b >> lum >> count)) continue;
        if (!(*colours)++) first = count;
        total += count;
    }
    *commonest_share = total ? static_cast<double>(first) / static_cast<double>(total) : 1.0;
}

struct Cell {
    const char* module;
    const char* image;
    const char* outcome;
    uint64_t sweep_points;  // 0: not swept
    bool bricks;            // a cut of the sweep leaves the board unbootable
};

// examples/rollout/plan.toml's matrix, module by module, image by image:
// every cell meets its expectation.
const Cell kExampleCells[] = {
    {"nor", "os", "success", 0, false},
    {"nor", "boot", "success", 3, true},
    {"nor", "boot-cancelled", "declined", 0, false},
    {"nor", "stray", "refused", 0, false},
    {"nand", "os", "success", 0, false},
    {"nand", "boot", "success", 3, true},
    {"nand", "boot-cancelled", "declined", 0, false},
    {"nand", "stray", "refused", 0, false},
};

void expect_example_cells(const fs::path& report_dir, const std::string& progress) {
    json report = json::parse(text_of(report_dir / "report.json"), nullptr, false);
    ASSERT_TRUE(report.is_object()) << progress;
    ASSERT_EQ(report["cells"].size(), std::size(kExampleCells)) << progress;
    EXPECT_EQ(report["all_met"], true);
    std::istringstream csv(text_of(report_dir / "report.csv"));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line.rfind("module,image,expect,outcome,met,exit_status,device_time_s,bytes_erased,", 0), 0u) << line;
    for (size_t i = 0; i < std::size(kExampleCells); ++i) {
        const Cell& c = kExampleCells[i];
        const json& row = report["cells"][i];
        SCOPED_TRACE(std::string(c.module) + " / " + c.image);
        EXPECT_EQ(row["module"], c.module);
        EXPECT_EQ(row["image"], c.image);
        EXPECT_EQ(row["outcome"], c.outcome) << row["problem"];
        EXPECT_EQ(row["met"], true);
        EXPECT_EQ(row["problem"], "");
        EXPECT_EQ(row["prerequisites"].size(), 2u);
        expect_progress_line(progress, i + 1, std::size(kExampleCells), std::string(c.module) + " / " + c.image,
                             std::string(c.outcome) + " (expected " + c.outcome + ")");
        ASSERT_TRUE(std::getline(csv, line));
        EXPECT_EQ(line.rfind(std::string(c.module) + "," + c.image + "," + c.outcome + "," + c.outcome + ",yes,", 0),
                  0u)
            << line;
        EXPECT_TRUE(row["map"].is_string());
        EXPECT_TRUE(fs::is_regular_file(report_dir / row["map"].get<std::string>()));
        const bool installed = std::string(c.outcome) == "success";
        // Installed and verified, or refused and declined before anything was erased.
        EXPECT_EQ(row["verified"], installed ? json(true) : json(nullptr));
        EXPECT_EQ(row["device_time_s"].get<double>() > 0.001, installed);
        EXPECT_EQ(row["bytes_erased"].get<uint64_t>() > 0, installed);
        EXPECT_EQ(row["bytes_written"].get<uint64_t>() > 0, installed);
        if (!c.sweep_points) {
            EXPECT_TRUE(row["sweep"].is_null());
            EXPECT_TRUE(row["strip"].is_null());
            continue;
        }
        // Swept: every retry after a cut verified.
        EXPECT_EQ(row["sweep_points"], c.sweep_points);
        EXPECT_EQ(row["retries_verified"], c.sweep_points);
        EXPECT_TRUE(fs::is_regular_file(report_dir / row["strip"].get<std::string>()));
        EXPECT_EQ(row["window"].is_object(), c.bricks) << row["window"];
        if (c.bricks) {
            // The window in device time, a part of the update's.
            EXPECT_GT(row["window_seconds"].get<double>(), 0);
            EXPECT_GT(row["window_share"].get<double>(), 0);
            EXPECT_LE(row["window_share"].get<double>(), 1);
            EXPECT_NE(line.find("," + row["window_seconds"].dump() + ","), std::string::npos) << line;
        }
    }
}

// The example of docs/tools.md run as written in a copy of examples/; its
// page parsed as HTML and drawn by a browser.
TEST(Campaign, TheDocumentedExampleRunsAndItsPageParsesAndDraws) {
    if (*UPDATETOOL_TOOL_RUNNER) GTEST_SKIP() << "the cross-built tools run through an emulator, not from PATH";
    const std::string block = campaign_doc_block();
    ASSERT_NE(block.find("modulectl campaign examples/rollout/plan.toml -o rollout-report"), std::string::npos)
        << block;
    testing_support::TempDir fresh;
    fs::copy(std::string(UPDATETOOL_SOURCE_DIR) + "/examples", fresh.path() / "examples", fs::copy_options::recursive);
    write_text(fresh.path() / "example.sh", block);
    std::string output;
    ASSERT_EQ(testing_support::run_command("cd " + e2e::shell_quote(fresh.path().string()) +
                                               " && PATH=" + e2e::shell_quote(UPDATETOOL_BINARY_DIR) +
                                               ":\"$PATH\" sh -e example.sh 2>&1",
                                           &output),
              0)
        << output;
    EXPECT_NE(output.find("8 of 8 cells met their expectation"), std::string::npos) << output;
    expect_example_cells(fresh.path() / "rollout-report", output);
    const fs::path page = fresh.path() / "rollout-report" / "index.html";
    ASSERT_TRUE(fs::is_regular_file(page)) << output;
    const std::string html = text_of(page);
    // Self-contained: nothing is fetched from elsewhere.
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("http://www.w3.org/2000/svg\" href"), std::string::npos);

    if (!have("xmllint")) GTEST_SKIP() << "xmllint is not installed (scripts/setup.sh installs libxml2-utils)";
    // The HTML parser knows no SVG elements; any other complaint is a fault of the page.
    std::string counted;
    const std::string xpath =
        "xmllint --html --xpath 'concat(count(//table//td), \" \", count(//section), \" \", "
        "count(//svg//rect), \" \", count(//svg[@class=\"sweep\"]))' " +
        e2e::shell_quote(page.string()) + " 2>" + e2e::shell_quote((fresh.path() / "lint.txt").string());
    ASSERT_EQ(testing_support::run_command(xpath, &counted), 0);
    std::istringstream lint(text_of(fresh.path() / "lint.txt"));
    for (std::string line; std::getline(lint, line);)
        if (line.find("HTML parser error") != std::string::npos) {
            EXPECT_TRUE(std::regex_search(line, std::regex("HTML parser error : Tag [a-zA-Z]+ invalid$"))) << line;
        }
    std::istringstream numbers(counted);
    size_t cells = 0, sections = 0, rects = 0, strips = 0;
    numbers >> cells >> sections >> rects >> strips;
    EXPECT_EQ(cells, 8u) << counted;
    EXPECT_EQ(sections, 8u) << counted;
    EXPECT_EQ(strips, 2u) << "every swept cell's strip";
    EXPECT_GT(rects, 8u * 64) << "every cell's flash map draws its blocks";

    if (!have("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    if (!have("pngtopnm")) GTEST_SKIP() << "netpbm is not installed (scripts/setup.sh installs it)";
    const fs::path shot = fresh.path() / "page.png";
    ASSERT_EQ(testing_support::run_command("HOME=" + e2e::shell_quote(fresh.path().string()) +
                                               " chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
                                               "--window-size=1000,800 --screenshot=" +
                                               e2e::shell_quote(shot.string()) + " file://" +
                                               e2e::shell_quote(page.string()) + " >/dev/null 2>&1",
                                           &output),
              0);
    double commonest = 1;
    size_t colours = 0;
    colours_of(shot, &commonest, &colours);
    // Text, the matrix's green and red cells, the pictures: many colours, and
    // the background far from all of the page.
    EXPECT_GT(colours, 20u);
    EXPECT_LT(commonest, 0.95);
}

}  // namespace
