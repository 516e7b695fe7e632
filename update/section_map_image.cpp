// Recognising a Windows CE image stored in flash: the ROM signature and its
// ROMHDR, or the header of a compressed image.
#include <string.h>

#include "flash/flash_ops.h"
#include "update/section_map.h"

#define ROM_SIGNATURE_OFFSET 0x40
#define ROM_SIGNATURE 0x43454345u
#define ROMHDR_PHYSFIRST 8
#define ROMHDR_PHYSLAST 12
#define COMPRESSED_MAGIC 0x504D4F43u
#define COMPRESSED_HEADER_WORDS 5

static DWORD WordAt(const BYTE* bytes, DWORD offset) {
    DWORD value;
    memcpy(&value, bytes + offset, sizeof value);
    return value;
}

BOOL FindImageHeader(DWORD flashOffset, BYTE romHeader[ROMHDR_SIZE], DWORD* romHeaderOffset) {
    // ROM signature, TOC pointer, TOC offset.
    DWORD pointers[3];
    if (!FlashOps.ReadBuffer || !FlashOps.ReadBuffer(pointers, flashOffset + ROM_SIGNATURE_OFFSET, sizeof pointers))
        return FALSE;
    if (pointers[0] != ROM_SIGNATURE) return FALSE;

    DWORD tocPointer = pointers[1];
    DWORD tocOffset = pointers[2];
    if (romHeaderOffset) *romHeaderOffset = flashOffset + tocOffset;
    // A header that cannot be read is no header: the record holds no stale bytes.
    if (!FlashOps.ReadBuffer(romHeader, flashOffset + tocOffset, ROMHDR_SIZE)) {
        memset(romHeader, 0, ROMHDR_SIZE);
        return FALSE;
    }
    // The image is consistent when its TOC pointer, less the TOC offset, is where it begins.
    return tocPointer - tocOffset == WordAt(romHeader, ROMHDR_PHYSFIRST);
}

DWORD ImageSizeAt(DWORD flashOffset) {
    BYTE romHeader[ROMHDR_SIZE];
    if (FindImageHeader(flashOffset, romHeader, NULL))
        return WordAt(romHeader, ROMHDR_PHYSLAST) - WordAt(romHeader, ROMHDR_PHYSFIRST) + 4;

    DWORD compressed[COMPRESSED_HEADER_WORDS];
    if (!FlashOps.ReadBuffer || !FlashOps.ReadBuffer(compressed, flashOffset, sizeof compressed)) return 0;
    return compressed[0] == COMPRESSED_MAGIC ? compressed[2] : 0;
}
