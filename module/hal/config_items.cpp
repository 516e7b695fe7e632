#include "module/hal/config_items.h"

#include <string>

#include "module/hw/folder_file.h"

namespace sim::hal {

// The item's file below the module folder.
static std::filesystem::path item_file(uint32_t item) {
    return std::filesystem::path("hal") / ("item-" + std::to_string(item) + ".bin");
}

bool read_config_item(Module& module, uint32_t item, std::vector<uint8_t>* bytes) {
    return read_config_item(module.dir(), module.config(), item, bytes);
}

bool read_config_item(const std::filesystem::path& dir, const Config& profile, uint32_t item,
                      std::vector<uint8_t>* bytes) {
    // A stored item the folder check let through; one that cannot be read
    // (a link, a folder, put there since) is not there for the HAL.
    std::string stored;
    switch (read_folder_file(dir, item_file(item), &stored, nullptr)) {
        case FolderRead::Done: bytes->assign(stored.begin(), stored.end()); return true;
        case FolderRead::Refused: return false;
        case FolderRead::Missing: break;
    }
    std::vector<uint32_t> words = profile.get_u32_list("hal.item" + std::to_string(item));
    if (words.empty()) return false;
    bytes->clear();
    for (uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<uint8_t>(word >> shift));
    return true;
}

bool store_config_item(Module& module, uint32_t item, const uint8_t* bytes, size_t length) {
    std::error_code ec;
    std::filesystem::create_directories(module.dir() / "hal", ec);
    if (ec) return false;
    // A stored item is replaced whole or not at all.
    return replace_folder_file(module.dir(), item_file(item), {reinterpret_cast<const char*>(bytes), length}, nullptr);
}

}  // namespace sim::hal
