#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "module/observer.h"
#include "module/os/power_loss.h"
#include "module/program_state.h"
#include "module/ui/ui_config.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/test_module.h"
#include "tools/common/memory_module.h"

namespace fuzz_support {

namespace {
// Live until exit: the module's destructor closes it and removes the directory.
std::unique_ptr<testing_support::TestModule> created;
std::unique_ptr<MemoryModule> memory;
std::shared_ptr<sim::ui::ScriptedFrontEnd> user;
bool first_input = true;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz support: %s\n", what.c_str());
    std::abort();
}

sim::Module& OpenWorkingCopy() {
    std::string error;
    sim::Module* opened = sim::Module::open(memory->folder(), &error);
    if (!opened) Fail("cannot open the module in memory: " + error);
    // A reboot ends nothing here: the HAL's request returns.
    sim::observer().reboot = [](bool) {};
    return *opened;
}

// Everything a power loss takes goes; the flash and the module's files come
// back as the module was created, so every input meets the same module.
void PowerCycle() {
    if (!sim::os::power_off_program()) Fail("the program's variables cannot be put back");
    std::string error;
    if (!memory->restore(&error)) Fail(error);
    OpenWorkingCopy();
}

}  // namespace

sim::Module& OpenModuleOnce(const std::string& profile, const std::vector<std::string>& overrides) {
    if (!created) {
        // The variables as loaded, before any of the program runs.
        if (!sim::keep_program_state()) Fail("the system's variables are not in sections of their own");
        // In memory where it can be: each input rewrites module files.
        std::error_code ec;
        if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) setenv("TMPDIR", "/dev/shm", 1);
        created = std::make_unique<testing_support::TestModule>(profile, overrides);
        sim::Module::close_current();
        memory = std::make_unique<MemoryModule>();
        std::string error;
        if (!memory->load(created->dir() / "module", created->dir() / "memory", {}, &error)) Fail(error);
        OpenWorkingCopy();
    }
    return *sim::Module::current();
}

sim::Module& StartInput() {
    if (!first_input) PowerCycle();
    first_input = false;
    user = std::make_shared<sim::ui::ScriptedFrontEnd>();
    sim::ui::set_front_end(user);
    return *sim::Module::current();
}

std::vector<std::string> MessageBoxes() {
    std::vector<std::string> boxes;
    for (const sim::ui::UiEvent& e : user->events(sim::ui::UiEvent::Kind::message_box))
        boxes.push_back(sim::utf8(e.dialog) + ": " + sim::utf8(e.text));
    return boxes;
}

std::filesystem::path WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    std::filesystem::path path = created->dir() / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz_support
