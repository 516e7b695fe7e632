// Builds a NAND module's controller and chips from the profile, maps the
// controller on the bus, and creates a new module's flash files in the state
// a module leaves the factory in.
#include <filesystem>

#include "module/assembly/installers.h"
#include "module/assembly/nand_profile.h"
#include "module/assembly/wear_profile.h"
#include "module/hw/nand/nand_controller.h"
#include "module/hw/nand/nand_ecc.h"
#include "module/hw/nand/nand_layout.h"
#include "module/module.h"

namespace sim {

namespace {

// The chips' faults that took effect, as lines of the module's event log.
class NandFaultLog : public EventListener {
public:
    explicit NandFaultLog(Module& module) : module_(module) {}
    void on_event(const DeviceEvent& e) override {
        if (e.source != EventSource::NandChip) return;
        std::string chip = "nand-" + std::to_string(e.unit) + ": fault: ";
        std::string page = std::to_string(e.length ? e.address / e.length : 0);
        std::string block = std::to_string(e.block);
        switch (e.fault) {
            case FaultKind::NeverReady:
                module_.log_event(chip + "stays busy after " + what(e.op) + " " +
                                  (e.op == Operation::BlockErase ? block : page) + " (busy operation " +
                                  std::to_string(e.value) + ")");
                break;
            case FaultKind::DoubleBitFlip:
                module_.log_event(chip + "page " + page + " read with two flipped bits");
                break;
            case FaultKind::BitFlip: module_.log_event(chip + "page " + page + " read with one flipped bit"); break;
            case FaultKind::MissedStart:
                module_.log_event(chip + "missed the start of " + what(e.op) + " " +
                                  (e.op == Operation::BlockErase ? block : page));
                break;
            case FaultKind::BadBlock:
                if (e.op == Operation::BlockErase)
                    module_.log_event(chip + "erase of block " + block + " failed (bad block)");
                else
                    module_.log_event(chip + "program of page " + page + " failed (bad block " + block + ")");
                break;
            default: break;
        }
    }

private:
    static std::string what(Operation op) {
        switch (op) {
            case Operation::PageRead: return "read of page";
            case Operation::PageProgram: return "program of page";
            case Operation::BlockErase: return "erase of block";
            default: return "reset";
        }
    }
    Module& module_;
};

// Programs and erases against the part's datasheet, as lines of the event log
// and the run's violations.
class ViolationLog : public EventListener {
public:
    ViolationLog(Module& module, const NandPart& part) : module_(module), part_(part) {}
    void on_event(const DeviceEvent& e) override {
        if (e.source != EventSource::NandChip) return;
        std::string page = std::to_string(e.address / part_.page_bytes), text, rule;
        switch (e.fault) {
            case FaultKind::PartialProgramMain:
            case FaultKind::PartialProgramSpare: {
                bool main = e.fault == FaultKind::PartialProgramMain;
                rule = main ? "nop-main" : "nop-spare";
                text = "page " + page + (main ? " main" : " spare") + " area programmed " + std::to_string(e.value) +
                       " times since its block's erase; the part allows " +
                       std::to_string(main ? part_.nop_main : part_.nop_spare);
                break;
            }
            case FaultKind::MarkedBadBlock:
                rule = "marked-bad-block";
                text = (e.op == Operation::BlockErase ? "erase of block " : "program of page " + page + " in block ") +
                       std::to_string(e.block) + ", which carries a bad-block marker";
                break;
            default: return;
        }
        module_.log_event("nand-" + std::to_string(e.unit) + ": datasheet: " + text);
        module_.note_violation({rule, e.unit, e.address, "nand-" + std::to_string(e.unit) + ": " + text});
    }

private:
    Module& module_;
    const NandPart& part_;
};

bool open_storage(const std::filesystem::path& dir, const NandBoardConfig& config,
                  std::vector<std::unique_ptr<NandStorage>>* storage, std::string* error) {
    const NandPart& p = *config.part;
    for (const NandChipConfig& chip : config.chips) {
        auto s = std::make_unique<NandStorage>(p.page_bytes, p.spare_bytes, p.pages());
        if (!s->open(dir, chip.index, error)) return false;
        storage->push_back(std::move(s));
    }
    return true;
}

// The table page as the program writes it: the controller's ECC in the
// spare area, every other spare byte left erased.
void program_table_page(NandStorage& chip0, const NandPart& part) {
    NandDeviceLayout l = nand_device_layout(part);
    std::vector<uint8_t> raw(part.raw_page_bytes(), 0xFF);
    std::vector<uint8_t> table = empty_reloc_table_page(l.table_bytes);
    std::copy(table.begin(), table.end(), raw.begin());
    uint32_t ecc_offset = part.page_bytes == 2048 ? 40 : 8;
    ecc_compute(raw.data(), part.page_bytes, raw.data() + part.page_bytes + ecc_offset);
    chip0.program_page(l.table_chip_page, raw.data());
}

// Factory bad-block markers: a 0x00 in the marker byte of pages 0 and 1.
void mark_bad_block(NandStorage& chip, const NandPart& part, uint32_t block) {
    std::vector<uint8_t> raw(part.raw_page_bytes(), 0xFF);
    raw[part.page_bytes + part.bad_block_byte] = 0x00;
    chip.program_page(block * part.pages_per_block, raw.data());
    chip.program_page(block * part.pages_per_block + 1, raw.data());
}

}  // namespace

bool create_nand_storage(const std::filesystem::path& dir, const Config& profile, std::string* error) {
    NandBoardConfig config;
    if (!nand_config_from_profile(profile, &config, error)) return false;
    // A new module starts from erased chips, whatever files were there.
    for (const NandChipConfig& chip : config.chips) {
        std::error_code ec;
        std::filesystem::remove(NandStorage::main_path(dir, chip.index), ec);
        std::filesystem::remove(NandStorage::oob_path(dir, chip.index), ec);
        std::filesystem::remove(NandStorage::nop_path(dir, chip.index), ec);
    }
    std::error_code ec;
    std::filesystem::remove(dir / kBbmtObjectFile, ec);
    std::vector<std::unique_ptr<NandStorage>> storage;
    if (!open_storage(dir, config, &storage, error)) return false;
    program_table_page(*storage[0], *config.part);
    for (uint32_t block : config.bad_blocks)
        mark_bad_block(*storage[block / config.part->blocks], *config.part, block % config.part->blocks);
    return true;
}

bool install_nand(Module& module, std::string* error) {
    NandBoardConfig config;
    if (!nand_config_from_profile(module.config(), &config, error)) return false;
    std::vector<std::unique_ptr<NandStorage>> storage;
    if (!open_storage(module.dir(), config, &storage, error)) return false;
    std::vector<std::unique_ptr<NandChip>> chips;
    std::vector<std::unique_ptr<ChipWear>> wear;
    const NandPart& part = *config.part;
    WearGeometry geometry{static_cast<uint32_t>(config.chips.size()), part.blocks, part.pages()};
    if (!open_chip_wear(module.dir(), module.config(), "nand", geometry, &wear, error)) return false;
    for (size_t n = 0; n < config.chips.size(); ++n) {
        chips.push_back(std::make_unique<NandChip>(config.chips[n], *storage[n], module.events()));
        chips.back()->set_wear(std::move(wear[n]));
    }
    module.keep_listening(std::make_unique<NandFaultLog>(module), event_bit(EventKind::Fault));
    module.keep_listening(std::make_unique<ViolationLog>(module, *config.part), event_bit(EventKind::Violation));
    NandController* controller = module.own(std::make_unique<NandController>(
        module.clock(), module.events(), config.part->wiring, std::move(storage), std::move(chips)));
    module.bus().map(kNandControllerBase, kNandControllerSize, controller);
    controller->set_power(&module.power());
    // The running system's flash driver has configured the controller for
    // its chip before any program starts.
    const NandPart& p = *config.part;
    controller->preset(p.system_ndcr, p.system_ndtr0, p.system_ndtr1);

    // A shared block map of another size is none the system's driver made.
    std::error_code ec;
    uint64_t map_bytes = std::filesystem::file_size(module.dir() / kBbmtObjectFile, ec);
    if (!ec && map_bytes != kBbmtBytes) {
        if (error)
            *error = (module.dir() / kBbmtObjectFile).string() + " is " + std::to_string(map_bytes) +
                     " bytes; the block map is " + std::to_string(kBbmtBytes);
        return false;
    }
    // The running system's flash driver builds the shared block map at boot,
    // before any program starts.
    if (config.os_builds_bbmt && !std::filesystem::exists(module.dir() / kBbmtObjectFile)) {
        std::string why;
        if (!os_build_block_map(module.dir(), *config.part, &why)) module.log_event("nand: no block map built: " + why);
    }
    return true;
}

}  // namespace sim
