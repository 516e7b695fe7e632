// The XScale main ID register (coprocessor 15, register 0). Bits 9:4 hold the
// product number of the profile (17 PXA27x, 2 PXA320, 8 PXA300). On a system
// of major version 6 or more, user mode may not read coprocessor 15: the read
// is an undefined instruction, which stops the program.
#pragma once
#include <cstdint>

namespace sim {

class CpuModel {
public:
    CpuModel(uint32_t product, uint32_t os_major) : product_(product & 0x3F), os_major_(os_major) {}
    uint32_t product() const { return product_; }
    // Intel XScale implementer 0x69, architecture v5TE, revision 0.
    uint32_t main_id() const { return 0x69050000u | (product_ << 4); }
    // Reads the register as code running in the current mode would.
    uint32_t read_main_id();

private:
    uint32_t product_;
    uint32_t os_major_;
};

// True while the current thread runs code the HAL called in kernel mode.
bool in_kernel_mode();
void set_kernel_mode(bool on);

}  // namespace sim
