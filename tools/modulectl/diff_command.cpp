#include "tools/modulectl/diff_command.h"

#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "module/flash_blocks.h"
#include "tools/common/cli.h"
#include "tools/modulectl/sections_command.h"

namespace fs = std::filesystem;
using OrderedJson = nlohmann::ordered_json;

namespace {

struct BlockChange {
    uint32_t block;
    sim::ByteRange device;
    const char* change;  // erased, programmed, rewritten, unchanged (a lock bit alone changed)
    uint64_t bytes;      // bytes that differ
    int lock = 0;        // +1 locked, -1 unlocked
    std::vector<sim::ByteRange> flash;
    std::vector<std::string> sections;
};

// Programming only clears bits and erasing sets them all: what took block
// contents a to b.
const char* change_of(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint64_t* differing) {
    bool all_erased = true, bits_set = false;
    *differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        all_erased = all_erased && b[i] == 0xFF;
        if (a[i] == b[i]) continue;
        ++*differing;
        bits_set = bits_set || (b[i] & ~a[i]) != 0;
    }
    if (*differing == 0) return "unchanged";
    return all_erased ? "erased" : bits_set ? "rewritten" : "programmed";
}

// The flash keys that decide the flash's kind, part and geometry.
std::string flash_identity(const sim::Config& c) {
    if (c.get_string("flash.kind", "nor") == "nand") return "NAND ID " + std::to_string(c.get_u32("nand.id", 0));
    return "NOR device code " + std::to_string(c.get_u32("nor.device_code", 0)) + ", query size " +
           std::to_string(c.get_u32("nor.query_size", 0)) + ", family " + c.get_string("nor.family", "by code");
}

std::string hex_range(sim::ByteRange r) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%08llx-0x%08llx", static_cast<unsigned long long>(r.start),
                  static_cast<unsigned long long>(r.end - 1));
    return text;
}

}  // namespace

