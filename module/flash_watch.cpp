#include "module/flash_watch.h"

#include <cstdio>

#include "module/hex_text.h"
#include "module/hw/nand/nand_chip.h"
#include "module/hw/nand/nand_layout.h"
#include "module/hw/nor/nor_chip.h"

namespace sim {

namespace {

bool lock_operation(Operation op) {
    return op == Operation::SetLock || op == Operation::ClearLocks || op == Operation::UnlockBlock ||
           op == Operation::LockDown;
}

std::string join(const std::string& a, const char* b) { return a.empty() ? b : a + ", " + b; }

std::string nor_meaning(Operation op, uint32_t s) {
    if (!(s & kSR7Ready)) return "busy";
    std::string m;
    // SR4 and SR5 together: the chip refused the command sequence.
    if ((s & (kSR4ProgramError | kSR5EraseError)) == (kSR4ProgramError | kSR5EraseError)) {
        m = "command sequence error";
    } else {
        if (s & kSR5EraseError) m = join(m, lock_operation(op) ? "unlock error" : "erase error");
        if (s & kSR4ProgramError) m = join(m, lock_operation(op) ? "lock error" : "program error");
    }
    if (s & kSR3VppLow) m = join(m, "VPP low");
    if (s & kSR1BlockLocked) m = join(m, "block locked");
    return m.empty() ? "ready, no error" : m;
}

std::string nand_meaning(uint32_t s) {
    if (!(s & kNandStatusReady)) return "busy";
    std::string m;
    if (s & kNandStatusFail) m = join(m, "failed");
    if (!(s & kNandStatusNotProtected)) m = join(m, "write-protected");
    return m.empty() ? "ready, no error" : m;
}

// Why the device failed, where the status alone does not say it.
const char* cause(FaultKind fault) {
    switch (fault) {
        case FaultKind::StuckLock: return "the block's lock bit is stuck";
        case FaultKind::BadBlock: return "bad block";
        default: return nullptr;
    }
}

}  // namespace

std::string status_meaning(EventSource source, Operation op, uint32_t status) {
    return source == EventSource::Nor ? nor_meaning(op, status) : nand_meaning(status);
}

const char* operation_name(Operation op) {
    switch (op) {
        case Operation::WordProgram: return "word program";
        case Operation::BufferProgram: return "buffer program";
        case Operation::BlockErase: return "block erase";
        case Operation::SetLock: return "lock";
        case Operation::ClearLocks: return "unlock (all blocks)";
        case Operation::UnlockBlock: return "unlock";
        case Operation::LockDown: return "lock-down";
        case Operation::PageRead: return "page read";
        case Operation::PageProgram: return "page program";
        case Operation::Reset: return "reset";
        case Operation::ReadId: return "read ID";
        case Operation::ReadStatus: return "read status";
        case Operation::None: break;
    }
    return "operation";
}

FlashFailure describe_failure(const DeviceEvent& e) {
    FlashFailure f;
    f.event = e;
    f.never_ended = e.kind == EventKind::Fault && e.fault == FaultKind::NeverReady;
    // A status read of a chip that never ends: NOR SR7 clear, NAND ready clear.
    f.status = f.never_ended ? (e.source == EventSource::Nor ? 0u : kNandStatusNotProtected) : e.value;
    f.operation = operation_name(e.op);
    f.meaning = status_meaning(e.source, e.op, f.status);
    std::string where = "chip " + std::to_string(e.unit);
    if (e.source == EventSource::NandChip) {
        where += " block " + std::to_string(e.block);
        if (e.op != Operation::BlockErase && e.length) where += " page " + std::to_string(e.address / e.length);
    }
    f.text = f.operation + " at " + hex(e.address) + (f.never_ended ? " never ended: " : " failed: ") + where +
             " status " + hex(f.status, 2) + " = " + f.meaning;
    if (const char* why = cause(e.fault)) f.text += std::string(" (") + why + ")";
    if (f.never_ended) f.text += "; the program gave up waiting";
    return f;
}

FlashWatch::FlashWatch(const Config& profile, const EventSink& sink, Hooks hooks)
    : sink_(sink), hooks_(std::move(hooks)) {
    if (profile.get_string("flash.kind", "nor") != "nand") return;
    const NandPart* part = find_nand_part(profile.get_u32("nand.id", 0));
    if (!part) return;
    NandDeviceLayout l = nand_device_layout(*part);
    nand_ = true;
    chip_page_bytes_ = part->page_bytes;
    chip_block_bytes_ = part->page_bytes * part->pages_per_block;
    lanes_ = l.page_bytes / part->page_bytes;
    boot_end_ = 0x40000;
    table_chip_page_ = l.table_chip_page;
}

void FlashWatch::on_event(const DeviceEvent& e) {
    // The common case first: a NOR program or erase that went well.
    if (e.kind == EventKind::Finished && e.fault == FaultKind::None && !nand_) return;
    bool failed = (e.kind == EventKind::Finished && e.fault != FaultKind::None) ||
                  (e.kind == EventKind::Fault && e.fault == FaultKind::NeverReady);
    if (failed) {
        const FlashCounters& c = sink_.counters();
        std::lock_guard<std::mutex> lock(mutex_);
        // The two NOR chips of a pair fail together: the first one names it.
        if (!failure_ || failure_->event.time_ns != e.time_ns || failure_->event.address != e.address ||
            failure_->event.op != e.op) {
            failure_ = describe_failure(e);
            changed_at_failure_ = c.bytes_erased + c.bytes_programmed;
        }
    }
    if (!nand_) return;
    switch (e.kind) {
        case EventKind::Finished: boot_area_event(e); break;
        case EventKind::BadBlock:
            if (hooks_.notice)
                hooks_.notice("bad block found: chip " + std::to_string(e.unit) + " block " + std::to_string(e.block) +
                              " (" + operation_name(e.op) + " at " + hex(e.address) + ", status " + hex(e.value, 2) +
                              " = " + nand_meaning(e.value) + ")");
            break;
        case EventKind::EccCorrected:
        case EventKind::EccUncorrectable:
            if (hooks_.notice)
                hooks_.notice(std::string(e.kind == EventKind::EccCorrected ? "ECC corrected a flipped bit"
                                                                            : "uncorrectable ECC error") +
                              ": chip " + std::to_string(e.unit) + " page " +
                              std::to_string(e.length ? e.address / e.length : 0) + " (block " +
                              std::to_string(e.block) + ")");
            break;
        default: break;
    }
}

// The boot area is written back in ascending order after every record, and
// then read back: pages of the first 256 KiB of the device (the relocation
// table page aside) show how far each has come.
void FlashWatch::boot_area_event(const DeviceEvent& e) {
    if (!hooks_.boot_area || e.source != EventSource::NandChip || e.fault != FaultKind::None) return;
    if (e.op != Operation::PageProgram && e.op != Operation::PageRead) return;
    uint32_t chip_page = e.address / chip_page_bytes_;
    if (e.unit == 0 && chip_page == table_chip_page_) return;
    // On two chip selects the boot area is chip 0's alone.
    if (lanes_ == 1 && e.unit != 0) return;
    // A doubled bus reaches the first block 8 bits wide on chip 0 alone.
    uint64_t device = e.address < chip_block_bytes_ && e.unit == 0 ? e.address : uint64_t{e.address} * lanes_;
    if (device >= boot_end_) return;
    uint64_t reached = device + chip_page_bytes_ * (device < chip_block_bytes_ ? 1 : lanes_);
    if (e.op == Operation::PageProgram)
        boot_phase_ = "staging the boot area";
    else if (boot_phase_)
        boot_phase_ = "verifying";
    else
        return;  // reads before the write-back: the section map, the table
    hooks_.boot_area(boot_phase_, reached < boot_end_ ? reached : boot_end_, boot_end_);
}

std::optional<FlashFailure> FlashWatch::current_failure() const {
    const FlashCounters& c = sink_.counters();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_ || c.bytes_erased + c.bytes_programmed != changed_at_failure_) return std::nullopt;
    return failure_;
}

}  // namespace sim
