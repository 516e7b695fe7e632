#include "tools/modulectl/map_command.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "module/flash_blocks.h"
#include "module/flash_view.h"
#include "tools/common/image_verify.h"
#include "tools/common/numbers.h"
#include "tools/modulectl/commands.h"
#include "tools/modulectl/sections_command.h"

namespace fs = std::filesystem;

namespace {

// Picture geometry in pixels: the section lanes span the flash linearly;
// the grid has one cell per erase block.
constexpr int kMargin = 16;
constexpr int kLabelWidth = 300;
constexpr int kLaneWidth = 700;
constexpr int kLaneHeight = 14;
constexpr int kLaneStep = 20;
constexpr int kCell = 10;
constexpr int kCellStep = 12;
constexpr int kColumns = 64;
constexpr int kRowLabelWidth = 72;
constexpr int kWidth = kMargin * 2 + kLabelWidth + kLaneWidth;

// clang-format off
// state        fill       NOR    NAND   legend text
const struct StateStyle {
    const char* state;
    const char* fill;
    bool nor;
    bool nand;
    const char* legend;
} kStates[] = {
    {"erased",     "#e6e6e6", true,  true,  "erased (all 0xFF)"},
    {"programmed", "#3b7dd8", true,  true,  "programmed"},
    {"locked",     "#c0392b", true,  false, "locked (J3 lock bit)"},
    {"bad",        "#222222", false, true,  "bad (listed or factory marker)"},
    {"relocated",  "#f39c12", false, true,  "relocated: holds a moved logical block"},
    {"reserve",    "#b39ddb", false, true,  "reserve pool, unused"},
};
// section        fill
const std::pair<const char*, const char*> kSectionFills[] = {
    {"Bootloader",  "#8e44ad"},
    {"ConfigBlock", "#16a085"},
    {"IMAGE",       "#2980b9"},
    {"Registry",    "#d35400"},
    {"FileSystem",  "#7f8c8d"},
};
// clang-format on

std::string xml_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Each block's state, the strongest first: NOR locked, programmed, erased;
// NAND bad, relocated, reserve, programmed, erased.
std::vector<const char*> block_states(const fs::path& dir, const sim::Config& profile, const sim::FlashBlocks& blocks,
                                      const sim::NandBlockMap& map) {
    std::vector<const char*> states(blocks.count(), "erased");
    std::set<uint32_t> bad, relocated;
    if (blocks.nand()) {
        for (const sim::NandBadBlock& b :
             sim::find_bad_blocks(dir, *blocks.nand_part(), profile.get_u32_list("nand.bad_blocks")))
            bad.insert(b.device_block);
        for (size_t i = 0; i < map.physical.size(); ++i)
            if (map.physical[i] != i) relocated.insert(map.physical[i]);
    }
    for (uint32_t i = 0; i < blocks.count(); ++i) {
        if (blocks.nand()) {
            const sim::NandDeviceLayout& l = blocks.nand_layout();
            if (bad.count(i)) {
                states[i] = "bad";
                continue;
            }
            if (relocated.count(i)) {
                states[i] = "relocated";
                continue;
            }
            if (i >= l.blocks - l.reserve_blocks) {
                states[i] = "reserve";
                continue;
            }
            if (blocks.past_files(dir, i)) continue;
        } else if (blocks.locked(dir, i)) {
            states[i] = "locked";
            continue;
        }
        std::vector<uint8_t> bytes = blocks.read_block(dir, i);
        if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0xFF; })) states[i] = "programmed";
    }
    return states;
}

// The device blocks that hold flash offsets of the ranges.
std::set<uint32_t> blocks_holding(const sim::FlashBlocks& blocks, const sim::NandBlockMap& map,
                                  const std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t flash_size) {
    std::set<uint32_t> held;
    for (auto [start, end] : ranges) {
        end = std::min(end, flash_size);
        if (start >= end) continue;
        if (!blocks.nand()) {
            for (uint32_t b = blocks.block_at(start); b <= blocks.block_at(end - 1); ++b) held.insert(b);
            continue;
        }
        sim::for_each_logical_run(*blocks.nand_part(), map, start, end - start, [&](int64_t device, uint64_t run) {
            if (device < 0) return;
            for (uint32_t b = blocks.block_at(uint64_t(device)); b <= blocks.block_at(uint64_t(device) + run - 1); ++b)
                held.insert(b);
        });
    }
    return held;
}

}  // namespace

