#include "tools/modulectl/nand_commands.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <sstream>

#include "module/assembly/nand_profile.h"
#include "module/config.h"
#include "module/flash_view.h"
#include "module/hex_text.h"
#include "module/hw/gpio/gpio_blocks.h"
#include "module/hw/nand/nand_view.h"
#include "tools/common/output_file.h"
#include "tools/modulectl/raw_dump.h"

namespace modulectl {

namespace {

using OrderedJson = nlohmann::ordered_json;

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

// Adds the value to a list key once, or `times` more times when each listing counts.
bool append_to_list(const std::filesystem::path& dir, const std::string& key, uint32_t value, uint32_t limit,
                    const char* what, std::string* error, uint32_t times = 0) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    if (value >= limit * part->chip_count()) {
        *error = std::string(what) + " " + std::to_string(value) + " is beyond the last, " +
                 std::to_string(limit * part->chip_count() - 1);
        return false;
    }
    std::vector<uint32_t> list = profile.get_u32_list(key);
    if (times == 0) {
        for (uint32_t v : list)
            if (v == value) return true;
        times = 1;
    }
    list.insert(list.end(), times, value);
    profile.set_u32_list(key, list);
    return profile.save((dir / "module.toml").string(), error);
}

// Why the program would refuse to follow where a logical block lies (empty
// when it would follow it): the rules its update checks before it erases.
std::vector<std::string> place_problems(const std::vector<uint16_t>& places, const sim::NandDeviceLayout& l) {
    const uint32_t used = l.blocks - l.reserve_blocks, boot_blocks = l.boot_end / l.block_bytes;
    std::vector<std::string> problems(places.size());
    std::vector<int64_t> holder(l.blocks, -1);
    for (uint32_t i = 0; i < used && i < places.size(); ++i)
        if (places[i] == i) holder[i] = i;
    for (uint32_t i = 0; i < used && i < places.size(); ++i) {
        uint32_t p = places[i];
        if (p == i) continue;
        if (p >= l.blocks)
            problems[i] = "outside the device";
        else if (i == 0)
            problems[i] = "block 0 never moves";
        else if (p == 0)
            problems[i] = "the table's own block";
        else if (p < boot_blocks)
            problems[i] = "a block of the boot area";
        else if (holder[p] >= 0)
            problems[i] = "logical block " + std::to_string(holder[p]) + " lies there too";
        else
            holder[p] = i;
    }
    return problems;
}

std::string damage_note(const std::string& problem) {
    return problem.empty() ? "" : " (DAMAGED: " + problem + "; an update stops before it erases)";
}

}  // namespace

bool print_reloc_table(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    sim::NandDeviceLayout l = sim::nand_device_layout(*part);
    sim::RelocTable t = sim::parse_reloc_table(sim::read_reloc_table_page(dir, *part));
    // The places the table gives, as a map built from it has them.
    std::vector<uint16_t> places(l.blocks);
    for (uint32_t i = 0; i < l.blocks; ++i) places[i] = static_cast<uint16_t>(i);
    for (const sim::RelocEntry& e : t.entries)
        if (e.logical != 0 && e.logical < l.blocks) places[e.logical] = e.physical;
    std::vector<std::string> problems = place_problems(places, l);
    OrderedJson entries = OrderedJson::array();
    std::ostringstream text;
    text << "relocation table page at " << sim::hex(l.table_offset) << ", " << l.table_bytes << " bytes\n";
    if (t.header_ok) text << "header 0x524e, word 2 " << sim::hex(t.second_word, 4) << "\n";
    for (size_t k = 0; k < t.entries.size(); ++k) {
        const sim::RelocEntry& e = t.entries[k];
        std::string damage;
        if (e.logical != 0 && (e.logical >= l.blocks || e.physical >= l.blocks))
            damage = "outside the device";
        else if (e.logical != 0 && places[e.logical] == e.physical)
            damage = problems[e.logical];
        entries.push_back({{"logical", e.logical},
                           {"physical", e.physical},
                           {"void", e.logical == 0},
                           {"damaged", damage.empty() ? OrderedJson(nullptr) : OrderedJson(damage)}});
        text << "entry " << k << ": logical block " << e.logical << " -> physical block " << e.physical
             << (e.logical == 0 ? " (void)" : damage_note(damage)) << "\n";
    }
    if (!t.header_ok) {
        text << "no table header (0x524E): the page holds no relocation table\n";
    } else {
        text << t.entries.size() << (t.entries.size() == 1 ? " entry" : " entries");
        text << (t.end_found ? ", then the end mark\n" : ", no end mark before the page ends\n");
    }
    if (!json) {
        out << text.str();
        return true;
    }
    OrderedJson j = {{"table_offset", l.table_offset}, {"table_bytes", l.table_bytes}, {"header", t.header_ok}};
    if (t.header_ok) {
        j["second_word"] = t.second_word;
        j["entries"] = entries;
        j["end_mark"] = t.end_found;
    }
    out << j.dump(2) << "\n";
    return true;
}

