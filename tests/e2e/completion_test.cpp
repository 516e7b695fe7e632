// The bash completion the build makes, driven as bash drives it: COMP_WORDS
// and COMP_CWORD set, the tool's function called, COMPREPLY read. A folder
// holds a module folder, an image and another file.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace {

struct CompletionCase {
    std::string name;
    std::vector<std::string> words;  // the last is the word being completed
    std::vector<std::string> offered;
    std::vector<std::string> not_offered;
};

class Completion : public testing::TestWithParam<CompletionCase> {};

TEST_P(Completion, OffersTheWordsThatFit) {
    const CompletionCase& c = GetParam();
    testing_support::TempDir folder;
    std::filesystem::create_directory(folder.path() / "m");
    testing_support::write_binary(folder.path() / "os.bin", {1});
    testing_support::write_binary(folder.path() / "notes.txt", {1});
    std::string words;
    for (const std::string& w : c.words) words += " " + e2e::shell_quote(w);
    std::string script = "source " + e2e::shell_quote(std::string(UPDATETOOL_BINARY_DIR) + "/share/completion.bash") +
                         "; COMP_WORDS=(" + words + "); COMP_CWORD=" + std::to_string(c.words.size() - 1) + "; _" +
                         c.words[0] + "; printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::string output;
    ASSERT_EQ(
        testing_support::run_command(
            "cd " + e2e::shell_quote(folder.path().string()) + " && bash -c " + e2e::shell_quote(script), &output),
        0)
        << output;
    for (const std::string& w : c.offered) EXPECT_NE(output.find(w + "\n"), std::string::npos) << w << "\n" << output;
    for (const std::string& w : c.not_offered)
        EXPECT_EQ(output.find(w + "\n"), std::string::npos) << w << "\n" << output;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, Completion, testing::Values(
    CompletionCase{"UpdatetoolOptions",   {"updatetool", "--d"},                    {"--dry-run"},              {"--generate", "--module"}},
    CompletionCase{"UpdatetoolUiWords",   {"updatetool", "--ui", ""},               {"line", "terminal", "auto"}, {"m"}},
    CompletionCase{"AnswerAfterEquals",   {"updatetool", "--answer", "=", "c"},     {"cancel"},                 {"yes"}},
    CompletionCase{"ModuleIsAFolder",     {"updatetool", "--module", ""},           {"m"},                      {"os.bin", "notes.txt"}},
    CompletionCase{"UpdateTakesAnImage",  {"updatetool", "--module", "m", "/u", ""}, {"os.bin", "m"},           {"notes.txt"}},
    CompletionCase{"ModuleCommandLine",   {"updatetool", "/f"},                     {"/f", "/fu"},              {"/c"}},
    CompletionCase{"ModulectlCommands",   {"modulectl", "s"},                       {"show", "set", "sections", "sweep"}, {"create"}},
    CompletionCase{"CommandOptions",      {"modulectl", "create", "m", "--"},       {"--profile", "--set", "--force"}, {"--json"}},
    CompletionCase{"ProfileNames",        {"modulectl", "create", "m", "--profile", "pxa3"}, {"pxa300-f1ec", "pxa320-dcad"}, {"pxa270"}},
    CompletionCase{"VerifyDirThenImage",  {"modulectl", "verify", "m", ""},         {"os.bin"},                 {"notes.txt"}},
    CompletionCase{"CutPlaces",           {"modulectl", "cut", "m", "--at", ""},    {"erase@", "program@"},     {"m"}},
    CompletionCase{"MkbinInfoImage",      {"mkbin", "--info", ""},                  {"os.bin"},                 {"notes.txt"}},
    CompletionCase{"MkbinDataFile",       {"mkbin", "-o", "x.bin", "--records", ""}, {"notes.txt", "os.bin"},   {}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

}  // namespace
