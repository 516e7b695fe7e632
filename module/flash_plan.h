// What the flash chips were made to do, in the order they did it, from the
// device events: runs of erased blocks and of programmed device bytes. A
// program or erase that failed is left out (it changed nothing the run
// meant to change); a run joins operations of one kind that follow each
// other and touch or overlap (the two chips of a pair doing the same words
// make one run).
#pragma once
#include <cstdint>
#include <vector>

#include "module/flash_blocks.h"

namespace sim {

struct FlashStep {
    enum class Kind { Erase, Program };
    Kind kind;
    ByteRange device;  // device offsets
    uint32_t first_block;
    uint32_t last_block;
    uint64_t operations;  // chip operations joined in the run
};

class FlashPlanRecorder : public EventListener {
public:
    static constexpr uint32_t kKinds = event_bit(EventKind::Finished);

    explicit FlashPlanRecorder(FlashBlocks blocks) : blocks_(std::move(blocks)) {}
    void on_event(const DeviceEvent& event) override;

    const FlashBlocks& blocks() const { return blocks_; }
    const std::vector<FlashStep>& steps() const { return steps_; }

private:
    FlashBlocks blocks_;
    std::vector<FlashStep> steps_;
};

}  // namespace sim
