// The manual pages the build makes: each page documents the options that
// --help lists (every modulectl command's too), renders without a warning,
// and its examples run as written in a fresh folder.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

const std::filesystem::path kManuals = std::filesystem::path(UPDATETOOL_BINARY_DIR) / "share" / "man";

std::string read_text(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes = testing_support::read_binary(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// roff escapes back to text.
std::string plain(std::string text) {
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    text = std::regex_replace(text, std::regex(R"(\\e)"), "\\");
    return std::regex_replace(text, std::regex(R"(\\ )"), " ");
}

// The options of one part of a page: the tags of its .TP entries. The part
// is the OPTIONS section, or a command's .SS in COMMANDS.
std::set<std::string> page_options(const std::string& page, const std::string& command) {
    std::set<std::string> names;
    std::vector<std::string> lines = lines_of(page);
    bool in_part = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (command.empty() && line.rfind(".SH ", 0) == 0) in_part = line == ".SH OPTIONS";
        if (command.empty() && in_part && line.rfind(".SS ", 0) == 0) continue;
        if (!command.empty() && (line.rfind(".SS ", 0) == 0 || line.rfind(".SH ", 0) == 0))
            in_part = line.rfind(".SS \\fB" + std::regex_replace(command, std::regex("-"), "\\-") + "\\fR", 0) == 0;
        if (!in_part || line != ".TP" || i + 1 == lines.size()) continue;
        std::string tag = plain(lines[i + 1]);
        static const std::regex option(R"((^|, )(--?[A-Za-z0-9][A-Za-z0-9-]*))");
        for (std::sregex_iterator m(tag.begin(), tag.end(), option), end; m != end; ++m) names.insert((*m)[2]);
    }
    return names;
}

// The options --help lists: the first word of each line that starts with
// a dash under a heading, split at commas.
std::set<std::string> help_options(const std::string& help) {
    std::set<std::string> names;
    static const std::regex line_start(R"(^  (-[^ ]+))");
    for (const std::string& line : lines_of(help)) {
        std::smatch m;
        if (!std::regex_search(line, m, line_start)) continue;
        std::istringstream words(m[1].str());
        for (std::string name; std::getline(words, name, ',');) names.insert(name);
    }
    return names;
}

std::string joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += n + " ";
    return text;
}

// The commands modulectl's help lists.
std::vector<std::string> modulectl_commands() {
    e2e::ToolRun help = e2e::run_tool("modulectl", {"--help"});
    std::vector<std::string> commands;
    bool listing = false;
    for (const std::string& line : lines_of(help.output)) {
        if (line.empty() || line[0] != ' ')
            listing = line == "Subcommands:";
        else if (listing)
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return commands;
}

struct PageCase {
    std::string tool;
    std::string page;
};

class ManualPage : public testing::TestWithParam<PageCase> {};

TEST_P(ManualPage, DocumentsTheOptionsThatHelpLists) {
    const PageCase& c = GetParam();
    std::string page = read_text(kManuals / c.page);
    ASSERT_FALSE(page.empty()) << c.page;
    std::vector<std::string> commands = {""};
    if (c.tool == "modulectl") {
        std::vector<std::string> more = modulectl_commands();
        ASSERT_GT(more.size(), 20u);
        commands.insert(commands.end(), more.begin(), more.end());
    }
    for (const std::string& command : commands) {
        std::vector<std::string> args;
        if (!command.empty()) args.push_back(command);
        args.push_back("--help");
        e2e::ToolRun help = e2e::run_tool(c.tool, args);
        ASSERT_EQ(help.exit_code, 0) << help.output;
        std::set<std::string> listed = help_options(help.output);
        // A command's page part leaves out the --help every command has.
        if (!command.empty()) listed.erase("-h"), listed.erase("--help");
        EXPECT_FALSE(command.empty() && listed.count("--version") == 0) << help.output;
        EXPECT_EQ(joined(page_options(page, command)), joined(listed)) << c.tool << " " << command;
    }
    for (const char* section :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "ENVIRONMENT", "FILES", "SEE ALSO"})
        EXPECT_NE(page.find(std::string("\n.SH ") + section + "\n"), std::string::npos) << section;
    EXPECT_EQ(page.find("--generate"), std::string::npos) << "the hidden option stays hidden";
}

// The tools' rows; the module profile page has no options, its keys come
// from the key table.
INSTANTIATE_TEST_SUITE_P(Tools, ManualPage,
                         testing::Values(PageCase{"updatetool", "updatetool.1"}, PageCase{"modulectl", "modulectl.1"},
                                         PageCase{"mkbin", "mkbin.1"}),
                         [](const auto& info) { return info.param.tool; });

const char* const kPages[] = {"updatetool.1", "modulectl.1", "mkbin.1", "updatetool-module.5"};

TEST(ManualPages, RenderWithoutWarnings) {
    for (const char* page : kPages) {
        std::string output;
        std::string command = "groff -man -Tutf8 -ww -z " + e2e::shell_quote((kManuals / page).string()) + " 2>&1";
        EXPECT_EQ(testing_support::run_command(command, &output), 0) << page;
        EXPECT_EQ(output, "") << page;
    }
}

TEST(ManualPages, TheModulePageListsEveryKeyOfTheTable) {
    std::string page = plain(read_text(kManuals / "updatetool-module.5"));
    for (const char* key : {"cpu.product", "flash.kind", "nor.query_size", "nand.id", "hal.itemN",
                            "registry.KEY.PATH.VALUE", "power.cut_at", "nand.wear.bitflip_ppm"})
        EXPECT_NE(page.find(std::string(key) + " ("), std::string::npos) << key;
    EXPECT_NE(page.find("nor.query_size (an integer in 17..26)"), std::string::npos);
    EXPECT_NE(page.find("pxa270-p30: nor.query_size = 25"), std::string::npos) << "the profiles' values";
    EXPECT_NE(page.find("Every built-in profile: bus.cycle_ns = 100"), std::string::npos);
}

// The lines of the EXAMPLES section's kept (.nf) blocks, as a shell reads them.
std::string examples(const std::string& page) {
    std::string script;
    bool in_examples = false, kept = false;
    for (const std::string& line : lines_of(page)) {
        if (line.rfind(".SH ", 0) == 0) in_examples = line == ".SH EXAMPLES";
        if (!in_examples) continue;
        if (line == ".nf" || line == ".fi")
            kept = line == ".nf";
        else if (kept && line[0] != '.')
            script += plain(line) + "\n";
    }
    return script;
}

TEST(ManualPages, ExamplesRunAsWrittenInAFreshFolder) {
    if (*UPDATETOOL_TOOL_RUNNER) GTEST_SKIP() << "the cross-built tools run through an emulator, not from PATH";
    for (const char* page : kPages) {
        std::string script = examples(read_text(kManuals / page));
        ASSERT_NE(script, "") << page;
        testing_support::TempDir fresh;
        testing_support::write_binary(fresh.path() / "examples.sh", std::vector<uint8_t>(script.begin(), script.end()));
        std::string output;
        std::string command = "cd " + e2e::shell_quote(fresh.path().string()) +
                              " && PATH=" + e2e::shell_quote(UPDATETOOL_BINARY_DIR) +
                              ":\"$PATH\" sh -e examples.sh 2>&1";
        EXPECT_EQ(testing_support::run_command(command, &output), 0) << page << "\n" << script << output;
    }
}

}  // namespace
