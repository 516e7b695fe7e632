#include "module/flash_plan.h"

#include <algorithm>

namespace sim {

void FlashPlanRecorder::on_event(const DeviceEvent& e) {
    if (e.kind != EventKind::Finished || e.fault != FaultKind::None) return;
    FlashStep::Kind kind;
    if (e.op == Operation::BlockErase)
        kind = FlashStep::Kind::Erase;
    else if (e.op == Operation::WordProgram || e.op == Operation::BufferProgram || e.op == Operation::PageProgram)
        kind = FlashStep::Kind::Program;
    else
        return;
    ByteRange r = blocks_.device_range(e);
    if (r.start >= r.end) return;
    uint32_t first = blocks_.block_at(r.start), last = blocks_.block_at(r.end - 1);
    if (!steps_.empty()) {
        FlashStep& run = steps_.back();
        if (run.kind == kind && r.start <= run.device.end && r.end >= run.device.start) {
            run.device = {std::min(run.device.start, r.start), std::max(run.device.end, r.end)};
            run.first_block = std::min(run.first_block, first);
            run.last_block = std::max(run.last_block, last);
            ++run.operations;
            return;
        }
    }
    steps_.push_back({kind, r, first, last, 1});
}

}  // namespace sim
