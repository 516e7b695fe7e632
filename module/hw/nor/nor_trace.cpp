#include "module/hw/nor/nor_trace.h"

#include <cstdio>

namespace sim {

const char* name_of(NorEventKind kind) {
    switch (kind) {
        case NorEventKind::Command: return "command";
        case NorEventKind::Ignored: return "ignored";
        case NorEventKind::SequenceError: return "sequence-error";
        case NorEventKind::Started: return "started";
        case NorEventKind::Finished: return "finished";
        case NorEventKind::Fault: return "fault";
    }
    return "?";
}

const char* name_of(NorOperation op) {
    switch (op) {
        case NorOperation::None: return "";
        case NorOperation::WordProgram: return "word-program";
        case NorOperation::BufferProgram: return "buffer-program";
        case NorOperation::BlockErase: return "block-erase";
        case NorOperation::SetLock: return "set-lock";
        case NorOperation::ClearLocks: return "clear-locks";
        case NorOperation::UnlockBlock: return "unlock-block";
        case NorOperation::LockDown: return "lock-down";
    }
    return "?";
}

const char* name_of(NorFaultKind fault) {
    switch (fault) {
        case NorFaultKind::None: return "";
        case NorFaultKind::NeverReady: return "never-ready";
        case NorFaultKind::EraseError: return "erase-error";
        case NorFaultKind::ProgramError: return "program-error";
        case NorFaultKind::StuckLock: return "stuck-lock";
        case NorFaultKind::VppLow: return "vpp-low";
        case NorFaultKind::Locked: return "locked";
    }
    return "?";
}

std::string describe(const NorEvent& e) {
    char line[160];
    int n = std::snprintf(line, sizeof line, "t=%llu.%03lluus chip%u 0x%08llx %s",
                          static_cast<unsigned long long>(e.time_ns / 1000),
                          static_cast<unsigned long long>(e.time_ns % 1000), static_cast<unsigned>(e.chip),
                          static_cast<unsigned long long>(e.word) * 4, name_of(e.kind));
    std::string out(line, n > 0 ? static_cast<size_t>(n) : 0);
    if (e.op != NorOperation::None) out += std::string(" ") + name_of(e.op);
    if (e.fault != NorFaultKind::None) out += std::string(" ") + name_of(e.fault);
    std::snprintf(line, sizeof line, e.kind == NorEventKind::Finished ? " status=0x%02x" : " value=0x%04x",
                  static_cast<unsigned>(e.value));
    return out + line;
}

}  // namespace sim
