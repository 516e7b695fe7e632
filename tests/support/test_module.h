// Temporary simulated modules for tests: created from a built-in profile with
// overrides, opened as the process's current module, removed afterwards.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/module.h"

namespace sim {
class GpioPins;
class NandController;
}  // namespace sim

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class TestModule {
public:
    // Creates the module (profile plus key=value overrides) and opens it.
    explicit TestModule(const std::string& profile, const std::vector<std::string>& overrides = {});
    ~TestModule();
    sim::Module& module() { return *module_; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    // Closes and reopens the module, as a restart of the program would.
    void reopen();
    std::vector<uint8_t> read_file(const std::string& name) const;

private:
    TempDir dir_;
    sim::Module* module_ = nullptr;
};

struct RecordedAccess {
    uint32_t phys;
    uint32_t value;
    bool write;
};

// Records every bus access while it lives.
class BusRecorder {
public:
    explicit BusRecorder(sim::Bus& bus);
    ~BusRecorder();
    const std::vector<RecordedAccess>& accesses() const { return accesses_; }
    std::vector<RecordedAccess> writes() const;
    void clear() { accesses_.clear(); }

private:
    static void hook(void* context, const sim::BusAccess& access);
    sim::Bus& bus_;
    std::vector<RecordedAccess> accesses_;
};

// The device models of an open module found on its bus: null when the module
// has none.
sim::NandController* find_nand_controller(sim::Module& module);
sim::GpioPins* find_gpio_pins(sim::Module& module);

// Puts the program's process-wide flash state back to its start: no back-end
// selected, empty operations table, no erase hook, no NOR window.
void reset_flash_state();

std::vector<uint8_t> read_binary(const std::filesystem::path& path);
void write_binary(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Runs a command line through the shell; returns the exit code and fills output with stdout.
int run_command(const std::string& command, std::string* output);
// The shell command that runs a built tool (updatetool, modulectl, mkbin),
// through the emulator on a cross build.
std::string binary(const std::string& tool);
std::filesystem::path fixture(const std::string& name);

}  // namespace testing_support
