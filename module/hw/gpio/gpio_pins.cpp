#include "module/hw/gpio/gpio_pins.h"

#include <cstdio>
#include <sstream>

#include "module/hw/folder_file.h"

namespace sim {

namespace {

struct MfprRun {
    unsigned first_pin;
    unsigned last_pin;
    uint32_t first_offset;  // from 0x40E10000; 4 bytes per pin within a run
};

// first pin, last pin, offset of the first pin's MFPR
const MfprRun kPxa300Runs[] = {
    {0, 2, 0x00B4}, {3, 26, 0x027C}, {27, 98, 0x0400}, {99, 129, 0x0600}, {130, 134, 0x02DC}, {135, 138, 0x052C},
};
const MfprRun kPxa320Runs[] = {
    {0, 4, 0x0124},   {5, 9, 0x028C},   {10, 10, 0x0458}, {11, 26, 0x02A0},  {27, 48, 0x0400},
    {49, 62, 0x045C}, {63, 73, 0x04B4}, {74, 98, 0x04F0}, {99, 133, 0x0600}, {134, 139, 0x0494},
};

// Banks 0-2 of the classic registers lie 4 bytes apart, bank 3 0x100 beyond bank 0.
int classic_bank(uint32_t offset, uint32_t bank0) {
    for (int bank = 0; bank < 3; ++bank)
        if (offset == bank0 + 4u * bank) return bank;
    return offset == bank0 + 0x100 ? 3 : -1;
}

int contiguous_bank(uint32_t offset, uint32_t bank0) {
    return offset >= bank0 && offset < bank0 + 16 ? static_cast<int>((offset - bank0) / 4) : -1;
}

constexpr uint32_t GPLR = 0x00, GPDR = 0x0C, GPSR = 0x18, GPCR = 0x24, GRER = 0x30, GFER = 0x3C, GEDR = 0x48;
constexpr uint32_t GAFR = 0x54, GSDR = 0x400, GCDR = 0x420;

}  // namespace

PinProcessor pin_processor_for_product(uint32_t product) {
    if (product == 2) return PinProcessor::Pxa320;
    if (product == 8) return PinProcessor::Pxa300;
    return PinProcessor::Pxa27x;
}

bool GpioPins::pin_exists(unsigned pin) const {
    switch (processor_) {
        case PinProcessor::Pxa27x: return pin < 128;
        case PinProcessor::Pxa300: return pin < 139;
        case PinProcessor::Pxa320: return pin < 140;
    }
    return false;
}

std::optional<uint32_t> GpioPins::mfpr_offset(unsigned pin) const {
    if (processor_ == PinProcessor::Pxa300) {
        for (const MfprRun& r : kPxa300Runs)
            if (pin >= r.first_pin && pin <= r.last_pin) return r.first_offset + 4 * (pin - r.first_pin);
    } else if (processor_ == PinProcessor::Pxa320) {
        for (const MfprRun& r : kPxa320Runs)
            if (pin >= r.first_pin && pin <= r.last_pin) return r.first_offset + 4 * (pin - r.first_pin);
    }
    return std::nullopt;
}

PinState GpioPins::pin(unsigned pin) const {
    PinState s{};
    unsigned gpio = pin;
    if (pxa3xx()) {
        if (std::optional<uint32_t> offset = mfpr_offset(pin)) s.function = mfpr_read(*offset) & 7;
        if (pin >= 128) gpio = pin - 128;
    } else {
        s.function = (gafr_[(pin / 16) & 7] >> (2 * (pin % 16))) & 3;
    }
    uint32_t bit = 1u << (gpio % 32);
    unsigned bank = (gpio / 32) & 3;
    s.output = (direction_[bank] & bit) != 0;
    s.level = ((s.output ? latch_[bank] : input_[bank]) & bit) != 0;
    return s;
}

uint32_t GpioPins::gpio_read(uint32_t offset) const {
    int bank;
    if ((bank = classic_bank(offset, GPLR)) >= 0)
        return (latch_[bank] & direction_[bank]) | (input_[bank] & ~direction_[bank]);
    if ((bank = classic_bank(offset, GPDR)) >= 0) return direction_[bank];
    if (classic_bank(offset, GRER) >= 0 || classic_bank(offset, GFER) >= 0 || classic_bank(offset, GEDR) >= 0) {
        auto it = edge_registers_.find(offset);
        return it == edge_registers_.end() ? 0 : it->second;
    }
    if (!pxa3xx() && offset >= GAFR && offset < GAFR + 32) return gafr_[(offset - GAFR) / 4];
    // GPSR, GPCR, GSDR and GCDR are write-only and read 0, so a read-change-
    // write of them touches only the pins the new bits name.
    return 0;
}

void GpioPins::gpio_write(uint32_t offset, uint32_t value) {
    int bank;
    if ((bank = classic_bank(offset, GPDR)) >= 0)
        direction_[bank] = value;
    else if ((bank = classic_bank(offset, GPSR)) >= 0)
        latch_[bank] |= value;
    else if ((bank = classic_bank(offset, GPCR)) >= 0)
        latch_[bank] &= ~value;
    else if (classic_bank(offset, GRER) >= 0 || classic_bank(offset, GFER) >= 0)
        edge_registers_[offset] = value;
    else if (classic_bank(offset, GEDR) >= 0)
        edge_registers_[offset] &= ~value;  // write 1 to clear
    else if (!pxa3xx() && offset >= GAFR && offset < GAFR + 32)
        gafr_[(offset - GAFR) / 4] = value;
    else if (pxa3xx() && (bank = contiguous_bank(offset, GSDR)) >= 0)
        direction_[bank] |= value;
    else if (pxa3xx() && (bank = contiguous_bank(offset, GCDR)) >= 0)
        direction_[bank] &= ~value;
    // Anything else (GPLR, reserved offsets, the other processor's registers) is not writable.
}

uint32_t GpioPins::mfpr_read(uint32_t offset) const {
    auto it = mfpr_.find(offset);
    return it == mfpr_.end() ? 0 : it->second;
}

void GpioPins::mfpr_write(uint32_t offset, uint32_t value) {
    // Only the offsets that hold some pin's MFPR are registers.
    for (unsigned pin = 0; pin < 140; ++pin) {
        if (pin_exists(pin) && mfpr_offset(pin) == offset) {
            mfpr_[offset] = value;
            return;
        }
    }
}

bool GpioPins::load(const std::filesystem::path& file) {
    std::string text;
    if (read_folder_file(file.parent_path(), file.filename(), &text, nullptr) != FolderRead::Done) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string kind;
        uint32_t index = 0, value = 0;
        fields >> kind >> std::hex >> index >> value;
        if (!fields) continue;
        if (kind == "direction" && index < 4)
            direction_[index] = value;
        else if (kind == "latch" && index < 4)
            latch_[index] = value;
        else if (kind == "input" && index < 4)
            input_[index] = value;
        else if (kind == "gafr" && index < 8)
            gafr_[index] = value;
        else if (kind == "edge")
            edge_registers_[index] = value;
        else if (kind == "mfpr")
            mfpr_[index] = value;
    }
    return true;
}

void GpioPins::save(const std::filesystem::path& file) const {
    std::ostringstream out;
    static const char* const names[] = {"pxa27x", "pxa300", "pxa320"};
    out << "# pin state of the " << names[static_cast<int>(processor_)] << ": register index or offset, value (hex)\n";
    char text[64];
    auto put = [&](const char* kind, uint32_t index, uint32_t value) {
        if (value == 0) return;
        std::snprintf(text, sizeof text, "%s %x %08x\n", kind, index, value);
        out << text;
    };
    for (uint32_t b = 0; b < 4; ++b) put("direction", b, direction_[b]);
    for (uint32_t b = 0; b < 4; ++b) put("latch", b, latch_[b]);
    for (uint32_t b = 0; b < 4; ++b) put("input", b, input_[b]);
    for (uint32_t k = 0; k < 8; ++k) put("gafr", k, gafr_[k]);
    for (const auto& [offset, value] : edge_registers_) put("edge", offset, value);
    for (const auto& [offset, value] : mfpr_) put("mfpr", offset, value);
    replace_folder_file(file.parent_path(), file.filename(), out.str(), nullptr);
}

}  // namespace sim
