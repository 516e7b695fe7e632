// The PXA3xx NAND data flash controller: registers, the two chip tables, the
// command machinery, identification and geometry, and the page transfers
// built on them. Offsets here are byte offsets in the device's own address
// space, before any block remapping. Results are status codes, OR-ed over
// pages; they are not truth values.
#pragma once
#include "platform/windows.h"

#define NAND_CONTROLLER_PHYSICAL 0x43100000

// Register offsets from the controller's base.
enum {
    NDCR = 0x00,
    NDTR0CS0 = 0x04,
    NDTR1CS0 = 0x0C,
    NDSR = 0x14,
    NDDB = 0x40,
    NDCB0 = 0x48,
};

// NDCR bits the driver sets or changes.
enum {
    kNdcrSpareEnable = 0x80000000u,
    kNdcrEccEnable = 0x40000000u,
    kNdcrRun = 0x10000000u,
    kNdcrControllerWidth16 = 0x08000000u,
    kNdcrPageSize2048 = 0x01000000u,
    kNdcrEccCompanion = 0x00080000u,  // bit 19, set with ECC and in every composed value
    kNdcrPagesPerBlock64 = 0x00004000u,
    kNdcrComposedFixed = 0x00080FFFu,  // bit 19 and every interrupt mask
};

// NDSR bits the driver tests.
enum {
    kNdsrWriteCommandRequest = 0x001,
    kNdsrReadDataRequest = 0x002,
    kNdsrWriteDataRequest = 0x004,
    kNdsrUncorrectable = 0x010,
    kNdsrCs1BadBlock = 0x020,
    kNdsrCs0BadBlock = 0x040,
    kNdsrCs0CommandDone = 0x100,
    kNdsrReady = 0x800,
    kNdsrAnyDone = 0x1F0,  // bits 4 to 8: an error or a command done
};

// NDCB0 command word fields: bytes in bits 15:0, address cycles in bits
// 18:16, the type in bits 23:21.
enum {
    kCommandAddressCyclesShift = 16,
    kCommandDoubleByte = 1u << 19,
    kCommandTypeRead = 0u << 21,
    kCommandTypeProgram = 1u << 21,
    kCommandTypeErase = 2u << 21,
    kCommandTypeReadId = 3u << 21,
    kCommandTypeReset = 5u << 21,
    kCommandChipSelect1 = 1u << 24,
    kCommandAutoStatus = 1u << 25,
};

// Status codes of the command and transfer operations.
enum {
    kNandDone = 0,
    kNandTimeout = 1,  // a wait ran out, or the request was refused before anything was sent
    kNandEccError = 2,
    kNandBadBlock = 4,
};

// Columns of NandChipInfo.
// clang-format off
enum {
    kChipTch, kChipTcs, kChipTwh, kChipTwp, kChipTrh, kChipTrp, kChipTr, kChipTwhr, kChipTar,
    kChipNcsxBit, kChipRaStartBit, kChipPageSizeBit, kChipReadIdCountBits, kChipPagesPerBlockBit,
    kChipAddressCycles, kChipEraseAddressCycles, kChipFurtherControl,
    kChipReadCommand, kChipSpareReadCommand, kChipReadIdCommand, kChipResetCommand,
    kChipProgramCommand, kChipSecondProgramCommand, kChipEraseCommand, kChipStatusCommand,
    kChipBlockCount, kChipId, kChipClockMHz, kChipSmallPagePin,
    kChipFieldCount,
};
// clang-format on

// Columns of NandBusConfig; the ECC and spare fields are the live switches.
// clang-format off
enum {
    kBusFurtherControl1, kBusEccLive, kBusSpareLive, kBusFurtherControl4,
    kBusDoubledWidth, kBusArbiterEnable, kBusChipSelect1Boundary,
    kBusFieldCount,
};
// clang-format on

#define NAND_CHIP_ROWS 6

extern const DWORD NandChipInfo[NAND_CHIP_ROWS][kChipFieldCount];
extern DWORD NandBusConfig[NAND_CHIP_ROWS][kBusFieldCount];

extern DWORD NandChipType;
extern DWORD NandClockMHz;
extern volatile ULONG* NandRegisters;
extern DWORD NandSavedControl;

// Identification and configuration.
DWORD NandInitController(BOOL full);
DWORD NandReadId(DWORD* id);
BOOL NandReadIdValid(DWORD* id);
DWORD NandResetChip(void);
void NandSetTimings(void);
void NandSetControl(void);
void NandEnableEcc(BOOL on);
void NandEnableSpare(BOOL on);
void NandSaveControl(void);
void NandRestoreControl(void);

// Geometry of the identified chip, with the current switch state.
DWORD NandPageSize(void);
DWORD NandBlockSize(void);
DWORD NandBlockCount(void);
DWORD NandSpareSize(void);
BOOL NandBusDoubled(void);

// Command machinery shared with the page transfers.
DWORD NandReadRegister(DWORD offset);
void NandWriteRegister(DWORD offset, DWORD value);
DWORD NandStartCommand(DWORD command, DWORD address1, DWORD address2);
int NandWaitStatus(DWORD mask);
DWORD NandFinishCommand(void);
BOOL NandChipIdentified(void);

// Page transfers. Buffers are byte addresses of whole 32-bit words; offsets
// must be multiples of 4 and lengths are used rounded down to 4.
void NandMakeAddress(DWORD offset, BOOL rowOnly, BOOL halve, DWORD* address1, DWORD* address2, DWORD* chipSelect);
DWORD NandReadPages(void* buffer, DWORD offset, DWORD length);
DWORD NandProgramPages(const void* buffer, DWORD offset, DWORD length);
DWORD NandReadSpare(void* buffer, DWORD offset, DWORD length);
DWORD NandWriteSpare(const void* buffer, DWORD offset, DWORD length);
DWORD NandEraseBlock(DWORD offset);
