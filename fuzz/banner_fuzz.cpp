// The "BSP Version" report over hostile flash contents: the search for the
// bootloader's version record, the ROM header and table of contents that
// date it, the older bootloader's banner and its text. The input is the
// first bytes of a 288 KiB flash (the rest is erased), reached through
// FlashOps as the back-ends offer it; a read that touches a 4 KiB page whose
// first word is "BAD!" fails, as a NAND page with an uncorrectable error does.
//
// Besides the sanitizers, every input must keep these:
// - the report is one "BSP Version" box holding both blocks whole;
// - a version record in flash (the first word-aligned start marker followed
//   by the end marker four words on, in readable pages) is the one reported.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/bsp_version.h"
#include "flash/flash_ops.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr DWORD kFlashSize = 0x48000;
constexpr DWORD kPageSize = 0x1000;
constexpr uint32_t kUnreadablePage = 0x21444142;  // "BAD!"
constexpr uint32_t kStartMarker = 0x01234567;
constexpr uint32_t kEndMarker = 0x89ABCDEF;

const uint8_t* flashData;
size_t flashBytes;

uint32_t WordAt(DWORD offset) {
    uint32_t word = 0xFFFFFFFF;
    if (offset + 4 <= flashBytes) std::memcpy(&word, flashData + offset, 4);
    return word;
}

bool PageReadable(DWORD page) { return WordAt(page * kPageSize) != kUnreadablePage; }

BOOL ReadFlash(void* destination, DWORD offset, DWORD length) {
    unsigned long long end = (unsigned long long)offset + length;
    if (end > kFlashSize) return FALSE;
    for (DWORD page = offset / kPageSize; length != 0 && page <= (end - 1) / kPageSize; page++)
        if (!PageReadable(page)) return FALSE;
    BYTE* out = static_cast<BYTE*>(destination);
    std::memset(out, 0xFF, length);
    if (offset < flashBytes) std::memcpy(out, flashData + offset, std::min<size_t>(length, flashBytes - offset));
    return TRUE;
}

DWORD BlockSize(DWORD) { return 0x40000; }

// The record the report must show, found word by word.
bool ExpectedRecord(uint32_t* major, uint32_t* minor) {
    for (DWORD offset = 0; offset < 0x40000; offset += 4) {
        if (!PageReadable(offset / kPageSize) || WordAt(offset) != kStartMarker) continue;
        DWORD last = offset + 16;
        if (!PageReadable(last / kPageSize) || WordAt(last) != kEndMarker) continue;
        *major = WordAt(offset + 8);
        *minor = WordAt(offset + 12) & 0xFFFF;
        return true;
    }
    return false;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_support::OpenModuleOnce("pxa270");
    fuzz_support::StartInput();
    flashData = data;
    flashBytes = size;
    FlashOps = FLASH_OPS{};
    FlashOps.ReadBuffer = ReadFlash;
    FlashOps.BlockSize = BlockSize;
    FlashBackend = kFlashBackendNor;
    FlashDeviceSize = kFlashSize;
    FlashInitialised = TRUE;

    ShowBspVersion(nullptr);

    std::vector<std::string> boxes = fuzz_support::MessageBoxes();
    fuzz_support::Require(boxes.size() == 1, "one report box");
    const std::string& report = boxes[0];
    fuzz_support::Require(report.rfind("BSP Version: Bootloader (in Flash)\r\nID:\t", 0) == 0,
                          "the report starts with the bootloader");
    size_t image = report.find("\r\n\r\nImage (current running)\r\nID:\t");
    fuzz_support::Require(
        image != std::string::npos && (EndsWith(report, " (GMT)") || EndsWith(report, "Unknown Date")),
        "the report holds the image block whole");
    uint32_t major = 0, minor = 0;
    if (ExpectedRecord(&major, &minor)) {
        char version[48];
        std::snprintf(version, sizeof version, "\r\nVer:\t%d.%d", static_cast<int>(major), static_cast<int>(minor));
        fuzz_support::Require(report.substr(0, image).find(version) != std::string::npos,
                              "the first version record is reported");
    }
    return 0;
}
