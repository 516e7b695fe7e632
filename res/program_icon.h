// The program file's icon: group 102 with two 16-colour images, 32x32 (icon
// 1) and 16x16 (icon 2). The group is a GRPICONDIR as the resource compiler
// writes it (the .ico directory with a resource id in place of a file
// offset); each image is a DIB: BITMAPINFOHEADER with the height doubled for
// the two masks, the 16-entry palette, the XOR mask at 4 bits per pixel and
// the 1-bit AND mask, both bottom-up with rows padded to a DWORD.
#pragma once
#include "platform/windows.h"
#include "platform/wingdi.h"

#pragma pack(push, 2)
typedef struct {
    BYTE bWidth;
    BYTE bHeight;
    BYTE bColorCount;
    BYTE bReserved;
    WORD wPlanes;
    WORD wBitCount;
    DWORD dwBytesInRes;
    WORD nId;
} GRPICONDIRENTRY;

typedef struct {
    WORD idReserved;
    WORD idType;  // 1: icons
    WORD idCount;
    GRPICONDIRENTRY idEntries[2];
} PROGRAM_ICON_GROUP;
#pragma pack(pop)

typedef struct {
    BITMAPINFOHEADER header;
    RGBQUAD palette[16];
    BYTE xorMask[32 * 16];  // 32 rows of 32 pixels at 4 bits
    BYTE andMask[32 * 4];   // 32 rows of 32 bits
} ICON_IMAGE_32;

typedef struct {
    BITMAPINFOHEADER header;
    RGBQUAD palette[16];
    BYTE xorMask[16 * 8];  // 16 rows of 16 pixels at 4 bits
    BYTE andMask[16 * 4];  // 16 rows of 16 bits, each padded to 32
} ICON_IMAGE_16;

extern const PROGRAM_ICON_GROUP ProgramIconGroup;
extern const ICON_IMAGE_32 ProgramIcon32;
extern const ICON_IMAGE_16 ProgramIcon16;
