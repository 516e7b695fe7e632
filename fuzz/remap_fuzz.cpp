// The NAND back-end over a hostile relocation table page and block map, on a
// large-page part with bad blocks. The input is:
//   byte 0        what to run (bits below);
//   byte 1        the logical block to relocate or write;
//   2048 bytes    the table page (short inputs are padded with 0xFF);
//   the rest      changes to the shared map, 4 bytes each: logical, physical.
// The page goes to flash as the program writes it. Then the map is built from
// it as at start-up (kBuildMap) or set to every block in its own place, the
// changes are made, the relocation check runs, the replacement search runs on
// the page, and the erase or the write of one logical block follows the map
// (through relocation when the block is bad).
//
// Besides the sanitizers, every input must keep these:
// - a map built from any page sends no block to block 0 or past the device;
// - a check that finds damage names an entry that is there, and a check that
//   finds none leaves each logical block in a place of its own in the device;
// - a replacement block is a reserve block no entry of the page names;
// - a relocation keeps a sound map and page sound.
#include <cstring>
#include <string>
#include <vector>

#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"
#include "fuzz/fuzz_support.h"

namespace {

enum : uint8_t {
    kBuildMap = 1 << 0,
    kEraseBlock = 1 << 1,
    kWritePage = 1 << 2,
};

// 1024 blocks of 128 KiB, 20 of them reserve; bad blocks among the used ones
// and the reserve, so that a relocation can meet another bad block.
const std::vector<std::string> kOverrides = {"nand.os_builds_bbmt=false", "nand.bad_blocks=[5, 6, 7, 1023, 1021]"};

constexpr size_t kPageBytes = 2048;

using fuzz_support::Require;

void SetIdentityMap() {
    BbmtMap[0] = 'B';
    BbmtMap[1] = 'B';
    BbmtMap[2] = 'M';
    BbmtMap[3] = 'T';
    for (DWORD i = 0; i < BBMT_MAP_ENTRIES; i++) SetBbmtMapEntry(i, i);
}

// The page in flash, written as the program writes its table: block 0 erased
// and the page programmed raw.
void PutTablePage(const std::vector<uint8_t>& page) {
    Require(NandEraseBlock(0) == kNandDone, "block 0 erases");
    std::memcpy(RelocTableBuffer, page.data(), RelocTableLength);
    Require(WriteRelocTable(), "the table page is written");
}

// Whether every logical block the system addresses lies in a place of its
// own inside the device, block 0 and the boot area kept for logical block 0.
bool PlacesOwn(const std::vector<DWORD>& places) {
    DWORD blocks = NandBlockCount();
    DWORD bootBlocks = NandBootAreaEnd() / NandBlockSize();
    std::vector<bool> taken(blocks, false);
    for (DWORD logical = 0; logical < blocks - ReserveBlockCount; logical++) {
        DWORD place = places[logical];
        if (place >= blocks || taken[place]) return false;
        if (place != logical && (logical == 0 || place < bootBlocks)) return false;
        taken[place] = true;
    }
    return true;
}

std::vector<DWORD> MapPlaces() {
    std::vector<DWORD> places(NandBlockCount());
    for (DWORD i = 0; i < places.size(); i++) places[i] = BbmtMapEntry(i);
    return places;
}

std::vector<DWORD> TablePlaces() {
    std::vector<DWORD> places(NandBlockCount());
    for (DWORD i = 0; i < places.size(); i++) places[i] = i;
    for (DWORD k = 0; k < CountRelocEntries(); k++) {
        DWORD logical = RelocEntryLogical(k);
        if (logical != 0 && logical < places.size()) places[logical] = RelocEntryPhysical(k);
    }
    return places;
}

// The check's verdict held against the map and the page.
DWORD CheckRemap() {
    DWORD logical = 0, physical = 0;
    DWORD damage = NandCheckRemap(&logical, &physical);
    if (damage == kRemapMapDamaged) {
        Require(BbmtMapEntry(logical) == physical && logical != physical, "a damaged map entry is named as it is");
    } else if (damage == kRemapTableDamaged) {
        Require(PlacesOwn(MapPlaces()), "the map is checked before the page");
        bool named = false;
        for (DWORD k = 0; k < CountRelocEntries(); k++)
            named = named || (RelocEntryLogical(k) == logical && RelocEntryPhysical(k) == physical);
        Require(named, "a damaged page entry is named as it is");
    } else {
        Require(damage == kRemapSound, "the check's verdict is one of three");
        Require(PlacesOwn(MapPlaces()), "a sound map keeps each block in a place of its own");
        if (RelocTableHeaderValid())
            Require(PlacesOwn(TablePlaces()), "a sound page keeps each block in a place of its own");
    }
    return damage;
}

void CheckReplacement(DWORD logicalBlock) {
    DWORD entries = CountRelocEntries();
    std::vector<DWORD> named;
    for (DWORD k = 0; k < entries; k++) named.push_back(RelocEntryPhysical(k));
    DWORD block = 0, slot = 0;
    if (!FindReplacementBlock(logicalBlock, &block, &slot)) return;
    Require(block < NandBlockCount() && block >= NandBlockCount() - ReserveBlockCount,
            "a replacement is a reserve block");
    for (DWORD physical : named) Require(physical != block, "a replacement is named by no entry");
    Require(slot == entries && slot + 1 < RelocTableSlots(), "the new entry and a new end mark fit the page");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_support::OpenModuleOnce("pxa300-f1ec", kOverrides);
    fuzz_support::StartInput();
    Require(SelectFlashBackend() != 0 && FlashBackend == kFlashBackendNand, "the module's NAND flash starts");
    Require(RelocTableLength == kPageBytes, "a large-page table page");
    if (size < 2) return -1;
    uint8_t run = data[0];
    DWORD target = data[1] % (NandBlockCount() - ReserveBlockCount);
    std::vector<uint8_t> page(kPageBytes, 0xFF);
    std::memcpy(page.data(), data + 2, std::min(size - 2, kPageBytes));
    size_t changesAt = 2 + kPageBytes;

    // What the last input left in the map and the buffer is gone, as in a
    // new process.
    SetIdentityMap();
    RelocTableStale = TRUE;
    PutTablePage(page);
    if (run & kBuildMap) {
        BbmtMap[0] = 0;
        if (!NandBackendInit()) {
            Require(!RelocTableHeaderValid(), "a page with its header builds a map");
            SetIdentityMap();
        }
        for (DWORD i = 0; i < NandBlockCount(); i++) {
            DWORD place = BbmtMapEntry(i);
            Require(place == i || (place != 0 && place < NandBlockCount()), "a built map stays on the device");
        }
    } else {
        SetIdentityMap();
    }
    bool changed = false;
    for (size_t at = changesAt; at + 4 <= size; at += 4) {
        SetBbmtMapEntry((data[at] | data[at + 1] << 8) % BBMT_MAP_ENTRIES, data[at + 2] | data[at + 3] << 8);
        changed = true;
    }

    DWORD damage = CheckRemap();
    if (damage != kRemapSound) return 0;

    // The search voids the target's entries in the buffer: on a copy of the page.
    if (RelocTableHeaderValid()) CheckReplacement(target);
    PutTablePage(page);

    DWORD offset = target * NandBlockSize();
    if (run & kEraseBlock) (void)NandEraseRange(offset, NandBlockSize());
    if (run & kWritePage) {
        std::vector<uint8_t> data(NandPageSize(), 0x5A);
        (void)NandWriteBuffer(data.data(), offset + NandPageSize(), NandPageSize());
    }
    // A map built from the page that the update finds sound stays sound
    // through every relocation.
    if ((run & kBuildMap) && !changed) Require(CheckRemap() == kRemapSound, "a relocation keeps the map sound");
    return 0;
}
