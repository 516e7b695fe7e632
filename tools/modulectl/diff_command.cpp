#include "tools/modulectl/diff_command.h"

#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "module/flash_blocks.h"
#include "module/hex_text.h"
#include "tools/common/cli.h"
#include "tools/modulectl/sections_command.h"

namespace fs = std::filesystem;
using OrderedJson = nlohmann::ordered_json;

namespace {

struct BlockChange {
    uint32_t block;
    uint32_t last_block;  // a run of blocks alike ends here
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
    if (c.get_string("flash.kind", "nor") == "nand") return "NAND ID " + sim::hex(c.get_u32("nand.id", 0), 4);
    return "NOR device code " + sim::hex(c.get_u32("nor.device_code", 0), 4) + ", query size " +
           std::to_string(c.get_u32("nor.query_size", 0)) + ", family " + c.get_string("nor.family", "by code");
}

std::string hex_range(sim::ByteRange r) { return sim::hex_range(r.start, r.end); }

struct Relocation {
    uint32_t logical, before, after;
};

// Everything that differs from a to b, and the sums by section and by kind of change.
struct Differences {
    std::vector<BlockChange> changes;
    std::vector<Relocation> relocated;
    std::map<std::string, std::pair<uint64_t, uint64_t>> by_section;  // blocks, bytes
    std::map<std::string, uint64_t> by_change;
    uint64_t bytes = 0;
    bool same() const { return changes.empty() && relocated.empty(); }
};

// Both profiles read and of one flash; else why not (the message printed).
bool comparable(const std::string& a, const std::string& b, sim::Config* profile_a) {
    sim::Config profile_b;
    std::string error;
    if (!profile_a->load((fs::path(a) / "module.toml").string(), &error) ||
        !profile_b.load((fs::path(b) / "module.toml").string(), &error)) {
        std::fprintf(stderr, "modulectl diff: %s\n", error.c_str());
        return false;
    }
    if (flash_identity(*profile_a) != flash_identity(profile_b)) {
        std::fprintf(stderr,
                     "modulectl diff: the modules' flash differs (%s: %s; %s: %s); compare modules of one profile\n",
                     a.c_str(), flash_identity(*profile_a).c_str(), b.c_str(), flash_identity(profile_b).c_str());
        return false;
    }
    return true;
}

std::vector<std::string> sections_of(const std::vector<DetectedSection>& sections,
                                     const std::vector<sim::ByteRange>& flash) {
    std::vector<std::string> names;
    for (const DetectedSection& s : sections)
        for (const sim::ByteRange& r : flash)
            if (s.length && r.start < uint64_t{s.start} + s.length && r.end > s.start) {
                names.push_back(s.name);
                break;
            }
    return names;
}

// Each block that differs in content or lock bit, with the flash offsets
// (through B's block map on NAND) and sections it holds.
std::vector<BlockChange> block_changes(const std::string& a, const std::string& b, const sim::FlashBlocks& blocks,
                                       const std::vector<DetectedSection>& sections,
                                       const std::vector<sim::LogicalPiece>& pieces) {
    std::vector<BlockChange> changes;
    for (uint32_t i = 0; i < blocks.count(); ++i) {
        if (blocks.past_files(a, i) && blocks.past_files(b, i)) continue;
        uint64_t differing = 0;
        const char* change = change_of(blocks.read_block(a, i), blocks.read_block(b, i), &differing);
        bool lock_a = blocks.locked(a, i), lock_b = blocks.locked(b, i);
        if (differing == 0 && lock_a == lock_b) continue;
        BlockChange c{i, i, blocks.range(i), change, differing, lock_a == lock_b ? 0 : lock_b ? 1 : -1, {}, {}};
        c.flash = blocks.nand() ? sim::logical_ranges(pieces, c.device) : std::vector<sim::ByteRange>{c.device};
        c.sections = sections_of(sections, c.flash);
        changes.push_back(std::move(c));
    }
    return changes;
}

bool find_differences(const std::string& a, const std::string& b, const sim::Config& profile, Differences* d) {
    sim::FlashBlocks blocks;
    std::string error;
    if (!blocks.load(profile, &error)) {
        std::fprintf(stderr, "modulectl diff: %s\n", error.c_str());
        return false;
    }
    // Blocks are compared without sections when B's flash does not answer.
    std::vector<DetectedSection> sections;
    if (detect_sections(b, &sections, &error))
        sections = plan_sections(sections);
    else
        std::fprintf(stderr, "modulectl diff: no section map (%s)\n", error.c_str());
    std::vector<sim::LogicalPiece> pieces;
    sim::NandBlockMap map_a, map_b;
    if (blocks.nand()) {
        map_a = sim::load_block_map(a, *blocks.nand_part());
        map_b = sim::load_block_map(b, *blocks.nand_part());
        pieces = sim::logical_pieces(*blocks.nand_part(), map_b);
    }
    d->changes = block_changes(a, b, blocks, sections, pieces);
    for (size_t i = 0; i < map_a.physical.size() && i < map_b.physical.size(); ++i)
        if (map_a.physical[i] != map_b.physical[i])
            d->relocated.push_back({uint32_t(i), map_a.physical[i], map_b.physical[i]});
    for (const BlockChange& c : d->changes) {
        d->bytes += c.bytes;
        ++d->by_change[c.change];
        for (const std::string& s : c.sections) {
            ++d->by_section[s].first;
            d->by_section[s].second += c.bytes;
        }
    }
    return true;
}

void print_json(const Differences& d) {
    OrderedJson list = OrderedJson::array(), moves = OrderedJson::array(), per_section = OrderedJson::array();
    for (const BlockChange& c : d.changes) {
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
    for (const Relocation& r : d.relocated)
        moves.push_back({{"logical", r.logical}, {"before", r.before}, {"after", r.after}});
    for (const auto& [name, counts] : d.by_section)
        per_section.push_back({{"section", name}, {"blocks", counts.first}, {"bytes_changed", counts.second}});
    OrderedJson all = {{"same", d.same()},
                       {"blocks", list},
                       {"relocated", moves},
                       {"sections", per_section},
                       {"bytes_changed", d.bytes}};
    std::printf("%s\n", all.dump(2).c_str());
}

// Blocks that follow each other, changed alike, in one flash range and
// section, as one run: a 16 MiB image is one line, not 64.
std::vector<BlockChange> runs_of(const std::vector<BlockChange>& changes) {
    std::vector<BlockChange> runs;
    for (const BlockChange& c : changes) {
        BlockChange* run = runs.empty() ? nullptr : &runs.back();
        bool follows = run && c.block == run->last_block + 1 && c.device.start == run->device.end &&
                       std::string(c.change) == run->change && c.lock == run->lock && c.sections == run->sections &&
                       run->flash.empty() == c.flash.empty() &&
                       (c.flash.empty() || run->flash.back().end == c.flash.front().start);
        if (!follows) {
            runs.push_back(c);
            continue;
        }
        run->last_block = c.block;
        run->device.end = c.device.end;
        run->bytes += c.bytes;
        for (const sim::ByteRange& r : c.flash) {
            if (!run->flash.empty() && run->flash.back().end == r.start)
                run->flash.back().end = r.end;
            else
                run->flash.push_back(r);
        }
    }
    return runs;
}

void print_text(const Differences& d) {
    for (const BlockChange& c : runs_of(d.changes)) {
        std::string flash;
        for (const sim::ByteRange& r : c.flash) flash += (flash.empty() ? "" : ", ") + hex_range(r);
        std::string names;
        for (const std::string& s : c.sections) names += (names.empty() ? "" : ", ") + s;
        std::string blocks = c.block == c.last_block
                                 ? "block " + std::to_string(c.block)
                                 : "blocks " + std::to_string(c.block) + "-" + std::to_string(c.last_block);
        std::printf("%s (device %s): %s, %s bytes differ%s; flash %s (%s)\n", blocks.c_str(),
                    hex_range(c.device).c_str(), c.change, sim::hex(c.bytes, 0).c_str(),
                    c.lock > 0   ? ", locked"
                    : c.lock < 0 ? ", unlocked"
                                 : "",
                    flash.empty() ? "none" : flash.c_str(), names.empty() ? "no section" : names.c_str());
    }
    for (const Relocation& r : d.relocated)
        std::printf("relocated: logical block %u lay in physical block %u, now in %u\n", r.logical, r.before, r.after);
    for (const auto& [name, counts] : d.by_section)
        std::printf("section %s: %llu %s, %s bytes differ\n", name.c_str(),
                    static_cast<unsigned long long>(counts.first), counts.first == 1 ? "block" : "blocks",
                    sim::hex(counts.second, 0).c_str());
    if (d.same()) {
        std::printf("the flash is the same in both\n");
        return;
    }
    std::printf("%zu %s differ (%llu erased, %llu programmed, %llu rewritten), %s bytes; %zu %s relocated\n",
                d.changes.size(), d.changes.size() == 1 ? "block" : "blocks",
                static_cast<unsigned long long>(d.by_change.count("erased") ? d.by_change.at("erased") : 0),
                static_cast<unsigned long long>(d.by_change.count("programmed") ? d.by_change.at("programmed") : 0),
                static_cast<unsigned long long>(d.by_change.count("rewritten") ? d.by_change.at("rewritten") : 0),
                sim::hex(d.bytes, 0).c_str(), d.relocated.size(), d.relocated.size() == 1 ? "block" : "blocks");
}

}  // namespace

int diff_modules(const std::string& a, const std::string& b, bool json) {
    sim::Config profile;
    Differences d;
    if (!comparable(a, b, &profile) || !find_differences(a, b, profile, &d)) return cli::kUsage;
    if (json)
        print_json(d);
    else
        print_text(d);
    return d.same() ? 0 : cli::kFailure;
}
