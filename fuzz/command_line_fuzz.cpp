// The program's main routine over a hostile command line, as the platform
// hands it over: UTF-16 text (the input's bytes taken as little-endian
// 16-bit units) read at fixed positions. Every job runs for real on a small
// NOR module whose file system holds a small image, \a.bin: updates, registry
// saves and clears, reboots after a delay (the HAL's request returns here),
// the main dialog (closed at once). Host paths are left out when they could
// leave the working directory: absolute ones and those that climb with "..".
//
// Besides the sanitizers, every input must keep these: the exit code is 1,
// and a job shows at most one message box.
#include <string>
#include <vector>

#include "app/win_main.h"
#include "flash/flash_ops.h"
#include "fuzz/fuzz_support.h"
#include "res/resources.h"

namespace {

// "B000FF\n", start 0x80080000, length 16, one record of 16 bytes 0..15
// (byte sum 120), the end record.
const uint8_t kSmallImage[] = {
    'B',  '0',  '0',  '0',  'F',  'F',  '\n', 0x00, 0x00, 0x08, 0x80, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x80,
    0x10, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00, 0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,
    11,   12,   13,   14,   15,   0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
};

void PrepareModule() {
    static bool prepared = false;
    if (prepared) return;
    fuzz_support::OpenModuleOnce("pxa270", {"nor.query_size=20"});
    fuzz_support::WriteScratchFile("module/root/a.bin", kSmallImage, sizeof kSmallImage);
    prepared = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PrepareModule();
    std::u16string line;
    for (size_t i = 0; i + 1 < size; i += 2) line.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    line = line.substr(0, line.find(u'\0'));
    if (line.size() > 3 && line.compare(0, 2, u"/u") == 0 && (line[3] == u'/' || line.find(u"..") != line.npos))
        return -1;

    fuzz_support::StartInput();
    int exitCode = WinMain(reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources)), nullptr,
                           reinterpret_cast<LPWSTR>(line.data()), 1);
    fuzz_support::Require(exitCode == 1, "the exit code is 1");
    fuzz_support::Require(fuzz_support::MessageBoxes().size() <= 1, "at most one message box per job");
    return 0;
}
