// One 16-bit Intel command-set NOR chip (StrataFlash J3, P30 bottom-boot, K3):
// the command state machine, the status register, the write buffer, block
// lock bits and busy times on the module's virtual clock.
//
// Modelled: Read Array, Read Identifier, CFI Query, Read Status, Clear
// Status, Block Erase, Word Program, Write to Buffer with its sequence
// errors, block locking (J3 legacy clear-all, P30/K3 per-block lock, unlock
// and lock-down), injected faults. Every transition is one event in the
// module's event sink: a command taken or ignored, a sequence error, an
// operation started or finished, a fault that took effect.
// Not modelled: erase and program suspend, OTP protection registers, burst
// and page reads, partitions and read-while-write, the VPEN/VPP and WP# pins
// (WP# is taken as low, so locked-down blocks stay locked), chip erase,
// the 0x8922 command erratum. An operation takes effect as a whole when its
// busy time ends, unless the module's power goes during it (cut_short).
//
// The chip does not own its array: it works on every second 16-bit word of
// the pair's array file (its half of each bus word) and on every second byte
// of the pair's lock bytes, so the pair's files read like the bus.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "module/hw/busy_time.h"
#include "module/hw/device_events.h"
#include "module/hw/nor/nor_storage.h"
#include "module/hw/power_line.h"
#include "module/hw/wear/chip_wear.h"

namespace sim {

enum class NorFamily : uint8_t {
    J3,   // uniform blocks, 32-byte buffer, non-volatile bits, legacy clear-all
    P30,  // four parameter blocks at the bottom, 64-byte buffer, per-block locks, locked at power-up
    K3,   // uniform blocks, 64-byte buffer, per-block locks, locked at power-up
};

// Busy times in nanoseconds of virtual time.
struct NorTimings {
    uint64_t word_program_ns;
    uint64_t buffer_program_ns;
    uint64_t block_erase_ns;
    uint64_t parameter_erase_ns;
    uint64_t clear_locks_ns;  // J3 legacy clear of all lock bits
    uint64_t set_lock_ns;     // J3 set; P30/K3 lock, unlock and lock-down
};

// Faults of one chip block, as bits of a per-block flag byte.
enum NorBlockFault : uint8_t {
    kNorFaultEraseError = 1,    // erase ends with SR5, block unchanged
    kNorFaultProgramError = 2,  // program ends with SR4, array unchanged
    kNorFaultStuckLock = 4,     // lock bit set at power-up and never clears
    kNorFaultSilentLock = 8,    // the same, but the unlock reports no error
};

struct NorChipConfig {
    uint16_t manufacturer = 0x0089;
    uint16_t device_code = 0x0018;
    NorFamily family = NorFamily::J3;
    uint32_t query_size = 24;  // chip size 2^n bytes (CFI 0x27)
    uint32_t main_block_bytes = 128 * 1024;
    uint32_t parameter_blocks = 0;  // at the bottom of the chip
    uint32_t parameter_block_bytes = 32 * 1024;
    uint32_t buffer_words = 16;
    NorTimings timings{};      // typical
    NorTimings max_timings{};  // the datasheet's maximum (a time without one: its typical)
    TimingMode timing = TimingMode::Typical;
    uint64_t timing_seed = 0;
    bool never_ready = false;  // every program, erase and lock operation stays busy
    bool vpp_low = false;      // every program and erase fails with SR3
    // Chip block index -> NorBlockFault bits; blocks past the end have none.
    std::vector<uint8_t> block_faults;