bool draw_flash_map(const std::string& dir, const std::string& svg_path, const std::string& image, std::ostream& out,
                    std::string* error) {
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(dir, error);
    sim::FlashBlocks blocks;
    if (!view || !blocks.load(view->profile(), error)) return false;
    // The blocks are drawn without sections when the flash does not answer.
    std::vector<DetectedSection> sections;
    std::string why;
    if (!detect_sections(dir, &sections, &why)) out << "no section map: " << why << "\n";
    const uint64_t flash_size = view->size();
    sim::NandBlockMap map;
    if (blocks.nand()) map = sim::load_block_map(dir, *blocks.nand_part());

    // The image's range: its records where an update puts them, else the
    // image the section map finds in flash.
    std::vector<std::pair<uint64_t, uint64_t>> image_ranges;
    std::string image_caption;
    if (!image.empty()) {
        if (!image_flash_ranges(dir, image, &image_ranges, error)) return false;
        image_caption = fs::path(image).filename().string();
    } else {
        for (const DetectedSection& s : sections)
            if (s.name == "IMAGE" && s.used) image_ranges.emplace_back(s.start, uint64_t{s.start} + s.used);
        image_caption = image_ranges.empty() ? "no image found in flash (give --image IMAGE.bin)" : "image in flash";
    }

    std::vector<const char*> states = block_states(dir, view->profile(), blocks, map);
    std::set<uint32_t> in_image = blocks_holding(blocks, map, image_ranges, flash_size);
    std::map<std::string, uint32_t> counts;
    for (const char* s : states) ++counts[s];

    std::ostringstream svg;
    auto lane_x = [&](uint64_t offset) {
        return kMargin + kLabelWidth + static_cast<double>(std::min(offset, flash_size)) * kLaneWidth / flash_size;
    };
    int y = kMargin + 16;
    std::ostringstream body;
    body << "<text class=\"title\" x=\"" << kMargin << "\" y=\"" << y << "\">Flash map of "
         << xml_escape(fs::path(dir).filename().string()) << "</text>\n";
    y += 18;
    body << "<text x=\"" << kMargin << "\" y=\"" << y << "\">" << xml_escape(describe_flash(*view)) << "</text>\n";
    y += 26;
    body << "<text class=\"heading\" x=\"" << kMargin << "\" y=\"" << y
         << "\">Sections (flash offsets as the system addresses them, 0 to " << cli::hex_range(0, flash_size)
         << ")</text>\n";
    y += 10;

    // One lane per section, then the image's lane; the image's range is laid over all of them.
    const int lanes_top = y;
    for (const DetectedSection& s : sections) {
        const char* fill = "#999999";
        for (const auto& [name, colour] : kSectionFills)
            if (s.name == name) fill = colour;
        body << "<text x=\"" << kMargin << "\" y=\"" << y + 11 << "\">" << xml_escape(s.name) << " "
             << (s.length ? cli::hex_range(s.start, uint64_t{s.start} + s.length) : std::string("(not found)"))
             << (s.length && s.start >= flash_size ? " (beyond the flash)" : "") << "</text>\n";
        body << "<rect class=\"lane\" x=\"" << lane_x(0) << "\" y=\"" << y << "\" width=\"" << kLaneWidth
             << "\" height=\"" << kLaneHeight << "\"/>\n";
        if (s.length) {
            double x = lane_x(s.start), w = std::max(2.0, lane_x(uint64_t{s.start} + s.length) - x);
            body << "<rect class=\"section\" data-section=\"" << xml_escape(s.name) << "\" x=\"" << x << "\" y=\"" << y
                 << "\" width=\"" << w << "\" height=\"" << kLaneHeight << "\" fill=\"" << fill << "\"><title>"
                 << xml_escape(s.name) << ": " << cli::hex_range(s.start, uint64_t{s.start} + s.length) << ", used 0x"
                 << std::hex << s.used << std::dec << " bytes</title></rect>\n";
        }
        y += kLaneStep;
    }
    body << "<text x=\"" << kMargin << "\" y=\"" << y + 11 << "\">" << xml_escape(image_caption) << "</text>\n";
    body << "<rect class=\"lane\" x=\"" << lane_x(0) << "\" y=\"" << y << "\" width=\"" << kLaneWidth << "\" height=\""
         << kLaneHeight << "\"/>\n";
    for (const auto& [start, end] : image_ranges) {
        double x = lane_x(start), w = std::max(2.0, lane_x(end) - x);
        body << "<rect class=\"image-range\" x=\"" << x << "\" y=\"" << lanes_top - 2 << "\" width=\"" << w
             << "\" height=\"" << y + kLaneHeight + 2 - (lanes_top - 2) << "\"><title>image "
             << cli::hex_range(start, end) << "</title></rect>\n";
    }
    y += kLaneStep + 16;

    // The legend: each state with its count, and the image's outline.
    body << "<text class=\"heading\" x=\"" << kMargin << "\" y=\"" << y << "\">Erase blocks: " << blocks.count()
         << (blocks.nand() ? " device blocks in device order (physical, not through the block map)" : " in flash order")
         << "</text>\n";
    y += 8;
    auto legend = [&](const std::string& classes, const std::string& text) {
        body << "<rect class=\"legend " << classes << "\" x=\"" << kMargin << "\" y=\"" << y << "\" width=\"" << kCell
             << "\" height=\"" << kCell << "\"/>\n";
        body << "<text x=\"" << kMargin + kCell + 6 << "\" y=\"" << y + 9 << "\">" << xml_escape(text) << "</text>\n";
        y += 14;
    };
    for (const StateStyle& s : kStates) {
        if (!(blocks.nand() ? s.nand : s.nor)) continue;
        auto it = counts.find(s.state);
        legend(s.state, std::string(s.legend) + ": " + std::to_string(it == counts.end() ? 0 : it->second));
    }
    legend("in-image", "outlined: holds bytes of the image's range: " + std::to_string(in_image.size()));
    y += 8;

    // The grid: one cell per block, kColumns to a row, the row's first block at its left.
    const int grid_top = y;
    for (uint32_t i = 0; i < blocks.count(); ++i) {
        int row = static_cast<int>(i / kColumns), column = static_cast<int>(i % kColumns);
        int x = kMargin + kRowLabelWidth + column * kCellStep, cell_y = grid_top + row * kCellStep;
        if (column == 0)
            body << "<text class=\"row\" x=\"" << kMargin << "\" y=\"" << cell_y + 9 << "\">block " << i << "</text>\n";
        sim::ByteRange r = blocks.range(i);
        body << "<rect class=\"block " << states[i] << "\" x=\"" << x << "\" y=\"" << cell_y << "\" width=\"" << kCell
             << "\" height=\"" << kCell << "\"><title>block " << i << ": " << states[i] << ", device "
             << cli::hex_range(r.start, r.end) << "</title></rect>\n";
        if (in_image.count(i))
            body << "<rect class=\"in-image\" x=\"" << x << "\" y=\"" << cell_y << "\" width=\"" << kCell
                 << "\" height=\"" << kCell << "\"/>\n";
    }
    int rows = static_cast<int>((blocks.count() + kColumns - 1) / kColumns);
    int height = grid_top + rows * kCellStep + kMargin;

    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << kWidth << " " << height << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<style>\n"
        << ".title { font-size: 16px; font-weight: bold; } .heading { font-weight: bold; } .row { font-size: 9px; }\n"
        << ".lane { fill: #f4f4f4; stroke: #bbbbbb; }\n"
        << ".image-range { fill: #f1c40f; fill-opacity: 0.3; stroke: #b7950b; stroke-dasharray: 4 2; }\n"
        << ".in-image { fill: none; stroke: #000000; stroke-width: 1.5; }\n";
    for (const StateStyle& s : kStates) svg << "." << s.state << " { fill: " << s.fill << "; }\n";
    svg << "</style>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << height << "\" fill=\"#ffffff\"/>\n"
        << body.str() << "</svg>\n";

    std::ofstream f(svg_path, std::ios::trunc);
    f << svg.str();
    if (!f.flush()) {
        *error = "cannot write " + svg_path;
        return false;
    }
    out << "wrote " << svg_path << ": " << blocks.count() << " blocks";
    for (const StateStyle& s : kStates)
        if (counts.count(s.state)) out << ", " << counts[s.state] << " " << s.state;
    out << "; " << in_image.size() << " holding the image\n";
    return true;
}
