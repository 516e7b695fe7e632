#include "module/power_cut.h"

#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "module/hex_text.h"
#include "module/hw/cut_bits.h"
#include "module/hw/folder_file.h"
#include "module/module.h"
#include "module/observer.h"

namespace sim {

namespace {

std::string size_text(uint64_t bytes) {
    return bytes >= 1024 && bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KiB" : std::to_string(bytes) + " B";
}

}  // namespace

bool parse_named_operation(const std::string& text, NamedOperation* out, std::string* error) {
    size_t at = text.find('@');
    std::string op = text.substr(0, at);
    bool ok = at != std::string::npos && (op == "erase" || op == "program");
    uint64_t address = 0;
    if (ok) {
        std::string number = text.substr(at + 1);
        bool hex = number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
        size_t used = 0;
        try {
            address = std::stoull(number, &used, hex ? 16 : 10);
        } catch (...) {
            used = 0;
        }
        ok = !number.empty() && used == number.size() && number.find('-') == std::string::npos;
    }
    if (!ok) {
        if (error) *error = "power.cut_at must be erase@ADDRESS or program@ADDRESS, not '" + text + "'";
        return false;
    }
    *out = NamedOperation{op == "erase", address};
    return true;
}

bool cut_plan_from_profile(const Config& profile, CutPlan* plan, std::string* error) {
    *plan = CutPlan{};
    if (profile.has("power.cut_at_op")) plan->at_op = profile.get_u64("power.cut_at_op", 0);
    if (profile.has("power.cut_at_time_us")) plan->at_time_ns = profile.get_u64("power.cut_at_time_us", 0) * 1000;
    if (profile.has("power.cut_at")) {
        NamedOperation named;
        if (!parse_named_operation(profile.get_string("power.cut_at", ""), &named, error)) {
            if (error) *error = "module.toml: " + *error;
            return false;
        }
        plan->at = named;
    }
    plan->seed = profile.get_u64("power.seed", 1);
    return true;
}

std::string CutRecord::text() const {
    std::string what;
    if (nand) {
        uint64_t block_bytes = erase ? length : 0;
        std::string chip = "nand-" + std::to_string(chips.empty() ? 0 : chips[0]);
        if (erase)
            what = "block erase of " + chip + " block " + std::to_string(address / (block_bytes ? block_bytes : 1));
        else
            what = "page program of " + chip + " page " + std::to_string(address / (page_bytes ? page_bytes : 1));
        what += " (" + hex(address) + ")";
    } else {
        what = std::string(erase ? "block erase" : "program") + " at " + hex(address) + " (" + size_text(length) + ")";
    }
    int percent = static_cast<int>(done * 100 + 0.5);
    std::string how = done <= 0 ? "lost before it began" : "cut " + std::to_string(percent) + "% through";
    return what + " " + how + " (operation " + std::to_string(operation) + ")";
}

std::string CutRecord::to_json() const {
    nlohmann::ordered_json j = {
        {"operation", operation},
        {"time_us", static_cast<double>(time_ns) / 1000.0},
        {"kind", erase ? "erase" : "program"},
        {"flash", nand ? "nand" : "nor"},
        {"address", address},
        {"length", length},
        {"page_bytes", page_bytes},
        {"chips", chips},
        {"done", done},
        {"seed", seed},
        {"text", text()},
    };
    return j.dump(2) + "\n";
}

bool load_cut_record(const std::filesystem::path& dir, std::optional<CutRecord>* record, std::string* error) {
    record->reset();
    std::string text;
    switch (read_folder_file(dir, kCutRecordFile, &text, error)) {
        case FolderRead::Missing: return true;
        case FolderRead::Refused: return false;
        case FolderRead::Done: break;
    }
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("operation") || !j.contains("kind") ||
        !j.contains("address") || !j.contains("length")) {
        if (error) *error = (dir / kCutRecordFile).string() + " is no cut record (truncated or damaged)";
        return false;
    }
    CutRecord r;
    // A value of another type throws: such a file is damaged too.
    try {
        r.operation = j.value("operation", uint64_t{0});
        r.time_ns = static_cast<uint64_t>(j.value("time_us", 0.0) * 1000.0);
        r.erase = j.value("kind", "") == "erase";
        r.nand = j.value("flash", "") == "nand";
        r.address = j.value("address", uint64_t{0});
        r.length = j.value("length", uint64_t{0});
        r.page_bytes = j.value("page_bytes", 0u);
        r.chips = j.value("chips", std::vector<unsigned>{});
        r.done = j.value("done", 0.0);
        r.seed = j.value("seed", uint64_t{0});
    } catch (const nlohmann::json::exception&) {
        if (error) *error = (dir / kCutRecordFile).string() + " is no cut record (truncated or damaged)";
        return false;
    }
    *record = r;
    return true;
}

