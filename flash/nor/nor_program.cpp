// Programming the NOR pair: single words and the chips' write buffers.
#include "flash/nor/nor_commands.h"

enum { kNorBufferSpan = 64 };  // the two chips' 32-byte write buffers side by side

BOOL NorWriteWord(DWORD offset, DWORD value) {
    if ((offset & 3) != 0 || !NorRangeValid(offset, 4)) {
        return FALSE;
    }

    NorCommand(offset, kNorWordProgramSetup);
    NorCommand(offset, value);
    DWORD startTick = GetTickCount();

    DWORD status;
    if (!NorWaitReady(offset, startTick, kNorWordTimeoutMs, 0, &status)) {
        NorCommand(offset, kNorReadArray);
        return FALSE;
    }
    if (status & kNorProgramErrorBits) {
        NorFailWithStatus(offset);
        return FALSE;
    }
    NorCommand(offset, kNorReadArray);
    return TRUE;
}

// The bus word at flash offset wordOffset, built from the source bytes that
// fall on it; bytes outside [dataOffset, dataEnd) are 0xFF, which programming
// leaves as they are.
static DWORD NorSourceWord(const BYTE* source, DWORD dataOffset, DWORD dataEnd, DWORD wordOffset) {
    // Every word but the first and the last lies wholly inside the data.
    if (wordOffset >= dataOffset && wordOffset < dataEnd && dataEnd - wordOffset >= 4) {
        const BYTE* bytes = source + (wordOffset - dataOffset);
        return (DWORD)bytes[0] | (DWORD)bytes[1] << 8 | (DWORD)bytes[2] << 16 | (DWORD)bytes[3] << 24;
    }
    DWORD word = 0;
    for (DWORD i = 0; i < 4; i++) {
        DWORD byteOffset = wordOffset + i;
        DWORD byte = 0xFF;
        if (byteOffset >= dataOffset && byteOffset < dataEnd) {
            byte = source[byteOffset - dataOffset];
        }
        word |= byte << (8 * i);
    }
    return word;
}

// One write-buffer sequence of words words at chunkOffset. *lastAddressed
// follows the words written, for the closing Read Array.
static BOOL NorProgramChunk(const BYTE* source, DWORD dataOffset, DWORD dataEnd, DWORD chunkOffset, DWORD words,
                            DWORD* lastAddressed) {
    DWORD status;
    DWORD lastWord = chunkOffset + 4 * (words - 1);

    NorCommand(chunkOffset, kNorWriteToBuffer);
    DWORD startTick = GetTickCount();
    *lastAddressed = chunkOffset;
    if (!NorWaitReady(chunkOffset, startTick, kNorChunkTimeoutMs, 0, &status)) {
        return FALSE;
    }

    NorCommand(chunkOffset, (words - 1) * kNorCountUnit);
    for (DWORD i = 0; i < words; i++) {
        DWORD wordOffset = chunkOffset + 4 * i;
        NorCommand(wordOffset, NorSourceWord(source, dataOffset, dataEnd, wordOffset));
    }
    NorCommand(lastWord, kNorConfirm);
    *lastAddressed = lastWord;

    if (!NorWaitReady(lastWord, startTick, kNorChunkTimeoutMs, 0, &status)) {
        return FALSE;
    }
    // A failed program must not pass for a written one.
    if (status & kNorProgramErrorBits) {
        NorCommand(lastWord, kNorClearStatus);
        return FALSE;
    }
    return TRUE;
}

BOOL NorWriteBuffer(const void* source, DWORD offset, DWORD length) {
    if (!NorRangeValid(offset, length)) {
        return FALSE;
    }
    // Whole bus words cover the data; an unaligned start or a partial last
    // word is padded with 0xFF instead of taking bytes from beyond the source.
    DWORD dataEnd = offset + length;
    DWORD wordStart = offset & ~3u;
    unsigned long long wordEnd = ((unsigned long long)dataEnd + 3) & ~3ull;
    if (wordEnd > FlashDeviceSize) {
        return FALSE;
    }
    if (length == 0) {
        NorCommand(wordStart, kNorReadArray);
        return TRUE;
    }

    // Chunks never cross a 64-byte boundary of the flash offset.
    const BYTE* bytes = (const BYTE*)source;
    DWORD chunkOffset = wordStart;
    DWORD remaining = (DWORD)(wordEnd - wordStart);
    DWORD lastAddressed = wordStart;
    while (remaining != 0) {
        DWORD chunkBytes = kNorBufferSpan - chunkOffset % kNorBufferSpan;
        if (chunkBytes > remaining) {
            chunkBytes = remaining;
        }
        if (!NorProgramChunk(bytes, offset, dataEnd, chunkOffset, chunkBytes / 4, &lastAddressed)) {
            NorCommand(lastAddressed, kNorReadArray);
            return FALSE;
        }
        chunkOffset += chunkBytes;
        remaining -= chunkBytes;
    }
    NorCommand(lastAddressed, kNorReadArray);
    return TRUE;
}