    uint32_t chip_bytes() const { return 1u << query_size; }
    uint32_t block_count() const {
        return parameter_blocks + (chip_bytes() - parameter_blocks * parameter_block_bytes) / main_block_bytes;
    }
    // The block holding a byte offset of the chip.
    uint32_t block_at(uint32_t chip_byte) const {
        uint32_t parameter_bytes = parameter_blocks * parameter_block_bytes;
        return chip_byte < parameter_bytes ? chip_byte / parameter_block_bytes
                                           : parameter_blocks + (chip_byte - parameter_bytes) / main_block_bytes;
    }
};

// Status register bits (DQ7:0; DQ15:8 read 0).
enum NorStatus : uint16_t {
    kSR7Ready = 0x80,
    kSR5EraseError = 0x20,
    kSR4ProgramError = 0x10,
    kSR3VppLow = 0x08,
    kSR1BlockLocked = 0x02,
};

// Lock configuration bits as Read Identifier shows them at block base + 2.
enum NorLockBits : uint8_t {
    kNorLocked = 1,
    kNorLockedDown = 2,
};

class NorChip {
public:
    // array: the pair's array file, whose every second uint16_t from the
    // chip's index on is the chip's; locks: the chip's block 0 lock byte
    // (every second byte).
    NorChip(const NorChipConfig& config, uint8_t chip_index, MappedFile& array, uint8_t* locks, EventSink& events);

    // A bus access at chip word address k (k < chip words) at virtual time now.
    uint16_t read(uint32_t k, uint64_t now) {
        if (busy_) {
            // A busy chip answers every read with its status: SR7 = 0.
            if (now < busy_until_) return 0;
            finish(now);
        }
        if (mode_ == Mode::ReadArray) return words_[2 * static_cast<size_t>(k)];
        return read_slow(k);
    }
    void write(uint32_t k, uint16_t value, uint64_t now) {
        if (busy_) {
            if (now < busy_until_) {
                write_while_busy(k, value, now);
                return;
            }
            finish(now);
        }
        if (loads_buffer(k)) {
            load_buffer(k, value);
            return;
        }
        write_slow(k, value, now);
    }

    // The two hot paths, which the pair takes for both chips at once when
    // both are on them. With no operation running: a read in read-array
    // mode is the array word; a data word inside the window of a buffer
    // program is one store and a count.
    bool reads_array() const { return !busy_ && mode_ == Mode::ReadArray; }
    // In read-array mode, busy or not: a read may return array words.
    bool in_read_array_mode() const { return mode_ == Mode::ReadArray; }
    bool loads_buffer(uint32_t k) const {
        return !busy_ && mode_ == Mode::BufferData && k - buffer_start_ < buffer_count_;
    }
    void load_buffer(uint32_t k, uint16_t value) {
        buffer_[k - buffer_start_] = value;
        if (++buffer_loaded_ == buffer_count_) mode_ = Mode::BufferConfirm;
    }

    // True while an operation runs at time now.
    bool busy_at(uint64_t now) const { return busy_ && now < busy_until_; }
    uint64_t busy_until() const { return busy_until_; }
    // Ends an operation whose busy time has passed by now (a module closing
    // keeps what the chip has finished).
    void settle(uint64_t now) {
        if (busy_ && now >= busy_until_) finish(now);
    }

    // Program and erase starts are put to the module's power cut.
    void set_power(PowerLine* power) { power_ = power; }
    // The power went during the operation that just started: it is left
    // part-done in the array and ends without a Finished event.
    void cut_short();

    const NorChipConfig& config() const { return config_; }
    // Wear: a worn block's erase ends with SR5; failures from a chosen operation on.
    void set_wear(std::unique_ptr<ChipWear> wear) { wear_ = std::move(wear); }
    uint16_t status_register() const { return status_; }
    uint8_t lock_bits(uint32_t block) const { return locks_[2 * static_cast<size_t>(block)]; }
    uint32_t block_of(uint32_t k) const {
        return k < parameter_words_ ? k >> parameter_shift_
                                    : config_.parameter_blocks + ((k - parameter_words_) >> main_shift_);
    }
    uint32_t block_start(uint32_t block) const {
        return block < config_.parameter_blocks
                   ? block << parameter_shift_
                   : parameter_words_ + ((block - config_.parameter_blocks) << main_shift_);
    }
    uint32_t block_words(uint32_t block) const {
        return 1u << (block < config_.parameter_blocks ? parameter_shift_ : main_shift_);
    }

private:
    enum class Mode : uint8_t {
        ReadArray,
        ReadStatus,
        ReadIdentifier,
        ReadQuery,
        EraseSetup,     // 0x20 taken, confirm expected
        ProgramSetup,   // 0x40/0x10 taken, data expected
        LockSetup,      // 0x60 taken, 0x01 / 0xD0 / 0x2F expected
        BufferCount,    // 0xE8 taken: reads give XSR, count expected
        BufferRefused,  // 0xE8 refused: reads give XSR with no buffer
        BufferStart,    // count taken, the first data word fixes the window
        BufferData,     // loading the rest of the data words
        BufferConfirm,  // all words loaded, 0xD0 expected
    };

