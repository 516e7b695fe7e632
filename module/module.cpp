#include "module/module.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "module/assembly/installers.h"
#include "module/hw/cpu.h"
#include "module/hw/folder_file.h"
#include "module/hw/wear/wear_file.h"
#include "module/module_folder.h"
#include "module/os/windows_table.h"

namespace sim {

void Module::set_current(Module* module) {
    current_ = module;
    // The register accessors keep the devices of the module they last used.
    forget_register_routes();
}

Module::Module(std::filesystem::path dir, Config config) : dir_(std::move(dir)), config_(std::move(config)) {
    clock_.set_start_ms(config_.get_u32("clock.start_ms", 0));
    bus_.set_cycle_ns(config_.get_u32("bus.cycle_ns", 100));
    cpu_ = std::make_unique<CpuModel>(config_.get_u32("cpu.product", 17), config_.get_u32("os.major", 5));
    opened_ms_ =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    run_title_ = program_invocation_short_name;
}

Module::~Module() = default;

Module* Module::open(const std::filesystem::path& dir, std::string* error) {
    close_current();
    if (!check_module_folder(dir, error)) return nullptr;
    Config config;
    if (!config.load((dir / "module.toml").string(), error)) return nullptr;
    CutPlan plan;
    if (!cut_plan_from_profile(config, &plan, error)) return nullptr;
    std::unique_ptr<Module> module(new Module(dir, std::move(config)));
    module->power_ = std::make_unique<PowerCut>(*module, std::move(plan));
    std::string kind = module->config_.get_string("flash.kind", "nor");
    bool ok;
    if (kind == "nor") {
        ok = install_nor(*module, error);
    } else if (kind == "nand") {
        ok = install_nand(*module, error);
    } else {
        if (error) *error = "module.toml: flash.kind must be \"nor\" or \"nand\", not \"" + kind + "\"";
        ok = false;
    }
    if (ok) ok = install_gpio(*module, error);
    if (!ok) return nullptr;
    set_current(module.release());
    return current_;
}

void Module::close_current() {
    delete current_;
    set_current(nullptr);
}

bool Module::create(const std::filesystem::path& dir, const Config& profile, std::string* error) {
    // A profile that would not open is refused before anything is written.
    if (!profile.check((dir / "module.toml").string(), error)) return false;
    // What a new module replaces is replaced in the folder, never through a link.
    if (!check_module_folder(dir, error)) return false;
    std::error_code ec;
    std::filesystem::create_directories(dir / "root" / "windows", ec);
    if (ec) {
        if (error) *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    if (!profile.save((dir / "module.toml").string(), error)) return false;
    // The running image's file system: its creation time comes from the profile.
    if (profile.has("fdf.created") &&
        !replace_folder_file(dir, "root/windows/default.fdf", "default file system description\r\n", error))
        return false;
    // New chips: nothing has worn yet.
    std::filesystem::remove(dir / WearFile::kFileName, ec);
    std::string kind = profile.get_string("flash.kind", "nor");
    if (kind == "nor") return create_nor_storage(dir, profile, error);
    if (kind == "nand") return create_nand_storage(dir, profile, error);
    if (error) *error = "flash.kind must be \"nor\" or \"nand\"";
    return false;
}

std::string format_utc_ms(int64_t ms) {
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

void Module::log_event(const std::string& text) {
    std::string lines;
    if (!run_logged_) {
        run_logged_ = true;
        lines = kRunHeader + format_utc_ms(opened_ms_) + " " + run_title_ + "\n";
    }
    uint64_t ns = clock_.now_ns();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "t=%llu.%03llums ", static_cast<unsigned long long>(ns / 1000000u),
                  static_cast<unsigned long long>(ns / 1000u % 1000u));
    lines += stamp + text + "\n";
    // The log is the module's own account: a line it cannot write is lost, never written elsewhere.
    append_folder_file(dir_, "events.log", lines, nullptr);
}

}  // namespace sim
