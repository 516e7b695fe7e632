// Losing the module's power at a chosen point of a run: at the Nth program
// or erase the flash starts (power.cut_at_op), at a virtual time
// (power.cut_at_time_us), or at a named operation (power.cut_at = "erase@0x40000").
// The chips ask at the start of every program and erase whether the power
// goes during it; the one it goes in is left part-done (module/hw/cut_bits.h),
// then the module writes what was cut (power-cut.json), takes the cut keys out
// of module.toml so the next run goes through, and the process ends the way
// a board without power stops: at once, mid-operation.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/device_events.h"
#include "module/hw/power_line.h"

namespace sim {

class Module;

// The exit status of a process whose module lost its power.
constexpr int kPowerCutExitStatus = 5;
constexpr const char* kCutRecordFile = "power-cut.json";
// The profile keys a cut fires once from.
constexpr const char* kCutKeys[] = {"power.cut_at_op", "power.cut_at_time_us", "power.cut_at"};

// "erase@0x40000" or "program@0x80000": the first erase (program) whose range
// holds the address (NOR: bus offset; NAND: byte offset in a chip's main area).
struct NamedOperation {
    bool erase = false;
    uint64_t address = 0;
};
bool parse_named_operation(const std::string& text, NamedOperation* out, std::string* error);

struct CutPlan {
    std::optional<uint64_t> at_op;
    std::optional<uint64_t> at_time_ns;
    std::optional<NamedOperation> at;
    uint64_t seed = 1;
    bool armed() const { return at_op || at_time_ns || at; }
};
bool cut_plan_from_profile(const Config& profile, CutPlan* plan, std::string* error);

// The operation a cut interrupted.
struct CutRecord {
    uint64_t operation = 0;  // its number in the run, from 1
    uint64_t time_ns = 0;    // the virtual time the power went
    bool erase = false;
    bool nand = false;
    uint64_t address = 0;     // NOR: bus offset where the range starts; NAND: byte offset in the chip's main area
    uint64_t length = 0;      // NOR: bytes of both chips; NAND: bytes of one chip's main area
    uint32_t page_bytes = 0;  // NAND: page size, to name pages and blocks
    std::vector<unsigned> chips;
    double done = 0;  // share of the busy time that had passed
    uint64_t seed = 0;

    // "block erase at 0x00040000 (256 KiB) cut 37% through (operation 12)"
    std::string text() const;
    std::string to_json() const;
};
// The record a cut left in dir into *record (nullopt when there is none);
// false with *error naming the file when it is there but no record (a
// folder, a link, a truncated or damaged file).
bool load_cut_record(const std::filesystem::path& dir, std::optional<CutRecord>* record, std::string* error);

class PowerCut final : public PowerLine {
public:
    PowerCut(Module& module, CutPlan plan) : module_(module), plan_(std::move(plan)) {}

    bool starts(Operation op, bool nand, uint64_t address, uint64_t length, uint32_t page_bytes, uint64_t now,
                uint64_t busy_ns, unsigned unit) override;
    bool tripped() const override { return tripped_; }
    double done() const override { return record_.done; }
    uint64_t seed_for(unsigned unit) const override {
        return plan_.seed * 0x9E3779B97F4A7C15ull + record_.operation * 31 + unit;
    }
    // Programs and erases the flash started in this run.
    uint64_t operations() const { return count_; }

    // Records the cut, disarms it in module.toml, tells the host
    // (observer().power_cut) and ends the process with kPowerCutExitStatus.
    [[noreturn]] void power_off() override;

private:
    bool decide(const NamedOperation* named, Operation op, uint64_t address, uint64_t length, uint64_t now,
                uint64_t busy_ns, double* done);

    Module& module_;
    CutPlan plan_;
    uint64_t count_ = 0;
    uint64_t last_now_ = 0, last_address_ = 0;
    Operation last_op_ = Operation::None;
    bool tripped_ = false;
    CutRecord record_;
};

}  // namespace sim
