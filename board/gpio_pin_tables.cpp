// The pin tables of the PXA3xx multi-function pin registers.
#include "board/gpio_pin_tables.h"

// PXA320: the MFPR of each pin as a count of 32-bit words after the MFPR of
// GPIO 0 (0x40E10124). These are the initial contents of the index table.
// clang-format off
const WORD Pxa320PinFunctionIndex[GPIO_PIN_NUMBERS] = {
    // pins 0..4: MFPR at 0x0124, index 0 up
    0, 1, 2, 3, 4,
    // pins 5..9: MFPR at 0x028C, index 90 up
    90, 91, 92, 93, 94,
    // pins 10..10: MFPR at 0x0458, index 205 up
    205,
    // pins 11..26: MFPR at 0x02A0, index 95 up
    95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110,
    // pins 27..48: MFPR at 0x0400, index 183 up
    183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200,
    201, 202, 203, 204,
    // pins 49..62: MFPR at 0x045C, index 206 up
    206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 218, 219,
    // pins 63..73: MFPR at 0x04B4, index 228 up
    228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238,
    // pins 74..98: MFPR at 0x04F0, index 243 up
    243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254, 255, 256, 257, 258, 259, 260,
    261, 262, 263, 264, 265, 266, 267,
    // pins 99..133: MFPR at 0x0600, index 311 up
    311, 312, 313, 314, 315, 316, 317, 318, 319, 320, 321, 322, 323, 324, 325, 326, 327, 328,
    329, 330, 331, 332, 333, 334, 335, 336, 337, 338, 339, 340, 341, 342, 343, 344, 345,
    // pins 134..139: MFPR at 0x0494, index 220 up
    220, 221, 222, 223, 224, 225,
};
// clang-format on

// PXA300: the byte offset of each pin's MFPR from 0x40E10000.
// clang-format off
const WORD Pxa300PinFunctionOffset[GPIO_PIN_NUMBERS] = {
    // pins 0..2: from 0x00B4
    0x00B4, 0x00B8, 0x00BC,
    // pins 3..26: from 0x027C
    0x027C, 0x0280, 0x0284, 0x0288, 0x028C, 0x0290, 0x0294, 0x0298, 0x029C, 0x02A0, 0x02A4,
    0x02A8, 0x02AC, 0x02B0, 0x02B4, 0x02B8, 0x02BC, 0x02C0, 0x02C4, 0x02C8, 0x02CC, 0x02D0,
    0x02D4, 0x02D8,
    // pins 27..98: from 0x0400
    0x0400, 0x0404, 0x0408, 0x040C, 0x0410, 0x0414, 0x0418, 0x041C, 0x0420, 0x0424, 0x0428,
    0x042C, 0x0430, 0x0434, 0x0438, 0x043C, 0x0440, 0x0444, 0x0448, 0x044C, 0x0450, 0x0454,
    0x0458, 0x045C, 0x0460, 0x0464, 0x0468, 0x046C, 0x0470, 0x0474, 0x0478, 0x047C, 0x0480,
    0x0484, 0x0488, 0x048C, 0x0490, 0x0494, 0x0498, 0x049C, 0x04A0, 0x04A4, 0x04A8, 0x04AC,
    0x04B0, 0x04B4, 0x04B8, 0x04BC, 0x04C0, 0x04C4, 0x04C8, 0x04CC, 0x04D0, 0x04D4, 0x04D8,
    0x04DC, 0x04E0, 0x04E4, 0x04E8, 0x04EC, 0x04F0, 0x04F4, 0x04F8, 0x04FC, 0x0500, 0x0504,
    0x0508, 0x050C, 0x0510, 0x0514, 0x0518, 0x051C,
    // pins 99..129: from 0x0600
    0x0600, 0x0604, 0x0608, 0x060C, 0x0610, 0x0614, 0x0618, 0x061C, 0x0620, 0x0624, 0x0628,
    0x062C, 0x0630, 0x0634, 0x0638, 0x063C, 0x0640, 0x0644, 0x0648, 0x064C, 0x0650, 0x0654,
    0x0658, 0x065C, 0x0660, 0x0664, 0x0668, 0x066C, 0x0670, 0x0674, 0x0678,
    // pins 130..134: from 0x02DC
    0x02DC, 0x02E0, 0x02E4, 0x02E8, 0x02EC,
    // pins 135..138: from 0x052C
    0x052C, 0x0530, 0x0534, 0x0538,
    // entry 139: no such pin on a PXA300
    0x0000,
};
// clang-format on

// The function number that makes a PXA3xx pin a GPIO, where it is not 0.
const GPIO_FUNCTION_EXCEPTION GpioFunctionExceptions[GPIO_FUNCTION_EXCEPTION_COUNT] = {
    // processor pin function
    {2, 56, kNoGpioFunction},
    {2, 59, kNoGpioFunction},
    {2, 60, kNoGpioFunction},
    {2, 61, kNoGpioFunction},
    {2, 62, kNoGpioFunction},
    {8, 46, 1},
    {8, 49, 1},
    {8, 51, 1},
    {8, 52, 1},
    {8, 50, 2},
};
