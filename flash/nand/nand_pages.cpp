// NAND page transfers: runs of pages read or programmed word by word through
// NDDB, the spare area of one page, and block erase.
#include "flash/nand/dfc_driver.h"

#include <string.h>

void NandMakeAddress(DWORD offset, BOOL rowOnly, BOOL halve, DWORD* address1, DWORD* address2, DWORD* chipSelect) {
    DWORD x = halve ? offset >> 1 : offset;
    DWORD boundary = NandBusConfig[NandChipType][kBusChipSelect1Boundary];
    *chipSelect = 0;
    if (x >= boundary) {
        *chipSelect = 1;
        x -= boundary;
    }
    *address1 = 0;
    *address2 = 0;
    switch (NandChipType) {
        case 1: *address1 = rowOnly ? (x >> 9) & 0xFFFF : (x & 0xFF) | ((x >> 9) & 0xFFFF) << 8; break;
        case 2: *address1 = rowOnly ? (x >> 9) & 0x1FFFF : (x & 0xFF) | ((x >> 9) & 0x1FFFF) << 8; break;
        case 3:
        case 5:
            *address1 = rowOnly ? x >> 11 : (x & 0x7FF) | (x >> 11) << 16;
            if (!rowOnly) {
                *address2 = (x >> 27) & 0xF;
            }
            break;
        case 4: *address1 = rowOnly ? x >> 11 : (x & 0x7FF) | (x >> 11) << 16; break;
        default: break;
    }
}

// The first command byte, the address cycles and the second byte's flag.
static DWORD CommandWord(DWORD commandField, DWORD cyclesField) {
    DWORD commands = NandChipInfo[NandChipType][commandField];
    DWORD word = commands | NandChipInfo[NandChipType][cyclesField] << kCommandAddressCyclesShift;
    if (commands & 0xFF00) {
        word |= kCommandDoubleByte;
    }
    return word;
}

static DWORD StartPageCommand(DWORD command, DWORD pageOffset, BOOL rowOnly, BOOL halve) {
    DWORD address1, address2, chipSelect;
    NandMakeAddress(pageOffset, rowOnly, halve, &address1, &address2, &chipSelect);
    return NandStartCommand(command | (chipSelect ? kCommandChipSelect1 : 0), address1, address2);
}

static void WriteFillWords(DWORD bytes) {
    for (DWORD i = 0; i < (bytes + 3) / 4; i++) {
        NandWriteRegister(NDDB, 0xFFFFFFFF);
    }
}

static void DiscardWords(DWORD bytes) {
    for (DWORD i = 0; i < (bytes + 3) / 4; i++) {
        (void)NandReadRegister(NDDB);
    }
}

// The shape of a multi-page run, after the doubled bus's first-block rule.
typedef struct PAGE_RUN {
    DWORD length;
    DWORD pageSize;
    DWORD spareSize;
    DWORD firstPage;
    DWORD head;
    DWORD tail;
    BOOL halve;
    BOOL eightBit;
} PAGE_RUN;

static BOOL PlanPageRun(DWORD offset, DWORD length, PAGE_RUN* run) {
    run->length = length & ~3u;
    if (run->length == 0 || (offset & 3) != 0 || !NandChipIdentified()) {
        return FALSE;
    }
    run->pageSize = NandPageSize();
    run->spareSize = NandSpareSize();
    DWORD blockSize = NandBlockSize();
    run->halve = FALSE;
    run->eightBit = FALSE;
    if (NandBusDoubled()) {
        if (offset >= blockSize) {
            run->halve = TRUE;
        } else {
            // In 8-bit mode only the low-lane chip answers, with its own
            // addresses; its first block is the part of physical block 0 it
            // holds. Its second block is the low lane of physical block 1,
            // so a transfer reaching it is refused rather than cut short.
            run->pageSize /= 2;
            run->spareSize /= 2;
            blockSize /= 2;
            if ((unsigned long long)offset + run->length > blockSize) {
                return FALSE;
            }
            run->eightBit = TRUE;
        }
    }
    run->firstPage = offset & ~(run->pageSize - 1);
    run->head = offset - run->firstPage;
    DWORD lastPage = (offset + run->length - 1) & ~(run->pageSize - 1);
    run->tail = lastPage + run->pageSize - (offset + run->length) + run->spareSize;
    return TRUE;
}

static void EnterEightBit(const PAGE_RUN* run) {
    if (run->eightBit) {
        NandSaveControl();
        NandWriteRegister(NDCR, NandReadRegister(NDCR) & ~kNdcrControllerWidth16);
    }
}

static void LeaveEightBit(const PAGE_RUN* run) {
    if (run->eightBit) {
        NandRestoreControl();
    }
}

