#include "module/hw/nor/nor_pair.h"

#include <bit>

namespace sim {

static_assert(std::endian::native == std::endian::little,
              "nor.bin holds little-endian bus words; the chips address it as host uint16_t");

namespace {

constexpr uint64_t kMaxPollNs = 1000000;  // 1 ms of polling per read, at most

bool persistent_locks(const NorPairConfig& config) { return config.chips[0].family == NorFamily::J3; }

}  // namespace

std::unique_ptr<NorPair> NorPair::open(const NorPairConfig& config, const std::filesystem::path& dir,
                                       VirtualClock& clock, EventSink& events, std::string* error) {
    std::unique_ptr<NorPair> pair(new NorPair(config, clock));
    const std::filesystem::path& source = nor_array_source();
    if (source.empty()
            ? !pair->array_.open(dir, kArrayFile, config.device_size(), error)
            : !pair->array_.open(source, kArrayFile, config.device_size(), error, MappedFile::Writes::Private))
        return nullptr;
    // Lock bytes: chip 0's block b at 2b, chip 1's at 2b + 1, like the bus halves.
    uint64_t lock_bytes = 2ull * config.block_count();
    uint8_t* locks;
    if (persistent_locks(config)) {
        if (!pair->lock_file_.open(dir, kLockFile, lock_bytes, error)) return nullptr;
        locks = pair->lock_file_.data();
    } else {
        pair->volatile_locks_.assign(lock_bytes, 0);
        locks = pair->volatile_locks_.data();
    }
    pair->chip0_ = std::make_unique<NorChip>(config.chips[0], 0, pair->array_, locks, events);
    pair->chip1_ = std::make_unique<NorChip>(config.chips[1], 1, pair->array_, locks + 1, events);
    return pair;
}

bool NorPair::create_files(const NorPairConfig& config, const std::filesystem::path& dir, std::string* error) {
    if (!write_filled_file(dir, kArrayFile, config.device_size(), 0xFF, error)) return false;
    std::error_code ec;
    if (!persistent_locks(config)) {
        std::filesystem::remove(dir / kLockFile, ec);
        return true;
    }
    if (!write_filled_file(dir, kLockFile, 2ull * config.block_count(), 0, error)) return false;
    MappedFile locks;
    if (!locks.open(dir, kLockFile, 2ull * config.block_count(), error)) return false;
    for (uint32_t offset : config.initially_locked) {
        uint32_t block = config.block_at(offset);
        locks.data()[2 * block] = kNorLocked;
        locks.data()[2 * block + 1] = kNorLocked;
    }
    return true;
}

NorPair::~NorPair() {
    // What the chips finished by now is in the files; an operation still
    // running ends with the power, leaving its block as it was.
    uint64_t now = clock_.now_ns();
    if (chip0_) chip0_->settle(now);
    if (chip1_) chip1_->settle(now);
}

std::optional<DirectBacking> NorPair::direct_backing(uint32_t offset, uint32_t size) {
    if (static_cast<uint64_t>(offset) + size > array_.size()) return std::nullopt;
    return DirectBacking{array_.fd(), offset};
}

uint32_t NorPair::block_size_at(uint32_t offset) const {
    const NorChipConfig& chip = config_.chips[0];
    return 2 * (config_.block_at(offset) < chip.parameter_blocks ? chip.parameter_block_bytes : chip.main_block_bytes);
}

// Out of line, so that the hot paths stay free of calls.
[[gnu::noinline]] uint32_t NorPair::read_chips(uint32_t offset) {
    // Status, identifier and query reads leave the array alone: bringing its
    // region in for them would page through the whole array when the driver
    // unlocks every block.
    if (chip0_->in_read_array_mode() || chip1_->in_read_array_mode()) array_.use(offset, false);
    uint32_t k = offset >> 2;
    uint64_t now = clock_.now_ns();
    uint32_t value = chip0_->read(k, now) | static_cast<uint32_t>(chip1_->read(k, now)) << 16;
    if (chip0_->busy_at(now) || chip1_->busy_at(now)) spend_polling(now);
    return value;
}

[[gnu::noinline]] void NorPair::write_chips(uint32_t offset, uint32_t value) {
    uint32_t k = offset >> 2;
    uint64_t now = clock_.now_ns();
    chip0_->write(k, static_cast<uint16_t>(value), now);
    chip1_->write(k, static_cast<uint16_t>(value >> 16), now);
    // The write that started the operation the power goes in is the last.
    if (power_ && power_->tripped()) {
        chip0_->cut_short();
        chip1_->cut_short();
        power_->power_off();
    }
}

void NorPair::spend_polling(uint64_t now) {
    uint64_t remaining = 0;
    for (const NorChip* chip : {chip0_.get(), chip1_.get()})
        if (chip->busy_at(now) && chip->busy_until() - now > remaining) remaining = chip->busy_until() - now;
    clock_.advance_ns(remaining < kMaxPollNs ? remaining : kMaxPollNs);
}

}  // namespace sim
