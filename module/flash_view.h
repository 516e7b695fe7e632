// The flash of a module as the system's flash operations address it, read
// from the module directory's files without opening the module: on NOR the
// device (nor.bin); on NAND the logical view through the block map, with the
// boot area's own translation. The bytes are the stored ones, as raw reads
// return them; on NAND every page read is also checked as the controller's
// ECC would check it (stored ECC, injected bit flips), and what that finds is
// kept for the caller to report.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "module/assembly/nand_profile.h"
#include "module/config.h"
#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_view.h"

namespace sim {

struct PageProblem {
    unsigned chip;
    uint32_t page;  // the chip's own
    bool uncorrectable;
    std::string text;  // "chip 0 page 300: ECC corrects a flipped bit"
};

class FlashView {
public:
    // Reads module.toml after the folder check (module/module_folder.h); null
    // with a reason when it does not load or a chip file is not one the
    // module would open (a link, a folder, another size).
    static std::unique_ptr<FlashView> open(const std::filesystem::path& dir, std::string* error);
    ~FlashView();

    const Config& profile() const { return profile_; }
    bool nand() const { return part_ != nullptr; }
    const NandPart* nand_part() const { return part_; }
    // Bytes the system addresses.
    uint64_t size() const { return size_; }

    // [offset, offset + length) into out; false with a reason past the end.
    bool read(uint64_t offset, uint64_t length, uint8_t* out, std::string* error);
    // On NOR the same bytes where they lie, without a copy (null on NAND,
    // whose reads are checked page by page, and past the end).
    const uint8_t* nor_bytes(uint64_t offset, uint64_t length);

    // NAND pages found with ECC errors by the reads so far, each once.
    const std::vector<PageProblem>& page_problems() const { return problems_; }

private:
    FlashView() = default;
    FlashView(const FlashView&) = delete;
    FlashView& operator=(const FlashView&) = delete;
    void check_device_range(uint64_t device, uint64_t length);
    void check_page(unsigned chip, uint32_t page);

    std::filesystem::path dir_;
    ChipFileReader files_;          // the NAND chip files, each opened once
    const uint8_t* nor_ = nullptr;  // nor.bin, mapped: a scan reads it without a copy by the kernel
    Config profile_;
    uint64_t size_ = 0;
    const NandPart* part_ = nullptr;
    NandBoardConfig board_;
    NandBlockMap map_;
    std::set<std::pair<unsigned, uint32_t>> checked_;
    std::vector<PageProblem> problems_;
    std::vector<std::pair<uint64_t, uint64_t>> file_bytes_;  // per chip: nand-N.main, nand-N.oob
};

}  // namespace sim
