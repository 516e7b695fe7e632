// The update worker over a hostile .bin file, as the quiet /u command runs it:
// the check pass over the whole file, the relocation check, then the erase,
// the records and (on NAND) the staged boot area, on a small fault-free
// module. Built twice: on NOR (a 2 MiB pair) and on NAND (the doubled bus of
// two small-page chips, whose boot area stores less than 256 KiB).
//
// Besides the sanitizers, every input must keep these:
// - a job shows at most one message box, and shows none exactly when it
//   succeeds;
// - a file the worker refuses (its header, a record, a checksum, where the
//   data go, records that overlap) costs the flash no erase and no program;
// - a fault-free module never fails to write, read back or verify;
// - a success has no two non-empty records overlapping, and every record reads back
//   from flash as the file holds it.
#include <cstring>
#include <string>
#include <vector>

#include "flash/flash_ops.h"
#include "fuzz/fuzz_support.h"
#include "shell/shell_state.h"
#include "update/image_file.h"
#include "update/update.h"
#include "update/update_progress.h"

namespace {

#if FUZZ_IMAGE_ON_NAND
const char* const kProfile = "pxa320-75ec";
const std::vector<std::string> kOverrides = {};
#else
// Two 1 MiB chips: every erase stays small.
const char* const kProfile = "pxa270";
const std::vector<std::string> kOverrides = {"nor.query_size=20"};
#endif

// Images whose erase would cover more than this are left out: the check
// logic is the same for any length, the time of a 64 MiB erase is not.
constexpr uint32_t kLargestErase = 4u << 20;

uint32_t Word(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

struct Record {
    uint32_t address;
    const uint8_t* data;
    uint32_t length;
};

// The records of a whole, well-formed file; empty when the file is not one.
bool ReadRecords(const uint8_t* data, size_t size, std::vector<Record>* records) {
    size_t at = IMAGE_SIGNATURE_SIZE + 8;
    while (at + 12 <= size) {
        uint32_t address = Word(data + at), length = Word(data + at + 4), checksum = Word(data + at + 8);
        at += 12;
        if (address == 0 && checksum == 0) return true;
        if (length > size - at) return false;
        records->push_back({address, data + at, length});
        at += length;
    }
    return false;
}

// An empty record writes nothing, so it overlaps nothing, even inside another.
bool Overlap(const std::vector<Record>& records) {
    for (size_t i = 0; i < records.size(); i++)
        for (size_t j = i + 1; j < records.size(); j++) {
            if (records[i].length == 0 || records[j].length == 0) continue;
            uint64_t a = records[i].address, b = records[j].address;
            if (a < b + records[j].length && b < a + records[i].length) return true;
        }
    return false;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Messages of a file the worker refused before the erase.
bool RefusedFile(const std::string& box) {
    static const char* const kRefusals[] = {
        "ERRER: Not a WinCE Binary Image file!",
        "ERROR: Unexpected end of file!",
        "ERROR: BAD CRC",
        "ERROR: Record at ",
        "ERROR: Records at ",
        "ERROR: Image File has more than ",
        "ERROR: The boot area cannot store data",
        "ERROR: Block map damaged",
        "ERROR: Relocation table damaged",
    };
    for (const char* refusal : kRefusals)
        if (StartsWith(box, refusal)) return true;
    return false;
}

// Messages a fault-free module never earns.
bool FlashFailure(const std::string& box) {
    return box == "ERROR: Error writing to Flash!" || box == "ERROR: Error reading Flash!" ||
           box == "ERROR: Error veryfing Flash!";
}

uint64_t FlashChanges(sim::Module& module) {
    const sim::FlashCounters& c = module.events().counters();
    return c.operations(sim::Operation::BlockErase) + c.operations(sim::Operation::WordProgram) +
           c.operations(sim::Operation::BufferProgram) + c.operations(sim::Operation::PageProgram);
}

// Every record as the file holds it, read back through the back-end. Bytes
// the boot area does not store read back as the record holds them (they are
// 0xFF there, or the check would have refused the file).
void CheckRecordsInFlash(const std::vector<Record>& records, uint32_t addressBias) {
    std::vector<uint8_t> readBack;
    for (const Record& record : records) {
        if (record.length == 0) continue;
        readBack.assign(record.data, record.data + record.length);
        fuzz_support::Require(FlashOps.ReadBuffer(readBack.data(), record.address + addressBias, record.length),
                              "a written record reads back");
        fuzz_support::Require(std::memcmp(readBack.data(), record.data, record.length) == 0,
                              "a written record holds the file's bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_support::OpenModuleOnce(kProfile, kOverrides);
    sim::Module& module = fuzz_support::StartInput();
    if (SelectFlashBackend() == 0) fuzz_support::Require(false, "the module's flash starts");
    if (size >= IMAGE_SIGNATURE_SIZE + 8) {
        uint32_t length = Word(data + IMAGE_SIGNATURE_SIZE + 4);
        if (length > kLargestErase && length <= FlashDeviceSize) return -1;
    }

    std::u16string path = sim::utf16(fuzz_support::WriteScratchFile("image.bin", data, size).string());
    fuzz_support::Require(path.size() < IMAGE_PATH_CHARS, "the scratch path fits ImagePath");
    std::memcpy(ImagePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    QuietMode = 1;

    uint64_t changesBefore = FlashChanges(module);
    DWORD result = UpdateWorker(nullptr);
    std::vector<std::string> boxes = fuzz_support::MessageBoxes();

    fuzz_support::Require(boxes.size() <= 1, "at most one message box per job");
    fuzz_support::Require((result != 0) == boxes.empty(), "a message box exactly when the update fails");
    for (const std::string& box : boxes) {
        fuzz_support::Require(!FlashFailure(box), "a fault-free module writes, reads and verifies");
        if (RefusedFile(box))
            fuzz_support::Require(FlashChanges(module) == changesBefore, "a refused file changes no flash");
    }
    std::vector<Record> records;
    if (result != 0 && ReadRecords(data, size, &records)) {
        fuzz_support::Require(!Overlap(records), "a file whose records overlap is refused");
        CheckRecordsInFlash(records, TranslatedImageStart - Word(data + IMAGE_SIGNATURE_SIZE));
    }
    return 0;
}
