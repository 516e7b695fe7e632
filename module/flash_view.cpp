#include "module/flash_view.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_ecc.h"
#include "module/hw/nand/nand_layout.h"
#include "module/hw/nand/nand_storage.h"
#include "module/hw/nor/nor_pair.h"
#include "module/module_folder.h"

namespace sim {

namespace {

// A chip file as the module opens it: a plain file in the folder, not longer
// than its chip (exactly its size where exact).
bool check_chip_file(const std::filesystem::path& dir, const std::string& name, uint64_t bytes, bool exact,
                     std::string* error) {
    const std::filesystem::path path = dir / name;
    int fd = open_in_folder(dir, name, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT && !exact) return true;
        if (error) *error = open_failure(path, errno);
        return false;
    }
    off_t size = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (size < 0 || (exact ? static_cast<uint64_t>(size) != bytes : static_cast<uint64_t>(size) > bytes)) {
        if (error)
            *error = path.string() + " is " + std::to_string(static_cast<long long>(size)) + " bytes; " +
                     (exact ? "the profile's flash needs " : "the chip holds ") + std::to_string(bytes);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<FlashView> FlashView::open(const std::filesystem::path& dir, std::string* error) {
    std::unique_ptr<FlashView> view(new FlashView());
    view->dir_ = dir;
    if (!check_module_folder(dir, error)) return nullptr;
    if (!view->profile_.load((dir / "module.toml").string(), error)) return nullptr;
    if (view->profile_.get_string("flash.kind", "nor") == "nor") {
        view->size_ = 2ull << view->profile_.get_u32("nor.query_size", 24);
        if (!check_chip_file(dir, NorPair::kArrayFile, view->size_, true, error)) return nullptr;
        int fd = open_in_folder(dir, NorPair::kArrayFile, O_RDONLY);
        void* map = fd < 0 ? MAP_FAILED : ::mmap(nullptr, view->size_, PROT_READ, MAP_SHARED, fd, 0);
        const int failure = errno;
        if (fd >= 0) ::close(fd);
        if (map == MAP_FAILED) {
            if (error) *error = open_failure(dir / NorPair::kArrayFile, failure);
            return nullptr;
        }
        view->nor_ = static_cast<const uint8_t*>(map);
        return view;
    }
    if (!nand_config_from_profile(view->profile_, &view->board_, error)) return nullptr;
    view->part_ = view->board_.part;
    const NandPart& p = *view->part_;
    for (const NandChipConfig& c : view->board_.chips)
        if (!check_chip_file(dir, NandStorage::main_path(dir, c.index).filename(), uint64_t{p.page_bytes} * p.pages(),
                             false, error) ||
            !check_chip_file(dir, NandStorage::oob_path(dir, c.index).filename(), uint64_t{p.spare_bytes} * p.pages(),
                             false, error))
            return nullptr;
    view->size_ = nand_device_layout(*view->part_).logical_bytes();
    view->map_ = load_block_map(dir, *view->part_);
    return view;
}

FlashView::~FlashView() {
    if (nor_) ::munmap(const_cast<uint8_t*>(nor_), size_);
}

const uint8_t* FlashView::nor_bytes(uint64_t offset, uint64_t length) {
    if (part_ || offset > size_ || length > size_ - offset) return nullptr;
    // The pages come in a range at a time, not a fault each.
    ::madvise(const_cast<uint8_t*>(nor_) + (offset & ~uint64_t{4095}), length + (offset & 4095), MADV_POPULATE_READ);
    return nor_ + offset;
}

bool FlashView::read(uint64_t offset, uint64_t length, uint8_t* out, std::string* error) {
    if (offset > size_ || length > size_ - offset) {
        *error = "the range ends beyond the flash (" + std::to_string(size_) + " bytes)";
        return false;
    }
    if (!part_) {
        std::memcpy(out, nor_bytes(offset, length), length);
        return true;
    }
    return for_each_logical_run(*part_, map_, offset, length, [&](int64_t device, uint64_t run) {
        if (device < 0) {
            std::fill(out, out + run, 0xFF);
        } else {
            read_device_bytes(dir_, *part_, uint64_t(device), run, out, &files_);
            check_device_range(uint64_t(device), run);
        }
        out += run;
    });
}

// The chips' pages behind device bytes, as read_device_bytes addresses them.
void FlashView::check_device_range(uint64_t device, uint64_t length) {
    const NandPart& p = *part_;
    const uint64_t page = p.page_bytes;
    auto pages = [&](unsigned chip, uint64_t from, uint64_t to) {
        for (uint64_t n = from / page; n * page < to; ++n) check_page(chip, static_cast<uint32_t>(n));
    };
    switch (p.wiring) {
        case NandWiring::Single: pages(0, device, device + length); break;
        case NandWiring::TwoSelects:
            if (device < kChipSelect1Boundary)
                pages(0, device, std::min<uint64_t>(device + length, kChipSelect1Boundary));
            if (device + length > kChipSelect1Boundary) {
                uint64_t from = std::max<uint64_t>(device, kChipSelect1Boundary) - kChipSelect1Boundary;
                pages(1, from, device + length - kChipSelect1Boundary);
            }
            break;
        case NandWiring::DoubledBus: {
            uint64_t first_block = nand_device_layout(p).block_bytes;
            if (device < first_block) pages(0, device, std::min(device + length, first_block));
            if (device + length > first_block) {
                uint64_t from = std::max(device, first_block) / 2, to = (device + length + 1) / 2;
                pages(0, from, to);
                pages(1, from, to);
            }
            break;
        }
    }
}

void FlashView::check_page(unsigned chip, uint32_t page) {
    const NandPart& p = *part_;
    const NandChipFaults& faults = board_.chips[chip].faults;
    bool double_flip = faults.uncorrectable_pages.count(page) != 0, flip = faults.bitflip_pages.count(page) != 0;
    // A page past the ends of both files is erased: no ECC to check (and
    // nothing to remember: most of a scanned chip is such pages).
    if (file_bytes_.empty())
        for (const NandChipConfig& c : board_.chips) {
            std::error_code ec;
            uint64_t main = std::filesystem::file_size(NandStorage::main_path(dir_, c.index), ec);
            uint64_t oob = std::filesystem::file_size(NandStorage::oob_path(dir_, c.index), ec);
            file_bytes_.push_back({ec ? UINT64_MAX : main, ec ? UINT64_MAX : oob});
        }
    if (!flip && !double_flip && chip < file_bytes_.size() &&
        uint64_t{page} * p.page_bytes >= file_bytes_[chip].first &&
        uint64_t{page} * p.spare_bytes >= file_bytes_[chip].second)
        return;
    if (!checked_.insert({chip, page}).second) return;
    std::vector<uint8_t> data(p.page_bytes), spare(p.spare_bytes);
    files_.read(NandStorage::main_path(dir_, chip), uint64_t{page} * p.page_bytes, data.data(), data.size());
    files_.read(NandStorage::oob_path(dir_, chip), uint64_t{page} * p.spare_bytes, spare.data(), spare.size());
    // The controller keeps 3 ECC bytes per 256 data bytes at this place of
    // the spare area; a page programmed without ECC leaves them erased.
    const size_t ecc_at = p.page_bytes == 2048 ? 40 : 8, ecc_bytes = p.page_bytes / kEccChunkBytes * kEccBytesPerChunk;
    const uint8_t* ecc = spare.data() + ecc_at;
    bool has_ecc = std::any_of(ecc, ecc + ecc_bytes, [](uint8_t b) { return b != 0xFF; });
    EccOutcome outcome = EccOutcome::Clean;
    if (has_ecc) {
        // As the chip would read it: the injected flips, then the ECC.
        if (flip || double_flip) data[kBitflipByte] ^= kBitflipMask;
        if (double_flip) data[kSecondFlipByte] ^= kSecondFlipMask;
        outcome = ecc_correct(data.data(), data.size(), ecc);
    } else if (flip || double_flip) {
        outcome = double_flip ? EccOutcome::Uncorrectable : EccOutcome::Corrected;
    }
    if (outcome == EccOutcome::Clean) return;
    bool uncorrectable = outcome == EccOutcome::Uncorrectable;
    problems_.push_back({chip, page, uncorrectable,
                         "chip " + std::to_string(chip) + " page " + std::to_string(page) +
                             (uncorrectable ? ": uncorrectable ECC error" : ": ECC corrects a flipped bit")});
}

}  // namespace sim
