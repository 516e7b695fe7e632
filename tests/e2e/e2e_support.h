// Running the real tools on temporary modules.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_module.h"

namespace e2e {

struct ToolRun {
    int exit_code = -1;
    std::string output;  // stdout, then stderr
    std::string errors;  // stderr alone
    // The last line on stderr.
    std::string last_error_line() const;
};

// Runs a tool with shell-quoted arguments; stdin_text (may be empty) is its input.
ToolRun run_tool(const std::string& tool, const std::vector<std::string>& args, const std::string& stdin_text = "");
// Runs a tool on a pseudo-terminal of 80 columns (stdin, stdout and stderr):
// output is everything the terminal received, "\r\n" line ends and all.
ToolRun run_tool_on_terminal(const std::string& tool, const std::vector<std::string>& args);

constexpr uint64_t kNandFileSpan = 1 << 20;

// A module directory made with modulectl in a temporary folder.
class ModuleDir {
public:
    explicit ModuleDir(const std::string& profile, const std::vector<std::string>& sets = {});
    std::filesystem::path path() const { return dir_.path() / "m"; }
    std::filesystem::path file(const std::string& name) const { return path() / name; }
    std::filesystem::path scratch(const std::string& name) const { return dir_.path() / name; }
    // Fills nor.bin with one byte value, as a module whose flash holds old data.
    void fill_nor(uint8_t value) const;
    // The raw chip files by name (nor.bin, nand-N.main, nand-N.oob); a NAND
    // file's erased tail is filled in up to kNandFileSpan bytes at least.
    std::map<std::string, std::vector<uint8_t>> flash_files() const;
    // Writes bytes into a chip file at an offset, as old flash contents.
    void poke(const std::string& name, uint64_t offset, const std::vector<uint8_t>& bytes) const;
    // updatetool --module DIR --report R [host args] -- module command line
    ToolRun update_tool(const std::vector<std::string>& host_args, const std::string& command_line,
                        const std::string& stdin_text = "") const;
    std::string report() const;
    // The module's events.log as it stands.
    std::string events() const;
    // mkbin -o SCRATCH/name args...: the image's path.
    std::string make_image(const std::string& name, std::vector<std::string> mkbin_args) const;

private:
    testing_support::TempDir dir_;
};

// A bootloader image (Windows CE ROM image at flash offset 0), written once
// quietly so that the next update finds a Bootloader section to warn about.
std::string bootloader_on_flash(const ModuleDir& module);

// The value of a report's top-level key as text (strings without quotes,
// null as "null"); empty when the key is missing.
std::string json_value(const std::string& json, const std::string& key);
// Every "caption"/"text" pair of the report's message boxes, as "CAPTION: text".
std::vector<std::string> message_boxes(const std::string& json);
std::string shell_quote(const std::string& text);
// Every from in text replaced by to.
std::string replace_all(std::string text, const std::string& from, const std::string& to);

}  // namespace e2e
