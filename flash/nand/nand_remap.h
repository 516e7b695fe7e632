// NAND block remapping: the block map shared with the running system's flash
// driver (NAND_FLASH_BBMT), the relocation table page in block 0, and block
// relocation. Offsets are logical unless a name says physical.
#pragma once
#include "platform/windows.h"

#define BBMT_MAP_NAME TEXT("NAND_FLASH_BBMT")
#define BBMT_MAP_SIZE 16388
#define BBMT_MAP_ENTRIES 8192
static_assert(BBMT_MAP_SIZE == sizeof(DWORD) + BBMT_MAP_ENTRIES * sizeof(WORD), "block map: magic and 8192 entries");
#define BBMT_MAGIC 0x544D4242u     // the bytes "BBMT"
#define RELOC_TABLE_HEADER 0x524E  // the bytes 'N' 'R'
#define RELOC_TABLE_END 0xFFFF
#define RELOC_TABLE_MAX_LENGTH 2048

extern BYTE* BbmtMap;
extern DWORD ReserveBlockCount;
extern DWORD RelocTableOffset;
extern DWORD RelocTableLength;
extern BYTE RelocTableBuffer[RELOC_TABLE_MAX_LENGTH];
extern BOOL RelocTableStale;
extern DWORD BlockShift;
extern BOOL RawAccess;

// The shared map.
BOOL BbmtMapValid(void);
DWORD BbmtMapEntry(DWORD logicalBlock);
void SetBbmtMapEntry(DWORD logicalBlock, DWORD physicalBlock);
BOOL OpenBbmtMap(void);

// The relocation table in RelocTableBuffer.
DWORD RelocTableSlots(void);
DWORD RelocEntryLogical(DWORD slot);
DWORD RelocEntryPhysical(DWORD slot);
void SetRelocEntry(DWORD slot, DWORD logicalBlock, DWORD physicalBlock);
BOOL RelocTableHeaderValid(void);
DWORD CountRelocEntries(void);
BOOL ReadRelocTable(void);
BOOL WriteRelocTable(void);
// The table with a new entry to its page: block 0 read, erased and written
// again with it (the page is never programmed twice between erases).
BOOL StoreRelocTable(void);
// Whether the physical block carries a factory bad-block marker.
BOOL NandBlockMarkedBad(DWORD physicalOffset);

// The end of the boot area, whose offsets have a layout of their own.
DWORD NandBootAreaEnd(void);

DWORD LogicalBlockIndex(DWORD offset);
DWORD PhysicalDelta(DWORD offset);
// Whether the offset's logical block maps to a block of the device.
BOOL MappedBlockValid(DWORD offset);

BOOL FindReplacementBlock(DWORD logicalBlock, DWORD* block, DWORD* slot);
BOOL RelocateBlock(DWORD offset, DWORD keepLength);
BOOL EraseLogicalBlock(DWORD offset);
BOOL WriteSpareMapped(const void* buffer, DWORD offset, DWORD length);
