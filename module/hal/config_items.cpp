#include "module/hal/config_items.h"

#include <fstream>
#include <iterator>
#include <string>

namespace sim::hal {

static std::filesystem::path item_file(const std::filesystem::path& dir, uint32_t item) {
    return dir / "hal" / ("item-" + std::to_string(item) + ".bin");
}

bool read_config_item(Module& module, uint32_t item, std::vector<uint8_t>* bytes) {
    return read_config_item(module.dir(), module.config(), item, bytes);
}

bool read_config_item(const std::filesystem::path& dir, const Config& profile, uint32_t item,
                      std::vector<uint8_t>* bytes) {
    std::ifstream stored(item_file(dir, item), std::ios::binary);
    if (stored) {
        bytes->assign(std::istreambuf_iterator<char>(stored), std::istreambuf_iterator<char>());
        return true;
    }
    std::vector<uint32_t> words = profile.get_u32_list("hal.item" + std::to_string(item));
    if (words.empty()) return false;
    bytes->clear();
    for (uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<uint8_t>(word >> shift));
    return true;
}

bool store_config_item(Module& module, uint32_t item, const uint8_t* bytes, size_t length) {
    std::filesystem::path target = item_file(module.dir(), item);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) return false;
    // A stored item is replaced whole or not at all.
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
        if (!out) return false;
    }
    std::filesystem::rename(temporary, target, ec);
    return !ec;
}

}  // namespace sim::hal