int diff_modules(const std::string& a, const std::string& b, bool json) {
    sim::Config profile_a, profile_b;
    std::string error;
    if (!profile_a.load((fs::path(a) / "module.toml").string(), &error) ||
        !profile_b.load((fs::path(b) / "module.toml").string(), &error)) {
        std::fprintf(stderr, "modulectl diff: %s\n", error.c_str());
        return cli::kUsage;
    }
    if (flash_identity(profile_a) != flash_identity(profile_b)) {
        std::fprintf(stderr,
                     "modulectl diff: the modules' flash differs (%s: %s; %s: %s); compare modules of one profile\n",
                     a.c_str(), flash_identity(profile_a).c_str(), b.c_str(), flash_identity(profile_b).c_str());
        return cli::kUsage;
    }
    sim::FlashBlocks blocks;
    if (!blocks.load(profile_a, &error)) {
        std::fprintf(stderr, "modulectl diff: %s\n", error.c_str());
        return cli::kUsage;
    }
    // Blocks are compared without sections when B's flash does not answer.
    std::vector<DetectedSection> sections;
    if (!detect_sections(b, &sections, &error))
        std::fprintf(stderr, "modulectl diff: no section map (%s)\n", error.c_str());
    // Flash offsets of B's blocks, through B's block map on NAND.
    std::vector<sim::LogicalPiece> pieces;
    sim::NandBlockMap map_a, map_b;
    if (blocks.nand()) {
        map_a = sim::load_block_map(a, *blocks.nand_part());
        map_b = sim::load_block_map(b, *blocks.nand_part());
        pieces = sim::logical_pieces(*blocks.nand_part(), map_b);
    }

    std::vector<BlockChange> changes;
    for (uint32_t i = 0; i < blocks.count(); ++i) {
        if (blocks.past_files(a, i) && blocks.past_files(b, i)) continue;
        uint64_t differing = 0;
        const char* change = change_of(blocks.read_block(a, i), blocks.read_block(b, i), &differing);
        bool lock_a = blocks.locked(a, i), lock_b = blocks.locked(b, i);
        if (differing == 0 && lock_a == lock_b) continue;
        BlockChange c{i, blocks.range(i), change, differing, lock_a == lock_b ? 0 : lock_b ? 1 : -1, {}, {}};
        c.flash = blocks.nand() ? sim::logical_ranges(pieces, c.device) : std::vector<sim::ByteRange>{c.device};
        for (const DetectedSection& s : sections)
            for (const sim::ByteRange& r : c.flash)
                if (s.length && r.start < uint64_t{s.start} + s.length && r.end > s.start) {
                    c.sections.push_back(s.name);
                    break;
                }
        changes.push_back(std::move(c));
    }
    struct Relocation {
        uint32_t logical, before, after;
    };
    std::vector<Relocation> relocated;
    for (size_t i = 0; i < map_a.physical.size() && i < map_b.physical.size(); ++i)
        if (map_a.physical[i] != map_b.physical[i])
            relocated.push_back({uint32_t(i), map_a.physical[i], map_b.physical[i]});

    // By section: the blocks and bytes that changed under each.
    std::map<std::string, std::pair<uint64_t, uint64_t>> by_section;
    std::map<std::string, uint64_t> by_change;
    uint64_t bytes = 0;
    for (const BlockChange& c : changes) {
        bytes += c.bytes;
        ++by_change[c.change];
        for (const std::string& s : c.sections) {
            ++by_section[s].first;
            by_section[s].second += c.bytes;
        }
    }
    bool same = changes.empty() && relocated.empty();
    if (json) {
        OrderedJson list = OrderedJson::array(), moves = OrderedJson::array(), per_section = OrderedJson::array();
        for (const BlockChange& c : changes) {
            OrderedJson flash = OrderedJson::array();
            for (const sim::ByteRange& r : c.flash) flash.push_back({{"start", r.start}, {"end", r.end}});
            list.push_back({{"block", c.block},
                            {"device", {c.device.start, c.device.end}},
                            {"change", c.change},
                            {"bytes_changed", c.bytes},
                            {"lock", c.lock > 0   ? OrderedJson("locked")
                                     : c.lock < 0 ? OrderedJson("unlocked")
                                                  : OrderedJson()},
                            {"flash", flash},
                            {"sections", c.sections}});
        }
        for (const Relocation& r : relocated)
            moves.push_back({{"logical", r.logical}, {"before", r.before}, {"after", r.after}});
        for (const auto& [name, counts] : by_section)
            per_section.push_back({{"section", name}, {"blocks", counts.first}, {"bytes_changed", counts.second}});
        OrderedJson all = {{"same", same},
                           {"blocks", list},
                           {"relocated", moves},
                           {"sections", per_section},
                           {"bytes_changed", bytes}};
        std::printf("%s\n", all.dump(2).c_str());
        return same ? 0 : cli::kFailure;
    }
    for (const BlockChange& c : changes) {
        std::string flash;
        for (const sim::ByteRange& r : c.flash) flash += (flash.empty() ? "" : ", ") + hex_range(r);
        std::string names;
        for (const std::string& s : c.sections) names += (names.empty() ? "" : ", ") + s;
        std::printf("block %u (device %s): %s, %llu bytes differ%s; flash %s (%s)\n", c.block,
                    hex_range(c.device).c_str(), c.change, static_cast<unsigned long long>(c.bytes),
                    c.lock > 0   ? ", locked"
                    : c.lock < 0 ? ", unlocked"
                                 : "",
                    flash.empty() ? "none" : flash.c_str(), names.empty() ? "no section" : names.c_str());
    }
    for (const Relocation& r : relocated)
        std::printf("relocated: logical block %u lay in physical block %u, now in %u\n", r.logical, r.before, r.after);
    for (const auto& [name, counts] : by_section)
        std::printf("section %s: %llu %s, %llu bytes differ\n", name.c_str(),
                    static_cast<unsigned long long>(counts.first), counts.first == 1 ? "block" : "blocks",
                    static_cast<unsigned long long>(counts.second));
    if (same) {
        std::printf("the flash is the same in both\n");
        return 0;
    }
    std::printf("%zu %s differ (%llu erased, %llu programmed, %llu rewritten), %llu bytes; %zu %s relocated\n",
                changes.size(), changes.size() == 1 ? "block" : "blocks",
                static_cast<unsigned long long>(by_change["erased"]),
                static_cast<unsigned long long>(by_change["programmed"]),
                static_cast<unsigned long long>(by_change["rewritten"]), static_cast<unsigned long long>(bytes),
                relocated.size(), relocated.size() == 1 ? "block" : "blocks");
    return cli::kFailure;
}
