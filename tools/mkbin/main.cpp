// mkbin: builds Windows CE binary image files (.bin) for the update tool's
// tests and for trying the tool out; reads them back with --info.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tools/mkbin/bin_writer.h"

namespace {

const char kHelp[] =
    "usage: mkbin -o OUT.bin --start ADDR [options]\n"
    "       mkbin --raw FILE --address ADDR -o OUT.bin\n"
    "       mkbin --info FILE.bin\n"
    "\n"
    "Builds a Windows CE binary image file: the signature \"B000FF\\n\", the image\n"
    "start and length, records {address, length, byte sum, data} and an end record\n"
    "{0, length field, 0}. Numbers are decimal or 0x hex.\n"
    "\n"
    "Image contents (placed in this order; later pieces overwrite earlier ones):\n"
    "  --start ADDR            image start written to the file header\n"
    "  --length N              image length (default: from the start to the highest placed byte)\n"
    "  --fill BYTE|pattern     fill start .. start+length first (pattern: no word reads 0xFFFFFFFF)\n"
    "  --data ADDR=FILE        place a file's bytes at ADDR (repeatable)\n"
    "  --raw FILE --address A  shortcut: --start A --data A=FILE\n"
    "  --compressed SIZE       compressed image header \"COMP\" with SIZE at the image start\n"
    "  --rom                   Windows CE ROM image headers: signature 0x43454345 at +0x40,\n"
    "                          TOC pointer and offset, the 84-byte ROMHDR, first TOC entry\n"
    "    --toc-offset N        ROMHDR offset from the image start (default 0x200)\n"
    "    --physfirst ADDR      ROMHDR physfirst (default: the image start)\n"
    "    --physlast ADDR       ROMHDR physlast (default: physfirst + length - 4, the last word)\n"
    "    --toc-pointer ADDR    TOC pointer (default physfirst + TOC offset; others make it inconsistent)\n"
    "    --built \"YYYY-MM-DD HH:MM:SS\"  FILETIME of the first TOC entry (UTC)\n"
    "  --bootloader-version ID.MAJOR.MINOR[.BETA]\n"
    "                          version record 0x01234567 id major minor|beta<<16 0x89ABCDEF\n"
    "    --version-offset N    its offset from the image start (default 0x1000)\n"
    "  --banner TEXT           \"Microsoft Windows CE Ethernet Bootloader \" TEXT and a zero byte,\n"
    "                          e.g. \"1.3 for Zantrel Fennaro Built Mar 12 2007\"\n"
    "    --banner-offset N     its offset from the image start (default 0x1000)\n"
    "  --config-block SIZE     0xCF014000 then SIZE-4 bytes of non-0xFF words, then 0xFFFFFFFF\n"
    "    --config-offset N     its offset from the image start (default 0)\n"
    "\n"
    "Records and file:\n"
    "  --record-size N         cut records at N bytes (default: one record per contiguous run)\n"
    "  --records LIST          append the records of a text list, one per line ('#' comments):\n"
    "                            ADDR HEX|@FILE|- [sum=N] [len=N]   (sum/len: deliberate lies)\n"
    "                            end [N]      an end record with length field N\n"
    "                            raw HEX      bytes without a record head\n"
    "  --no-end                omit the end record\n"
    "  --end-length N          the end record's length field (default 0)\n"
    "  --order I,J,...         write records by index in this order (may drop or repeat)\n"
    "  --reverse               write the records in reverse order\n"
    "  --truncate N            keep only the first N bytes of the file\n"
    "  -v                      list the records written\n"
    "  --help                  this text\n";

struct Options {
    std::string output;
    std::optional<uint32_t> start;
    std::optional<uint32_t> length;
    std::optional<std::string> fill;
    std::vector<std::pair<uint32_t, std::string>> data;
    std::optional<std::string> raw_file;
    std::optional<uint32_t> raw_address;
    std::optional<uint32_t> compressed;
    bool rom = false;
    uint32_t toc_offset = 0x200;
    std::optional<uint32_t> physfirst, physlast, toc_pointer;
    std::optional<std::string> built;
    std::optional<std::string> version;
    uint32_t version_offset = 0x1000;
    std::optional<std::string> banner;
    uint32_t banner_offset = 0x1000;
    std::optional<uint32_t> config_block;
    uint32_t config_offset = 0;
    uint32_t record_size = 0;
    std::vector<std::string> record_lists;
    bool no_end = false;
    uint32_t end_length = 0;
    std::optional<std::string> order;
    bool reverse = false;
    std::optional<uint32_t> truncate;
    bool verbose = false;
    std::optional<std::string> info;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "mkbin: %s\n", message.c_str());
    return 2;
}

