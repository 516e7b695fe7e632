#include "tools/modulectl/commands.h"

#include <cstdio>
#include <fstream>

#include "tools/modulectl/nand_commands.h"

std::string describe_flash(sim::Module& module) {
    const sim::Config& c = module.config();
    char text[160];
    if (c.get_string("flash.kind", "nor") == "nor") {
        std::snprintf(text, sizeof text, "NOR pair, device code 0x%04X, %u MiB (nor.bin)",
                      c.get_u32("nor.device_code", 0), static_cast<unsigned>(flash_view_size(module) >> 20));
    } else {
        std::snprintf(text, sizeof text, "NAND, ID 0x%04X", c.get_u32("nand.id", 0));
    }
    return text;
}

uint64_t flash_view_size(sim::Module& module) {
    const sim::Config& c = module.config();
    if (c.get_string("flash.kind", "nor") == "nor") return 2ull << c.get_u32("nor.query_size", 24);
    uint64_t size = 0;
    std::string error;
    if (!modulectl::nand_view_size(module.dir(), &size, &error)) return 0;
    return size;
}

bool read_flash_view(sim::Module& module, uint64_t offset, uint64_t length, std::vector<uint8_t>* bytes,
                     std::string* error) {
    if (module.config().get_string("flash.kind", "nor") != "nor")
        return modulectl::read_nand_view(module.dir(), offset, length, bytes, error);
    std::ifstream f(module.dir() / "nor.bin", std::ios::binary);
    if (!f) {
        *error = "cannot read nor.bin";
        return false;
    }
    bytes->resize(length);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(length));
    return true;
}
