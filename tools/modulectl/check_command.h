// modulectl check: what the flash holds after a power cut, section by section,
// and whether the board would boot.
//
// Every erase block of each section is erased (all 0xFF), holds data, or is
// damaged: on NOR the block the recorded cut (power-cut.json) left partly
// erased or partly programmed (from content alone such a block cannot be told
// from data); on NAND, pages whose stored ECC does not check (a cut program or
// erase leaves its spare area and ECC unlike its data; one bit the ECC
// corrects is not damage). The boot region is the flash from the Bootloader
// section's start to the ConfigBlock section's start.
//
// Bootable, by one rule: the boot region holds no damaged block, does not
// start erased, and, with an image whose records reach it, matches the image
// there; on NAND the relocation table page also reads (its ECC checks and it
// carries the table header). On NOR with neither a cut record nor such an
// image the content cannot prove the boot region whole: what it can show (it
// starts erased; a ROM image whose header and table of contents do not hold
// together, or that runs into an erased block) makes it not bootable, and
// otherwise the result is not verified (bootable false, verified false).
//
// check_module is the whole check, for callers other than modulectl check
// too (an update that touched the boot region asks it before it reports
// success).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "module/power_cut.h"

struct SectionCheck {
    std::string name;
    uint64_t start = 0, end = 0;
    uint32_t blocks = 0, erased = 0, data = 0;
    std::vector<std::string> damaged;  // "0x00040000 partly erased", "chip 0 page 70: ECC ..."
    uint64_t image_bytes = 0;          // bytes of the image in the section
    uint64_t differing = 0;            // of them, bytes the flash does not hold
};

struct CheckResult {
    std::optional<sim::CutRecord> cut;
    std::string cut_phase;    // erase, program, boot-area staging, relocation table
    std::string cut_section;  // the section the cut operation lies in
    bool with_image = false;
    std::vector<SectionCheck> sections;
    bool nand = false;
    bool table_whole = true;
    std::string table_text;
    bool boot_area_whole = true;
    std::string boot_area_text;
    // NAND pages the chips hold programmed past their partial-program limit
    // since their block's erase (their bits are unreliable), from the counts
    // kept with the chips: "nand-0 page 31: main area programmed 2 times since its block's erase; the part allows 1".
    std::vector<std::string> datasheet_violations;
    bool bootable = false;
    bool verified = true;  // false: not bootable only because nothing could prove it
    std::string reason;    // why, in one line

    std::vector<std::string> damaged_sections() const;
    nlohmann::ordered_json to_json() const;
    std::string to_text() const;
};

struct DetectedSection;

// modulectl check's exit status for a boot region the content alone cannot
// prove whole (0 bootable, 1 not bootable, 2 unreadable).
constexpr int kCheckNotVerified = 3;

// False with a reason when the module or the image cannot be read. The
// section map is detected as an update would detect it, unless given: then
// only its Bootloader section is read and judged.
bool check_module(const std::string& dir, const std::string& image, CheckResult* result, std::string* error,
                  const std::vector<DetectedSection>* sections = nullptr);
