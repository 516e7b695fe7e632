#include "module/hw/nor/nor_chip.h"

#include <bit>
#include <limits>

#include "module/hw/cut_bits.h"
#include "module/hw/nor/nor_query.h"

namespace sim {

namespace {

// Chip commands (DQ7:0; DQ15:8 are not decoded for commands).
enum NorCommand : uint8_t {
    kCmdReadArray = 0xFF,
    kCmdReadIdentifier = 0x90,
    kCmdReadQuery = 0x98,
    kCmdReadStatus = 0x70,
    kCmdClearStatus = 0x50,
    kCmdBlockErase = 0x20,
    kCmdWordProgram = 0x40,
    kCmdWordProgramAlternate = 0x10,
    kCmdWriteToBuffer = 0xE8,
    kCmdLockSetup = 0x60,
    kCmdConfirm = 0xD0,
    kCmdSetLock = 0x01,
    kCmdLockDown = 0x2F,
};

constexpr uint16_t kSequenceError = kSR4ProgramError | kSR5EraseError;
constexpr uint16_t kBufferAvailable = 0x80;  // XSR bit 7
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

bool is_erase(Operation op) { return op == Operation::BlockErase; }
bool is_program(Operation op) { return op == Operation::WordProgram || op == Operation::BufferProgram; }

}  // namespace

NorChip::NorChip(const NorChipConfig& config, uint8_t chip_index, MappedFile& array, uint8_t* locks, EventSink& events)
    : config_(config),
      chip_index_(chip_index),
      array_(array),
      words_(reinterpret_cast<uint16_t*>(array.data()) + chip_index),
      locks_(locks),
      events_(events),
      busy_draw_(config.timing, config.timing_seed * 2 + chip_index) {
    main_shift_ = static_cast<uint32_t>(std::countr_zero(config_.main_block_bytes / 2));
    parameter_shift_ = config_.parameter_blocks
                           ? static_cast<uint32_t>(std::countr_zero(config_.parameter_block_bytes / 2))
                           : main_shift_;
    parameter_words_ = config_.parameter_blocks * (config_.parameter_block_bytes / 2);
    query_ = build_query_table(config_);

    // Power-up: P30 and K3 lock every block and drop every lock-down; J3
    // bits are non-volatile and stay as stored. A stuck bit is always set.
    uint32_t blocks = config_.block_count();
    for (uint32_t b = 0; b < blocks; ++b) {
        uint8_t& bits = lock_byte(b);
        if (config_.family != NorFamily::J3)
            bits = kNorLocked;
        else
            bits &= kNorLocked;
        if (faults_of(b) & (kNorFaultStuckLock | kNorFaultSilentLock)) bits |= kNorLocked;
    }
}

uint16_t NorChip::read_slow(uint32_t k) const {
    switch (mode_) {
        case Mode::ReadArray: return words_[2 * static_cast<size_t>(k)];
        case Mode::ReadIdentifier: {
            // The identifier space repeats in every block: 0 maker, 1 device, 2 lock bits.
            uint32_t block = block_of(k);
            uint32_t at = k - block_start(block);
            if (at == 0) return config_.manufacturer;
            if (at == 1) return config_.device_code;
            if (at == 2) return lock_bits(block);
            return 0;
        }
        case Mode::ReadQuery: {
            uint32_t at = k - block_start(block_of(k));
            return at < query_.size() ? query_[at] : 0;
        }
        case Mode::BufferCount: return kBufferAvailable;
        case Mode::BufferRefused: return 0;
        case Mode::ReadStatus:
        case Mode::EraseSetup:
        case Mode::ProgramSetup:
        case Mode::LockSetup:
        case Mode::BufferStart:
        case Mode::BufferData:
        case Mode::BufferConfirm: return status_;
    }
    return status_;
}

void NorChip::write_while_busy(uint32_t k, uint16_t value, uint64_t now) {
    // A busy chip ignores commands; Read Status is the one it takes.
    if ((value & 0xFF) == kCmdReadStatus) {
        mode_ = Mode::ReadStatus;
        emit(EventKind::Command, k, value, now);
        return;
    }
    emit(EventKind::Ignored, k, value, now, pending_);
}

void NorChip::write_slow(uint32_t k, uint16_t value, uint64_t now) {
    switch (mode_) {
        case Mode::ReadArray:
        case Mode::ReadStatus:
        case Mode::ReadIdentifier:
        case Mode::ReadQuery:
        case Mode::BufferRefused: command(k, value, now); return;
        case Mode::EraseSetup:
            if ((value & 0xFF) == kCmdConfirm)
                start(Operation::BlockErase, k, value, now);
            else
                sequence_error(k, value, now);
            return;
        case Mode::ProgramSetup: start(Operation::WordProgram, k, value, now); return;
        case Mode::LockSetup: lock_confirm(k, value, now); return;
        case Mode::BufferCount:
        case Mode::BufferStart:
        case Mode::BufferData:
        case Mode::BufferConfirm: buffer_write(k, value, now); return;
    }
}

void NorChip::command(uint32_t k, uint16_t value, uint64_t now) {
    switch (value & 0xFF) {
        case kCmdReadArray: mode_ = Mode::ReadArray; break;
        case kCmdReadIdentifier: mode_ = Mode::ReadIdentifier; break;
        case kCmdReadQuery: mode_ = Mode::ReadQuery; break;
        case kCmdReadStatus: mode_ = Mode::ReadStatus; break;
        case kCmdClearStatus:
            // Error bits stick until this command; the read mode stays.
            status_ = kSR7Ready;
            break;
        case kCmdBlockErase: mode_ = Mode::EraseSetup; break;
        case kCmdWordProgram:
        case kCmdWordProgramAlternate: mode_ = Mode::ProgramSetup; break;
        case kCmdLockSetup: mode_ = Mode::LockSetup; break;
        case kCmdWriteToBuffer:
            // A J3 with a sequence error standing refuses the buffer until Clear Status.
            if (config_.family == NorFamily::J3 && (status_ & kSequenceError) == kSequenceError) {
                mode_ = Mode::BufferRefused;
            } else {
                mode_ = Mode::BufferCount;
                buffer_block_ = block_of(k);
            }
            break;
        default: emit(EventKind::Ignored, k, value, now); return;
    }
    emit(EventKind::Command, k, value, now);
}

void NorChip::buffer_write(uint32_t k, uint16_t value, uint64_t now) {
    switch (mode_) {
        case Mode::BufferCount:
            if (value >= config_.buffer_words) {
                sequence_error(k, value, now);
                return;
            }
            buffer_count_ = value + 1u;
            buffer_loaded_ = 0;
            buffer_fault_ = false;
            buffer_.fill(0xFFFF);
            mode_ = Mode::BufferStart;
            return;
        case Mode::BufferStart: {
            // The first word fixes the window; it must lie in the block of 0xE8 and
            // must not cross a buffer-aligned boundary.
            buffer_start_ = k;
            uint32_t last = k + buffer_count_ - 1;
            uint32_t boundary_mask = ~(config_.buffer_words - 1);
            if (block_of(k) != buffer_block_ || (k & boundary_mask) != (last & boundary_mask)) buffer_fault_ = true;
            buffer_[0] = value;
            buffer_loaded_ = 1;
            mode_ = buffer_loaded_ == buffer_count_ ? Mode::BufferConfirm : Mode::BufferData;
            return;
        }
        case Mode::BufferData:
            // Only loads outside the window come here; the chip still counts them.
            buffer_fault_ = true;
            if (++buffer_loaded_ == buffer_count_) mode_ = Mode::BufferConfirm;
            return;
        case Mode::BufferConfirm:
            if ((value & 0xFF) == kCmdConfirm && !buffer_fault_)
                start(Operation::BufferProgram, buffer_start_, value, now);
            else
                sequence_error(k, value, now);
            return;
        default: return;
    }
}

void NorChip::lock_confirm(uint32_t k, uint16_t value, uint64_t now) {
    bool j3 = config_.family == NorFamily::J3;
    switch (value & 0xFF) {
        case kCmdSetLock: start(Operation::SetLock, k, value, now); return;
        case kCmdConfirm: start(j3 ? Operation::ClearLocks : Operation::UnlockBlock, k, value, now); return;
        case kCmdLockDown:
            if (!j3) {
                start(Operation::LockDown, k, value, now);
                return;
            }
            break;
        default: break;
    }
    sequence_error(k, value, now);
}

void NorChip::sequence_error(uint32_t k, uint16_t value, uint64_t now) {
    status_ |= kSequenceError;
    mode_ = Mode::ReadStatus;
    emit(EventKind::SequenceError, k, value, now);
}

uint64_t NorChip::time_of(const NorTimings& t, Operation op, bool parameter) {
    switch (op) {
        case Operation::BlockErase: return parameter ? t.parameter_erase_ns : t.block_erase_ns;
        case Operation::WordProgram: return t.word_program_ns;
        case Operation::BufferProgram: return t.buffer_program_ns;
        case Operation::ClearLocks: return t.clear_locks_ns;
        case Operation::SetLock:
        case Operation::UnlockBlock:
        case Operation::LockDown: return t.set_lock_ns;
        default: break;  // None, or not a NOR operation
    }
    return 0;
}

uint64_t NorChip::busy_time(Operation op, uint32_t block) {
    bool parameter = block < config_.parameter_blocks;
    return busy_draw_.pick(time_of(config_.timings, op, parameter), time_of(config_.max_timings, op, parameter));
}

void NorChip::start(Operation op, uint32_t k, uint16_t value, uint64_t now) {
    // After program, erase and lock operations the chip reads status until Read Array.
    mode_ = Mode::ReadStatus;
    uint32_t block = block_of(k);
    pending_ = op;
    pending_address_ = k;
    pending_value_ = value;
    uint64_t duration = busy_time(op, block);
    emit(EventKind::Started, k, value, now, op);
    if (power_ && (is_erase(op) || is_program(op))) {
        // The range as the bus sees it: both chips' halves of each word.
        bool erase = is_erase(op);
        uint32_t first = erase ? block_start(block) : op == Operation::BufferProgram ? buffer_start_ : k;
        uint32_t words = erase ? block_words(block) : op == Operation::BufferProgram ? buffer_count_ : 1;
        cut_ = power_->starts(op, false, 4ull * first, 4ull * words, 0, now, duration, chip_index_);
    }

    if (config_.never_ready) {
        busy_ = true;
        busy_until_ = kNever;
        emit(EventKind::Fault, k, value, now, op, FaultKind::NeverReady);
        return;
    }
    if (is_erase(op) || is_program(op)) {
        uint16_t error = is_erase(op) ? kSR5EraseError : kSR4ProgramError;
        FaultKind refusal = FaultKind::None;
        if (config_.vpp_low) {
            status_ |= kSR3VppLow | error;
            refusal = FaultKind::VppLow;
            emit(EventKind::Fault, k, value, now, op, refusal);
        } else if (lock_bits(block) & kNorLocked) {
            // Erase or program of a locked block is aborted with SR1.
            status_ |= kSR1BlockLocked | error;
            refusal = FaultKind::Locked;
        }
        if (refusal != FaultKind::None) {
            pending_ = Operation::None;
            emit(EventKind::Finished, k, status_, now, op, refusal);
            return;
        }
    }
    busy_ = true;
    busy_until_ = now + duration;
    if (duration == 0 && !cut_) finish(now);
}

void NorChip::cut_short() {
    bool cut = cut_;
    cut_ = false;
    if (!cut || !busy_ || !(is_erase(pending_) || is_program(pending_))) return;
    uint32_t k = pending_address_;
    uint32_t block = block_of(k);
    bool erase = is_erase(pending_);
    // A fault that would have failed the operation leaves the array as it was.
    if (faults_of(block) & (erase ? kNorFaultEraseError : kNorFaultProgramError)) return;
    if (wear_ && (erase ? wear_->erase_fails(block) : wear_->program_fails())) return;
    if (wear_ && erase) wear_->erased(block);
    uint32_t first = erase ? block_start(block) : k;
    uint32_t count = erase ? block_words(block) : pending_ == Operation::BufferProgram ? buffer_count_ : 1;
    array_.use(4ull * first, 4ull * count, true);
    std::vector<uint8_t> cells(2ull * count), data(2ull * count, 0xFF);
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t old = word(first + i);
        uint16_t next = erase ? 0xFFFF : pending_ == Operation::BufferProgram ? buffer_[i] : pending_value_;
        cells[2 * i] = static_cast<uint8_t>(old);
        cells[2 * i + 1] = static_cast<uint8_t>(old >> 8);
        data[2 * i] = static_cast<uint8_t>(next);
        data[2 * i + 1] = static_cast<uint8_t>(next >> 8);
    }
    if (erase)
        cut_erase(cells, power_->done(), power_->seed_for(chip_index_));
    else
        cut_program(cells, data, power_->done(), power_->seed_for(chip_index_));
    for (uint32_t i = 0; i < count; ++i) word(first + i) = static_cast<uint16_t>(cells[2 * i] | cells[2 * i + 1] << 8);
    busy_ = false;
    pending_ = Operation::None;
}

