#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "shell/shell_state.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/test_module.h"
#include "update/update.h"

namespace fuzz_support {

namespace {
// Lives until exit: its destructor closes the module and removes the directory.
std::unique_ptr<testing_support::TestModule> module;
std::shared_ptr<sim::ui::ScriptedFrontEnd> user;
}  // namespace

sim::Module& OpenModuleOnce(const std::string& profile, const std::vector<std::string>& overrides) {
    if (!module) {
        // In memory where it can be: each input rewrites module files, and a
        // file replaced by rename is flushed to disk at once.
        std::error_code ec;
        if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) setenv("TMPDIR", "/dev/shm", 1);
        module = std::make_unique<testing_support::TestModule>(profile, overrides);
        // A reboot ends nothing here: the HAL's request returns.
        sim::observer().reboot = [](bool) {};
    }
    return module->module();
}

void StartInput() {
    ProgramInstance = nullptr;
    QuietMode = 0;
    ImagePath[0] = 0;
    MainWindow = nullptr;
    AbortRequested = 0;
    user = std::make_shared<sim::ui::ScriptedFrontEnd>();
    sim::ui::set_front_end(user);
}

std::vector<std::string> MessageBoxes() {
    std::vector<std::string> boxes;
    for (const sim::ui::UiEvent& e : user->events(sim::ui::UiEvent::Kind::message_box))
        boxes.push_back(sim::utf8(e.dialog) + ": " + sim::utf8(e.text));
    return boxes;
}

std::filesystem::path WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    std::filesystem::path path = module->dir() / name;
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
