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
    // Creates the module (profile plus overrides: "key=value" sets a key,
    // "-key" removes it) and opens it.
    explicit TestModule(const std::string& profile, const std::vector<std::string>& overrides = {});
    ~TestModule();
    sim::Module& module() { return *module_; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    // Closes and reopens the module, as a restart of the program would.
    void reopen();
    std::vector<uint8_t> read_file(const std::string& name) const;
    // A file of the module directory (nor.bin, nand-0.main ...).
    std::filesystem::path file(const std::string& name) const { return dir_.path() / "module" / name; }

private:
    TempDir dir_;
    sim::Module* module_ = nullptr;
};

struct RecordedAccess {
    uint32_t phys;
    uint32_t value;
    bool write;
};

// Records every bus access of the module while it lives.
class BusRecorder : public sim::EventListener {
public:
    explicit BusRecorder(sim::Module& module);
    ~BusRecorder() override;
    const std::vector<RecordedAccess>& accesses() const { return accesses_; }
    std::vector<RecordedAccess> writes() const;
    void clear() { accesses_.clear(); }
    void on_event(const sim::DeviceEvent& event) override;

private:
    sim::EventSink& events_;
    std::vector<RecordedAccess> accesses_;
};

// Keeps the module's device events of the kinds asked for while it lives.
class EventRecorder : public sim::EventListener {
public:
    explicit EventRecorder(sim::Module& module, uint32_t kinds = sim::kAllEventKinds);
    ~EventRecorder() override;
    const std::vector<sim::DeviceEvent>& events() const { return events_; }
    // The events of one kind, or describe() of those of one source and unit.
    std::vector<sim::DeviceEvent> of(sim::EventKind kind) const;
    std::vector<std::string> lines(sim::EventSource source, unsigned unit) const;
    void on_event(const sim::DeviceEvent& event) override { events_.push_back(event); }

private:
    sim::EventSink& sink_;
    std::vector<sim::DeviceEvent> events_;
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

// Bytes of a chip file (nor.bin, nand-N.main ...) read straight from it; the
// calling test fails when the file ends first.
std::vector<uint8_t> peek_file(const std::filesystem::path& path, uint64_t offset, uint64_t length);
// Writes bytes into a chip file at an offset, as old flash contents. A file
// that ends before the offset is first filled up with erased bytes (0xFF),
// as a NAND file's missing tail reads. The model maps its files shared: the
// bytes read back through the flash at once.
void poke_file(const std::filesystem::path& path, uint64_t offset, const std::vector<uint8_t>& bytes);
// The same byte length times from offset on.
void fill_file(const std::filesystem::path& path, uint64_t offset, uint64_t length, uint8_t value);

// Runs a command line through the shell; returns the exit code and fills output with stdout.
int run_command(const std::string& command, std::string* output);
// The shell command that runs a built tool (updatetool, modulectl, mkbin),
// through the emulator on a cross build.
std::string binary(const std::string& tool);
// A real image of tests/fixtures/wince-bin; the calling test fails when it is missing.
std::filesystem::path fixture(const std::string& name);

}  // namespace testing_support
