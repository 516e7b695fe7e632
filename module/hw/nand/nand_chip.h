// One 8-bit NAND chip as its pins see it: command, address and data cycles,
// the ready/busy line and the status register, over its page register and
// its array in NandStorage. Commands: reset (FFh), read ID (90h), status
// (70h), read (00h, with 30h on large-page parts; 01h and 50h pointers on
// small-page parts), page program (80h ... 10h or 15h), block erase (60h ...
// D0h). Not modelled: sequential row reads past the page, cache reads, copy-
// back, OTP areas and write protection.
// The chip keeps the datasheet's limits in view: a page area programmed more
// often than the part's NOP allows since its block's erase, and a program or
// erase of a block with a bad-block marker, are Violation events; past the
// NOP, unless told only to record, a seeded share of the bits of the areas
// that program sent is stored flipped.
// The chip acts on an address when the controller ends the address phase;
// cycles it did not get count as 0. A program or erase takes effect when it
// starts; its Finished event comes when its busy time has passed and the chip
// is next touched (or settled). When the module's power goes during a
// program or erase, it takes effect part-way (module/hw/cut_bits.h): its
// spare area and ECC no longer match its data.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "module/hw/busy_time.h"
#include "module/hw/device_events.h"
#include "module/hw/nand/nand_parts.h"
#include "module/hw/nand/nand_storage.h"
#include "module/hw/power_line.h"
#include "module/hw/wear/chip_wear.h"

namespace sim {

// Faults of one chip; block and page numbers are the chip's own.
struct NandChipFaults {
    std::set<uint32_t> bad_blocks;           // program and erase fail (status bit 0)
    std::set<uint32_t> bitflip_pages;        // one data bit reads flipped (ECC corrects it)
    std::set<uint32_t> uncorrectable_pages;  // two data bits of one ECC chunk read flipped
    // Transient: each entry makes the next read or program of the page (erase
    // of the block) miss its start once; the chip stays ready and does nothing.
    std::multiset<uint32_t> missed_reads;
    std::multiset<uint32_t> missed_programs;
    std::multiset<uint32_t> missed_erases;
    bool never_ready = false;  // the ready/busy line never rises after power-up
    uint32_t hang_after = 0;   // this busy operation (1 = the first) never ends; 0 = none
};

struct NandChipConfig {
    const NandPart* part = nullptr;
    unsigned index = 0;  // N of nand-N.main
    uint32_t read_ns = 0;
    uint32_t program_ns = 0;
    uint32_t erase_ns = 0;
    uint32_t reset_ns = kNandResetNs;
    uint32_t program_max_ns = 0;  // below the typical time: the typical time
    uint32_t erase_max_ns = 0;
    TimingMode timing = TimingMode::Typical;
    uint64_t timing_seed = 0;
    // Past the partial-program limit the page's bits read back wrong
    // (false: the program is only recorded as a violation).
    bool corrupt_past_nop = true;
    uint32_t weak_bad_ppm = 0;  // programs and erases of a bad block in a million that succeed
    uint32_t limits_seed = 1;   // of the unreliable bits and the weak bad blocks' draws
    NandChipFaults faults;
};

// Where the flipped bits of a faulty page sit: byte 0x10 bit 3, and for an
// uncorrectable page also byte 0x21 bit 5 (both in the first ECC chunk).
constexpr uint32_t kBitflipByte = 0x10;
constexpr uint8_t kBitflipMask = 0x08;
constexpr uint32_t kSecondFlipByte = 0x21;
constexpr uint8_t kSecondFlipMask = 0x20;

// Command cycles the chip takes.
enum NandCommand : uint8_t {
    kNandCmdReset = 0xFF,
    kNandCmdReadId = 0x90,
    kNandCmdReadStatus = 0x70,
    kNandCmdRead = 0x00,                 // small-page parts: from area A, the first half of the main area
    kNandCmdReadAreaB = 0x01,            // small-page parts: from the second half, for one operation
    kNandCmdReadSpare = 0x50,            // small-page parts: from area C, the spare area
    kNandCmdReadConfirm = 0x30,          // large-page parts: after the address cycles
    kNandCmdProgram = 0x80,              // then address and data cycles
    kNandCmdProgramConfirm = 0x10,       // starts the page program
    kNandCmdCacheProgramConfirm = 0x15,  // the same, taken as a plain program
    kNandCmdErase = 0x60,                // then the row address cycles
    kNandCmdEraseConfirm = 0xD0,         // starts the block erase
};

constexpr uint8_t kNandStatusFail = 0x01;
constexpr uint8_t kNandStatusReady = 0x40;
constexpr uint8_t kNandStatusNotProtected = 0x80;

class NandChip {
public:
    // The chip tells what it does to events.
    NandChip(NandChipConfig config, NandStorage& storage, EventSink& events);

