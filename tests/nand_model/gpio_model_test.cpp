// The GPIO block and the pin-function registers of the three processors,
// driven through the bus; pin state read back as function, direction, level.
#include <gtest/gtest.h>

#include "module/hw/gpio/gpio_blocks.h"
#include "tests/support/test_module.h"

using testing_support::TestModule;

namespace {

constexpr uint32_t kGpio = sim::kGpioBase;
constexpr uint32_t kMfpr = sim::kMfprBase;

struct Access {
    uint32_t phys;
    uint32_t value;
    bool read_modify_write;  // read the register, OR in the value, write back
};

struct PinCase {
    const char* name;
    const char* profile;
    std::vector<Access> accesses;
    unsigned pin;
    uint32_t function;
    bool output;
    bool level;
};

TEST(GpioModel, RegisterWritesSetThePins) {
    // clang-format off
    const PinCase cases[] = {
        {"PXA300: pin 73 set up as a high output", "pxa300-f1ec",
         {{kMfpr + 0x4B8, 0x0000A843, false}, {kMfpr + 0x4B8, 0x0000A840, false}, {kGpio + 0x408, 1u << 9, true},
          {kGpio + 0x20, 1u << 9, false}},
         73, 0, true, true},
        {"PXA320: pin 73's MFPR is elsewhere", "pxa320-75ec",
         {{kMfpr + 0x4DC, 0x00000005, false}, {kGpio + 0x408, 1u << 9, true}, {kGpio + 0x20, 1u << 9, false}},
         73, 5, true, true},
        {"PXA320: the PXA300 address is no MFPR of pin 73", "pxa320-75ec", {{kMfpr + 0x4B8, 0x00000003, false}},
         73, 0, false, false},
        {"PXA320: second pin 130 has GPIO 2's direction and level", "pxa320-d3ec",
         {{kGpio + 0x400, 1u << 2, true}, {kGpio + 0x18, 1u << 2, false}, {kMfpr + 0x600 + 4 * 31, 0x1, false}},
         130, 1, true, true},
        {"PXA3xx: GCDR makes an output an input again", "pxa320-d3ec",
         {{kGpio + 0x40C, 1u << 4, true}, {kGpio + 0x42C, 1u << 4, true}}, 100, 0, false, false},
        {"PXA27x: GPDR bank 3 and GAFR", "pxa270",
         {{kGpio + 0x10C, 1u << 4, true}, {kGpio + 0x118, 1u << 4, false}, {kGpio + 0x54 + 4 * 6, 2u << 8, true}},
         100, 2, true, true},
        {"PXA27x: GPCR drives low", "pxa270",
         {{kGpio + 0x0C, 1u << 20, true}, {kGpio + 0x18, 1u << 20, false}, {kGpio + 0x24, 1u << 20, false}},
         20, 0, true, false},
        {"PXA27x: GSDR is not a register there", "pxa270", {{kGpio + 0x400, 1u << 9, false}}, 9, 0, false, false},
    };
    // clang-format on
    for (const PinCase& c : cases) {
        TestModule m(c.profile);
        testing_support::EventRecorder changes(m.module(), sim::event_bit(sim::EventKind::PinChanged));
        sim::Bus& bus = m.module().bus();
        for (const Access& a : c.accesses) {
            uint32_t value = a.read_modify_write ? bus.read32(a.phys) | a.value : a.value;
            bus.write32(a.phys, value);
        }
        uint32_t told = 0;  // as at power-up: function 0, input, low
        for (const sim::DeviceEvent& e : changes.events())
            if (e.address == c.pin) told = e.value;
        EXPECT_EQ(told, c.function | (c.output ? sim::kPinOutput : 0) | (c.level ? sim::kPinHigh : 0)) << c.name;
        sim::GpioPins* pins = testing_support::find_gpio_pins(m.module());
        ASSERT_NE(pins, nullptr) << c.name;
        sim::PinState s = pins->pin(c.pin);
        EXPECT_EQ(s.function, c.function) << c.name;
        EXPECT_EQ(s.output, c.output) << c.name;
        EXPECT_EQ(s.level, c.level) << c.name;
    }
}

TEST(GpioModel, SetAndClearDirectionRegistersReadZeroAndTouchOnlyTheirPins) {
    TestModule m("pxa300-f1ec");
    sim::Bus& bus = m.module().bus();
    bus.write32(kGpio + 0x408, 0x0000F000);  // pins 76-79 outputs
    EXPECT_EQ(bus.read32(kGpio + 0x408), 0u);
    EXPECT_EQ(bus.read32(kGpio + 0x428), 0u);
    bus.write32(kGpio + 0x428, bus.read32(kGpio + 0x428) | (1u << 13));  // pin 77 back to input
    EXPECT_EQ(bus.read32(kGpio + 0x14), 0x0000D000u) << "GPDR bank 2";
}

TEST(GpioModel, MfprChangeKeepsTheOtherBits) {
    TestModule m("pxa320-d3ec");
    sim::Bus& bus = m.module().bus();
    bus.write32(kMfpr + 0x488, 0x0000C8A1);  // pin 60
    bus.write32(kMfpr + 0x488, (bus.read32(kMfpr + 0x488) & ~7u) | 0);
    EXPECT_EQ(bus.read32(kMfpr + 0x488), 0x0000C8A0u);
    EXPECT_EQ(testing_support::find_gpio_pins(m.module())->pin(60).function, 0u);
}

TEST(GpioModel, PinsKeepTheirStateForTheNextProgramOnTheModule) {
    TestModule m("pxa320-75ec");
    m.module().bus().write32(kGpio + 0x408, 1u << 9);
    m.module().bus().write32(kGpio + 0x20, 1u << 9);
    m.module().bus().write32(kMfpr + 0x4DC, 0x00000002);
    m.reopen();
    sim::PinState s = testing_support::find_gpio_pins(m.module())->pin(73);
    EXPECT_EQ(s.function, 2u);
    EXPECT_TRUE(s.output);
    EXPECT_TRUE(s.level);
}

TEST(GpioModel, OnlyPxa3xxModulesHaveTheMfprBlock) {
    struct Case {
        const char* profile;
        bool mfpr;
    };
    for (Case c : {Case{"pxa320-d3ec", true}, Case{"pxa300-f1ec", true}}) {
        TestModule m(c.profile);
        uint32_t offset = 0;
        EXPECT_EQ(m.module().bus().decode(kMfpr + 0x124, &offset) != nullptr, c.mfpr) << c.profile;
        EXPECT_NE(m.module().bus().decode(kGpio, &offset), nullptr) << c.profile;
    }
    sim::GpioPins pxa27x(sim::PinProcessor::Pxa27x);
    EXPECT_FALSE(pxa27x.mfpr_offset(73).has_value());
    EXPECT_FALSE(pxa27x.pin_exists(128));
}

}  // namespace
