#include "module/hw/nand/nand_chip.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "module/hw/cut_bits.h"

namespace sim {

static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

NandChip::NandChip(NandChipConfig config, NandStorage& storage, EventSink& events)
    : config_(std::move(config)),
      storage_(storage),
      events_(events),
      register_(config_.part->raw_page_bytes(), 0xFF),
      reads_to_miss_(config_.faults.missed_reads),
      programs_to_miss_(config_.faults.missed_programs),
      erases_to_miss_(config_.faults.missed_erases),
      busy_draw_(config_.timing, config_.timing_seed * 2 + config_.index) {
    if (config_.faults.never_ready) busy_until_ = kNever;
}

DeviceEvent NandChip::event(EventKind kind, uint64_t now, uint32_t value, Operation op, FaultKind fault) const {
    const NandPart& p = part();
    uint32_t block = pending_row_ / p.pages_per_block;
    uint32_t address = 0, length = 0;
    if (op == Operation::PageRead || op == Operation::PageProgram) {
        address = pending_row_ * p.page_bytes;
        length = p.page_bytes;
    } else if (op == Operation::BlockErase) {
        length = p.pages_per_block * p.page_bytes;
        address = block * length;
    }
    if (op == Operation::None || op == Operation::Reset) block = 0;
    return DeviceEvent{now,  address, value, length, block, EventSource::NandChip, static_cast<uint8_t>(config_.index),
                       kind, op,      fault};
}

uint8_t NandChip::status(uint64_t now) const {
    uint8_t value = kNandStatusNotProtected;
    if (ready(now)) value |= kNandStatusReady;
    if (failed_) value |= kNandStatusFail;
    return value;
}

void NandChip::start_busy(Operation op, uint32_t ns, uint64_t now, uint8_t cmd) {
    // A reset cuts short what runs: it ends here.
    if (pending_ != Operation::None) finish(std::min(now, busy_until_));
    ++busy_operations_;
    pending_ = op;
    pending_row_ = row_;
    emit(EventKind::Started, now, cmd, op);
    if (config_.faults.hang_after != 0 && busy_operations_ == config_.faults.hang_after) {
        busy_until_ = kNever;
        emit(EventKind::Fault, now, busy_operations_, op, FaultKind::NeverReady);
        return;
    }
    busy_until_ = now + ns;
}

void NandChip::finish(uint64_t at) {
    Operation op = pending_;
    pending_ = Operation::None;
    bool failed = failed_ && (op == Operation::PageProgram || op == Operation::BlockErase);
    emit(EventKind::Finished, at, status(at), op, failed ? FaultKind::BadBlock : FaultKind::None);
}

// A start the chip misses leaves it ready, so R/B# never falls and the
// controller never sees it rise; nothing is read, programmed or erased.
bool NandChip::misses(std::multiset<uint32_t>& starts, uint32_t number, Operation op, uint64_t now) {
    auto it = starts.find(number);
    if (it == starts.end()) return false;
    starts.erase(it);
    pending_row_ = row_;
    emit(EventKind::Fault, now, 0, op, FaultKind::MissedStart);
    return true;
}

// Status and reset are the commands a busy chip takes; a command the part
// does not know, or one that finds no operation set up, is ignored.
bool NandChip::takes(uint8_t cmd) const {
    switch (cmd) {
        case kNandCmdReset:
        case kNandCmdReadId:
        case kNandCmdReadStatus:
        case kNandCmdRead:
        case kNandCmdProgram:
        case kNandCmdErase: return true;
        case kNandCmdReadAreaB:
        case kNandCmdReadSpare: return part().small_page();
        case kNandCmdReadConfirm: return mode_ == Mode::ReadConfirm;
        case kNandCmdProgramConfirm:
        case kNandCmdCacheProgramConfirm: return mode_ == Mode::ProgramData;
        case kNandCmdEraseConfirm: return mode_ == Mode::EraseConfirm;
        default: return false;
    }
}

void NandChip::command(uint8_t cmd, uint64_t now) {
    settle(now);
    if (!ready(now) && cmd != kNandCmdReadStatus && cmd != kNandCmdReset) {
        emit(EventKind::Ignored, now, cmd, pending_);
        return;
    }
    if (!takes(cmd)) {
        emit(EventKind::Ignored, now, cmd);
        return;
    }
    emit(EventKind::Command, now, cmd);
    switch (cmd) {
        case kNandCmdReset:
            mode_ = Mode::Idle;
            small_area_ = 0;
            area_one_shot_ = false;
            if (busy_until_ != kNever) start_busy(Operation::Reset, config_.reset_ns, now, cmd);
            break;
        case kNandCmdReadId: mode_ = Mode::IdAddress; break;
        case kNandCmdReadStatus: mode_ = Mode::StatusOut; break;
        case kNandCmdRead:
            if (part().small_page()) {
                small_area_ = 0;
                area_one_shot_ = false;
            }
            mode_ = Mode::ReadAddress;
            break;
        case kNandCmdReadAreaB:
        case kNandCmdReadSpare:
            small_area_ = cmd == kNandCmdReadAreaB ? 1 : 2;
            area_one_shot_ = cmd == kNandCmdReadAreaB;
            mode_ = Mode::ReadAddress;
            break;
        case kNandCmdReadConfirm: load_page(row_, now, cmd); break;
        case kNandCmdProgram:
            std::fill(register_.begin(), register_.end(), 0xFF);
            mode_ = Mode::ProgramAddress;
            break;
        case kNandCmdProgramConfirm:
        case kNandCmdCacheProgramConfirm: program(now, cmd); break;
        case kNandCmdErase: mode_ = Mode::EraseAddress; break;
        case kNandCmdEraseConfirm: erase(now, cmd); break;
    }
}

void NandChip::address(const uint8_t* cycles, unsigned count, uint64_t now) {
    settle(now);
    if (!ready(now)) {
        emit(EventKind::Ignored, now, count, pending_);
        return;
    }
    const NandPart& p = part();
    auto take = [&](unsigned first, unsigned n) {
        uint32_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (first + i < count) value |= uint32_t{cycles[first + i]} << (8 * i);
        }
        return value;
    };
    unsigned needed = 0;
    switch (mode_) {
        case Mode::IdAddress: needed = 1; break;
        case Mode::ReadAddress:
        case Mode::ProgramAddress: needed = p.column_cycles() + p.row_cycles(); break;
        case Mode::EraseAddress: needed = p.row_cycles(); break;
        default: emit(EventKind::Ignored, now, count); return;
    }
    // Too few cycles: the missing ones count as 0.
    if (count < needed) emit(EventKind::SequenceError, now, count);
    uint32_t column = 0;
    if (mode_ == Mode::ReadAddress || mode_ == Mode::ProgramAddress) {
        if (p.small_page()) {
            uint32_t low = take(0, 1);
            column = small_area_ == 2 ? p.page_bytes + (low & 0x0F) : small_area_ * 256 + low;
        } else {
            column = take(0, 2) & 0xFFF;
        }
        // Address bits above the chip's last page are not connected.
        row_ = take(p.column_cycles(), p.row_cycles()) & (p.pages() - 1);
    } else if (mode_ == Mode::EraseAddress) {
        row_ = take(0, p.row_cycles()) & (p.pages() - 1);
    }
    switch (mode_) {
        case Mode::IdAddress:
            id_position_ = 0;
            mode_ = Mode::IdOut;
            break;
        case Mode::ReadAddress:
            position_ = column;
            if (p.small_page()) {
                // Small-page parts start reading after the last address cycle.
                load_page(row_, now, count ? cycles[count - 1] : 0);
            } else {
                mode_ = Mode::ReadConfirm;
            }
            break;
        case Mode::ProgramAddress:
            position_ = column;
            mode_ = Mode::ProgramData;
            break;
        case Mode::EraseAddress: mode_ = Mode::EraseConfirm; break;
        default: break;
    }
}