bool read_file(const std::string& path, std::vector<uint8_t>* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Returns 0 when parsed, 1 for --help, 2 (after a message) for bad arguments.
int parse_arguments(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        auto number = [&](uint32_t* out) {
            std::string text;
            if (!value(&text)) return false;
            return mkbin::parse_u32(text, out);
        };
        auto optional_number = [&](std::optional<uint32_t>* out) {
            uint32_t v;
            if (!number(&v)) return false;
            *out = v;
            return true;
        };
        auto optional_text = [&](std::optional<std::string>* out) {
            std::string v;
            if (!value(&v)) return false;
            *out = v;
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 1;
        } else if (arg == "-o") {
            ok = value(&o->output);
        } else if (arg == "--start") {
            ok = optional_number(&o->start);
        } else if (arg == "--length") {
            ok = optional_number(&o->length);
        } else if (arg == "--fill") {
            ok = optional_text(&o->fill);
        } else if (arg == "--data") {
            std::string spec;
            ok = value(&spec);
            size_t equals = spec.find('=');
            uint32_t address;
            ok = ok && equals != std::string::npos && mkbin::parse_u32(spec.substr(0, equals), &address);
            if (ok) o->data.emplace_back(address, spec.substr(equals + 1));
        } else if (arg == "--raw") {
            ok = optional_text(&o->raw_file);
        } else if (arg == "--address") {
            ok = optional_number(&o->raw_address);
        } else if (arg == "--compressed") {
            ok = optional_number(&o->compressed);
        } else if (arg == "--rom") {
            o->rom = true;
        } else if (arg == "--toc-offset") {
            ok = number(&o->toc_offset);
        } else if (arg == "--physfirst") {
            ok = optional_number(&o->physfirst);
        } else if (arg == "--physlast") {
            ok = optional_number(&o->physlast);
        } else if (arg == "--toc-pointer") {
            ok = optional_number(&o->toc_pointer);
        } else if (arg == "--built") {
            ok = optional_text(&o->built);
        } else if (arg == "--bootloader-version") {
            ok = optional_text(&o->version);
        } else if (arg == "--version-offset") {
            ok = number(&o->version_offset);
        } else if (arg == "--banner") {
            ok = optional_text(&o->banner);
        } else if (arg == "--banner-offset") {
            ok = number(&o->banner_offset);
        } else if (arg == "--config-block") {
            ok = optional_number(&o->config_block);
        } else if (arg == "--config-offset") {
            ok = number(&o->config_offset);
        } else if (arg == "--record-size") {
            ok = number(&o->record_size);
        } else if (arg == "--records") {
            std::string list;
            ok = value(&list);
            if (ok) o->record_lists.push_back(list);
        } else if (arg == "--no-end") {
            o->no_end = true;
        } else if (arg == "--end-length") {
            ok = number(&o->end_length);
        } else if (arg == "--order") {
            ok = optional_text(&o->order);
        } else if (arg == "--reverse") {
            o->reverse = true;
        } else if (arg == "--truncate") {
            ok = optional_number(&o->truncate);
        } else if (arg == "-v") {
            o->verbose = true;
        } else if (arg == "--info") {
            ok = optional_text(&o->info);
        } else {
            fail("unknown option '" + arg + "' (see --help)");
            return 2;
        }
        if (!ok) {
            fail("option " + arg + " needs a valid value (see --help)");
            return 2;
        }
    }
    return 0;
}