// Moves the data words of a run; the direction decides what happens to each
// word and which data request is awaited.
static DWORD TransferPages(BYTE* readBuffer, const BYTE* writeBuffer, DWORD offset, DWORD length, BOOL program) {
    PAGE_RUN run;
    if (!PlanPageRun(offset, length, &run)) {
        return kNandTimeout;
    }
    DWORD command =
        program ? CommandWord(kChipProgramCommand, kChipAddressCycles) | kCommandTypeProgram | kCommandAutoStatus
                : CommandWord(kChipReadCommand, kChipAddressCycles) | kCommandTypeRead;
    DWORD dataRequest = program ? kNdsrWriteDataRequest : kNdsrReadDataRequest;

    EnterEightBit(&run);
    DWORD result = kNandDone;
    DWORD page = run.firstPage;
    if (StartPageCommand(command, page, FALSE, run.halve) != kNandDone || NandWaitStatus(dataRequest) != 0) {
        LeaveEightBit(&run);
        return kNandTimeout;
    }

    // Bytes of the first page before the data stay as they are.
    if (program) {
        WriteFillWords(run.head);
    } else {
        DiscardWords(run.head);
    }
    DWORD count = run.head;
    for (DWORD done = 0; done < run.length;) {
        DWORD word;
        if (program) {
            memcpy(&word, writeBuffer + done, 4);
            NandWriteRegister(NDDB, word);
        } else {
            word = NandReadRegister(NDDB);
            memcpy(readBuffer + done, &word, 4);
        }
        done += 4;
        count += 4;
        if (done == run.length || count % run.pageSize != 0) {
            continue;
        }
        // A page is full and data is left: its spare area, then the next page.
        if (program) {
            WriteFillWords(run.spareSize);
        } else {
            DiscardWords(run.spareSize);
        }
        DWORD code = NandFinishCommand();
        if (code != kNandDone) {
            result |= code;
            if (code != kNandEccError) {
                LeaveEightBit(&run);
                return result | kNandTimeout;
            }
        }
        page += run.pageSize;
        if (StartPageCommand(command, page, FALSE, run.halve) != kNandDone || NandWaitStatus(dataRequest) != 0) {
            LeaveEightBit(&run);
            return result | kNandTimeout;
        }
    }
    if (program) {
        WriteFillWords(run.tail);
    } else {
        DiscardWords(run.tail);
    }
    result |= NandFinishCommand();
    LeaveEightBit(&run);
    return result;
}

DWORD NandReadPages(void* buffer, DWORD offset, DWORD length) {
    return TransferPages((BYTE*)buffer, NULL, offset, length, FALSE);
}

DWORD NandProgramPages(const void* buffer, DWORD offset, DWORD length) {
    return TransferPages(NULL, (const BYTE*)buffer, offset, length, TRUE);
}

DWORD NandReadSpare(void* buffer, DWORD offset, DWORD length) {
    if (!NandChipIdentified()) {
        return kNandTimeout;
    }
    NandEnableSpare(TRUE);
    BOOL halve = NandBusDoubled();
    DWORD pageSize = NandPageSize();
    DWORD page = offset & ~(pageSize - 1);
    DWORD spareSize = NandSpareSize();
    DWORD length4 = length & ~3u;
    DWORD code = kNandTimeout;
    if (length4 <= spareSize &&
        StartPageCommand(CommandWord(kChipReadCommand, kChipAddressCycles) | kCommandTypeRead, page, FALSE, halve) ==
            kNandDone &&
        NandWaitStatus(kNdsrReadDataRequest) == 0) {
        DiscardWords(pageSize);
        for (DWORD done = 0; done < length4; done += 4) {
            DWORD word = NandReadRegister(NDDB);
            memcpy((BYTE*)buffer + done, &word, 4);
        }
        DiscardWords(spareSize - length4);
        code = NandFinishCommand();
    }
    NandEnableSpare(FALSE);
    return code;
}

DWORD NandWriteSpare(const void* buffer, DWORD offset, DWORD length) {
    if (!NandChipIdentified()) {
        return kNandTimeout;
    }
    NandEnableSpare(TRUE);
    NandEnableEcc(FALSE);
    BOOL halve = NandBusDoubled();
    DWORD pageSize = NandPageSize();
    DWORD page = offset & ~(pageSize - 1);
    DWORD spareSize = NandSpareSize();
    DWORD length4 = length & ~3u;
    DWORD code = kNandTimeout;
    DWORD command = CommandWord(kChipProgramCommand, kChipAddressCycles) | kCommandTypeProgram | kCommandAutoStatus;
    if (length4 <= spareSize && StartPageCommand(command, page, FALSE, halve) == kNandDone &&
        NandWaitStatus(kNdsrWriteDataRequest) == 0) {
        // The page data stays as it is; only the spare bytes are programmed.
        WriteFillWords(pageSize);
        for (DWORD done = 0; done < length4; done += 4) {
            DWORD word;
            memcpy(&word, (const BYTE*)buffer + done, 4);
            NandWriteRegister(NDDB, word);
        }
        WriteFillWords(spareSize - length4);
        code = NandFinishCommand();
    }
    NandEnableSpare(FALSE);
    // The live ECC field is off now, so ECC stays off.
    NandEnableEcc(FALSE);
    return code;
}

DWORD NandEraseBlock(DWORD offset) {
    if (!NandChipIdentified()) {
        return kNandTimeout;
    }
    DWORD command = CommandWord(kChipEraseCommand, kChipEraseAddressCycles) | kCommandTypeErase | kCommandAutoStatus;
    if (StartPageCommand(command, offset, TRUE, NandBusDoubled()) != kNandDone) {
        return kNandTimeout;
    }
    return NandFinishCommand();
}
