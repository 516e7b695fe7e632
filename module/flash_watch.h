// What the host hears of the flash chips while the program runs, from the
// device events: the operation that failed, with its status decoded; on NAND
// the bad blocks and ECC reports as they happen; and the NAND boot area's
// write-back and read-back, which no window of the program shows.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "module/config.h"
#include "module/hw/device_events.h"

namespace sim {

// A failed flash operation: a Finished event with a fault, or the Fault of
// an operation that never ends.
struct FlashFailure {
    DeviceEvent event;
    bool never_ended = false;
    uint32_t status = 0;    // as a status read shows it (busy, for one that never ends)
    std::string operation;  // "block erase", "buffer program", "unlock", "page program" ...
    std::string meaning;    // the status decoded: "erase error", "program error, block locked", "busy"
    std::string text;       // "block erase at 0x00100000 failed: chip 0 status 0xa0 = erase error"
};

// The status bits of a chip decoded for an operation (NOR: SR7..SR1; NAND:
// ready, fail, write protection).
std::string status_meaning(EventSource source, Operation op, uint32_t status);
const char* operation_name(Operation op);
FlashFailure describe_failure(const DeviceEvent& event);

class FlashWatch : public EventListener {
public:
    struct Hooks {
        // A NAND bad block, ECC correction or uncorrectable page, one line
        // each, on the thread that drives the flash.
        std::function<void(const std::string& text)> notice;
        // The NAND boot area's staged write-back ("staging the boot area")
        // and its read-back ("verifying"): how far into the boot area.
        std::function<void(const char* phase, uint64_t done, uint64_t total)> boot_area;
    };
    static constexpr uint32_t kKinds = event_bit(EventKind::Finished) | event_bit(EventKind::Fault) |
                                       event_bit(EventKind::BadBlock) | event_bit(EventKind::EccCorrected) |
                                       event_bit(EventKind::EccUncorrectable);

    FlashWatch(const Config& profile, const EventSink& sink, Hooks hooks);
    void on_event(const DeviceEvent& event) override;

    // The last operation that failed, if the flash has not been erased or
    // programmed since (a bad block the program moved away from is history).
    std::optional<FlashFailure> current_failure() const;

private:
    void boot_area_event(const DeviceEvent& event);

    const EventSink& sink_;
    Hooks hooks_;
    // NAND geometry of the boot area as the chips see it.
    bool nand_ = false;
    uint32_t chip_page_bytes_ = 0;
    uint32_t chip_block_bytes_ = 0;
    uint32_t lanes_ = 1;
    uint32_t boot_end_ = 0;  // device bytes
    uint32_t table_chip_page_ = 0;
    const char* boot_phase_ = nullptr;

    mutable std::mutex mutex_;
    std::optional<FlashFailure> failure_;
    uint64_t changed_at_failure_ = 0;  // bytes erased and programmed when it failed
};

}  // namespace sim
