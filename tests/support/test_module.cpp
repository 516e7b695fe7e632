#include "tests/support/test_module.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "module/hw/gpio/gpio_blocks.h"
#include "module/hw/nand/nand_controller.h"
#include "module/profiles.h"

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "updatetool-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TestModule::TestModule(const std::string& profile, const std::vector<std::string>& overrides) {
    sim::Config config;
    if (!sim::builtin_profile(profile, &config)) throw std::runtime_error("unknown profile " + profile);
    for (const std::string& o : overrides) {
        std::string error;
        if (o.rfind('-', 0) == 0 ? !config.erase(o.substr(1)) : !config.set_from_assignment(o, &error))
            throw std::runtime_error(error.empty() ? "unknown key " + o : error);
    }
    std::string error;
    if (!sim::Module::create(dir_.path() / "module", config, &error)) throw std::runtime_error(error);
    reopen();
}

TestModule::~TestModule() { sim::Module::close_current(); }

void TestModule::reopen() {
    std::string error;
    module_ = sim::Module::open(dir_.path() / "module", &error);
    if (!module_) throw std::runtime_error("cannot open module: " + error);
}

std::vector<uint8_t> TestModule::read_file(const std::string& name) const {
    return read_binary(dir_.path() / "module" / name);
}

BusRecorder::BusRecorder(sim::Module& module) : events_(module.events()) {
    events_.listen(this, sim::event_bit(sim::EventKind::Read) | sim::event_bit(sim::EventKind::Write));
}
BusRecorder::~BusRecorder() { events_.forget(this); }

void BusRecorder::on_event(const sim::DeviceEvent& event) {
    accesses_.push_back({event.address, event.value, event.kind == sim::EventKind::Write});
}

std::vector<RecordedAccess> BusRecorder::writes() const {
    std::vector<RecordedAccess> out;
    for (const RecordedAccess& a : accesses_)
        if (a.write) out.push_back(a);
    return out;
}

EventRecorder::EventRecorder(sim::Module& module, uint32_t kinds) : sink_(module.events()) {
    sink_.listen(this, kinds);
}
EventRecorder::~EventRecorder() { sink_.forget(this); }

std::vector<sim::DeviceEvent> EventRecorder::of(sim::EventKind kind) const {
    std::vector<sim::DeviceEvent> out;
    for (const sim::DeviceEvent& e : events_)
        if (e.kind == kind) out.push_back(e);
    return out;
}

std::vector<std::string> EventRecorder::lines(sim::EventSource source, unsigned unit) const {
    std::vector<std::string> out;
    for (const sim::DeviceEvent& e : events_)
        if (e.source == source && e.unit == unit) out.push_back(sim::describe(e));
    return out;
}

sim::NandController* find_nand_controller(sim::Module& module) {
    uint32_t offset = 0;
    return dynamic_cast<sim::NandController*>(module.bus().decode(sim::kNandControllerBase, &offset));
}

sim::GpioPins* find_gpio_pins(sim::Module& module) {
    uint32_t offset = 0;
    auto* gpio = dynamic_cast<sim::GpioBlock*>(module.bus().decode(sim::kGpioBase, &offset));
    return gpio ? &gpio->pins() : nullptr;
}

void reset_flash_state() {
    FlashOps = FLASH_OPS{};
    FlashInitialised = FALSE;
    FlashBackend = kFlashBackendNone;
    FlashDeviceSize = 0;
    SetEraseProgressHook(nullptr, 0);
    NorWindow = nullptr;
    NorGeometryClass = 0;
}

std::vector<uint8_t> read_binary(const std::filesystem::path& path) {
    // In one read: byte by byte, a 64 MiB flash file takes seconds in the
    // sanitizer build.
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) bytes.resize(static_cast<size_t>(f.gcount()));
    return bytes;
}

void write_binary(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> peek_file(const std::filesystem::path& path, uint64_t offset, uint64_t length) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes(length);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    EXPECT_EQ(file.gcount(), static_cast<std::streamsize>(length))
        << path.filename().string() << " ends before " << offset + length;
    return bytes;
}

void poke_file(const std::filesystem::path& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    // A NAND chip file may not exist yet: the chip is erased.
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary).close();
    uint64_t size = std::filesystem::file_size(path);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(file.is_open()) << path;
    if (size < offset) {
        file.seekp(static_cast<std::streamoff>(size));
        std::vector<char> erased(offset - size, static_cast<char>(0xFF));
        file.write(erased.data(), static_cast<std::streamsize>(erased.size()));
    }
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

void fill_file(const std::filesystem::path& path, uint64_t offset, uint64_t length, uint8_t value) {
    poke_file(path, offset, std::vector<uint8_t>(length, value));
}

int run_command(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string binary(const std::string& tool) {
    std::string runner = UPDATETOOL_TOOL_RUNNER;
    return (runner.empty() ? "" : runner + " ") + std::string(UPDATETOOL_BINARY_DIR) + "/" + tool;
}

std::filesystem::path fixture(const std::string& name) {
    std::filesystem::path path = std::filesystem::path(UPDATETOOL_FIXTURES_DIR) / name;
    // A test of a missing image would pass on the program's own error box.
    if (!std::filesystem::is_regular_file(path)) ADD_FAILURE() << "missing fixture " << path;
    return path;
}

}  // namespace testing_support
