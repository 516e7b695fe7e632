#include "tools/modulectl/wear_command.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "module/assembly/nand_profile.h"
#include "module/assembly/nor_profile.h"
#include "module/assembly/wear_profile.h"
#include "module/config.h"
#include "module/hex_text.h"

namespace {

struct BlockWear {
    unsigned chip;
    uint32_t block;
    uint64_t offset;
    uint32_t erases;
    bool worn;
};

// The flash's chips and blocks, and where each block starts.
struct Layout {
    sim::WearGeometry geometry;
    std::vector<uint64_t> block_offsets;  // the same on every chip
};

bool flash_layout(const sim::Config& profile, const std::string& kind, Layout* layout, std::string* error) {
    if (kind == "nor") {
        sim::NorPairConfig pair;
        if (!sim::nor_config_from_profile(profile, &pair, error)) return false;
        const sim::NorChipConfig& c = pair.chips[0];
        layout->geometry = {2, c.block_count(), 0};
        // A chip block is half of the device block at twice its chip offset.
        uint64_t offset = 0;
        for (uint32_t b = 0; b < c.block_count(); ++b) {
            layout->block_offsets.push_back(offset);
            offset += 2ull * (b < c.parameter_blocks ? c.parameter_block_bytes : c.main_block_bytes);
        }
        return true;
    }
    sim::NandBoardConfig board;
    if (!sim::nand_config_from_profile(profile, &board, error)) return false;
    const sim::NandPart& p = *board.part;
    layout->geometry = {static_cast<uint32_t>(board.chips.size()), p.blocks, p.pages()};
    for (uint32_t b = 0; b < p.blocks; ++b)
        layout->block_offsets.push_back(uint64_t{b} * p.pages_per_block * p.page_bytes);
    return true;
}

}  // namespace

bool print_wear(const std::filesystem::path& dir, bool json, bool all, std::ostream& out, std::string* error) {
    sim::Config profile;
    if (!profile.load((dir / "module.toml").string(), error)) return false;
    std::string kind = profile.get_string("flash.kind", "nor");
    Layout layout;
    std::vector<sim::WearSettings> settings;
    sim::WearFile file;
    if (!flash_layout(profile, kind, &layout, error) ||
        !sim::wear_settings_from_profile(profile, kind, layout.geometry, &settings, error) ||
        !file.open(dir, layout.geometry, error))
        return false;
    const uint32_t limit = settings[0].erase_limit;

    std::vector<BlockWear> shown;
    uint64_t total = 0;
    uint32_t most = 0, erased = 0, worn = 0;
    const sim::WearGeometry& g = layout.geometry;
    for (unsigned chip = 0; chip < g.chips; ++chip) {
        for (uint32_t block = 0; block < g.blocks; ++block) {
            BlockWear b{chip, block, layout.block_offsets[block], file.erases(chip, block), false};
            b.worn = limit != 0 && b.erases >= limit;
            total += b.erases;
            most = std::max(most, b.erases);
            erased += b.erases != 0;
            worn += b.worn;
            if (all || b.erases) shown.push_back(b);
        }
    }
    uint32_t blocks = g.chips * g.blocks;
    double mean = static_cast<double>(total) / blocks;

    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const BlockWear& b : shown)
            list.push_back({{"chip", b.chip},
                            {"block", b.block},
                            {"offset", b.offset},
                            {"erases", b.erases},
                            {"state", b.worn ? "worn" : "ok"}});
        nlohmann::ordered_json j = {{"kind", kind},         {"chips", g.chips}, {"blocks_per_chip", g.blocks},
                                    {"erase_limit", limit}, {"blocks", list},   {"erased", erased},
                                    {"max", most},          {"mean", mean},     {"worn", worn}};
        out << j.dump(2) << "\n";
        return true;
    }
    char line[160];
    out << "chip  block  offset      erases  state\n";
    for (const BlockWear& b : shown) {
        std::snprintf(line, sizeof line, "%4u  %5u  %s  %6u  %s\n", b.chip, b.block, sim::hex(b.offset).c_str(),
                      b.erases, b.worn ? "worn" : "ok");
        out << line;
    }
    std::snprintf(line, sizeof line, "%s: %u %s of %u blocks, %u erased; erases a block: max %u, mean %.2f; ",
                  kind.c_str(), g.chips, g.chips == 1 ? "chip" : "chips", g.blocks, erased, most, mean);
    out << line;
    if (limit)
        out << "erase limit " << limit << ": " << worn << " worn\n";
    else
        out << "no erase limit\n";
    return true;
}
