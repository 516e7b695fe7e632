#include "tools/modulectl/commands.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>

#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_layout.h"
#include "module/module.h"

std::string describe_flash(const sim::FlashView& view) {
    const sim::Config& c = view.profile();
    char text[256];
    if (!view.nand()) {
        std::snprintf(text, sizeof text, "NOR pair, device code 0x%04X, %u MiB (nor.bin)",
                      c.get_u32("nor.device_code", 0), static_cast<unsigned>(view.size() >> 20));
        return text;
    }
    const sim::NandPart& p = *view.nand_part();
    sim::NandDeviceLayout l = sim::nand_device_layout(p);
    const char* wiring = p.wiring == sim::NandWiring::Single       ? "one chip"
                         : p.wiring == sim::NandWiring::DoubledBus ? "two chips on a doubled bus"
                                                                   : "two chips on two chip selects";
    std::snprintf(text, sizeof text,
                  "NAND %s (ID 0x%04X), %s; chip: %u+%u-byte pages, %u pages a block, %u blocks; "
                  "%llu MiB, %llu MiB addressed after %u reserve blocks",
                  p.part, p.id, wiring, p.page_bytes, p.spare_bytes, p.pages_per_block, p.blocks,
                  static_cast<unsigned long long>(uint64_t{l.blocks} * l.block_bytes >> 20),
                  static_cast<unsigned long long>(view.size() >> 20), l.reserve_blocks);
    return text;
}

OrderedJson flash_json(const sim::FlashView& view) {
    const sim::Config& c = view.profile();
    if (!view.nand())
        return {{"kind", "nor"}, {"device_code", c.get_u32("nor.device_code", 0)}, {"bytes", view.size()}};
    const sim::NandPart& p = *view.nand_part();
    sim::NandDeviceLayout l = sim::nand_device_layout(p);
    const char* wiring = p.wiring == sim::NandWiring::Single       ? "single"
                         : p.wiring == sim::NandWiring::DoubledBus ? "doubled-bus"
                                                                   : "two-selects";
    return {{"kind", "nand"},
            {"id", p.id},
            {"part", p.part},
            {"wiring", wiring},
            {"chips", p.chip_count()},
            {"page_bytes", p.page_bytes},
            {"spare_bytes", p.spare_bytes},
            {"pages_per_block", p.pages_per_block},
            {"blocks_per_chip", p.blocks},
            {"device_bytes", uint64_t{l.blocks} * l.block_bytes},
            {"reserve_blocks", l.reserve_blocks},
            {"bytes", view.size()}};
}

namespace {

struct LoggedEvent {
    double offset_ms;
    std::string text;
};
struct LoggedRun {
    std::optional<int64_t> opened_ms;  // none for lines from before runs had headers
    std::string program;
    std::vector<LoggedEvent> events;
};

std::optional<int64_t> parse_utc_ms(const std::string& text) {
    std::tm t{};
    int ms = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec, &ms) != 7)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return int64_t{timegm(&t)} * 1000 + ms;
}

std::vector<LoggedRun> read_runs(std::istream& in) {
    std::vector<LoggedRun> runs;
    const std::string header = sim::kRunHeader;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(header, 0) == 0) {
            std::string rest = line.substr(header.size());
            size_t blank = rest.find(' ');
            runs.push_back(
                {parse_utc_ms(rest.substr(0, blank)), blank == std::string::npos ? "" : rest.substr(blank + 1), {}});
            continue;
        }
        double ms = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "t=%lfms %n", &ms, &used) < 1 || used == 0) continue;
        if (runs.empty()) runs.push_back({std::nullopt, "", {}});
        runs.back().events.push_back({ms, line.substr(static_cast<size_t>(used))});
    }
    return runs;
}

std::string absolute_time(int64_t ms, bool iso) {
    if (iso) return sim::format_utc_ms(ms);
    std::string text = sim::format_utc_ms(ms);
    text[10] = ' ';
    text.pop_back();  // the Z: the heading says UTC
    return text;
}

}  // namespace

bool print_events(const std::filesystem::path& dir, bool json, std::string* error) {
    std::string text;
    if (sim::read_folder_file(dir, "events.log", &text, error) == sim::FolderRead::Refused) return false;
    std::istringstream f(text);
    std::vector<LoggedRun> runs = read_runs(f);
    OrderedJson all = OrderedJson::array();
    for (size_t i = 0; i < runs.size(); ++i) {
        const LoggedRun& run = runs[i];
        auto at = [&](double offset_ms) {
            return run.opened_ms ? absolute_time(*run.opened_ms + static_cast<int64_t>(offset_ms), json) : "";
        };
        if (json) {
            OrderedJson events = OrderedJson::array();
            for (const LoggedEvent& e : run.events)
                events.push_back({{"time", run.opened_ms ? OrderedJson(at(e.offset_ms)) : OrderedJson(nullptr)},
                                  {"offset_ms", e.offset_ms},
                                  {"text", e.text}});
            all.push_back({{"run", i + 1},
                           {"opened", run.opened_ms ? OrderedJson(at(0)) : OrderedJson(nullptr)},
                           {"program", run.program},
                           {"events", events}});
            continue;
        }
        if (run.opened_ms)
            std::printf("run %zu: %s, module opened %s UTC\n", i + 1, run.program.c_str(), at(0).c_str());
        else
            std::printf("run %zu: from an older log, times from the module's opening\n", i + 1);
        for (const LoggedEvent& e : run.events) {
            if (run.opened_ms)
                std::printf("  %s  %s\n", at(e.offset_ms).c_str(), e.text.c_str());
            else
                std::printf("  +%.3f ms  %s\n", e.offset_ms, e.text.c_str());
        }
    }
    if (json) std::printf("%s\n", all.dump(2).c_str());
    return true;
}

std::string hex_dump(uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::string out;
    char text[16];
    for (size_t i = 0; i < bytes.size(); i += 16) {
        std::snprintf(text, sizeof text, "%08llx  ", static_cast<unsigned long long>(offset + i));
        std::string line = text, ascii;
        for (size_t k = 0; k < 16; ++k) {
            if (i + k < bytes.size()) {
                uint8_t b = bytes[i + k];
                std::snprintf(text, sizeof text, "%02x ", b);
                line += text;
                ascii += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
            } else {
                line += "   ";
            }
            if (k == 7) line += ' ';
        }
        out += line + " |" + ascii + "|\n";
    }
    return out;
}

bool report_page_problems(const char* command, const sim::FlashView& view) {
    const std::vector<sim::PageProblem>& problems = view.page_problems();
    unsigned uncorrectable = 0;
    for (const sim::PageProblem& p : problems) {
        std::fprintf(stderr, "modulectl %s: %s\n", command, p.text.c_str());
        uncorrectable += p.uncorrectable;
    }
    if (problems.empty()) return false;
    std::fprintf(stderr, "modulectl %s: %zu %s with ECC errors, %u of them uncorrectable\n", command, problems.size(),
                 problems.size() == 1 ? "page" : "pages", uncorrectable);
    return true;
}
