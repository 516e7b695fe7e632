#include "module/hw/device_events.h"

#include <cstdio>

namespace sim {

void EventSink::hand_to_listeners(const DeviceEvent& event) {
    uint32_t bit = event_bit(event.kind);
    for (const auto& [listener, kinds] : listeners_)
        if (kinds & bit) listener->on_event(event);
}

void EventSink::listen(EventListener* listener, uint32_t kinds) {
    forget(listener);
    listeners_.emplace_back(listener, kinds);
    listened_ |= kinds;
}

void EventSink::forget(EventListener* listener) {
    std::erase_if(listeners_, [listener](const auto& entry) { return entry.first == listener; });
    listened_ = 0;
    for (const auto& entry : listeners_) listened_ |= entry.second;
}

const char* name_of(EventSource source) {
    switch (source) {
        case EventSource::Bus: return "bus";
        case EventSource::Nor: return "chip";
        case EventSource::NandController: return "dfc-cs";
        case EventSource::NandChip: return "nand-";
        case EventSource::Gpio: return "gpio";
        case EventSource::Mfpr: return "mfpr";
    }
    return "?";
}

const char* name_of(EventKind kind) {
    switch (kind) {
        case EventKind::Read: return "read";
        case EventKind::Write: return "write";
        case EventKind::Command: return "command";
        case EventKind::Ignored: return "ignored";
        case EventKind::SequenceError: return "sequence-error";
        case EventKind::Started: return "started";
        case EventKind::Finished: return "finished";
        case EventKind::Fault: return "fault";
        case EventKind::Signal: return "signal";
        case EventKind::BadBlock: return "bad-block";
        case EventKind::EccCorrected: return "ecc-corrected";
        case EventKind::EccUncorrectable: return "ecc-uncorrectable";
        case EventKind::PinChanged: return "pin-changed";
        case EventKind::Violation: return "violation";
    }
    return "?";
}

const char* name_of(Operation op) {
    switch (op) {
        case Operation::None: return "";
        case Operation::WordProgram: return "word-program";
        case Operation::BufferProgram: return "buffer-program";
        case Operation::BlockErase: return "block-erase";
        case Operation::SetLock: return "set-lock";
        case Operation::ClearLocks: return "clear-locks";
        case Operation::UnlockBlock: return "unlock-block";
        case Operation::LockDown: return "lock-down";
        case Operation::PageRead: return "page-read";
        case Operation::PageProgram: return "page-program";
        case Operation::Reset: return "reset";
        case Operation::ReadId: return "read-id";
        case Operation::ReadStatus: return "read-status";
    }
    return "?";
}

const char* name_of(FaultKind fault) {
    switch (fault) {
        case FaultKind::None: return "";
        case FaultKind::NeverReady: return "never-ready";
        case FaultKind::EraseError: return "erase-error";
        case FaultKind::ProgramError: return "program-error";
        case FaultKind::StuckLock: return "stuck-lock";
        case FaultKind::VppLow: return "vpp-low";
        case FaultKind::Locked: return "locked";
        case FaultKind::BadBlock: return "bad-block";
        case FaultKind::BitFlip: return "bit-flip";
        case FaultKind::DoubleBitFlip: return "double-bit-flip";
        case FaultKind::MissedStart: return "missed-start";
        case FaultKind::PartialProgramMain: return "nop-main";
        case FaultKind::PartialProgramSpare: return "nop-spare";
        case FaultKind::MarkedBadBlock: return "marked-bad-block";
    }
    return "?";
}

std::string describe(const DeviceEvent& e) {
    bool has_unit =
        e.source == EventSource::Nor || e.source == EventSource::NandController || e.source == EventSource::NandChip;
    char line[160];
    int n = std::snprintf(line, sizeof line, "t=%llu.%03lluus %s", static_cast<unsigned long long>(e.time_ns / 1000),
                          static_cast<unsigned long long>(e.time_ns % 1000), name_of(e.source));
    if (has_unit) n += std::snprintf(line + n, sizeof line - n, "%u", static_cast<unsigned>(e.unit));
    n += std::snprintf(line + n, sizeof line - n, " 0x%08x %s", static_cast<unsigned>(e.address), name_of(e.kind));
    if (e.op != Operation::None) n += std::snprintf(line + n, sizeof line - n, " %s", name_of(e.op));
    if (e.fault != FaultKind::None) n += std::snprintf(line + n, sizeof line - n, " %s", name_of(e.fault));
    if (e.kind == EventKind::PinChanged)
        std::snprintf(line + n, sizeof line - n, " function=%u %s %s", static_cast<unsigned>(e.value & 7),
                      e.value & kPinOutput ? "output" : "input", e.value & kPinHigh ? "high" : "low");
    else
        std::snprintf(line + n, sizeof line - n, e.kind == EventKind::Finished ? " status=0x%02x" : " value=0x%04x",
                      static_cast<unsigned>(e.value));
    return line;
}

}  // namespace sim
