#include "tools/modulectl/check_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "module/assembly/nor_profile.h"
#include "module/flash_view.h"
#include "module/hex_text.h"
#include "module/hw/nand/nand_ecc.h"
#include "module/hw/nand/nand_layout.h"
#include "module/hw/nand/nand_storage.h"
#include "module/hw/nand/nand_view.h"
#include "tools/common/image_verify.h"
#include "tools/mkbin/bin_writer.h"
#include "tools/modulectl/sections_command.h"

namespace {

// The erase block size at a device offset.
struct BlockSizes {
    sim::NorPairConfig nor;
    uint64_t nand_block = 0;
    uint64_t at(uint64_t offset) const {
        if (nand_block) return nand_block;
        const sim::NorChipConfig& chip = nor.chips[0];
        bool parameter = nor.block_at(static_cast<uint32_t>(offset)) < chip.parameter_blocks;
        return 2ull * (parameter ? chip.parameter_block_bytes : chip.main_block_bytes);
    }
};

// Each section runs from its start to the next section's start (the last for
// its length), inside the flash.
std::vector<SectionCheck> section_ranges(const std::vector<DetectedSection>& detected, uint64_t size) {
    std::vector<DetectedSection> sorted = detected;
    std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.start < b.start; });
    std::vector<SectionCheck> out;
    for (size_t i = 0; i < sorted.size(); ++i) {
        uint64_t start = sorted[i].start, end = start + sorted[i].length;
        for (size_t j = i + 1; j < sorted.size(); ++j)
            if (sorted[j].start > start) {
                end = sorted[j].start;
                break;
            }
        end = std::min(end, size);
        if (start >= end) continue;
        SectionCheck s;
        s.name = sorted[i].name;
        s.start = start;
        s.end = end;
        out.push_back(s);
    }
    return out;
}

SectionCheck* section_at(std::vector<SectionCheck>& sections, uint64_t offset) {
    for (SectionCheck& s : sections)
        if (offset >= s.start && offset < s.end) return &s;
    return nullptr;
}

// Reads each block of each section: erased, data or damaged.
bool scan_blocks(sim::FlashView& view, const BlockSizes& sizes, const std::optional<sim::CutRecord>& cut,
                 std::vector<SectionCheck>* sections, std::string* error) {
    std::vector<uint8_t> bytes, erased;
    for (SectionCheck& s : *sections) {
        for (uint64_t at = s.start; at < s.end;) {
            uint64_t n = std::min(sizes.at(at), s.end - at);
            size_t problems = view.page_problems().size();
            const uint8_t* block = view.nor_bytes(at, n);
            if (!block) {
                bytes.resize(n);
                if (!view.read(at, n, bytes.data(), error)) return false;
                block = bytes.data();
            }
            ++s.blocks;
            bool damaged = false;
            for (size_t i = problems; i < view.page_problems().size(); ++i) {
                const sim::PageProblem& p = view.page_problems()[i];
                if (!p.uncorrectable) continue;
                s.damaged.push_back(sim::hex(at) + ": " + p.text);
                damaged = true;
            }
            if (cut && !cut->nand && cut->done > 0 && cut->address < at + n && at < cut->address + cut->length) {
                s.damaged.push_back(sim::hex(at) + ": " + (cut->erase ? "partly erased" : "partly programmed") +
                                    " by the cut");
                damaged = true;
            }
            if (!damaged) {
                erased.resize(n, 0xFF);
                ++(std::memcmp(block, erased.data(), n) == 0 ? s.erased : s.data);
            }
            at += n;
        }
    }
    return true;
}

