// What the device models tell about themselves: one small event type for
// every device (the bus, the NOR chips, the NAND controller and chips, the
// GPIO blocks) and one sink per module that hands each event to the
// listeners that asked for its kind.
//
// The module's flash counters listen always; every other kind costs an
// emitter one test of a bit while nobody listens: devices test wants() before
// they build an event, build it on the stack and make no text. Text is made
// only when someone reads an event (describe).
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace sim {

enum class EventSource : uint8_t {
    Bus,
    Nor,             // one chip of the NOR pair (unit: 0 low half of the bus word, 1 high half)
    NandController,  // (unit: the command's chip select; the chip, for page reports)
    NandChip,        // (unit: N of nand-N)
    Gpio,
    Mfpr,
};

enum class EventKind : uint8_t {
    Read,           // bus read (address: physical, value: the word read)
    Write,          // bus write (address: physical, value: the word written)
    Command,        // a command taken (value: the command; NAND controller: NDCB0, address NDCB1)
    Ignored,        // a write, command or cycle not taken (value: what came; op: the operation
                    // that kept the device busy, if one did)
    SequenceError,  // a command sequence broken off, or data moved out of turn (length: bytes)
    Started,        // a flash operation began (op; address, length and block: what it covers;
                    // value: the write that started it)
    Finished,       // a flash operation ended (op, address, length, block; value: the status;
                    // fault: why it failed)
    Fault,          // an injected fault took effect (fault; op: the operation it hit)
    Signal,         // NAND controller: status bits raised (value: NDSR as it now reads; length: bytes requested)
    // Page reports of the NAND controller (unit: the chip; address, length, block: the chip's page):
    BadBlock,          // AUTO_RS found the chip's fail bit after a program or erase (value: its status)
    EccCorrected,      // a page read with a bit corrected
    EccUncorrectable,  // a page read with more flipped bits than the ECC corrects
    PinChanged,        // a pin's function, direction or level changed (address: the pin; value: kPin* bits)
    Violation,         // a chip was used against its datasheet (fault: the rule; op, address, length,
                       // block: the operation; value: the partial-program count it reached)
};
constexpr unsigned kEventKindCount = 14;
constexpr uint32_t event_bit(EventKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr uint32_t kAllEventKinds = (1u << kEventKindCount) - 1;

// The flash operations of the chips.
enum class Operation : uint8_t {
    None,
    WordProgram,  // NOR
    BufferProgram,
    BlockErase,  // NOR and NAND
    SetLock,     // NOR lock bits
    ClearLocks,  // J3 legacy: every block of the chip
    UnlockBlock,
    LockDown,
    PageRead,  // NAND
    PageProgram,
    Reset,
    ReadId,
    ReadStatus,
};
constexpr unsigned kOperationCount = 13;

enum class FaultKind : uint8_t {
    None,
    NeverReady,  // the operation never ends
    EraseError,
    ProgramError,
    StuckLock,
    VppLow,
    Locked,         // not injected: the operation met a locked block
    BadBlock,       // NAND: program and erase of the block fail
    BitFlip,        // NAND: the page reads with one flipped bit
    DoubleBitFlip,  // NAND: the page reads with two flipped bits in one ECC chunk
    MissedStart,    // NAND: the chip missed the command that starts a read, program or erase
    // Rules a Violation broke:
    PartialProgramMain,   // NAND: a page's main area programmed more often than its NOP allows
    PartialProgramSpare,  // NAND: the same for its spare area
    MarkedBadBlock,       // NAND: a program or erase of a block carrying a bad-block marker
};

// PinChanged value: the pin's function in bits 2:0, and these.
constexpr uint32_t kPinOutput = 1u << 8;
constexpr uint32_t kPinHigh = 1u << 9;

struct DeviceEvent {
    uint64_t time_ns;
    // Bus: physical address. NOR: the bus offset (4 x the chip's word address).
    // NAND chip: byte offset in the chip's main area. NAND controller: the
    // register, or NDCB1 for a command. GPIO: the pin.
    uint32_t address;
    uint32_t value;
    uint32_t length;  // bytes of the device an operation covers (NOR: of this chip)
    uint32_t block;   // the chip's erase block an operation covers
    EventSource source;
    uint8_t unit;
    EventKind kind;
    Operation op;
    FaultKind fault;
};
static_assert(sizeof(DeviceEvent) <= 32 && std::is_trivially_copyable_v<DeviceEvent>,
              "an event is small and plain: built on the stack, copied by value");

// What the flash chips did since the module was opened, derived from the
// events: the report's byte counts, operations by kind, what went wrong.
struct FlashCounters {
    // Bytes of erases and programs that finished without a fault.
    uint64_t bytes_erased = 0;
    uint64_t bytes_programmed = 0;
    uint64_t started[kOperationCount] = {};
    uint64_t failed_operations = 0;  // ended with a fault, or never end
    uint64_t sequence_errors = 0;
    uint64_t ignored_while_busy = 0;
    uint64_t bad_block_reports = 0;
    uint64_t ecc_corrected = 0;
    uint64_t ecc_uncorrectable = 0;

    static constexpr uint32_t kKinds = event_bit(EventKind::Ignored) | event_bit(EventKind::SequenceError) |
                                       event_bit(EventKind::Started) | event_bit(EventKind::Finished) |
                                       event_bit(EventKind::Fault) | event_bit(EventKind::BadBlock) |
                                       event_bit(EventKind::EccCorrected) | event_bit(EventKind::EccUncorrectable);
    uint64_t operations(Operation op) const { return started[static_cast<unsigned>(op)]; }
    // Inline: where a device emits a kind it names, counting folds to an increment.
    void count(const DeviceEvent& e) {
        switch (e.kind) {
            case EventKind::Started: ++started[static_cast<unsigned>(e.op)]; break;
            case EventKind::Finished:
                if (e.fault != FaultKind::None)
                    ++failed_operations;
                else if (e.op == Operation::BlockErase)
                    bytes_erased += e.length;
                else if (e.op == Operation::WordProgram || e.op == Operation::BufferProgram ||
                         e.op == Operation::PageProgram)
                    bytes_programmed += e.length;
                break;
            case EventKind::Fault:
                // An operation that never ends has no Finished to count.
                if (e.fault == FaultKind::NeverReady) ++failed_operations;
                break;
            case EventKind::SequenceError: ++sequence_errors; break;
            case EventKind::Ignored:
                if (e.op != Operation::None) ++ignored_while_busy;
                break;
            case EventKind::BadBlock: ++bad_block_reports; break;
            case EventKind::EccCorrected: ++ecc_corrected; break;
            case EventKind::EccUncorrectable: ++ecc_uncorrectable; break;
            default: break;
        }
    }
};

class EventListener {
public:
    virtual ~EventListener() = default;
    virtual void on_event(const DeviceEvent& event) = 0;
};

class EventSink {
public:
    // The test an emitter makes before it builds an event of this kind.
    bool wants(EventKind kind) const { return ((FlashCounters::kKinds | listened_) & event_bit(kind)) != 0; }
    // Counts the event and hands it to the listeners of its kind; emitters
    // call it only for kinds they were told are wanted.
    void deliver(const DeviceEvent& event) {
        if (FlashCounters::kKinds & event_bit(event.kind)) counters_.count(event);
        if (listened_ & event_bit(event.kind)) hand_to_listeners(event);
    }

    // A listener takes the events of the kinds (event_bit mask) until forgotten.
    void listen(EventListener* listener, uint32_t kinds);
    void forget(EventListener* listener);

    const FlashCounters& counters() const { return counters_; }

private:
    void hand_to_listeners(const DeviceEvent& event);

    uint32_t listened_ = 0;
    FlashCounters counters_;
    std::vector<std::pair<EventListener*, uint32_t>> listeners_;
};

const char* name_of(EventSource source);
const char* name_of(EventKind kind);
const char* name_of(Operation op);
const char* name_of(FaultKind fault);
// One line, for example "t=1000.218us chip1 0x00040000 finished buffer-program status=0x80".
std::string describe(const DeviceEvent& event);

}  // namespace sim