    uint16_t read_slow(uint32_t k) const;
    void write_slow(uint32_t k, uint16_t value, uint64_t now);
    void write_while_busy(uint32_t k, uint16_t value, uint64_t now);
    void command(uint32_t k, uint16_t value, uint64_t now);
    void buffer_write(uint32_t k, uint16_t value, uint64_t now);
    void lock_confirm(uint32_t k, uint16_t value, uint64_t now);
    void sequence_error(uint32_t k, uint16_t value, uint64_t now);
    // Starts an operation at word k, or refuses it at once with error bits.
    void start(Operation op, uint32_t k, uint16_t value, uint64_t now);
    static uint64_t time_of(const NorTimings& t, Operation op, bool parameter);
    // The next operation's busy time, typical, maximum or drawn between.
    uint64_t busy_time(Operation op, uint32_t block);
    void finish(uint64_t now);
    void program_word(uint32_t k, uint16_t value);
    void emit(EventKind kind, uint32_t k, uint16_t value, uint64_t now, Operation op = Operation::None,
              FaultKind fault = FaultKind::None) {
        if (events_.wants(kind))
            events_.deliver(DeviceEvent{now, 4 * k, value, bytes_of(op, k), block_of(k), EventSource::Nor, chip_index_,
                                        kind, op, fault});
    }
    // The bytes of this chip an operation at word k covers.
    uint32_t bytes_of(Operation op, uint32_t k) const {
        switch (op) {
            case Operation::WordProgram: return 2;
            case Operation::BufferProgram: return 2 * buffer_count_;
            case Operation::BlockErase: return 2 * block_words(block_of(k));
            default: return 0;
        }
    }
    uint8_t faults_of(uint32_t block) const {
        return block < config_.block_faults.size() ? config_.block_faults[block] : 0;
    }
    uint8_t& lock_byte(uint32_t block) { return locks_[2 * static_cast<size_t>(block)]; }
    uint16_t& word(uint32_t k) { return words_[2 * static_cast<size_t>(k)]; }

    const NorChipConfig config_;
    const uint8_t chip_index_;
    MappedFile& array_;
    uint16_t* const words_;
    uint8_t* const locks_;
    EventSink& events_;
    uint32_t parameter_words_;
    uint32_t parameter_shift_;
    uint32_t main_shift_;
    std::vector<uint16_t> query_;
    PowerLine* power_ = nullptr;

    // Mutable state.
    Mode mode_ = Mode::ReadArray;
    uint16_t status_ = kSR7Ready;
    bool busy_ = false;
    uint64_t busy_until_ = 0;
    Operation pending_ = Operation::None;
    uint32_t pending_address_ = 0;
    uint16_t pending_value_ = 0;
    uint32_t buffer_block_ = 0;
    uint32_t buffer_start_ = 0;
    uint32_t buffer_count_ = 0;   // words announced by the count write
    uint32_t buffer_loaded_ = 0;  // data writes taken so far
    bool buffer_fault_ = false;   // a load outside the window, reported at confirm
    bool cut_ = false;            // the power goes during the running operation
    std::array<uint16_t, 32> buffer_{};
    std::unique_ptr<ChipWear> wear_;
    BusyTime busy_draw_;
};

}  // namespace sim