bool compare_image(sim::FlashView& view, const std::string& dir, const std::string& image,
                   std::vector<SectionCheck>* sections, std::string* error) {
    std::vector<uint8_t> file;
    mkbin::ParsedBin bin;
    if (!read_image(image, &file, &bin, error)) return false;
    uint32_t bias = image_address_bias(bin.image_start, board_image_place(dir, view.profile()));
    std::vector<uint8_t> flash;
    for (const mkbin::ParsedRecord& r : bin.records) {
        uint64_t start = static_cast<uint32_t>(r.address + bias);
        uint64_t inside = start >= view.size() ? 0 : std::min<uint64_t>(r.length, view.size() - start);
        flash.resize(inside);
        if (inside && !view.read(start, inside, flash.data(), error)) return false;
        // A run of the record's bytes at a time, up to the next section boundary.
        for (uint64_t i = 0; i < r.length;) {
            const uint64_t at = start + i;
            SectionCheck* s = section_at(*sections, at);
            uint64_t run = r.length - i;
            for (const SectionCheck& other : *sections)
                for (uint64_t boundary : {other.start, other.end})
                    if (boundary > at && boundary - at < run) run = boundary - at;
            if (s) {
                s->image_bytes += run;
                const uint64_t compared = i < inside ? std::min(run, inside - i) : 0;
                const uint8_t* want = file.data() + r.data_offset + i;
                for (uint64_t k = 0; k < compared; ++k) s->differing += flash[i + k] != want[k];
                s->differing += run - compared;
            }
            i += run;
        }
    }
    return true;
}

// The relocation table page as the boot ROM and the system read it.
void check_table(const std::string& dir, const sim::NandPart& part, CheckResult* r) {
    sim::NandDeviceLayout l = sim::nand_device_layout(part);
    sim::NandStorage chip0(part.page_bytes, part.spare_bytes, part.pages());
    std::string error;
    if (!chip0.open(dir, 0, &error)) {
        r->table_whole = false;
        r->table_text = error;
        return;
    }
    std::vector<uint8_t> raw(part.raw_page_bytes());
    chip0.read_page(l.table_chip_page, raw.data());
    uint32_t ecc_offset = part.page_bytes == 2048 ? 40 : 8;
    sim::EccOutcome ecc = sim::ecc_correct(raw.data(), part.page_bytes, raw.data() + part.page_bytes + ecc_offset);
    sim::RelocTable table = sim::parse_reloc_table(std::vector<uint8_t>(raw.begin(), raw.begin() + l.table_bytes));
    r->table_whole = ecc != sim::EccOutcome::Uncorrectable && table.header_ok;
    if (ecc == sim::EccOutcome::Uncorrectable)
        r->table_text = "damaged: its ECC does not check";
    else if (!table.header_ok)
        r->table_text = "damaged: no table header";
    else
        r->table_text = "whole (" + std::to_string(table.entries.size()) + " entries)";
}

void list_partial_programs(const std::string& dir, const sim::NandPart& part, CheckResult* r) {
    for (unsigned chip = 0; chip < part.chip_count(); ++chip) {
        sim::NandStorage storage(part.page_bytes, part.spare_bytes, part.pages());
        std::string error;
        if (!storage.open(dir, chip, &error)) {
            r->datasheet_violations.push_back(error);
            continue;
        }
        for (const auto& [page, n] : storage.repeated_programs()) {
            const char* areas[2] = {"main", "spare"};
            uint32_t counts[2] = {n.main, n.spare}, limits[2] = {part.nop_main, part.nop_spare};
            for (int a = 0; a < 2; ++a)
                if (counts[a] > limits[a])
                    r->datasheet_violations.push_back(
                        "nand-" + std::to_string(chip) + " page " + std::to_string(page) + ": " + areas[a] +
                        " area programmed " + std::to_string(counts[a]) +
                        " times since its block's erase; the part allows " + std::to_string(limits[a]));
        }
    }
}

void name_cut(const std::string& dir, const sim::FlashView& view, CheckResult* r) {
    const sim::CutRecord& c = *r->cut;
    r->cut_phase = c.erase ? "erase" : "program";
    uint64_t logical = c.address;
    if (c.nand) {
        const sim::NandPart& part = *view.nand_part();
        sim::NandDeviceLayout l = sim::nand_device_layout(part);
        bool chip0 = c.chips.empty() || c.chips[0] == 0;
        if (chip0 && !c.erase && c.address == uint64_t{l.table_chip_page} * part.page_bytes)
            r->cut_phase = "relocation table";
        else if (chip0 && c.address < l.boot_end)
            r->cut_phase = "boot-area staging";
        // The device offset the controller gives the chip's bytes, then
        // through the block map to the offset the system addresses.
        uint64_t device = c.address;
        if (part.wiring == sim::NandWiring::TwoSelects && !chip0) device += sim::kChipSelect1Boundary;
        if (part.wiring == sim::NandWiring::DoubledBus && 2 * c.address >= l.block_bytes) device = 2 * c.address;
        sim::NandBlockMap map = sim::load_block_map(dir, part);
        uint64_t block = device / l.block_bytes;
        for (size_t i = 0; i < map.physical.size(); ++i)
            if (map.physical[i] == block) {
                logical = i * l.block_bytes + device % l.block_bytes;
                break;
            }
    }
    if (const SectionCheck* s = section_at(r->sections, logical)) r->cut_section = s->name;
}

