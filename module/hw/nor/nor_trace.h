// The NOR chips' event trace: every command a chip accepts or ignores, every
// operation it starts and finishes, every injected fault it hits. Off by
// default; when off an event costs one test of a flag.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class NorEventKind : uint8_t {
    Command,        // a command byte taken (value = the written word)
    Ignored,        // a write the chip did not take (busy, or not a command)
    SequenceError,  // SR4|SR5 set: bad count, load outside the window, no confirm
    Started,        // an operation began (value = the written word)
    Finished,       // an operation ended (value = the status register)
    Fault,          // an injected fault took effect
};

enum class NorOperation : uint8_t {
    None,
    WordProgram,
    BufferProgram,
    BlockErase,
    SetLock,
    ClearLocks,  // J3 legacy: every block of the chip
    UnlockBlock,
    LockDown,
};

enum class NorFaultKind : uint8_t {
    None,
    NeverReady,
    EraseError,
    ProgramError,
    StuckLock,
    VppLow,
    Locked,  // not injected: the operation met a locked block
};

struct NorEvent {
    uint64_t time_ns;
    uint32_t word;  // the chip's word address; the bus offset is 4 * word
    uint16_t value;
    uint8_t chip;  // 0: low half of the bus word, 1: high half
    NorEventKind kind;
    NorOperation op;
    NorFaultKind fault;
};

class NorTrace {
public:
    bool enabled() const { return enabled_; }
    void enable(bool on) { enabled_ = on; }
    void add(const NorEvent& event) { events_.push_back(event); }
    const std::vector<NorEvent>& events() const { return events_; }
    void clear() { events_.clear(); }

private:
    bool enabled_ = false;
    std::vector<NorEvent> events_;
};

const char* name_of(NorEventKind kind);
const char* name_of(NorOperation op);
const char* name_of(NorFaultKind fault);
// One line, for example "t=1000.218us chip1 0x00040000 finished buffer-program status=0x80".
std::string describe(const NorEvent& event);

}  // namespace sim