    const NandChipConfig& config() const { return config_; }
    const NandPart& part() const { return *config_.part; }
    NandChipFaults& faults() { return config_.faults; }
    // Program and erase starts are put to the module's power cut.
    void set_power(PowerLine* power) { power_ = power; }
    // Wear: a worn block fails its erase, a worn page its program; reads flip bits.
    void set_wear(std::unique_ptr<ChipWear> wear) { wear_ = std::move(wear); }

    void command(uint8_t cmd, uint64_t now);
    void address(const uint8_t* cycles, unsigned count, uint64_t now);
    void read_data(uint8_t* out, size_t count, uint64_t now);
    void write_data(const uint8_t* in, size_t count, uint64_t now);

    // The ready/busy line: high (ready) from ready_at() on; UINT64_MAX when it never rises.
    bool ready(uint64_t now) const { return now >= busy_until_; }
    uint64_t ready_at() const { return busy_until_; }
    uint8_t status(uint64_t now) const;
    // The page the last address phase named.
    uint32_t page() const { return row_; }
    // Ends an operation whose busy time has passed by now.
    void settle(uint64_t now) {
        if (pending_ != Operation::None && now >= busy_until_) finish(busy_until_);
    }

private:
    enum class Mode {
        Idle,
        ReadAddress,
        ReadConfirm,
        DataOut,
        IdAddress,
        IdOut,
        StatusOut,
        ProgramAddress,
        ProgramData,
        EraseAddress,
        EraseConfirm,
    };
    bool takes(uint8_t cmd) const;
    bool misses(std::multiset<uint32_t>& starts, uint32_t number, Operation op, uint64_t now);
    void start_busy(Operation op, uint32_t ns, uint64_t now, uint8_t cmd);
    void finish(uint64_t at);
    void load_page(uint32_t page, uint64_t now, uint8_t cmd);
    void program(uint64_t now, uint8_t cmd);
    void erase(uint64_t now, uint8_t cmd);
    // A bad block's program or erase fails, unless a weak block's draw lets it through.
    bool bad_block_fails(uint32_t block);
    // Records a program or erase of a block whose marker reads.
    void check_marked(uint32_t block, Operation op, uint64_t now);
    // Records a program past the NOP (and, unless told only to record, leaves its bits unreliable).
    void check_partial_programs(PagePrograms after, uint64_t now);
    // True when the power goes during the program or erase that just started.
    bool cut(Operation op, uint64_t now, uint32_t busy_ns);
    void emit(EventKind kind, uint64_t now, uint32_t value, Operation op = Operation::None,
              FaultKind fault = FaultKind::None) {
        if (events_.wants(kind)) events_.deliver(event(kind, now, value, op, fault));
    }
    DeviceEvent event(EventKind kind, uint64_t now, uint32_t value, Operation op, FaultKind fault) const;

    NandChipConfig config_;
    NandStorage& storage_;
    EventSink& events_;
    PowerLine* power_ = nullptr;
    Mode mode_ = Mode::Idle;
    unsigned small_area_ = 0;     // small-page pointer: 0 area A, 1 area B, 2 spare (C)
    bool area_one_shot_ = false;  // 01h lasts one operation
    uint32_t row_ = 0;
    uint32_t position_ = 0;  // next byte of the page register
    uint32_t id_position_ = 0;
    bool failed_ = false;  // status bit 0 of the last program or erase
    uint64_t busy_until_ = 0;
    uint32_t busy_operations_ = 0;
    Operation pending_ = Operation::None;  // the operation that keeps the chip busy
    uint32_t pending_row_ = 0;
    std::vector<uint8_t> register_;
    // The missed starts still to come, taken from the configuration at power-up.
    std::multiset<uint32_t> reads_to_miss_, programs_to_miss_, erases_to_miss_;
    std::unique_ptr<ChipWear> wear_;
    BusyTime busy_draw_;
    uint64_t limit_draws_ = 0;  // weak-block draws and corrupted programs so far
};

}  // namespace sim