void NorChip::program_word(uint32_t k, uint16_t value) {
    // Programming only clears bits: a 1 may become 0, never the reverse.
    word(k) &= value;
}

void NorChip::finish(uint64_t now) {
    busy_ = false;
    uint64_t at = busy_until_ <= now ? busy_until_ : now;
    uint32_t k = pending_address_;
    uint32_t block = block_of(k);
    uint8_t faults = faults_of(block);
    FaultKind fault = FaultKind::None;
    switch (pending_) {
        case Operation::WordProgram:
        case Operation::BufferProgram:
            if ((faults & kNorFaultProgramError) || (wear_ && wear_->program_fails())) {
                status_ |= kSR4ProgramError;
                fault = FaultKind::ProgramError;
            } else if (pending_ == Operation::WordProgram) {
                array_.use(4ull * k, 4, true);
                program_word(k, pending_value_);
            } else {
                array_.use(4ull * k, 4ull * buffer_count_, true);
                for (uint32_t i = 0; i < buffer_count_; ++i) program_word(k + i, buffer_[i]);
            }
            break;
        case Operation::BlockErase:
            if ((faults & kNorFaultEraseError) || (wear_ && wear_->erase_fails(block))) {
                status_ |= kSR5EraseError;
                fault = FaultKind::EraseError;
            } else {
                // Erase sets every bit of the block.
                uint32_t first = block_start(block), count = block_words(block);
                array_.use(4ull * first, 4ull * count, true);
                for (uint32_t i = 0; i < count; ++i) word(first + i) = 0xFFFF;
                if (wear_) wear_->erased(block);
            }
            break;
        case Operation::SetLock: lock_byte(block) |= kNorLocked; break;
        case Operation::LockDown: lock_byte(block) |= kNorLocked | kNorLockedDown; break;
        case Operation::UnlockBlock:
            // With WP# low a locked-down block stays locked, and says
            // nothing; so does a silently stuck bit.
            if (faults & kNorFaultStuckLock) {
                status_ |= kSR5EraseError;
                fault = FaultKind::StuckLock;
            } else if (faults & kNorFaultSilentLock) {
                fault = FaultKind::StuckLock;
            } else if (!(lock_byte(block) & kNorLockedDown)) {
                lock_byte(block) &= static_cast<uint8_t>(~kNorLocked);
            }
            break;
        case Operation::ClearLocks: {
            uint32_t blocks = config_.block_count();
            for (uint32_t b = 0; b < blocks; ++b) {
                if (faults_of(b) & kNorFaultStuckLock) {
                    status_ |= kSR5EraseError;
                    fault = FaultKind::StuckLock;
                } else if (faults_of(b) & kNorFaultSilentLock) {
                    fault = FaultKind::StuckLock;
                } else {
                    lock_byte(b) &= static_cast<uint8_t>(~kNorLocked);
                }
            }
            break;
        }
        default: break;  // None, or not a NOR operation
    }
    if (fault != FaultKind::None) emit(EventKind::Fault, k, pending_value_, at, pending_, fault);
    emit(EventKind::Finished, k, status_, at, pending_, fault);
    pending_ = Operation::None;
}

}  // namespace sim
