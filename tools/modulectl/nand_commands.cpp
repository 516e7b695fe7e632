#include "tools/modulectl/nand_commands.h"

#include <cstdio>
#include <fstream>

#include "module/config.h"
#include "module/hw/gpio/gpio_blocks.h"
#include "module/hw/nand/nand_profile.h"
#include "module/hw/nand/nand_view.h"

namespace modulectl {

namespace {

std::string hex(uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

bool load_profile(const std::filesystem::path& dir, sim::Config* profile, std::string* error) {
    return profile->load((dir / "module.toml").string(), error);
}

bool load_part(const std::filesystem::path& dir, sim::Config* profile, const sim::NandPart** part, std::string* error) {
    if (!load_profile(dir, profile, error)) return false;
    if (profile->get_string("flash.kind", "nor") != "nand") {
        *error = "not a NAND module";
        return false;
    }
    sim::NandBoardConfig board;
    if (!sim::nand_config_from_profile(*profile, &board, error)) return false;
    *part = board.part;
    return true;
}

bool append_to_list(const std::filesystem::path& dir, const std::string& key, uint32_t value, uint32_t limit,
                    const char* what, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    if (value >= limit * part->chip_count()) {
        *error = std::string(what) + " " + std::to_string(value) + " is beyond the last, " +
                 std::to_string(limit * part->chip_count() - 1);
        return false;
    }
    std::vector<uint32_t> list = profile.get_u32_list(key);
    for (uint32_t v : list)
        if (v == value) return true;
    list.push_back(value);
    profile.set_u32_list(key, list);
    return profile.save((dir / "module.toml").string(), error);
}

bool parse_number(const std::string& text, uint64_t* value, std::ostream& err) {
    if (sim::parse_number(text, value) && *value <= 0xFFFFFFFFu) return true;
    err << "modulectl: '" << text << "' is not a number\n";
    return false;
}

}  // namespace

bool print_reloc_table(const std::filesystem::path& dir, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    sim::NandDeviceLayout l = sim::nand_device_layout(*part);
    sim::RelocTable t = sim::parse_reloc_table(sim::read_reloc_table_page(dir, *part));
    out << "relocation table page at " << hex(l.table_offset, 5) << ", " << l.table_bytes << " bytes\n";
    if (!t.header_ok) {
        out << "no table header (0x524E): the page holds no relocation table\n";
        return true;
    }
    out << "header 0x524E, word 2 " << hex(t.second_word, 4) << "\n";
    for (size_t k = 0; k < t.entries.size(); ++k) {
        const sim::RelocEntry& e = t.entries[k];
        out << "entry " << k << ": logical block " << e.logical << " -> physical block " << e.physical;
        if (e.logical == 0)
            out << " (void)";
        else if (e.logical >= l.blocks || e.physical >= l.blocks)
            out << " (outside the device)";
        out << "\n";
    }
    out << t.entries.size() << (t.entries.size() == 1 ? " entry" : " entries");
    out << (t.end_found ? ", then the end mark\n" : ", no end mark before the page ends\n");
    return true;
}

bool print_block_map(const std::filesystem::path& dir, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    sim::NandDeviceLayout l = sim::nand_device_layout(*part);
    sim::NandBlockMap map = sim::load_block_map(dir, *part);
    out << "block map from the " << map.source << "\n";
    out << l.blocks << " blocks, " << l.reserve_blocks << " in the reserve from block " << l.blocks - l.reserve_blocks
        << "\n";
    unsigned moved = 0;
    for (uint32_t i = 0; i < l.blocks; ++i) {
        if (map.physical[i] == i) continue;
        out << "logical block " << i << " -> physical block " << map.physical[i] << "\n";
        ++moved;
    }
    if (moved == 0) out << "every block in its own place\n";
    return true;
}

bool print_bad_blocks(const std::filesystem::path& dir, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    std::vector<sim::NandBadBlock> list = sim::find_bad_blocks(dir, *part, profile.get_u32_list("nand.bad_blocks"));
    for (const sim::NandBadBlock& b : list) {
        out << "chip " << b.chip << " block " << b.block << " (device block " << b.device_block << "):";
        if (b.configured) out << " fails program and erase";
        if (b.configured && b.marked) out << ",";
        if (b.marked) out << " factory marker";
        out << "\n";
    }
    if (list.empty()) out << "no bad blocks\n";
    return true;
}

bool print_pin(const std::filesystem::path& dir, unsigned pin, std::ostream& out, std::string* error) {
    sim::Config profile;
    if (!load_profile(dir, &profile, error)) return false;
    sim::GpioPins pins(sim::pin_processor_for_product(profile.get_u32("cpu.product", 17)));
    if (!pins.pin_exists(pin)) {
        *error = "pin " + std::to_string(pin) + " does not exist on this processor";
        return false;
    }
    pins.load(dir / sim::kGpioStateFile);
    sim::PinState s = pins.pin(pin);
    out << "pin " << pin << ": function " << s.function << ", " << (s.output ? "output" : "input") << ", "
        << (s.level ? "high" : "low");
    if (std::optional<uint32_t> mfpr = pins.mfpr_offset(pin))
        out << " (MFPR at " << hex(sim::kMfprBase + *mfpr, 8) << " = " << hex(pins.mfpr_read(*mfpr), 8) << ")";
    out << "\n";
    return true;
}

bool nand_view_size(const std::filesystem::path& dir, uint64_t* size, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    *size = sim::nand_device_layout(*part).logical_bytes();
    return true;
}

bool read_nand_view(const std::filesystem::path& dir, uint64_t offset, uint64_t length, std::vector<uint8_t>* bytes,
                    std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    sim::NandBlockMap map = sim::load_block_map(dir, *part);
    bytes->resize(length);
    if (!sim::read_logical_view(dir, *part, map, offset, length, bytes->data())) {
        *error =
            "the range ends beyond the flash (" + hex(sim::nand_device_layout(*part).logical_bytes(), 8) + " bytes)";
        return false;
    }
    return true;
}

bool export_nand_view(const std::filesystem::path& dir, const std::filesystem::path& file, uint64_t offset,
                      uint64_t length, std::ostream& out, std::string* error) {
    uint64_t size = 0;
    if (!nand_view_size(dir, &size, error)) return false;
    if (offset > size) {
        *error = "offset beyond the flash";
        return false;
    }
    if (length == 0 || length > size - offset) length = size - offset;
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    if (!f) {
        *error = "cannot write " + file.string();
        return false;
    }
    constexpr uint64_t kChunk = 4 << 20;
    std::vector<uint8_t> bytes;
    for (uint64_t done = 0; done < length; done += kChunk) {
        uint64_t n = std::min(kChunk, length - done);
        if (!read_nand_view(dir, offset + done, n, &bytes, error)) return false;
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(n));
    }
    if (!f) {
        *error = "cannot write " + file.string();
        return false;
    }
    out << "exported " << length << " bytes from logical offset " << hex(offset, 8) << " to " << file.string() << "\n";
    return true;
}

bool inject_bad_block(const std::filesystem::path& dir, uint32_t block, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    if (!append_to_list(dir, "nand.bad_blocks", block, part->blocks, "block", error)) return false;
    out << "block " << block << " (chip " << block / part->blocks << " block " << block % part->blocks
        << ") now fails program and erase\n";
    return true;
}

bool inject_bitflip(const std::filesystem::path& dir, uint32_t page, bool uncorrectable, std::ostream& out,
                    std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    const char* key = uncorrectable ? "nand.fault.uncorrectable" : "nand.fault.bitflip";
    if (!append_to_list(dir, key, page, part->pages(), "page", error)) return false;
    out << "page " << page << " (chip " << page / part->pages() << " page " << page % part->pages() << ") now reads "
        << (uncorrectable ? "two flipped bits (uncorrectable)" : "one flipped bit (correctable)") << "\n";
    return true;
}

std::string nand_command_usage() {
    return "  reloc-table DIR                  NAND: the relocation table page in block 0\n"
           "  block-map DIR                    NAND: the shared block map NAND_FLASH_BBMT\n"
           "  bad-blocks DIR                   NAND: listed bad blocks and factory markers\n"
           "  pin DIR [N]                      a pin's function, direction and level (73)\n"
           "  export DIR FILE [--offset N] [--length N]\n"
           "                                   NAND: the logical view through the block map\n"
           "  inject-bad-block DIR BLOCK       NAND: program and erase of BLOCK fail\n"
           "  inject-bitflip DIR PAGE [--uncorrectable]\n"
           "                                   NAND: reads of PAGE return flipped bits\n";
}

bool run_nand_command(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err, int* result) {
    static const char* const commands[] = {"reloc-table", "block-map",        "bad-blocks",    "pin",
                                           "export",      "inject-bad-block", "inject-bitflip"};
    bool known = false;
    for (const char* c : commands) known = known || command == c;
    if (!known) return false;
    *result = 2;
    if (args.empty()) {
        err << "modulectl " << command << ": missing DIR\n";
        return true;
    }
    std::filesystem::path dir = args[0];
    std::string error;
    bool ok = false;
    uint64_t number = 0;
    if (command == "reloc-table") {
        ok = print_reloc_table(dir, out, &error);
    } else if (command == "block-map") {
        ok = print_block_map(dir, out, &error);
    } else if (command == "bad-blocks") {
        ok = print_bad_blocks(dir, out, &error);
    } else if (command == "pin") {
        number = 73;
        if (args.size() > 1 && !parse_number(args[1], &number, err)) return true;
        ok = print_pin(dir, static_cast<unsigned>(number), out, &error);
    } else if (command == "export") {
        if (args.size() < 2) {
            err << "modulectl export: missing FILE\n";
            return true;
        }
        uint64_t offset = 0, length = 0;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--offset" && i + 1 < args.size()) {
                if (!parse_number(args[++i], &offset, err)) return true;
            } else if (args[i] == "--length" && i + 1 < args.size()) {
                if (!parse_number(args[++i], &length, err)) return true;
            } else {
                err << "modulectl export: unexpected '" << args[i] << "'\n";
                return true;
            }
        }
        ok = export_nand_view(dir, args[1], offset, length, out, &error);
    } else if (command == "inject-bad-block") {
        if (args.size() < 2 || !parse_number(args[1], &number, err)) {
            if (args.size() < 2) err << "modulectl inject-bad-block: missing BLOCK\n";
            return true;
        }
        ok = inject_bad_block(dir, static_cast<uint32_t>(number), out, &error);
    } else {
        if (args.size() < 2 || !parse_number(args[1], &number, err)) {
            if (args.size() < 2) err << "modulectl inject-bitflip: missing PAGE\n";
            return true;
        }
        bool uncorrectable = args.size() > 2 && args[2] == "--uncorrectable";
        ok = inject_bitflip(dir, static_cast<uint32_t>(number), uncorrectable, out, &error);
    }
    if (!ok) err << "modulectl " << command << ": " << error << "\n";
    *result = ok ? 0 : 1;
    return true;
}

}  // namespace modulectl