uint32_t word_at(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// What the content of a NOR boot region shows without a record or an image:
// a Windows CE ROM image whose signature block and ROMHDR do not hold
// together, or whose span runs into an erased block, is no bootloader. Empty
// when the content shows nothing wrong (which does not prove it whole: a cut
// leaves data that reads like data).
std::string boot_content_fault(sim::FlashView& view, const BlockSizes& sizes, const SectionCheck& boot) {
    constexpr uint32_t kSignatureOffset = 0x40, kSignature = 0x43454345;  // "ECEC"
    constexpr uint32_t kRomHeaderBytes = 84, kPhysFirst = 8, kPhysLast = 12;
    const uint64_t region = boot.end - boot.start;
    std::string ignored;
    uint8_t pointers[12];
    if (region < kSignatureOffset + sizeof pointers ||
        !view.read(boot.start + kSignatureOffset, sizeof pointers, pointers, &ignored) ||
        word_at(pointers) != kSignature)
        return "";
    uint32_t toc_pointer = word_at(pointers + 4), toc_offset = word_at(pointers + 8);
    uint8_t header[kRomHeaderBytes];
    if (uint64_t{toc_offset} + kRomHeaderBytes > region ||
        !view.read(boot.start + toc_offset, sizeof header, header, &ignored))
        return "its ROM header lies outside the boot region";
    uint32_t physfirst = word_at(header + kPhysFirst), physlast = word_at(header + kPhysLast);
    if (toc_pointer - toc_offset != physfirst || physlast < physfirst)
        return "its ROM header and table of contents do not hold together";
    uint64_t span = std::min<uint64_t>(uint64_t{physlast} - physfirst + 4, region);
    std::vector<uint8_t> bytes;
    for (uint64_t at = boot.start; at < boot.start + span;) {
        uint64_t n = std::min(sizes.at(at), boot.end - at);
        bytes.resize(n);
        if (view.read(at, n, bytes.data(), &ignored) &&
            std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; }))
            return "its ROM image runs into an erased block at " + sim::hex(at);
        at += n;
    }
    return "";
}

}  // namespace

