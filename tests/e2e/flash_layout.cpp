#include "tests/e2e/flash_layout.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "module/hw/nand/nand_ecc.h"
#include "tools/mkbin/bin_writer.h"

namespace e2e {

// NOR takes any size; 128 KiB NAND blocks hold 0x3F800 bytes beside the
// table page; a doubled bus holds what lies below its table page at 0x3E00.
// clang-format off
const Profile kProfiles[kProfileCount] = {
    {"pxa270",      "nor.query_size=21", Kind::Nor,         0x40000, 0x40000, 0x40000},
    {"pxa270-p30",  "nor.query_size=21", Kind::Nor,         0x10000, 0x40000, 0x40000},
    {"pxa320-75ec", "",                  Kind::NandDoubled, 0x8000,  0x3E00,  0x8000},
    {"pxa320-76ec", "",                  Kind::NandDoubled, 0x8000,  0x3E00,  0x8000},
    {"pxa320-d3ec", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
    {"pxa300-f1ec", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
    {"pxa320-dcad", "",                  Kind::NandLarge,   0x20000, 0x3F800, 0x20000},
};
// clang-format on

ModuleDir make_module(const Profile& profile) {
    if (*profile.size) return ModuleDir(profile.name, {profile.size});
    return ModuleDir(profile.name);
}

std::string profile_name(int index) {
    std::string name = kProfiles[index].name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

// Large NAND: the table page takes physical 0x1F800..0x1FFFF, so the boot
// area's bytes from there on are shifted by one page. Doubled bus: block 0
// is chip 0 alone, 8 bits wide; other blocks interleave both chips byte by
// byte.
Place place_of(Kind kind, uint32_t offset) {
    switch (kind) {
        case Kind::Nor: return {"nor.bin", offset};
        case Kind::NandLarge:
            return {"nand-0.main", offset >= 0x1F800 && offset < 0x3F800 ? offset + 0x800ull : offset};
        case Kind::NandDoubled:
            if (offset < 0x8000) return {"nand-0.main", offset};
            return {"nand-" + std::to_string(offset & 1) + ".main", offset >> 1};
    }
    return {};
}

void put(Files& files, Kind kind, uint32_t offset, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        Place p = place_of(kind, offset + static_cast<uint32_t>(i));
        files.at(p.file).at(p.offset) = bytes[i];
    }
}

// A doubled bus's block is half its bytes on each chip at half the offset.
void erase_blocks(Files& files, Kind kind, uint32_t from, uint32_t to) {
    auto fill = [&](const std::string& name, uint64_t a, uint64_t b) {
        std::fill(files.at(name).begin() + a, files.at(name).begin() + b, 0xFF);
    };
    switch (kind) {
        case Kind::Nor: fill("nor.bin", from, to); break;
        case Kind::NandLarge:
            fill("nand-0.main", from, from == 0 ? 0x1F800 : from);
            fill("nand-0.main", from == 0 ? 0x20000 : from, to);
            break;
        case Kind::NandDoubled:
            fill("nand-0.main", from / 2, from == 0 ? 0x3E00 : from / 2);
            fill("nand-0.main", from == 0 ? 0x4000 : from / 2, to / 2);
            fill("nand-1.main", from / 2, to / 2);
            break;
    }
}

std::pair<uint32_t, uint32_t> erased_range(const Profile& profile, uint32_t start, uint32_t end) {
    auto up = [](uint32_t value, uint32_t block) { return (value + block - 1) / block * block; };
    switch (profile.kind) {
        case Kind::Nor:
            if (profile.block < 0x40000 && end <= 0x40000)  // four small blocks at the bottom
                return {start / profile.block * profile.block, up(end, profile.block)};
            if (profile.block < 0x40000 && start < 0x40000)
                return {start / profile.block * profile.block, up(end, 0x40000)};
            return {start / 0x40000 * 0x40000, up(end, 0x40000)};
        case Kind::NandLarge:
            if (start < 0x40000) return {0, std::max(0x40000u, up(end, 0x20000))};  // both boot blocks
            return {start / 0x20000 * 0x20000, up(end, 0x20000)};
        case Kind::NandDoubled: return {start / 0x8000 * 0x8000, up(end, 0x8000)};
    }
    return {0, 0};
}

void poke_all(const ModuleDir& module, const Files& files, bool spare_areas) {
    for (const auto& [name, bytes] : files)
        if (spare_areas || name.find(".oob") == std::string::npos) module.poke(name, 0, bytes);
}

std::string first_difference(const Files& actual, const Files& expected, bool spare_areas) {
    for (const auto& [name, bytes] : expected) {
        if (!spare_areas && name.find(".oob") != std::string::npos) continue;
        auto it = actual.find(name);
        if (it == actual.end()) return name + " is missing";
        const std::vector<uint8_t>& got = it->second;
        if (got.size() != bytes.size()) return name + " has " + std::to_string(got.size()) + " bytes";
        auto mismatch = std::mismatch(bytes.begin(), bytes.end(), got.begin());
        if (mismatch.first != bytes.end()) {
            char text[96];
            std::snprintf(text, sizeof text, "%s at 0x%zx: 0x%02x, expected 0x%02x", name.c_str(),
                          static_cast<size_t>(mismatch.first - bytes.begin()), *mismatch.second, *mismatch.first);
            return text;
        }
    }
    return "";
}

namespace {

// Each chip's page with its own code: 3 bytes per 256 data bytes at spare
// byte 40 of a 2048-byte page, spare byte 8 of a 512-byte page.
struct PageLayout {
    uint32_t page, spare, ecc_at;
};

PageLayout page_layout(Kind kind) {
    const uint32_t page = kind == Kind::NandLarge ? 2048 : 512;
    return {page, page / 32, page == 2048 ? 40u : 8u};
}

// The chips' pages that hold flash offsets [from, to).
std::set<std::pair<std::string, uint64_t>> pages_of(Kind kind, uint32_t from, uint32_t to) {
    std::set<std::pair<std::string, uint64_t>> pages;
    const uint32_t page = page_layout(kind).page;
    for (uint64_t offset = from; offset < to; offset += 256)
        for (uint32_t lane = 0; lane < 2; ++lane) {
            Place p = place_of(kind, static_cast<uint32_t>(offset + lane));
            pages.insert({p.file.substr(0, p.file.find('.')), p.offset / page});
        }
    return pages;
}

// The spare area the program sends (0xFF) with the controller's code added;
// empty for an erased page, which carries none.
std::vector<uint8_t> spare_of(const std::vector<uint8_t>& main, uint64_t number, Kind kind) {
    const PageLayout l = page_layout(kind);
    auto data = main.begin() + static_cast<std::ptrdiff_t>(number * l.page);
    if (std::all_of(data, data + l.page, [](uint8_t b) { return b == 0xFF; })) return {};
    std::vector<uint8_t> spare(l.spare, 0xFF);
    sim::ecc_compute(&*data, l.page, spare.data() + l.ecc_at);
    return spare;
}

}  // namespace

void put_codes(Files& files, Kind kind, uint32_t from, uint32_t to) {
    if (kind == Kind::Nor) return;
    const uint32_t spare = page_layout(kind).spare;
    for (const auto& [chip, number] : pages_of(kind, from, to)) {
        std::vector<uint8_t> code = spare_of(files.at(chip + ".main"), number, kind);
        if (!code.empty()) std::copy(code.begin(), code.end(), files.at(chip + ".oob").begin() + number * spare);
    }
}

std::string ecc_mismatch(const Files& files, Kind kind, uint32_t from, uint32_t to) {
    if (kind == Kind::Nor) return "";
    const uint32_t spare = page_layout(kind).spare;
    for (const auto& [chip, number] : pages_of(kind, from, to)) {
        std::vector<uint8_t> expected = spare_of(files.at(chip + ".main"), number, kind);
        const std::vector<uint8_t>& oob = files.at(chip + ".oob");
        if (!expected.empty() &&
            !std::equal(expected.begin(), expected.end(), oob.begin() + static_cast<std::ptrdiff_t>(number * spare)))
            return chip + " page " + std::to_string(number) + ": its spare area is not the code of its data";
    }
    return "";
}

std::vector<uint8_t> bytes_of(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> out(size);
    for (uint32_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(mkbin::pattern_byte(i) ^ seed);
    return out;
}

}  // namespace e2e
