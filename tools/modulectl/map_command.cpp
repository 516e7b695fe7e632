#include "tools/modulectl/map_command.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "module/flash_blocks.h"
#include "module/flash_view.h"
#include "module/hex_text.h"
#include "tools/common/image_verify.h"
#include "tools/common/numbers.h"
#include "tools/common/output_file.h"
#include "tools/common/xml_text.h"
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

namespace {

// What the picture shows: the flash, its sections and blocks, the image's range.
struct MapContents {
    std::unique_ptr<sim::FlashView> view;
    sim::FlashBlocks blocks;
    std::vector<DetectedSection> sections;
    sim::NandBlockMap map;
    std::vector<std::pair<uint64_t, uint64_t>> image_ranges;
    std::string image_caption;
    std::vector<const char*> states;
    std::set<uint32_t> in_image;
    std::map<std::string, uint32_t> counts;
    uint64_t flash_size = 0;
};

// The image's range: its records where an update puts them, else the image
// the section map finds in flash.
bool find_image_ranges(const std::string& dir, const std::string& image, MapContents* m, std::string* error) {
    if (!image.empty()) {
        if (!image_flash_ranges(dir, image, &m->image_ranges, error)) return false;
        m->image_caption = fs::path(image).filename().string();
        return true;
    }
    for (const DetectedSection& s : m->sections)
        if (s.name == "IMAGE" && s.used) m->image_ranges.emplace_back(s.start, uint64_t{s.start} + s.used);
    m->image_caption = m->image_ranges.empty() ? "no image found in flash (give --image IMAGE.bin)" : "image in flash";
    return true;
}

bool read_contents(const std::string& dir, const std::string& image, MapContents* m, std::ostream& out,
                   std::string* error) {
    m->view = sim::FlashView::open(dir, error);
    if (!m->view || !m->blocks.load(m->view->profile(), error)) return false;
    // The blocks are drawn without sections when the flash does not answer.
    std::string why;
    if (!detect_sections(dir, &m->sections, &why)) out << "no section map: " << why << "\n";
    m->flash_size = m->view->size();
    if (m->blocks.nand()) m->map = sim::load_block_map(dir, *m->blocks.nand_part());
    if (!find_image_ranges(dir, image, m, error)) return false;
    m->states = block_states(dir, m->view->profile(), m->blocks, m->map);
    m->in_image = blocks_holding(m->blocks, m->map, m->image_ranges, m->flash_size);
    for (const char* s : m->states) ++m->counts[s];
    return true;
}

// The picture's body as it grows down the page.
struct Drawing {
    std::ostringstream body;
    int y = kMargin + 16;
};

double lane_x(const MapContents& m, uint64_t offset) {
    return kMargin + kLabelWidth + static_cast<double>(std::min(offset, m.flash_size)) * kLaneWidth / m.flash_size;
}

void draw_title(const std::string& dir, const MapContents& m, Drawing& d) {
    d.body << "<text class=\"title\" x=\"" << kMargin << "\" y=\"" << d.y << "\">Flash map of "
           << xml_escaped(fs::path(dir).filename().string()) << "</text>\n";
    d.y += 18;
    d.body << "<text x=\"" << kMargin << "\" y=\"" << d.y << "\">" << xml_escaped(describe_flash(*m.view))
           << "</text>\n";
    d.y += 26;
    d.body << "<text class=\"heading\" x=\"" << kMargin << "\" y=\"" << d.y
           << "\">Sections (flash offsets as the system addresses them, " << cli::hex_range(0, m.flash_size)
           << ")</text>\n";
    d.y += 10;
}

void draw_lane(const MapContents& m, Drawing& d, const std::string& label) {
    d.body << "<text x=\"" << kMargin << "\" y=\"" << d.y + 11 << "\">" << xml_escaped(label) << "</text>\n";
    d.body << "<rect class=\"lane\" x=\"" << lane_x(m, 0) << "\" y=\"" << d.y << "\" width=\"" << kLaneWidth
           << "\" height=\"" << kLaneHeight << "\"/>\n";
}

void draw_section(const MapContents& m, Drawing& d, const DetectedSection& s) {
    const char* fill = "#999999";
    for (const auto& [name, colour] : kSectionFills)
        if (s.name == name) fill = colour;
    uint64_t end = uint64_t{s.start} + s.length;
    draw_lane(m, d,
              s.name + " " + (s.length ? cli::hex_range(s.start, end) : std::string("(not found)")) +
                  (s.length && s.start >= m.flash_size ? " (beyond the flash)" : ""));
    if (s.length) {
        double x = lane_x(m, s.start), w = std::max(2.0, lane_x(m, end) - x);
        d.body << "<rect class=\"section\" data-section=\"" << xml_escaped(s.name) << "\" x=\"" << x << "\" y=\"" << d.y
               << "\" width=\"" << w << "\" height=\"" << kLaneHeight << "\" fill=\"" << fill << "\"><title>"
               << xml_escaped(s.name) << ": " << cli::hex_range(s.start, end) << ", used " << sim::hex(s.used, 0)
               << " bytes</title></rect>\n";
    }
    d.y += kLaneStep;
}

// One lane per section, then the image's lane; the image's range is laid over all of them.
void draw_lanes(const MapContents& m, Drawing& d) {
    const int lanes_top = d.y;
    for (const DetectedSection& s : m.sections) draw_section(m, d, s);
    draw_lane(m, d, m.image_caption);
    for (const auto& [start, end] : m.image_ranges) {
        double x = lane_x(m, start), w = std::max(2.0, lane_x(m, end) - x);
        d.body << "<rect class=\"image-range\" x=\"" << x << "\" y=\"" << lanes_top - 2 << "\" width=\"" << w
               << "\" height=\"" << d.y + kLaneHeight + 2 - (lanes_top - 2) << "\"><title>image "
               << cli::hex_range(start, end) << "</title></rect>\n";
    }
    d.y += kLaneStep + 16;
}

// The legend: each state with its count, and the image's outline.
void draw_legend(const MapContents& m, Drawing& d) {
    d.body << "<text class=\"heading\" x=\"" << kMargin << "\" y=\"" << d.y << "\">Erase blocks: " << m.blocks.count()
           << (m.blocks.nand() ? " device blocks in device order (physical, not through the block map)"
                               : " in flash order")
           << "</text>\n";
    d.y += 8;
    auto legend = [&d](const std::string& classes, const std::string& text) {
        d.body << "<rect class=\"legend " << classes << "\" x=\"" << kMargin << "\" y=\"" << d.y << "\" width=\""
               << kCell << "\" height=\"" << kCell << "\"/>\n";
        d.body << "<text x=\"" << kMargin + kCell + 6 << "\" y=\"" << d.y + 9 << "\">" << xml_escaped(text)
               << "</text>\n";
        d.y += 14;
    };
    for (const StateStyle& s : kStates) {
        if (!(m.blocks.nand() ? s.nand : s.nor)) continue;
        auto it = m.counts.find(s.state);
        legend(s.state, std::string(s.legend) + ": " + std::to_string(it == m.counts.end() ? 0 : it->second));
    }
    legend("in-image", "outlined: holds bytes of the image's range: " + std::to_string(m.in_image.size()));
    d.y += 8;
}

// The grid: one cell per block, kColumns to a row, the row's first block at its left.
void draw_grid(const MapContents& m, Drawing& d) {
    for (uint32_t i = 0; i < m.blocks.count(); ++i) {
        int row = static_cast<int>(i / kColumns), column = static_cast<int>(i % kColumns);
        int x = kMargin + kRowLabelWidth + column * kCellStep, cell_y = d.y + row * kCellStep;
        if (column == 0)
            d.body << "<text class=\"row\" x=\"" << kMargin << "\" y=\"" << cell_y + 9 << "\">block " << i
                   << "</text>\n";
        sim::ByteRange r = m.blocks.range(i);
        d.body << "<rect class=\"block " << m.states[i] << "\" x=\"" << x << "\" y=\"" << cell_y << "\" width=\""
               << kCell << "\" height=\"" << kCell << "\"><title>block " << i << ": " << m.states[i] << ", device "
               << cli::hex_range(r.start, r.end) << "</title></rect>\n";
        if (m.in_image.count(i))
            d.body << "<rect class=\"in-image\" x=\"" << x << "\" y=\"" << cell_y << "\" width=\"" << kCell
                   << "\" height=\"" << kCell << "\"/>\n";
    }
    d.y += static_cast<int>((m.blocks.count() + kColumns - 1) / kColumns) * kCellStep + kMargin;
}

std::string svg_document(const Drawing& d) {
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << d.y
        << "\" viewBox=\"0 0 " << kWidth << " " << d.y << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<style>\n"
        << ".title { font-size: 16px; font-weight: bold; } .heading { font-weight: bold; } .row { font-size: 9px; }\n"
        << ".lane { fill: #f4f4f4; stroke: #bbbbbb; }\n"
        << ".image-range { fill: #f1c40f; fill-opacity: 0.3; stroke: #b7950b; stroke-dasharray: 4 2; }\n"
        << ".in-image { fill: none; stroke: #000000; stroke-width: 1.5; }\n";
    for (const StateStyle& s : kStates) svg << "." << s.state << " { fill: " << s.fill << "; }\n";
    svg << "</style>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << d.y << "\" fill=\"#ffffff\"/>\n"
        << d.body.str() << "</svg>\n";
    return svg.str();
}

}  // namespace

bool draw_flash_map(const std::string& dir, const std::string& svg_path, const std::string& image, std::ostream& out,
                    std::string* error) {
    MapContents m;
    if (!read_contents(dir, image, &m, out, error)) return false;
    Drawing d;
    draw_title(dir, m, d);
    draw_lanes(m, d);
    draw_legend(m, d);
    draw_grid(m, d);
    if (!write_output_file(svg_path, svg_document(d), error)) return false;
    out << "wrote " << svg_path << ": " << m.blocks.count() << " blocks";
    for (const StateStyle& s : kStates)
        if (m.counts.count(s.state)) out << ", " << m.counts.at(s.state) << " " << s.state;
    out << "; " << m.in_image.size() << " holding the image\n";
    return true;
}