bool check_module(const std::string& dir, const std::string& image, CheckResult* r, std::string* error,
                  const std::vector<DetectedSection>* sections) {
    *r = CheckResult{};
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(dir, error);
    if (!view) return false;
    std::vector<DetectedSection> detected;
    if (sections)
        detected = *sections;
    else if (!detect_sections(dir, &detected, error))
        return false;
    r->sections = section_ranges(detected, view->size());
    // A given map is the boot region's (the check after an update): the
    // rest of the flash is not judged, and not read.
    if (sections)
        r->sections.erase(std::remove_if(r->sections.begin(), r->sections.end(),
                                         [](const SectionCheck& s) { return s.name != "Bootloader"; }),
                          r->sections.end());
    if (!sim::load_cut_record(dir, &r->cut, error)) return false;
    r->nand = view->nand();
    BlockSizes sizes;
    if (r->nand)
        sizes.nand_block = sim::nand_device_layout(*view->nand_part()).block_bytes;
    else if (!sim::nor_config_from_profile(view->profile(), &sizes.nor, error))
        return false;
    if (!scan_blocks(*view, sizes, r->cut, &r->sections, error)) return false;
    r->with_image = !image.empty();
    if (r->with_image && !compare_image(*view, dir, image, &r->sections, error)) return false;
    if (r->cut) name_cut(dir, *view, r);

    uint64_t boot_start = 0;
    for (const DetectedSection& s : detected)
        if (s.name == "Bootloader") boot_start = s.start;
    SectionCheck* boot = section_at(r->sections, boot_start);
    if (r->nand) {
        check_table(dir, *view->nand_part(), r);
        list_partial_programs(dir, *view->nand_part(), r);
        r->boot_area_whole = boot && boot->damaged.empty();
        r->boot_area_text = r->boot_area_whole ? "whole" : "damaged: pages with ECC errors";
    }
    uint8_t first[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    std::string ignored;
    view->read(boot_start, sizeof first, first, &ignored);
    if (!boot) {
        r->reason = "no boot region in the section map";
    } else if (!boot->damaged.empty()) {
        r->reason = "the boot region holds a damaged block: " + boot->damaged.front();
    } else if (std::all_of(first, first + 4, [](uint8_t b) { return b == 0xFF; })) {
        r->reason = "the boot region starts erased: no bootloader";
    } else if (boot->differing) {
        r->reason = "the boot region differs from the image in " + std::to_string(boot->differing) + " bytes";
    } else if (!r->table_whole) {
        r->reason = "the relocation table page is " + r->table_text;
    } else if (std::string fault; !r->nand && !r->cut && !boot->image_bytes &&
                                  !(fault = boot_content_fault(*view, sizes, *boot)).empty()) {
        r->reason = "the boot region is damaged: " + fault;
    } else if (!r->nand && !r->cut && !boot->image_bytes) {
        // A cut NOR block reads like data: with neither the cut's record nor
        // the image, the content cannot prove the bootloader whole.
        r->verified = false;
        r->reason = "no damage recorded; give the image to verify the boot region";
    } else {
        r->bootable = true;
        r->reason = std::string("the bootloader is whole") + (boot->image_bytes ? " and matches the image" : "");
    }
    return true;
}

std::vector<std::string> CheckResult::damaged_sections() const {
    std::vector<std::string> names;
    for (const SectionCheck& s : sections)
        if (!s.damaged.empty() || s.differing) names.push_back(s.name);
    return names;
}

nlohmann::ordered_json CheckResult::to_json() const {
    using json = nlohmann::ordered_json;
    json all = json::array();
    for (const SectionCheck& s : sections) {
        json verifies = with_image && s.image_bytes ? json(s.differing == 0) : json(nullptr);
        all.push_back({{"section", s.name},
                       {"start", s.start},
                       {"end", s.end},
                       {"blocks", s.blocks},
                       {"erased", s.erased},
                       {"data", s.data},
                       {"damaged", s.damaged},
                       {"image_bytes", s.image_bytes},
                       {"differing", s.differing},
                       {"verifies", verifies}});
    }
    json cut_json = nullptr;
    if (cut) {
        cut_json = json::parse(cut->to_json());
        cut_json["phase"] = cut_phase;
        cut_json["section"] = cut_section;
    }
    json j = {{"power_cut", cut_json}, {"sections", all}};
    if (nand) {
        j["relocation_table"] = {{"whole", table_whole}, {"text", table_text}};
        j["boot_area"] = {{"whole", boot_area_whole}, {"text", boot_area_text}};
        j["datasheet_violations"] = datasheet_violations;
    }
    j["damaged_sections"] = damaged_sections();
    j["bootable"] = bootable;
    j["verified"] = verified;
    j["reason"] = reason;
    return j;
}

std::string CheckResult::to_text() const {
    std::string out;
    if (cut)
        out += "power cut: " + cut->text() + " [" + cut_phase + (cut_section.empty() ? "" : ", " + cut_section) + "]\n";
    else
        out += "power cut: none recorded\n";
    char line[200];
    std::snprintf(line, sizeof line, "%-12s %-10s %-10s %6s %6s %6s  %s\n", "section", "start", "end", "blocks",
                  "erased", "data", "state");
    out += line;
    for (const SectionCheck& s : sections) {
        std::string state = s.damaged.empty() ? "whole" : std::to_string(s.damaged.size()) + " damaged";
        if (with_image && s.image_bytes)
            state += s.differing ? ", differs from the image in " + std::to_string(s.differing) + " bytes"
                                 : ", matches the image";
        std::snprintf(line, sizeof line, "%-12s %-10s %-10s %6u %6u %6u  %s\n", s.name.c_str(),
                      sim::hex(s.start).c_str(), sim::hex(s.end).c_str(), s.blocks, s.erased, s.data, state.c_str());
        out += line;
        for (const std::string& d : s.damaged) out += "    " + d + "\n";
    }
    if (nand) {
        out += "relocation table: " + table_text + "\n";
        out += "boot area: " + boot_area_text + "\n";
        for (const std::string& v : datasheet_violations) out += "datasheet: " + v + "\n";
    }
    out += std::string(bootable ? "bootable: " : verified ? "not bootable: " : "not verified: ") + reason + "\n";
    return out;
}
