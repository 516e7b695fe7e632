// A simulated module: a directory holding its profile (module.toml), its flash
// contents as raw files and its file-system root (root/). Opening it builds
// the device models on the physical bus from the profile. One module is open
// per process; the platform API acts on it.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/bus.h"
#include "module/hw/clock.h"
#include "module/hw/device_events.h"
#include "module/power_cut.h"

namespace sim {

class CpuModel;
class NorPair;

// A chip used against its datasheet during this run (the limits the chips keep in view).
struct DatasheetViolation {
    std::string rule;  // nop-main, nop-spare, marked-bad-block
    unsigned chip = 0;
    uint32_t address = 0;  // byte offset in the chip's main area
    std::string text;
};

class Module {
public:
    // Opens the module in dir; on failure returns null and says why.
    static Module* open(const std::filesystem::path& dir, std::string* error);
    static Module* current() { return current_; }
    // Flushes and closes the current module (flash files stay as written).
    static void close_current();

    // Writes a new module directory from a profile's keys; creates the flash
    // files in their erased (or factory) state and the file-system root.
    static bool create(const std::filesystem::path& dir, const Config& profile, std::string* error);

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path root_dir() const { return dir_ / "root"; }
    const Config& config() const { return config_; }
    VirtualClock& clock() { return clock_; }
    // Where every device model tells what it does; its counters say what the
    // flash chips did since the module was opened.
    EventSink& events() { return events_; }
    Bus& bus() { return bus_; }
    CpuModel& cpu() { return *cpu_; }
    // Where the flash chips ask whether the power goes during an operation.
    PowerCut& power() { return *power_; }
    // The NOR pair on PXA27x modules, null elsewhere.
    NorPair* nor() { return nor_; }

    // Device ownership: devices live as long as the module.
    template <class T>
    T* own(std::unique_ptr<T> device) {
        T* raw = device.get();
        devices_.push_back(std::move(device));
        return raw;
    }
    void set_nor(NorPair* nor) { nor_ = nor; }
    // A listener the module keeps and feeds until it closes.
    void keep_listening(std::unique_ptr<EventListener> listener, uint32_t kinds) {
        events_.listen(listener.get(), kinds);
        listeners_.push_back(std::move(listener));
    }

    // Appends a line to the module's event log (events.log), stamped with the
    // virtual time. The first line of a run is preceded by a header with the
    // wall-clock time the module was opened and what opened it.
    void log_event(const std::string& text);
    // The datasheet violations of this run, in order.
    void note_violation(DatasheetViolation v) { violations_.push_back(std::move(v)); }
    const std::vector<DatasheetViolation>& violations() const { return violations_; }
    // What the header names (default: the program's name).
    void set_run_title(std::string title) { run_title_ = std::move(title); }

    ~Module();

private:
    Module(std::filesystem::path dir, Config config);
    static void set_current(Module* module);
    static inline Module* current_ = nullptr;

    std::filesystem::path dir_;
    Config config_;
    VirtualClock clock_;
    EventSink events_;
    Bus bus_{clock_, events_};
    std::unique_ptr<CpuModel> cpu_;
    std::unique_ptr<PowerCut> power_;
    NorPair* nor_ = nullptr;
    std::string run_title_;
    int64_t opened_ms_ = 0;  // wall clock, milliseconds since 1970
    bool run_logged_ = false;
    std::vector<DatasheetViolation> violations_;
    // Declared after the sink and the listeners, so devices go first: a
    // device that settles on its way out still has its listeners.
    std::vector<std::unique_ptr<EventListener>> listeners_;
    std::vector<std::unique_ptr<Device>> devices_;
};

// events.log: a line "# run 2026-03-12T10:20:30.123Z updatetool /u os.bin"
// starts each run's lines, which are "t=MS.USms text" from the module's
// opening on. format_utc_ms writes such a time.
constexpr const char* kRunHeader = "# run ";
std::string format_utc_ms(int64_t ms_since_1970);

}  // namespace sim
