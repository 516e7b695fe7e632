#include "module/profiles.h"

namespace sim {

const std::vector<ProfileInfo>& builtin_profiles() {
    static const std::vector<ProfileInfo> list = {
        {"pxa270", "PXA270, two 28F128J3 NOR chips (device code 0x0018), 32 MiB"},
        {"pxa270-p30", "PXA270, two 28F256P30B NOR chips (0x891C), 64 MiB, four 64 KiB blocks at the bottom"},
        {"pxa320-75ec", "PXA320, doubled bus of two K9F5608 NAND chips (ID 0x75EC), 64 MiB"},
        {"pxa320-76ec", "PXA320, doubled bus of two K9F1208 NAND chips (ID 0x76EC), 128 MiB"},
        {"pxa320-d3ec", "PXA320, K9K8G08 NAND (ID 0xD3EC), 1 GiB"},
        {"pxa300-f1ec", "PXA300, K9F1G08 NAND (ID 0xF1EC), 128 MiB"},
        {"pxa320-dcad", "PXA320, HY27UF084G2B NAND on two chip selects (ID 0xDCAD), 2 x 512 MiB"},
    };
    return list;
}

// Keys every module carries.
static void common_keys(Config* c, const std::string& name, uint32_t product) {
    c->set_string("module.profile", name);
    c->set_u32("cpu.product", product);
    c->set_u32("os.major", 5);
    c->set_u32("os.minor", 0);
    c->set_u32("os.build", 1400);
    c->set_u32("clock.start_ms", 0);
    c->set_u32("bus.cycle_ns", 100);
    // Board configuration item 0 (opaque, 8 bytes as two words) and item 5
    // (image place, registry start, registry half length, three unused words).
    c->set_u32_list("hal.item0", {0x00000001, 0x0000C0DE}, true);
    c->set_u32_list("hal.item5", {0x80000, 0x1400000, 0x40000, 0, 0, 0}, true);
    // The running image's version record: board id, major, minor word.
    c->set_u32_list("image.version", {1, 2, 7});
    c->set_string("fdf.created", "2007-03-12 10:20:30");
}

bool builtin_profile(const std::string& name, Config* c) {
    if (name == "pxa270" || name == "pxa270-p30") {
        common_keys(c, name, 17);
        c->set_string("flash.kind", "nor");
        bool p30 = name == "pxa270-p30";
        c->set_u32("nor.device_code", p30 ? 0x891C : 0x0018, true);
        c->set_u32("nor.query_size", p30 ? 25 : 24);
        return true;
    }
    struct NandRow {
        const char* name;
        uint32_t product;
        uint32_t id;
    };
    static const NandRow nand_rows[] = {
        {"pxa320-75ec", 2, 0x75EC}, {"pxa320-76ec", 2, 0x76EC}, {"pxa320-d3ec", 2, 0xD3EC},
        {"pxa300-f1ec", 8, 0xF1EC}, {"pxa320-dcad", 2, 0xDCAD},
    };
    for (const NandRow& row : nand_rows) {
        if (name == row.name) {
            common_keys(c, name, row.product);
            c->set_string("flash.kind", "nand");
            c->set_u32("nand.id", row.id, true);
            return true;
        }
    }
    return false;
}

}  // namespace sim
