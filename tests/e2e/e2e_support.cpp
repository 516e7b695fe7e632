#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace e2e {

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string ToolRun::last_error_line() const {
    std::string text = errors;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

static std::string command_line(const std::string& tool, const std::vector<std::string>& args) {
    std::string command = testing_support::binary(tool);
    for (const std::string& a : args) command += " " + shell_quote(a);
    return command;
}

ToolRun run_tool(const std::string& tool, const std::vector<std::string>& args, const std::string& stdin_text) {
    testing_support::TempDir scratch;
    std::filesystem::path input = scratch.path() / "stdin", errors = scratch.path() / "stderr";
    {
        std::ofstream f(input);
        f << stdin_text;
    }
    std::string command =
        command_line(tool, args) + " < " + shell_quote(input.string()) + " 2> " + shell_quote(errors.string());
    ToolRun run;
    run.exit_code = testing_support::run_command(command, &run.output);
    std::vector<uint8_t> bytes = testing_support::read_binary(errors);
    run.errors.assign(bytes.begin(), bytes.end());
    run.output += run.errors;
    return run;
}

ToolRun run_tool_on_terminal(const std::string& tool, const std::vector<std::string>& args) {
    std::string command = "exec " + command_line(tool, args);
    struct winsize size = {24, 80, 0, 0};
    int terminal = -1;
    pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ToolRun run;
    if (pid < 0) return run;
    char buffer[4096];
    // The terminal reads EIO once the tool and every holder of it are gone.
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0) run.output.append(buffer, static_cast<size_t>(n));
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ModuleDir::ModuleDir(const std::string& profile, const std::vector<std::string>& sets) {
    std::vector<std::string> args = {"create", path().string(), "--profile", profile};
    for (const std::string& s : sets) {
        args.push_back("--set");
        args.push_back(s);
    }
    ToolRun made = run_tool("modulectl", args);
    if (made.exit_code != 0) throw std::runtime_error("modulectl create failed: " + made.output);
}

void ModuleDir::fill_nor(uint8_t value) const {
    auto size = std::filesystem::file_size(file("nor.bin"));
    std::vector<uint8_t> bytes(size, value);
    testing_support::write_binary(file("nor.bin"), bytes);
}

std::map<std::string, std::vector<uint8_t>> ModuleDir::flash_files() const {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : std::filesystem::directory_iterator(path())) {
        std::string name = entry.path().filename().string();
        if (name == "nor.bin" || name.rfind("nand-", 0) == 0) files[name] = testing_support::read_binary(entry.path());
    }
    for (auto& [name, bytes] : files)
        if (name != "nor.bin" && bytes.size() < kNandFileSpan) bytes.resize(kNandFileSpan, 0xFF);
    return files;
}

void ModuleDir::poke(const std::string& name, uint64_t offset, const std::vector<uint8_t>& bytes) const {
    testing_support::poke_file(file(name), offset, bytes);
}

ToolRun ModuleDir::update_tool(const std::vector<std::string>& host_args, const std::string& command_line,
                               const std::string& stdin_text) const {
    std::vector<std::string> args = {"--module", path().string(), "--ui",
                                     "line",     "--report",      scratch("report.json").string()};
    args.insert(args.end(), host_args.begin(), host_args.end());
    args.push_back("--");
    std::istringstream words(command_line);
    std::string word;
    while (words >> word) args.push_back(word);
    std::filesystem::remove(scratch("report.json"));
    return run_tool("updatetool", args, stdin_text);
}

std::string ModuleDir::report() const {
    std::ifstream f(scratch("report.json"));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string ModuleDir::events() const {
    std::ifstream f(file("events.log"));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string ModuleDir::make_image(const std::string& name, std::vector<std::string> mkbin_args) const {
    std::string image = scratch(name).string();
    mkbin_args.insert(mkbin_args.begin(), {"-o", image});
    ToolRun made = run_tool("mkbin", mkbin_args);
    EXPECT_EQ(made.exit_code, 0) << made.output;
    return image;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string bootloader_on_flash(const ModuleDir& module) {
    std::string image = module.scratch("boot.bin").string();
    ToolRun made = run_tool("mkbin", {"-o", image, "--start", "0", "--length", "0x1000", "--fill", "pattern", "--rom"});
    EXPECT_EQ(made.exit_code, 0) << made.output;
    module.update_tool({}, "/u " + image);
    EXPECT_EQ(json_value(module.report(), "outcome"), "success") << module.report();
    return image;
}

static nlohmann::json parse_report(const std::string& json) {
    nlohmann::json report = nlohmann::json::parse(json, nullptr, false);
    EXPECT_TRUE(report.is_object()) << "not a JSON report: " << json;
    return report.is_object() ? report : nlohmann::json::object();
}

std::string json_value(const std::string& json, const std::string& key) {
    nlohmann::json report = parse_report(json);
    if (!report.contains(key)) return "";
    return report[key].is_string() ? report[key].get<std::string>() : report[key].dump();
}

std::vector<std::string> message_boxes(const std::string& json) {
    std::vector<std::string> out;
    for (const nlohmann::json& box : parse_report(json).value("message_boxes", nlohmann::json::array()))
        out.push_back(box.value("caption", "") + ": " + box.value("text", ""));
    return out;
}

}  // namespace e2e