bool print_block_map(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    sim::NandDeviceLayout l = sim::nand_device_layout(*part);
    sim::NandBlockMap map = sim::load_block_map(dir, *part);
    std::vector<std::string> problems = place_problems(map.physical, l);
    OrderedJson moved = OrderedJson::array();
    std::ostringstream text;
    text << "block map from the " << map.source << "\n";
    text << l.blocks << " blocks, " << l.reserve_blocks << " in the reserve from block " << l.blocks - l.reserve_blocks
         << "\n";
    for (uint32_t i = 0; i < l.blocks; ++i) {
        if (map.physical[i] == i) continue;
        text << "logical block " << i << " -> physical block " << map.physical[i] << damage_note(problems[i]) << "\n";
        moved.push_back({{"logical", i},
                         {"physical", map.physical[i]},
                         {"damaged", problems[i].empty() ? OrderedJson(nullptr) : OrderedJson(problems[i])}});
    }
    if (moved.empty()) text << "every block in its own place\n";
    if (json)
        out << OrderedJson({{"source", map.source},
                            {"blocks", l.blocks},
                            {"reserve_blocks", l.reserve_blocks},
                            {"moved", moved}})
                   .dump(2)
            << "\n";
    else
        out << text.str();
    return true;
}

bool print_bad_blocks(const std::filesystem::path& dir, bool json, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    std::vector<sim::NandBadBlock> list = sim::find_bad_blocks(dir, *part, profile.get_u32_list("nand.bad_blocks"));
    if (json) {
        OrderedJson all = OrderedJson::array();
        for (const sim::NandBadBlock& b : list)
            all.push_back({{"chip", b.chip},
                           {"block", b.block},
                           {"device_block", b.device_block},
                           {"fails_program_and_erase", b.configured},
                           {"factory_marker", b.marked}});
        out << all.dump(2) << "\n";
        return true;
    }
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
        out << " (MFPR at " << sim::hex(sim::kMfprBase + *mfpr) << " = " << sim::hex(pins.mfpr_read(*mfpr)) << ")";
    out << "\n";
    return true;
}

