// The module in memory against the module in files: runs forked from this
// process, each after a power cycle, leave the same flash, files and report
// as the tools run as fresh processes; a restore brings back the module as
// loaded; a write-back puts the result in the module folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/profiles.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_module.h"
#include "tools/common/memory_module.h"
#include "tools/updatetool/updatetool_main.h"

namespace fs = std::filesystem;

namespace {

std::string text_of(const fs::path& path) {
    std::vector<uint8_t> bytes = testing_support::read_binary(path);
    return std::string(bytes.begin(), bytes.end());
}

// Every file of a module folder by name, as the module reads it: a NAND
// chip file without its erased tail (the flash file format may leave it
// out), the event log without the wall-clock time of each run's header.
std::map<std::string, std::string> folder_files(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::string name = fs::relative(entry.path(), dir).generic_string(), text = text_of(entry.path());
        if (is_chip_file(name) && name != "nor.bin") text.erase(text.find_last_not_of('\xff') + 1);
        if (name == "events.log") text = std::regex_replace(text, std::regex("[0-9-]+T[0-9:.]+Z"), "TIME");
        files[name] = text;
    }
    return files;
}

std::string without(std::string text, const std::string& path) {
    for (size_t at; (at = text.find(path)) != std::string::npos;) text.replace(at, path.size(), "DIR");
    return text;
}

std::string first_difference(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    for (const auto& [name, bytes] : a) {
        auto other = b.find(name);
        if (other == b.end()) return name + " only on the left";
        if (other->second != bytes) return name + " differs";
    }
    for (const auto& [name, bytes] : b)
        if (!a.count(name)) return name + " only on the right";
    return "";
}

struct Step {
    const char* cut;  // power.cut_at_op for this run, or empty
    const char* image;
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
};

// (update, power cycle, update): without a cut, and with the power lost in
// the first update's erase and in its programming.
const Sequence kSequences[] = {
    {"two updates", {{"", "boot.bin"}, {"", "os.bin"}}},
    {"a cut in the erase, then the retry", {{"1", "boot.bin"}, {"", "boot.bin"}}},
    {"a cut in the programming, then the retry", {{"9", "os.bin"}, {"", "os.bin"}}},
};

std::vector<std::string> run_args(const fs::path& dir, const Step& step, const fs::path& report) {
    return {"updatetool", "--module", dir.string(), "-q", "--report", report.string(), std::string("/u ") + step.image};
}

void arm(const fs::path& dir, const Step& step) {
    if (!*step.cut) return;
    sim::Config profile;
    std::string error, path = (dir / "module.toml").string();
    ASSERT_TRUE(profile.load(path, &error)) << error;
    profile.set_u64("power.cut_at_op", std::stoull(step.cut));
    ASSERT_TRUE(profile.save(path, &error)) << error;
}

TEST(MemoryModule, RunsAfterAPowerCycleEqualFreshProcessesOnEveryProfile) {
    e2e::ModuleDir images("pxa270");
    const std::string boot = images.make_image("boot.bin", {"--start", "0", "--length", "0x8000", "--fill", "pattern"});
    const std::string os =
        images.make_image("os.bin", {"--start", "0x80080000", "--length", "0x9000", "--fill", "pattern"});
    for (const sim::ProfileInfo& profile : sim::builtin_profiles()) {
        for (const Sequence& sequence : kSequences) {
            SCOPED_TRACE(std::string(profile.name) + ", " + sequence.name);
            e2e::ModuleDir fresh(profile.name), loaded(profile.name);
            // The images lie in the module folders: the runs name them alike.
            for (const e2e::ModuleDir* m : {&fresh, &loaded}) {
                fs::copy_file(boot, m->file("boot.bin"));
                fs::copy_file(os, m->file("os.bin"));
            }
            const std::map<std::string, std::string> as_loaded = folder_files(loaded.path());

            MemoryModule memory;
            std::string error;
            ASSERT_TRUE(memory.load(loaded.path(), loaded.scratch("memory"), {}, &error)) << error;
            std::vector<std::string> fresh_reports, memory_reports;
            for (size_t s = 0; s < sequence.steps.size(); ++s) {
                const Step& step = sequence.steps[s];
                const fs::path report = fresh.scratch("report-" + std::to_string(s) + ".json");
                arm(fresh.path(), step);
                std::vector<std::string> args = run_args(fresh.path(), step, report);
                args.erase(args.begin());
                e2e::ToolRun process = e2e::run_tool("updatetool", args);
                arm(memory.folder(), step);
                const fs::path memory_report = loaded.scratch("memory-report-" + std::to_string(s) + ".json");
                const int status = MemoryModule::run(updatetool_main, run_args(memory.folder(), step, memory_report));
                EXPECT_EQ(status, process.exit_code) << process.output;
                fresh_reports.push_back(without(text_of(report), fresh.path().string()));
                memory_reports.push_back(without(text_of(memory_report), memory.folder().string()));
            }
            EXPECT_EQ(memory_reports, fresh_reports);
            const std::map<std::string, std::string> after = folder_files(fresh.path());
            EXPECT_EQ(first_difference(folder_files(memory.folder()), after), "");

            // Back as loaded, then (once a profile) kept: the folder holds the result.
            ASSERT_TRUE(memory.restore(&error)) << error;
            EXPECT_EQ(first_difference(folder_files(memory.folder()), as_loaded), "");
            if (&sequence != &kSequences[0]) continue;
            for (size_t s = 0; s < sequence.steps.size(); ++s) {
                arm(memory.folder(), sequence.steps[s]);
                MemoryModule::run(updatetool_main,
                                  run_args(memory.folder(), sequence.steps[s], loaded.scratch("again.json")));
            }
            ASSERT_TRUE(memory.write_back(&error)) << error;
            EXPECT_EQ(first_difference(folder_files(loaded.path()), after), "");
        }
    }
}

}  // namespace
