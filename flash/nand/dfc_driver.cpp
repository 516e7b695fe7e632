// The NAND controller's command machinery, identification, configuration and
// geometry. Every wait is a bounded busy loop on NDSR.
#include "flash/nand/dfc_driver.h"

#include "board/gpio.h"
#include "board/phys_window.h"
#include "platform/ceddk.h"

DWORD NandChipType;
DWORD NandClockMHz = 104;
volatile ULONG* NandRegisters;
DWORD NandSavedControl;

// 1 first read plus 1,400,001 further reads.
#define NAND_STATUS_READS 1400002u
#define NAND_SMALL_PAGE_PIN 73

DWORD NandReadRegister(DWORD offset) { return READ_REGISTER_ULONG(NandRegisters + offset / 4); }

void NandWriteRegister(DWORD offset, DWORD value) { WRITE_REGISTER_ULONG(NandRegisters + offset / 4, value); }

BOOL NandChipIdentified(void) { return NandChipType >= 1 && NandChipType < NAND_CHIP_ROWS && NandRegisters != NULL; }

int NandWaitStatus(DWORD mask) {
    for (DWORD reads = 0; reads < NAND_STATUS_READS; reads++) {
        if (NandReadRegister(NDSR) & mask) {
            return 0;
        }
    }
    return -1;
}

DWORD NandStartCommand(DWORD command, DWORD address1, DWORD address2) {
    NandWriteRegister(NDSR, 0xFFFFFFFF);
    NandWriteRegister(NDCR, NandReadRegister(NDCR) | kNdcrRun);
    if (NandWaitStatus(kNdsrWriteCommandRequest) != 0) {
        return kNandTimeout;
    }
    NandWriteRegister(NDCB0, command);
    NandWriteRegister(NDCB0, address1);
    NandWriteRegister(NDCB0, address2);
    return kNandDone;
}

DWORD NandFinishCommand(void) {
    if (NandWaitStatus(kNdsrReady) != 0 || NandWaitStatus(kNdsrAnyDone) != 0) {
        return kNandTimeout;
    }
    DWORD status = NandReadRegister(NDSR);
    if (status & (kNdsrCs0BadBlock | kNdsrCs1BadBlock)) {
        return kNandBadBlock;
    }
    if (status & kNdsrUncorrectable) {
        return kNandEccError;
    }
    return kNandDone;
}

DWORD NandReadId(DWORD* id) {
    const DWORD* row = NandChipInfo[NandChipType < NAND_CHIP_ROWS ? NandChipType : 0];
    if (NandRegisters == NULL) {
        return kNandTimeout;
    }
    if (NandStartCommand(row[kChipReadIdCommand] | kCommandTypeReadId | 1u << kCommandAddressCyclesShift, 0, 0) !=
            kNandDone ||
        NandWaitStatus(kNdsrReadDataRequest) != 0) {
        return kNandTimeout;
    }
    *id = NandReadRegister(NDDB);
    // The controller always holds 8 bytes; leftovers would go to the flash
    // with the next write.
    (void)NandReadRegister(NDDB);
    if (NandWaitStatus(kNdsrCs0CommandDone) != 0) {
        return kNandTimeout;
    }
    return kNandDone;
}

BOOL NandReadIdValid(DWORD* id) { return NandReadId(id) == kNandDone; }

DWORD NandResetChip(void) {
    const DWORD* row = NandChipInfo[NandChipType < NAND_CHIP_ROWS ? NandChipType : 0];
    if (NandRegisters == NULL) {
        return kNandTimeout;
    }
    if (NandStartCommand(row[kChipResetCommand] | kCommandTypeReset, 0, 0) != kNandDone ||
        NandWaitStatus(kNdsrReady) != 0) {
        return kNandTimeout;
    }
    return kNandDone;
}

// Whole clock periods, rounded up, less one; capped to the field's width.
static DWORD TimingCycles(LONG nanoseconds, DWORD cap) {
    if (nanoseconds <= 1) {
        return 0;
    }
    DWORD cycles = ((DWORD)nanoseconds * NandClockMHz + 999) / 1000 - 1;
    return cycles >= cap ? cap : cycles;
}

void NandSetTimings(void) {
    const DWORD* row = NandChipInfo[NandChipType];
    DWORD tCH = TimingCycles((LONG)row[kChipTch], 7);
    DWORD tCS = TimingCycles((LONG)row[kChipTcs], 7);
    DWORD tWH = TimingCycles((LONG)row[kChipTwh], 7);
    DWORD tWP = TimingCycles((LONG)row[kChipTwp], 7);
    DWORD tRH = TimingCycles((LONG)row[kChipTrh], 7);
    DWORD tRP = TimingCycles((LONG)row[kChipTrp], 7);
    DWORD tR = TimingCycles((LONG)row[kChipTr], 0xFFFF);
    DWORD tWHR = TimingCycles((LONG)row[kChipTwhr], 15);
    DWORD tAR = TimingCycles((LONG)row[kChipTar], 15);
    NandWriteRegister(NDTR0CS0, tCH << 19 | tCS << 16 | tWH << 11 | tWP << 8 | tRH << 3 | tRP);
    NandWriteRegister(NDTR1CS0, tR << 16 | tWHR << 4 | tAR);
}

