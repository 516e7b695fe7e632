#include "module/hw/nand/nand_chip.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "module/module.h"

namespace sim {

static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

static std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

NandChip::NandChip(NandChipConfig config, NandStorage& storage, FlashStats* stats)
    : config_(std::move(config)), storage_(storage), stats_(stats), register_(config_.part->raw_page_bytes(), 0xFF) {
    if (config_.faults.never_ready) busy_until_ = kNever;
}

void NandChip::log(const std::string& text) {
    trace(text);
    if (log_) log_(text);
}

uint8_t NandChip::status(uint64_t now) const {
    uint8_t value = kNandStatusNotProtected;
    if (ready(now)) value |= kNandStatusReady;
    if (failed_) value |= kNandStatusFail;
    return value;
}

void NandChip::start_busy(uint32_t ns, uint64_t now, const char* operation, uint32_t number) {
    ++busy_operations_;
    if (config_.faults.hang_after != 0 && busy_operations_ == config_.faults.hang_after) {
        busy_until_ = kNever;
        log(tag() + ": fault: stays busy after " + operation + " " + std::to_string(number) + " (busy operation " +
            std::to_string(busy_operations_) + ")");
        return;
    }
    busy_until_ = now + ns;
    if (trace_)
        trace(tag() + ": " + operation + " " + std::to_string(number) + " started, busy " + std::to_string(ns) + " ns");
}

void NandChip::command(uint8_t cmd, uint64_t now) {
    // A busy chip answers status and reset and ignores everything else.
    if (!ready(now) && cmd != 0x70 && cmd != 0xFF) {
        trace(tag() + ": busy, ignored command " + hex(cmd));
        return;
    }
    if (trace_) trace(tag() + ": command " + hex(cmd));
    const bool small = part().small_page();
    switch (cmd) {
        case 0xFF:
            mode_ = Mode::Idle;
            small_area_ = 0;
            area_one_shot_ = false;
            if (busy_until_ != kNever) start_busy(config_.reset_ns, now, "reset", 0);
            break;
        case 0x90: mode_ = Mode::IdAddress; break;
        case 0x70: mode_ = Mode::StatusOut; break;
        case 0x00:
            if (small) {
                small_area_ = 0;
                area_one_shot_ = false;
            }
            mode_ = Mode::ReadAddress;
            break;
        case 0x01:
        case 0x50:
            if (!small) {
                trace(tag() + ": not a command of this part: " + hex(cmd));
                break;
            }
            small_area_ = cmd == 0x01 ? 1 : 2;
            area_one_shot_ = cmd == 0x01;
            mode_ = Mode::ReadAddress;
            break;
        case 0x30:
            if (mode_ != Mode::ReadConfirm) {
                trace(tag() + ": 30h without a read address, ignored");
                break;
            }
            load_page(row_, now);
            break;
        case 0x80:
            std::fill(register_.begin(), register_.end(), 0xFF);
            mode_ = Mode::ProgramAddress;
            break;
        case 0x10:
        case 0x15:
            if (mode_ != Mode::ProgramData) {
                trace(tag() + ": program confirm without data input, ignored");
                break;
            }
            program(now);
            break;
        case 0x60: mode_ = Mode::EraseAddress; break;
        case 0xD0:
            if (mode_ != Mode::EraseConfirm) {
                trace(tag() + ": erase confirm without an erase address, ignored");
                break;
            }
            erase(now);
            break;
        default: trace(tag() + ": unknown command " + hex(cmd) + " ignored"); break;
    }
}

void NandChip::address(const uint8_t* cycles, unsigned count, uint64_t now) {
    if (!ready(now)) {
        trace(tag() + ": busy, ignored the address");
        return;
    }
    const NandPart& p = part();
    auto take = [&](unsigned first, unsigned n) {
        uint32_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (first + i < count) value |= uint32_t{cycles[first + i]} << (8 * i);
        }
        return value;
    };
    unsigned needed = 0;
    switch (mode_) {
        case Mode::IdAddress: needed = 1; break;
        case Mode::ReadAddress:
        case Mode::ProgramAddress: needed = p.column_cycles() + p.row_cycles(); break;
        case Mode::EraseAddress: needed = p.row_cycles(); break;
        default: trace(tag() + ": address cycles not expected, ignored"); return;
    }
    if (count < needed && trace_)
        trace(tag() + ": " + std::to_string(count) + " address cycles of " + std::to_string(needed) +
              "; the missing ones count as 0");
    uint32_t column = 0;
    if (mode_ == Mode::ReadAddress || mode_ == Mode::ProgramAddress) {
        if (p.small_page()) {
            uint32_t low = take(0, 1);
            column = small_area_ == 2 ? p.page_bytes + (low & 0x0F) : small_area_ * 256 + low;
        } else {
            column = take(0, 2) & 0xFFF;
        }
        // Address bits above the chip's last page are not connected.
        row_ = take(p.column_cycles(), p.row_cycles()) & (p.pages() - 1);
    } else if (mode_ == Mode::EraseAddress) {
        row_ = take(0, p.row_cycles()) & (p.pages() - 1);
    }
    switch (mode_) {
        case Mode::IdAddress:
            id_position_ = 0;
            mode_ = Mode::IdOut;
            break;
        case Mode::ReadAddress:
            position_ = column;
            if (p.small_page()) {
                load_page(row_, now);  // small-page parts start reading after the last address cycle
            } else {
                mode_ = Mode::ReadConfirm;
            }
            break;
        case Mode::ProgramAddress:
            position_ = column;
            mode_ = Mode::ProgramData;
            break;
        case Mode::EraseAddress: mode_ = Mode::EraseConfirm; break;
        default: break;
    }
}

