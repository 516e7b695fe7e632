#include "tools/updatetool/plan.h"

#include <cstdio>
#include <fstream>

#include "module/flash_view.h"
#include "module/ui/line_progress.h"
#include "tools/common/image_verify.h"
#include "tools/common/numbers.h"
#include "update/kept_flash.h"
#include "update/section_map.h"

namespace {

std::vector<std::string> sections_at(uint64_t start, uint64_t end) {
    std::vector<std::string> names;
    for (int i = 0; i < kSectionCount; ++i) {
        const FlashSection& s = SectionMap[i];
        if (s.length == 0 || end <= s.start || start >= uint64_t{s.start} + s.length) continue;
        std::u16string wide(reinterpret_cast<const char16_t*>(s.name));
        names.emplace_back(wide.begin(), wide.end());
    }
    return names;
}

std::string joined(const std::vector<std::string>& words, const char* none) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
    return text.empty() ? none : text;
}

}  // namespace

UpdatePlan make_plan(const sim::FlashPlanRecorder& recorder, const std::filesystem::path& module_dir) {
    UpdatePlan plan;
    const sim::FlashBlocks& blocks = recorder.blocks();
    std::vector<sim::LogicalPiece> pieces;
    if (blocks.nand())
        pieces = sim::logical_pieces(*blocks.nand_part(), sim::load_block_map(module_dir, *blocks.nand_part()));
    for (const sim::FlashStep& step : recorder.steps()) {
        PlanStep s{step.kind == sim::FlashStep::Kind::Erase ? "erase" : "program",
                   step.first_block,
                   step.last_block,
                   step.device.start,
                   step.device.end,
                   {},
                   ""};
        if (blocks.nand()) {
            const sim::NandDeviceLayout& l = blocks.nand_layout();
            if (step.device.start >= l.table_offset && step.device.end <= l.table_offset + l.table_bytes)
                s.place = "relocation table page";
        }
        std::vector<sim::ByteRange> flash =
            blocks.nand() ? sim::logical_ranges(pieces, step.device) : std::vector<sim::ByteRange>{step.device};
        for (const sim::ByteRange& r : flash) s.flash.push_back({r.start, r.end, sections_at(r.start, r.end)});
        plan.steps.push_back(std::move(s));
    }
    // The program's own record of what it kept in its last update.
    for (DWORD i = 0; i < KeptFlash.count; ++i) {
        const KEPT_RANGE& k = KeptFlash.ranges[i];
        uint64_t end = uint64_t{k.start} + k.length;
        plan.kept.push_back({k.start, end, sections_at(k.start, end)});
    }
    return plan;
}

std::vector<std::string> plan_lines(const RunReport& r) {
    std::vector<std::string> lines;
    if (r.plan) {
        for (const PlanStep& step : r.plan->steps) {
            std::string blocks = step.first_block == step.last_block ? "block " + std::to_string(step.first_block)
                                                                     : "blocks " + std::to_string(step.first_block) +
                                                                           "-" + std::to_string(step.last_block);
            std::string what =
                step.operation == "erase"
                    ? "erase    " + blocks
                    : "program  " + sim::ui::byte_count(step.device_end - step.device_start) + " in " + blocks;
            if (step.flash.empty())
                lines.push_back(what + ": " + (step.place.empty() ? "no flash offset lies there" : step.place) +
                                " (device " + cli::hex_range(step.device_start, step.device_end) + ")");
            for (const PlanRange& f : step.flash)
                lines.push_back(what + ": flash " + cli::hex_range(f.start, f.end) + " (" +
                                joined(f.sections, "no section") + ")");
        }
        if (r.plan->steps.empty()) lines.push_back("nothing erased or programmed");
        for (const PlanRange& k : r.plan->kept)
            lines.push_back("keep     flash " + cli::hex_range(k.start, k.end) + " (" +
                            joined(k.sections, "no section") +
                            "): outside the image: read before the erase, written back to the blocks it erased");
        if (r.plan->boot_area_written_back)
            lines.push_back("boot area: staged in RAM, written back after every record (" +
                            sim::ui::byte_count(r.plan->boot_area_written_back) + "), read back (" +
                            sim::ui::byte_count(r.plan->boot_area_read_back) + ")");
    }
    if (r.failure) lines.push_back("failed operation: " + r.failure->text);
    for (const auto& [logical, physical] : r.relocated)
        lines.push_back("relocated: logical block " + std::to_string(logical) + " now lies in physical block " +
                        std::to_string(physical));
    char time[64];
    std::snprintf(time, sizeof time, "%.3f s", static_cast<double>(r.virtual_time_ns) / 1e9);
    lines.push_back("outcome: " + r.outcome() + "; " + time + " on the board (virtual time)");
    return lines;
}

std::string image_beyond_flash(const std::filesystem::path& module_dir, const std::string& image) {
    std::ifstream f(image, std::ios::binary);
    uint8_t header[15];
    if (!f.read(reinterpret_cast<char*>(header), sizeof header) || std::string(header, header + 7) != "B000FF\n")
        return "";
    auto word = [&](int at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 | uint32_t{header[at + 3]} << 24;
    };
    std::string error;
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(module_dir, &error);
    if (!view) return "";
    // Translated as the program translates it; the sum may pass 2^32.
    uint32_t start = word(7) + image_address_bias(word(7), board_image_place(module_dir, view->profile()));
    uint64_t end = uint64_t{start} + word(11);
    if (end <= view->size()) return "";
    auto hex = [](uint64_t value) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
        return std::string(text);
    };
    if (end == start) return "the image's start " + hex(start) + " lies past the flash's end " + hex(view->size());
    return "the image's range " + cli::hex_range(start, end) + " ends past the flash's end " + hex(view->size());
}