bool PowerCut::decide(const NamedOperation* named, Operation op, uint64_t address, uint64_t length, uint64_t now,
                      uint64_t busy_ns, double* done) {
    // A cut chosen by operation leaves it a seeded share done: 10% to 90%.
    uint64_t state = plan_.seed ^ (count_ * 0xD1B54A32D192ED03ull);
    double seeded = 0.1 + 0.8 * static_cast<double>(next_seeded(state) >> 11) / static_cast<double>(1ull << 53);
    if (plan_.at_op && count_ == *plan_.at_op) {
        *done = seeded;
        return true;
    }
    if (named && named->erase == (op == Operation::BlockErase) && named->address >= address &&
        named->address - address < length) {
        *done = seeded;
        return true;
    }
    if (plan_.at_time_ns) {
        uint64_t t = *plan_.at_time_ns;
        // The power went while the flash was idle: this operation never begins.
        if (now >= t) {
            *done = 0;
            return true;
        }
        if (busy_ns && t - now < busy_ns) {
            *done = static_cast<double>(t - now) / static_cast<double>(busy_ns);
            return true;
        }
    }
    return false;
}

bool PowerCut::starts(Operation op, bool nand, uint64_t address, uint64_t length, uint32_t page_bytes, uint64_t now,
                      uint64_t busy_ns, unsigned unit) {
    bool same = count_ && now == last_now_ && address == last_address_ && op == last_op_;
    if (same) {
        if (tripped_) record_.chips.push_back(unit);
        return tripped_;
    }
    if (tripped_) return false;
    last_now_ = now;
    last_address_ = address;
    last_op_ = op;
    // What an earlier cut left is history once the flash changes again.
    if (++count_ == 1) {
        std::error_code ec;
        std::filesystem::remove(module_.dir() / kCutRecordFile, ec);
    }
    if (!plan_.armed()) return false;
    double done = 0;
    if (!decide(plan_.at ? &*plan_.at : nullptr, op, address, length, now, busy_ns, &done)) return false;
    tripped_ = true;
    record_ = CutRecord{count_,
                        now + static_cast<uint64_t>(done * static_cast<double>(busy_ns)),
                        op == Operation::BlockErase,
                        nand,
                        address,
                        length,
                        page_bytes,
                        {unit},
                        done,
                        plan_.seed};
    return true;
}

void PowerCut::power_off() {
    const std::filesystem::path dir = module_.dir();
    module_.clock().advance_to_ns(record_.time_ns);
    std::string error;
    replace_folder_file(dir, kCutRecordFile, record_.to_json(), &error);
    module_.log_event("power cut: " + record_.text());
    // The cut fires once: the next run goes through.
    std::string path = (dir / "module.toml").string();
    Config profile;
    if (profile.load(path, &error)) {
        for (const char* key : kCutKeys) profile.erase(key);
        profile.save(path, &error);
    }
    if (observer().power_cut) observer().power_cut(record_.text());
    std::fprintf(stderr, "module: power cut: %s\n", record_.text().c_str());
    std::fflush(stderr);
    _exit(kPowerCutExitStatus);
}

}  // namespace sim