void NandChip::load_page(uint32_t page, uint64_t now) {
    storage_.read_page(page, register_.data());
    const NandChipFaults& f = config_.faults;
    if (f.uncorrectable_pages.count(page)) {
        register_[kBitflipByte] ^= kBitflipMask;
        register_[kSecondFlipByte] ^= kSecondFlipMask;
        log(tag() + ": fault: page " + std::to_string(page) + " read with two flipped bits");
    } else if (f.bitflip_pages.count(page)) {
        register_[kBitflipByte] ^= kBitflipMask;
        log(tag() + ": fault: page " + std::to_string(page) + " read with one flipped bit");
    }
    mode_ = Mode::DataOut;
    start_busy(config_.read_ns, now, "read of page", page);
}

void NandChip::program(uint64_t now) {
    const NandPart& p = part();
    uint32_t block = row_ / p.pages_per_block;
    mode_ = Mode::Idle;
    if (area_one_shot_) {
        small_area_ = 0;
        area_one_shot_ = false;
    }
    if (config_.faults.bad_blocks.count(block)) {
        failed_ = true;
        log(tag() + ": fault: program of page " + std::to_string(row_) + " failed (bad block " + std::to_string(block) +
            ")");
    } else {
        failed_ = false;
        storage_.program_page(row_, register_.data());
        if (stats_) stats_->bytes_programmed += p.page_bytes;
    }
    start_busy(config_.program_ns, now, "program of page", row_);
}

void NandChip::erase(uint64_t now) {
    const NandPart& p = part();
    uint32_t block = row_ / p.pages_per_block;
    mode_ = Mode::Idle;
    if (config_.faults.bad_blocks.count(block)) {
        failed_ = true;
        log(tag() + ": fault: erase of block " + std::to_string(block) + " failed (bad block)");
    } else {
        failed_ = false;
        storage_.erase_pages(block * p.pages_per_block, p.pages_per_block);
        if (stats_) stats_->bytes_erased += uint64_t{p.page_bytes} * p.pages_per_block;
    }
    start_busy(config_.erase_ns, now, "erase of block", block);
}

void NandChip::read_data(uint8_t* out, size_t count, uint64_t now) {
    for (size_t i = 0; i < count; ++i) {
        switch (mode_) {
            case Mode::DataOut:
                out[i] = position_ < register_.size() ? register_[position_] : 0xFF;
                ++position_;
                break;
            case Mode::IdOut:
                out[i] = id_position_ < part().id_length ? part().id_bytes[id_position_] : 0x00;
                ++id_position_;
                break;
            case Mode::StatusOut: out[i] = status(now); break;
            default:
                out[i] = 0xFF;  // nothing driven: the bus floats high
                break;
        }
    }
}

void NandChip::write_data(const uint8_t* in, size_t count) {
    if (mode_ != Mode::ProgramData) {
        trace(tag() + ": data input not expected, " + std::to_string(count) + " bytes ignored");
        return;
    }
    for (size_t i = 0; i < count; ++i, ++position_)
        if (position_ < register_.size()) register_[position_] = in[i];
}

}  // namespace sim
