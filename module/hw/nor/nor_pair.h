// The PXA27x boot flash: two 16-bit NOR chips side by side on the 32-bit bus
// at physical address 0. Each 32-bit access goes to both chips at once: the
// low half to chip 0, the high half to chip 1; chip word address k lies at
// byte offset 4k. Every device block is two chip blocks side by side.
//
// Modelled: the bus split, the array and lock files, the virtual time the
// CPU spends polling a busy chip.
// Not modelled: byte or half-word bus accesses (the chips see every access as
// a full bus word; the low address bits are not wired to them), bus timing
// beyond the bus's own cycle cost.
#pragma once
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "module/hw/clock.h"
#include "module/hw/device.h"
#include "module/hw/device_events.h"
#include "module/hw/nor/nor_chip.h"
#include "module/hw/nor/nor_pair_config.h"
#include "module/hw/nor/nor_storage.h"

namespace sim {

class NorPair : public Device {
public:
    static constexpr const char* kArrayFile = "nor.bin";
    static constexpr const char* kLockFile = "nor.locks";

    // Maps dir/nor.bin (and dir/nor.locks for chips with non-volatile lock
    // bits); null with a reason when a file is missing or the wrong size. The
    // chips tell what they do to events.
    static std::unique_ptr<NorPair> open(const NorPairConfig& config, const std::filesystem::path& dir,
                                         VirtualClock& clock, EventSink& events, std::string* error);
    // Writes the files of a new module: the array erased, the lock bits of
    // config.initially_locked set.
    static bool create_files(const NorPairConfig& config, const std::filesystem::path& dir, std::string* error);
    ~NorPair() override;

    const char* name() const override { return "nor"; }
    // Both chips on a hot path (reading the array, loading their buffers)
    // take the access here; anything else goes through each chip in turn.
    uint32_t read32(uint32_t offset) override {
        if (!chip0_->reads_array() || !chip1_->reads_array() || !array_.in_last_region(offset))
            return read_chips(offset);
        // In read-array mode the bus word is the two chips' array words side by side.
        uint32_t value;
        std::memcpy(&value, array_.data() + (offset & ~3u), sizeof value);
        return value;
    }
    void write32(uint32_t offset, uint32_t value) override {
        uint32_t k = offset >> 2;
        if (!chip0_->loads_buffer(k) || !chip1_->loads_buffer(k)) return write_chips(offset, value);
        chip0_->load_buffer(k, static_cast<uint16_t>(value));
        chip1_->load_buffer(k, static_cast<uint16_t>(value >> 16));
    }
    // The array file, byte for byte the flash as the bus reads it in
    // read-array mode. A view of it is only right while both chips are in
    // read-array mode; the system reads it only then.
    std::optional<DirectBacking> direct_backing(uint32_t offset, uint32_t size) override;

    const NorPairConfig& config() const { return config_; }
    uint32_t device_size() const { return static_cast<uint32_t>(array_.size()); }
    // Erase-block size of the device block holding offset.
    uint32_t block_size_at(uint32_t offset) const;
    NorChip& chip(int index) { return index == 0 ? *chip0_ : *chip1_; }
    // Both chips put their program and erase starts to the module's power cut.
    void set_power(PowerLine* power) {
        power_ = power;
        chip0_->set_power(power);
        chip1_->set_power(power);
    }
    // The array as stored (what read-array mode returns).
    std::span<const uint8_t> contents() const { return {array_.data(), static_cast<size_t>(array_.size())}; }

private:
    NorPair(const NorPairConfig& config, VirtualClock& clock) : config_(config), clock_(clock) {}
    uint32_t read_chips(uint32_t offset);
    void write_chips(uint32_t offset, uint32_t value);
    // A read that finds a chip busy costs the CPU polling time: up to the
    // end of the operation, at most 1 ms per read.
    void spend_polling(uint64_t now);

    NorPairConfig config_;
    VirtualClock& clock_;
    MappedFile array_;
    MappedFile lock_file_;                 // J3: non-volatile lock bytes
    std::vector<uint8_t> volatile_locks_;  // P30/K3: lost at power-off
    std::unique_ptr<NorChip> chip0_;
    std::unique_ptr<NorChip> chip1_;
    PowerLine* power_ = nullptr;
};

}  // namespace sim