int export_flash_view(const std::filesystem::path& dir, const std::filesystem::path& file, uint64_t offset,
                      uint64_t length, std::ostream& out, std::ostream& err, std::string* error) {
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(dir, error);
    if (!view) return cli::kUsage;
    if (offset > view->size()) {
        *error = "offset beyond the flash";
        return cli::kUsage;
    }
    if (length == 0 || length > view->size() - offset) length = view->size() - offset;
    OutputFile f;
    if (!f.open(file, error)) return cli::kUsage;
    constexpr uint64_t kChunk = 4 << 20;
    std::vector<uint8_t> bytes;
    for (uint64_t done = 0; done < length; done += kChunk) {
        bytes.resize(std::min(kChunk, length - done));
        if (!view->read(offset + done, bytes.size(), bytes.data(), error)) return cli::kUsage;
        f.write(bytes.data(), bytes.size());
    }
    if (!f.commit(error)) return cli::kUsage;
    out << "exported " << sim::hex(length, 0) << " bytes from logical offset " << sim::hex(offset) << " to "
        << file.string() << "\n";
    // The file holds the bytes as stored; a reader with ECC would meet these.
    const std::vector<sim::PageProblem>& problems = view->page_problems();
    for (const sim::PageProblem& p : problems) err << "modulectl export: " << p.text << "\n";
    if (problems.empty()) return 0;
    *error = std::to_string(problems.size()) + (problems.size() == 1 ? " page" : " pages") + " with ECC errors";
    return cli::kFailure;
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

bool inject_missed_start(const std::filesystem::path& dir, const std::string& operation, uint32_t number,
                         uint32_t times, std::ostream& out, std::string* error) {
    sim::Config profile;
    const sim::NandPart* part = nullptr;
    if (!load_part(dir, &profile, &part, error)) return false;
    bool erase = operation == "erase";
    uint32_t per_chip = erase ? part->blocks : part->pages();
    const char* what = erase ? "block" : "page";
    if (!append_to_list(dir, "nand.fault.missed_" + operation, number, per_chip, what, error, times)) return false;
    out << what << " " << number << " (chip " << number / per_chip << " " << what << " " << number % per_chip
        << "): its next "
        << (times == 1 ? operation + " misses its start"
                       : std::to_string(times) + " " + operation + "s miss their start")
        << ", then it works again\n";
    return true;
}

void add_nand_commands(CLI::App& app, std::ostream& out, std::ostream& err, int* result) {
    // Values of the command that runs, kept alive by the commands' callbacks.
    struct Arguments {
        std::string dir, file, operation;
        uint64_t number = 0, offset = 0, length = 0, times = 1;
        bool uncorrectable = false;
        bool raw = false, no_oob = false;
        bool json = false;
    };
    auto a = std::make_shared<Arguments>();
    const uint64_t kMax32 = 0xFFFFFFFF;
    // A body gives its exit status; done() turns true into 0 and false (refused) into 2.
    auto command = [&](const char* name, const char* about, std::function<int(std::string*)> body) {
        CLI::App* sub = app.add_subcommand(name, about);
        sub->add_option("DIR", a->dir, "the module directory")->required()->type_name("");
        sub->callback([name, body, &err, result] {
            std::string error;
            *result = body(&error);
            if (*result != 0) err << "modulectl " << name << ": " << error << "\n";
        });
        return sub;
    };
    auto done = [](bool ok) { return ok ? 0 : cli::kUsage; };
    auto json = [a](CLI::App* sub) { sub->add_flag("--json", a->json, "as JSON"); };
    json(command("reloc-table", "NAND: the relocation table page in block 0",
                 [&out, a, done](std::string* e) { return done(print_reloc_table(a->dir, a->json, out, e)); }));
    json(command("block-map", "NAND: the shared block map NAND_FLASH_BBMT",
                 [&out, a, done](std::string* e) { return done(print_block_map(a->dir, a->json, out, e)); }));
    json(command("bad-blocks", "NAND: listed bad blocks and factory markers",
                 [&out, a, done](std::string* e) { return done(print_bad_blocks(a->dir, a->json, out, e)); }));
    CLI::App* pin = command(
        "pin", "a pin's function, direction and level (default pin 73)",
        [&out, a, done](std::string* e) { return done(print_pin(a->dir, static_cast<unsigned>(a->number), out, e)); });
    a->number = 73;
    cli::add_number(*pin, "N", &a->number, kMax32, "the pin");
    CLI::App* view =
        command("export",
                "the flash as the system addresses it into FILE (NAND: the logical view through the block map; NOR: "
                "the byte image); pages with ECC errors are named and the exit status is 1. --raw: the whole flash as "
                "nanddump lays it out, each page's main area followed by its spare area, chip 0 then chip 1",
                [&out, &err, a, done](std::string* e) {
                    // A dump to standard output keeps it clean of the closing line.
                    if (a->raw) return done(export_raw(a->dir, a->file, !a->no_oob, a->file == "-" ? err : out, e));
                    return export_flash_view(a->dir, a->file, a->offset, a->length, out, err, e);
                });
    view->add_option("FILE", a->file, "the file to write (with --raw, - is standard output)")
        ->required()
        ->type_name("");
    CLI::Option* offset = cli::add_number(*view, "--offset", &a->offset, kMax32, "logical offset to start at");
    CLI::Option* length =
        cli::add_number(*view, "--length", &a->length, kMax32, "bytes to export (default: to the end)");
    CLI::Option* raw = view->add_flag("--raw", a->raw, "every page of every chip with its spare area, raw")
                           ->excludes(offset)
                           ->excludes(length);
    view->add_flag("--no-oob", a->no_oob, "with --raw: the pages' main areas alone")->needs(raw);
    CLI::App* bad =
        command("inject-bad-block", "NAND: program and erase of BLOCK fail", [&out, a, done](std::string* e) {
            return done(inject_bad_block(a->dir, static_cast<uint32_t>(a->number), out, e));
        });
    cli::add_number(*bad, "BLOCK", &a->number, kMax32, "block, counted across the chips")->required();
    CLI::App* flip =
        command("inject-bitflip", "NAND: reads of PAGE return flipped bits", [&out, a, done](std::string* e) {
            return done(inject_bitflip(a->dir, static_cast<uint32_t>(a->number), a->uncorrectable, out, e));
        });
    cli::add_number(*flip, "PAGE", &a->number, kMax32, "page, counted across the chips")->required();
    flip->add_flag("--uncorrectable", a->uncorrectable, "two flipped bits in one ECC chunk instead of one");
    CLI::App* miss =
        command("inject-missed-start", "NAND: the next reads or programs of PAGE (erases of BLOCK) miss their start",
                [&out, a, done](std::string* e) {
                    return done(inject_missed_start(a->dir, a->operation, static_cast<uint32_t>(a->number),
                                                    static_cast<uint32_t>(a->times), out, e));
                });
    miss->add_option("OPERATION", a->operation, "read, program or erase")
        ->required()
        ->check(CLI::IsMember({"read", "program", "erase"}))
        ->type_name("");
    cli::add_number(*miss, "NUMBER", &a->number, kMax32, "page (block for erase), counted across the chips")
        ->required();
    cli::add_number(*miss, "--times", &a->times, 1000, "how many in a row miss (default 1)");
}

}  // namespace modulectl