int show_info(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!read_file(path, &bytes)) return fail("cannot read " + path);
    mkbin::ParsedBin parsed;
    std::string error;
    bool ok = mkbin::parse_bin(bytes, &parsed, &error);
    std::printf("start 0x%08X length 0x%08X\n", parsed.image_start, parsed.image_length);
    for (const mkbin::ParsedRecord& r : parsed.records)
        std::printf("record 0x%08X length 0x%08X sum 0x%08X %s\n", r.address, r.length, r.checksum,
                    r.sum_matches ? "ok" : "BAD SUM");
    if (parsed.has_end)
        std::printf("end length 0x%08X, %zu bytes after it\n", parsed.end_length, parsed.trailing_bytes);
    if (!ok) {
        std::printf("error: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

bool parse_order(const std::string& text, std::vector<size_t>* order) {
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t comma = text.find(',', begin);
        std::string part = text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        uint32_t index;
        if (!mkbin::parse_u32(part, &index)) return false;
        order->push_back(index);
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return true;
}

int build(Options& o) {
    if (o.raw_file) {
        if (!o.raw_address) return fail("--raw needs --address");
        if (!o.start) o.start = *o.raw_address;
        o.data.emplace_back(*o.raw_address, *o.raw_file);
    }
    if (o.output.empty()) return fail("no output file (-o OUT.bin)");
    if (!o.start) return fail("no image start (--start ADDR)");
    const uint32_t start = *o.start;

    mkbin::MemoryImage image;
    if (o.fill) {
        if (!o.length) return fail("--fill needs --length");
        std::vector<uint8_t> filler(*o.length);
        if (*o.fill == "pattern") {
            for (uint32_t i = 0; i < *o.length; ++i) filler[i] = mkbin::pattern_byte(i);
        } else {
            uint32_t byte;
            if (!mkbin::parse_u32(*o.fill, &byte) || byte > 0xFF) return fail("--fill takes a byte or 'pattern'");
            std::fill(filler.begin(), filler.end(), static_cast<uint8_t>(byte));
        }
        image.put(start, filler);
    }
    for (const auto& [address, path] : o.data) {
        std::vector<uint8_t> bytes;
        if (!read_file(path, &bytes)) return fail("cannot read " + path);
        if (static_cast<uint64_t>(address) + bytes.size() > (1ull << 32))
            return fail(path + " does not fit below 4 GiB at its address");
        image.put(address, bytes);
    }
    if (o.compressed) mkbin::add_compressed_header(image, start, *o.compressed);
    if (o.version) {
        mkbin::VersionSpec version;
        if (!mkbin::parse_version_spec(*o.version, &version))
            return fail("--bootloader-version takes ID.MAJOR.MINOR[.BETA], minor and beta below 65536");
        mkbin::add_version_record(image, start + o.version_offset, version);
    }
    if (o.banner) mkbin::add_banner(image, start + o.banner_offset, *o.banner);
    if (o.config_block && !mkbin::add_config_block(image, start + o.config_offset, *o.config_block))
        return fail("--config-block SIZE must be a nonzero multiple of 4");

    if (o.rom) {
        mkbin::RomHeaderSpec rom;
        rom.image_address = start;
        rom.toc_offset = o.toc_offset;
        // The image spans its placed bytes and its own headers.
        uint64_t header_end =
            static_cast<uint64_t>(start) + o.toc_offset + mkbin::kRomHeaderSize + mkbin::kTocEntrySize;
        uint64_t span_end = std::max<uint64_t>(image.end(), header_end);
        if (!o.length) o.length = static_cast<uint32_t>(span_end - start);
        rom.physfirst = o.physfirst.value_or(start);
        rom.physlast = o.physlast.value_or(rom.physfirst + *o.length - 4);
        rom.toc_pointer = o.toc_pointer;
        rom.module_size = *o.length;
        if (o.built && !mkbin::filetime_from_text(*o.built, &rom.build_filetime))
            return fail("--built takes \"YYYY-MM-DD HH:MM:SS\"");
        mkbin::add_rom_headers(image, rom);
    } else if (o.built || o.physfirst || o.physlast || o.toc_pointer) {
        return fail("--built, --physfirst, --physlast and --toc-pointer need --rom");
    }

    mkbin::BinFile file;
    file.image_start = start;
    if (o.length) {
        file.image_length = *o.length;
    } else if (image.end() > start) {
        file.image_length = static_cast<uint32_t>(image.end() - start);
    }
    file.records = mkbin::records_from_image(image, o.record_size);
    for (const std::string& list : o.record_lists) {
        std::string text;
        std::vector<uint8_t> bytes;
        if (!read_file(list, &bytes)) return fail("cannot read " + list);
        text.assign(bytes.begin(), bytes.end());
        std::string error;
        std::string base = std::filesystem::path(list).parent_path().string();
        if (!mkbin::parse_record_list(text, base, &file.records, &error)) return fail(error);
    }
    file.end_record = !o.no_end;
    file.end_length = o.end_length;
    if (o.order) {
        std::vector<size_t> order;
        if (!parse_order(*o.order, &order)) return fail("--order takes record indices: 2,0,1");
        file.order = order;
    } else if (o.reverse) {
        std::vector<size_t> order;
        for (size_t i = file.records.size(); i > 0; --i) order.push_back(i - 1);
        file.order = order;
    }
    if (o.truncate) file.truncate = *o.truncate;

    for (const mkbin::Record& r : file.records)
        if (!r.raw && !r.end && r.address == 0 && r.checksum.value_or(mkbin::byte_sum(r.data)) == 0)
            std::fprintf(stderr, "mkbin: warning: the record at address 0 has the sum 0 and reads as the end record\n");

    std::vector<uint8_t> bytes;
    std::string error;
    if (!mkbin::write_bin(file, &bytes, &error)) return fail(error);
    std::ofstream out(o.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return fail("cannot write " + o.output);

    if (o.verbose) {
        std::printf("start 0x%08X length 0x%08X\n", file.image_start, file.image_length);
        for (const mkbin::Record& r : file.records) {
            if (r.raw)
                std::printf("raw %zu bytes\n", r.data.size());
            else if (r.end)
                std::printf("end length 0x%08X\n", r.length.value_or(0));
            else
                std::printf("record 0x%08X length 0x%08zX\n", r.address, r.data.size());
        }
        std::printf("%zu bytes written to %s\n", bytes.size(), o.output.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int parsed = parse_arguments(argc, argv, &options);
    if (parsed == 1) return 0;
    if (parsed != 0) return parsed;
    if (argc == 1) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    if (options.info) return show_info(*options.info);
    return build(options);
}
