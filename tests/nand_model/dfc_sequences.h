// The register sequences a driver uses on the NAND controller, issued over
// the module's bus: clear NDSR, set ND_RUN, wait for WRCMDREQ, three NDCB0
// words; bounded NDSR polls; data through NDDB one word at a time.
#pragma once
#include <cstdint>
#include <vector>

#include "module/hw/nand/nand_controller.h"
#include "module/module.h"

namespace nand_test {

constexpr uint32_t kBase = sim::kNandControllerBase;
constexpr uint32_t kPolls = 1400002;

// NDCR values a configured driver composes (bit 19 and every interrupt mask set).
constexpr uint32_t kNdcrLargePage = 0x010DDFFF;     // 2048-byte pages, 64 per block, RD_ID_CNT 5
constexpr uint32_t kNdcrSmallDoubled = 0x080A1FFF;  // 512-byte pages, 16-bit bus, RD_ID_CNT 2

class Dfc {
public:
    explicit Dfc(sim::Module& module) : bus_(module.bus()), clock_(module.clock()) {}

    uint32_t read(uint32_t reg) { return bus_.read32(kBase + reg); }
    void write(uint32_t reg, uint32_t value) { bus_.write32(kBase + reg, value); }
    void set_ndcr_bits(uint32_t set, uint32_t clear = 0) { write(sim::NDCR, (read(sim::NDCR) | set) & ~clear); }

    // True when some bit of mask shows within the poll budget.
    bool wait(uint32_t mask, uint32_t polls = kPolls) {
        for (uint32_t i = 0; i < polls; ++i)
            if (read(sim::NDSR) & mask) return true;
        return false;
    }
    bool start(uint32_t word, uint32_t address1, uint32_t address2) {
        write(sim::NDSR, 0xFFFFFFFF);
        set_ndcr_bits(sim::kNdcrNdRun);
        if (!wait(sim::kNdsrWrCmdReq)) return false;
        write(sim::NDCB0, word);
        write(sim::NDCB0, address1);
        write(sim::NDCB0, address2);
        return true;
    }
    // 0 done, 1 time-out, 2 uncorrectable, 4 bad block.
    int finish() {
        if (!wait(sim::kNdsrRdy) || !wait(0x1F0)) return 1;
        uint32_t s = read(sim::NDSR);
        if (s & (sim::kNdsrCs0Bbd | sim::kNdsrCs1Bbd)) return 4;
        return (s & sim::kNdsrDbErr) ? 2 : 0;
    }
    std::vector<uint32_t> read_words(size_t count) {
        std::vector<uint32_t> words(count);
        for (uint32_t& w : words) w = read(sim::NDDB);
        return words;
    }
    void write_words(const std::vector<uint32_t>& words) {
        for (uint32_t w : words) write(sim::NDDB, w);
    }
    uint64_t now() const { return clock_.now_ns(); }

private:
    sim::Bus& bus_;
    sim::VirtualClock& clock_;
};

}  // namespace nand_test