void NandChip::load_page(uint32_t page, uint64_t now, uint8_t cmd) {
    mode_ = Mode::DataOut;
    // The page register keeps what it held.
    if (misses(reads_to_miss_, page, Operation::PageRead, now)) return;
    start_busy(Operation::PageRead, config_.read_ns, now, cmd);
    storage_.read_page(page, register_.data());
    const NandChipFaults& f = config_.faults;
    if (f.uncorrectable_pages.count(page)) {
        register_[kBitflipByte] ^= kBitflipMask;
        register_[kSecondFlipByte] ^= kSecondFlipMask;
        emit(EventKind::Fault, now, 0, Operation::PageRead, FaultKind::DoubleBitFlip);
    } else if (f.bitflip_pages.count(page)) {
        register_[kBitflipByte] ^= kBitflipMask;
        emit(EventKind::Fault, now, 0, Operation::PageRead, FaultKind::BitFlip);
    } else if (int64_t bit = wear_ ? wear_->flipped_bit(part().page_bytes) : -1; bit >= 0) {
        register_[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        emit(EventKind::Fault, now, 0, Operation::PageRead, FaultKind::BitFlip);
    }
}

void NandChip::program(uint64_t now, uint8_t cmd) {
    mode_ = Mode::Idle;
    if (area_one_shot_) {
        small_area_ = 0;
        area_one_shot_ = false;
    }
    if (misses(programs_to_miss_, row_, Operation::PageProgram, now)) return;
    uint32_t busy_ns = static_cast<uint32_t>(busy_draw_.pick(config_.program_ns, config_.program_max_ns));
    start_busy(Operation::PageProgram, busy_ns, now, cmd);
    bool cut_short = cut(Operation::PageProgram, now, busy_ns);
    uint32_t block = row_ / part().pages_per_block;
    check_marked(block, Operation::PageProgram, now);
    failed_ = bad_block_fails(block) || (wear_ && wear_->program_fails(row_));
    if (failed_) {
        emit(EventKind::Fault, now, 0, Operation::PageProgram, FaultKind::BadBlock);
    } else if (cut_short) {
        std::vector<uint8_t> cells(register_.size());
        storage_.read_page(row_, cells.data());
        cut_program(cells, register_, power_->done(), power_->seed_for(config_.index));
        check_partial_programs(storage_.program_page(row_, cells.data(), register_.data()), now);
        if (wear_) wear_->programmed(row_);
    } else {
        check_partial_programs(storage_.program_page(row_, register_.data()), now);
        if (wear_) wear_->programmed(row_);
    }
}

namespace {

bool sends_zero(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (bytes[i] != 0xFF) return true;
    return false;
}

constexpr uint32_t kMillion = 1000000;
constexpr uint32_t kUnreliableShare = 64;  // one bit in this many of an area programmed past the limit

}  // namespace

bool NandChip::bad_block_fails(uint32_t block) {
    if (!config_.faults.bad_blocks.count(block)) return false;
    if (config_.weak_bad_ppm == 0) return true;
    uint64_t draw = seeded_mix(seeded_mix(config_.limits_seed ^ (uint64_t{config_.index} << 32)) + limit_draws_++);
    return draw % kMillion >= config_.weak_bad_ppm;
}

void NandChip::check_marked(uint32_t block, Operation op, uint64_t now) {
    if (!events_.wants(EventKind::Violation)) return;
    const NandPart& p = part();
    std::vector<uint8_t> raw(p.raw_page_bytes());
    for (uint32_t page = 0; page < 2; ++page) {
        storage_.read_page(block * p.pages_per_block + page, raw.data());
        if (raw[p.page_bytes + p.bad_block_byte] != 0xFF) {
            emit(EventKind::Violation, now, 0, op, FaultKind::MarkedBadBlock);
            return;
        }
    }
}

void NandChip::check_partial_programs(PagePrograms after, uint64_t now) {
    const NandPart& p = part();
    bool main = sends_zero(register_.data(), p.page_bytes) && after.main > p.nop_main;
    bool spare = sends_zero(register_.data() + p.page_bytes, p.spare_bytes) && after.spare > p.nop_spare;
    if (main) emit(EventKind::Violation, now, after.main, Operation::PageProgram, FaultKind::PartialProgramMain);
    if (spare) emit(EventKind::Violation, now, after.spare, Operation::PageProgram, FaultKind::PartialProgramSpare);
    if (!config_.corrupt_past_nop || !(main || spare)) return;
    // The bits of the areas this program sent: a seeded share reads back wrong.
    std::vector<uint8_t> cells(p.raw_page_bytes());
    storage_.read_page(row_, cells.data());
    uint32_t first = main ? 0 : p.page_bytes, end = spare ? p.raw_page_bytes() : p.page_bytes;
    uint64_t base = seeded_mix(seeded_mix(config_.limits_seed ^ (uint64_t{config_.index} << 32) ^ 0x4E4F50) + row_) +
                    (uint64_t{after.main} << 8 | after.spare);
    bool flipped = false;
    for (uint32_t bit = first * 8; bit < end * 8; ++bit) {
        if (seeded_mix(base + bit) % kUnreliableShare != 0) continue;
        cells[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        flipped = true;
    }
    if (!flipped) cells[first] ^= static_cast<uint8_t>(1u << (base % 8));
    storage_.overwrite_page(row_, cells.data());
}

bool NandChip::cut(Operation op, uint64_t now, uint32_t busy_ns) {
    if (!power_) return false;
    const NandPart& p = part();
    uint32_t pages = op == Operation::BlockErase ? p.pages_per_block : 1;
    uint32_t first = op == Operation::BlockErase ? row_ / p.pages_per_block * p.pages_per_block : row_;
    return power_->starts(op, true, uint64_t{first} * p.page_bytes, uint64_t{pages} * p.page_bytes, p.page_bytes, now,
                          busy_ns, config_.index);
}

void NandChip::erase(uint64_t now, uint8_t cmd) {
    const NandPart& p = part();
    uint32_t block = row_ / p.pages_per_block;
    mode_ = Mode::Idle;
    if (misses(erases_to_miss_, block, Operation::BlockErase, now)) return;
    uint32_t busy_ns = static_cast<uint32_t>(busy_draw_.pick(config_.erase_ns, config_.erase_max_ns));
    start_busy(Operation::BlockErase, busy_ns, now, cmd);
    bool cut_short = cut(Operation::BlockErase, now, busy_ns);
    check_marked(block, Operation::BlockErase, now);
    failed_ = bad_block_fails(block) || (wear_ && wear_->erase_fails(block));
    if (failed_) {
        emit(EventKind::Fault, now, 0, Operation::BlockErase, FaultKind::BadBlock);
    } else if (cut_short) {
        // Every page of the block, main and spare, part-way to erased.
        uint32_t raw = p.raw_page_bytes(), first = block * p.pages_per_block;
        std::vector<uint8_t> cells(size_t{raw} * p.pages_per_block);
        for (uint32_t i = 0; i < p.pages_per_block; ++i) storage_.read_page(first + i, &cells[size_t{i} * raw]);
        cut_erase(cells, power_->done(), power_->seed_for(config_.index));
        storage_.erase_pages(first, p.pages_per_block);
        for (uint32_t i = 0; i < p.pages_per_block; ++i) storage_.program_page(first + i, &cells[size_t{i} * raw]);
        if (wear_) wear_->erased(block);
    } else {
        storage_.erase_pages(block * p.pages_per_block, p.pages_per_block);
        if (wear_) wear_->erased(block);
    }
}

// Bytes of the page register from position_ on: copied while they last,
// 0xFF past its end.
static size_t copy_from_register(const std::vector<uint8_t>& page, uint32_t position, uint8_t* out, size_t count) {
    size_t held = position < page.size() ? std::min(count, page.size() - position) : 0;
    if (held) std::memcpy(out, page.data() + position, held);
    std::memset(out + held, 0xFF, count - held);
    return count;
}

void NandChip::read_data(uint8_t* out, size_t count, uint64_t now) {
    settle(now);
    if (mode_ == Mode::DataOut) {
        position_ += static_cast<uint32_t>(copy_from_register(register_, position_, out, count));
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        switch (mode_) {
            case Mode::DataOut:
                out[i] = position_ < register_.size() ? register_[position_] : 0xFF;
                ++position_;
                break;
            case Mode::IdOut:
                out[i] = id_position_ < part().id_length ? part().id_bytes[id_position_] : 0x00;
                ++id_position_;
                break;
            case Mode::StatusOut: out[i] = status(now); break;
            default:
                out[i] = 0xFF;  // nothing driven: the bus floats high
                break;
        }
    }
}

void NandChip::write_data(const uint8_t* in, size_t count, uint64_t now) {
    if (mode_ != Mode::ProgramData) {
        emit(EventKind::Ignored, now, static_cast<uint32_t>(count));
        return;
    }
    // Bytes past the page register are lost.
    if (position_ < register_.size())
        std::memcpy(&register_[position_], in, std::min(count, register_.size() - position_));
    position_ += static_cast<uint32_t>(count);
}

}  // namespace sim