void NandSetControl(void) {
    const DWORD* chip = NandChipInfo[NandChipType];
    const DWORD* bus = NandBusConfig[NandChipType];
    DWORD control = chip[kChipNcsxBit] | chip[kChipRaStartBit] | chip[kChipPageSizeBit] | chip[kChipReadIdCountBits] |
                    chip[kChipPagesPerBlockBit] | chip[kChipFurtherControl];
    control |= bus[kBusFurtherControl1] | bus[kBusEccLive] | bus[kBusSpareLive] | bus[kBusFurtherControl4] |
               bus[kBusDoubledWidth] | bus[kBusArbiterEnable];
    NandWriteRegister(NDCR, control | kNdcrComposedFixed);
}

void NandEnableEcc(BOOL on) {
    DWORD control = NandReadRegister(NDCR);
    if (on) {
        NandWriteRegister(NDCR, control | kNdcrEccEnable | kNdcrEccCompanion);
        NandBusConfig[NandChipType][kBusEccLive] = kNdcrEccEnable;
    } else {
        NandWriteRegister(NDCR, control & ~kNdcrEccEnable);
        NandBusConfig[NandChipType][kBusEccLive] = 0;
    }
}

void NandEnableSpare(BOOL on) {
    DWORD control = NandReadRegister(NDCR);
    if (on) {
        NandWriteRegister(NDCR, control | kNdcrSpareEnable);
        NandBusConfig[NandChipType][kBusSpareLive] = kNdcrSpareEnable;
    } else {
        NandWriteRegister(NDCR, control & ~kNdcrSpareEnable);
        NandBusConfig[NandChipType][kBusSpareLive] = 0;
    }
}

void NandSaveControl(void) { NandSavedControl = NandReadRegister(NDCR); }

void NandRestoreControl(void) { NandWriteRegister(NDCR, NandSavedControl); }

BOOL NandBusDoubled(void) { return NandBusConfig[NandChipType][kBusDoubledWidth] != 0; }

static BOOL LargePageChip(void) { return NandChipInfo[NandChipType][kChipPageSizeBit] != 0; }

DWORD NandPageSize(void) {
    DWORD size = LargePageChip() ? 2048 : 512;
    return NandBusDoubled() ? size * 2 : size;
}

DWORD NandBlockSize(void) {
    DWORD pages = NandChipInfo[NandChipType][kChipPagesPerBlockBit] ? 64 : 32;
    return NandPageSize() * pages;
}

DWORD NandBlockCount(void) { return NandChipInfo[NandChipType][kChipBlockCount]; }

DWORD NandSpareSize(void) {
    const DWORD* bus = NandBusConfig[NandChipType];
    if (bus[kBusSpareLive] == 0) {
        return 0;
    }
    DWORD size;
    if (bus[kBusEccLive] != 0) {
        size = LargePageChip() ? 40 : 8;
    } else {
        size = LargePageChip() ? 64 : 16;
    }
    return NandBusDoubled() ? size * 2 : size;
}

DWORD NandInitController(BOOL full) {
    // The window stays for the process; a retried initialisation reuses it.
    if (NandRegisters == NULL) {
        NandRegisters = MapRegisterWindow(NAND_CONTROLLER_PHYSICAL);
        if (NandRegisters == NULL) {
            return kNandTimeout;
        }
    }

    if (full) {
        NandChipType = 0;
        NandSetTimings();
        NandSetControl();
        (void)NandResetChip();
    }

    DWORD id = 0;
    if (NandReadId(&id) != kNandDone) {
        return kNandTimeout;
    }
    // The row whose ID column holds the ID; an ID of no row leaves the type as it was.
    DWORD type = 1;
    while (type < NAND_CHIP_ROWS && NandChipInfo[type][kChipId] != (id & 0xFFFF)) {
        type++;
    }
    if (type == NAND_CHIP_ROWS) {
        return kNandTimeout;
    }
    if (NandChipInfo[type][kChipSmallPagePin]) {
        DrivePinHigh(NAND_SMALL_PAGE_PIN);
    }
    if (NandChipInfo[type][kChipClockMHz] != 0) {
        NandClockMHz = NandChipInfo[type][kChipClockMHz];
    }
    NandChipType = type;

    if (full) {
        NandSetTimings();
        NandSetControl();
    }
    return kNandDone;
}
