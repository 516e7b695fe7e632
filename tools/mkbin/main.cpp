// mkbin: builds Windows CE binary image files (.bin) for the update tool's
// tests and for trying the tool out; reads them back with --info.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "module/hex_text.h"
#include "tools/common/cli.h"
#include "tools/common/manual.h"
#include "tools/common/output_file.h"
#include "tools/mkbin/bin_writer.h"

namespace {

const char kAbout[] =
    "mkbin -o OUT.bin --start ADDR [options]\n"
    "mkbin --raw FILE --address ADDR -o OUT.bin\n"
    "mkbin --info FILE.bin\n"
    "\n"
    "Builds a Windows CE binary image file: the signature \"B000FF\\n\", the image\n"
    "start and length, records {address, length, byte sum, data} and an end record\n"
    "{0, length field, 0}. Contents are placed in the order of the options below;\n"
    "later pieces overwrite earlier ones. At most 1 GiB of bytes is placed in an\n"
    "image (fill, data files and configuration block together), and no file read\n"
    "may be larger.";

struct Options {
    std::string output;
    std::optional<uint32_t> start;
    std::optional<uint32_t> length;
    std::optional<std::string> fill;
    std::vector<std::string> data;  // ADDR=FILE
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
    std::string info;
};

// A command line that cannot be carried out.
int fail(const std::string& message) {
    std::fprintf(stderr, "mkbin: %s\n", message.c_str());
    return cli::kUsage;
}

// Files that cannot be read or written: a host error.
int fail_file(const std::string& message) {
    std::fprintf(stderr, "mkbin: %s\n", message.c_str());
    return cli::kUsage;
}

// ADDR=FILE
bool split_placement(const std::string& text, uint32_t* address, std::string* file) {
    size_t equals = text.find('=');
    if (equals == std::string::npos || !mkbin::parse_u32(text.substr(0, equals), address)) return false;
    *file = text.substr(equals + 1);
    return true;
}

void add_options(CLI::App& app, Options* o) {
    auto text = [&app](const std::string& name, std::optional<std::string>* target, const std::string& help) {
        return app.add_option_function<std::string>(
            name, [target](const std::string& value) { *target = value; }, help);
    };
    const uint32_t kMax32 = 0xFFFFFFFF;
    app.add_option("-o", o->output, "the file to write")->type_name("OUT.bin");
    app.add_option("--info", o->info, "read FILE.bin back: start, length, records and their sums, end record")
        ->type_name("FILE.bin");

    app.option_defaults()->group("Image contents (placed in this order)");
    cli::add_number(app, "--start", &o->start, kMax32, "image start written to the file header");
    cli::add_number(app, "--length", &o->length, kMax32,
                    "image length (default: from the start to the highest placed byte;\n"
                    "with --fill at most 1 GiB)");
    text("--fill", &o->fill, "fill start .. start+length first (pattern: no word reads 0xFFFFFFFF)")
        ->type_name("BYTE|pattern");
    app.add_option("--data", o->data, "place a file's bytes at ADDR (repeatable)")
        ->type_name("ADDR=FILE")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& spec) -> std::string {
                uint32_t address;
                std::string file;
                return split_placement(spec, &address, &file) ? "" : "'" + spec + "' is not ADDR=FILE";
            },
            ""));
    text("--raw", &o->raw_file, "shortcut with --address A: --start A --data A=FILE")->type_name("FILE");
    cli::add_number(app, "--address", &o->raw_address, kMax32, "where --raw places its file");
    cli::add_number(app, "--compressed", &o->compressed, kMax32,
                    "compressed image header \"COMP\" with SIZE at the image start");
    app.add_flag("--rom", o->rom,
                 "Windows CE ROM image headers: signature 0x43454345 at +0x40, TOC\n"
                 "pointer and offset, the 84-byte ROMHDR, first TOC entry");
    cli::add_number(app, "--toc-offset", &o->toc_offset, kMax32, "ROMHDR offset from the image start (default 0x200)");
    cli::add_number(app, "--physfirst", &o->physfirst, kMax32, "ROMHDR physfirst (default: the image start)");
    cli::add_number(app, "--physlast", &o->physlast, kMax32,
                    "ROMHDR physlast (default: physfirst + length - 4, the last word)");
    cli::add_number(app, "--toc-pointer", &o->toc_pointer, kMax32,
                    "TOC pointer (default physfirst + TOC offset; others make it inconsistent)");
    text("--built", &o->built, "FILETIME of the first TOC entry (UTC)")->type_name("\"YYYY-MM-DD HH:MM:SS\"");
    text("--bootloader-version", &o->version, "version record 0x01234567 id major minor|beta<<16 0x89ABCDEF")
        ->type_name("ID.MAJOR.MINOR[.BETA]");
    cli::add_number(app, "--version-offset", &o->version_offset, kMax32,
                    "the version record's offset from the image start (default 0x1000)");
    text("--banner", &o->banner,
         "\"Microsoft Windows CE Ethernet Bootloader \" TEXT and a zero byte,\n"
         "e.g. \"1.3 for Zantrel Fennaro Built Mar 12 2007\"")
        ->type_name("TEXT");
    cli::add_number(app, "--banner-offset", &o->banner_offset, kMax32,
                    "the banner's offset from the image start (default 0x1000)");
    cli::add_number(app, "--config-block", &o->config_block, mkbin::kMaxImageBytes,
                    "0xCF014000 then SIZE-4 bytes of non-0xFF words, then 0xFFFFFFFF");
    cli::add_number(app, "--config-offset", &o->config_offset, kMax32,
                    "the configuration block's offset from the image start (default 0)");

    app.option_defaults()->group("Records and file");
    cli::add_number(app, "--record-size", &o->record_size, kMax32,
                    "cut records at N bytes (default: one record per contiguous run)");
    app.add_option("--records", o->record_lists,
                   "append the records of a text list, one per line ('#' comments):\n"
                   "  ADDR HEX|@FILE|- [sum=N] [len=N]   (sum/len: deliberate lies)\n"
                   "  end [N]      an end record with length field N\n"
                   "  raw HEX      bytes without a record head")
        ->type_name("LIST")
        ->allow_extra_args(false);
    app.add_flag("--no-end", o->no_end, "omit the end record");
    cli::add_number(app, "--end-length", &o->end_length, kMax32, "the end record's length field (default 0)");
    text("--order", &o->order, "write records by index in this order (may drop or repeat)")->type_name("I,J,...");
    app.add_flag("--reverse", o->reverse, "write the records in reverse order");
    cli::add_number(app, "--truncate", &o->truncate, kMax32, "keep only the first N bytes of the file");
    app.add_flag("-v", o->verbose, "list the records written");
}

int show_info(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!mkbin::read_input_file(path, mkbin::kMaxImageBytes, &bytes, &error)) return fail_file(error);
    mkbin::ParsedBin parsed;
    bool ok = mkbin::parse_bin(bytes, &parsed, &error);
    std::printf("start %s length %s\n", sim::hex(parsed.image_start).c_str(), sim::hex(parsed.image_length).c_str());
    for (const mkbin::ParsedRecord& r : parsed.records)
        std::printf("record %s length %s sum %s %s\n", sim::hex(r.address).c_str(), sim::hex(r.length).c_str(),
                    sim::hex(r.checksum).c_str(), r.sum_matches ? "ok" : "BAD SUM");
    if (parsed.has_end)
        std::printf("end length %s, %zu bytes after it\n", sim::hex(parsed.end_length).c_str(), parsed.trailing_bytes);
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

// Where the pieces go: --raw as the start and a data file, and what every
// image needs. 0 to go on, else the exit status.
int check_placement(Options& o) {
    if (o.raw_file) {
        if (!o.raw_address) return fail("--raw needs --address");
        if (!o.start) o.start = *o.raw_address;
        o.data.push_back(std::to_string(*o.raw_address) + "=" + *o.raw_file);
    }
    if (o.output.empty()) return fail("no output file (-o OUT.bin)");
    if (!o.start) return fail("no image start (--start ADDR)");
    return 0;
}

int place_fill(const Options& o, mkbin::MemoryImage& image) {
    if (!o.fill) return 0;
    if (!o.length) return fail("--fill needs --length");
    if (*o.length > mkbin::kMaxImageBytes) return fail("--length with --fill is over 1 GiB");
    std::vector<uint8_t> filler(*o.length);
    if (*o.fill == "pattern") {
        for (uint32_t i = 0; i < *o.length; ++i) filler[i] = mkbin::pattern_byte(i);
    } else {
        uint32_t byte;
        if (!mkbin::parse_u32(*o.fill, &byte) || byte > 0xFF) return fail("--fill takes a byte or 'pattern'");
        std::fill(filler.begin(), filler.end(), static_cast<uint8_t>(byte));
    }
    image.put(*o.start, filler);
    return 0;
}

// The data files, against the limit of what mkbin places (*placed so far).
int place_data(const Options& o, mkbin::MemoryImage& image, uint64_t* placed) {
    for (const std::string& placement : o.data) {
        uint32_t address;
        std::string path, error;
        split_placement(placement, &address, &path);
        std::vector<uint8_t> bytes;
        if (!mkbin::read_input_file(path, mkbin::kMaxImageBytes - *placed, &bytes, &error)) return fail_file(error);
        *placed += bytes.size();
        if (static_cast<uint64_t>(address) + bytes.size() > (1ull << 32))
            return fail(path + " does not fit below 4 GiB at its address");
        image.put(address, bytes);
    }
    return 0;
}

// The compressed header, version record, banner and configuration block.
int place_pieces(const Options& o, mkbin::MemoryImage& image, uint64_t placed) {
    const uint32_t start = *o.start;
    if (o.compressed) mkbin::add_compressed_header(image, start, *o.compressed);
    if (o.version) {
        mkbin::VersionSpec version;
        if (!mkbin::parse_version_spec(*o.version, &version))
            return fail("--bootloader-version takes ID.MAJOR.MINOR[.BETA], minor and beta below 65536");
        mkbin::add_version_record(image, start + o.version_offset, version);
    }
    if (o.banner) mkbin::add_banner(image, start + o.banner_offset, *o.banner);
    if (o.config_block && placed + *o.config_block > mkbin::kMaxImageBytes)
        return fail("the configuration block takes the image over 1 GiB");
    if (o.config_block && !mkbin::add_config_block(image, start + o.config_offset, *o.config_block))
        return fail("--config-block SIZE must be a nonzero multiple of 4");
    return 0;
}

int place_rom_headers(Options& o, mkbin::MemoryImage& image) {
    if (!o.rom) {
        if (o.built || o.physfirst || o.physlast || o.toc_pointer)
            return fail("--built, --physfirst, --physlast and --toc-pointer need --rom");
        return 0;
    }
    const uint32_t start = *o.start;
    mkbin::RomHeaderSpec rom;
    rom.image_address = start;
    rom.toc_offset = o.toc_offset;
    // The image spans its placed bytes and its own headers.
    uint64_t header_end = static_cast<uint64_t>(start) + o.toc_offset + mkbin::kRomHeaderSize + mkbin::kTocEntrySize;
    uint64_t span_end = std::max<uint64_t>(image.end(), header_end);
    if (!o.length) o.length = static_cast<uint32_t>(span_end - start);
    rom.physfirst = o.physfirst.value_or(start);
    rom.physlast = o.physlast.value_or(rom.physfirst + *o.length - 4);
    rom.toc_pointer = o.toc_pointer;
    rom.module_size = *o.length;
    if (o.built && !mkbin::filetime_from_text(*o.built, &rom.build_filetime))
        return fail("--built takes \"YYYY-MM-DD HH:MM:SS\"");
    mkbin::add_rom_headers(image, rom);
    return 0;
}

// The file's header, its records (cut from the image, then from the lists),
// the end record and the deliberate faults asked for.
int make_file(const Options& o, const mkbin::MemoryImage& image, mkbin::BinFile* file) {
    const uint32_t start = *o.start;
    file->image_start = start;
    if (o.length)
        file->image_length = *o.length;
    else if (image.end() > start)
        file->image_length = static_cast<uint32_t>(image.end() - start);
    file->records = mkbin::records_from_image(image, o.record_size);
    for (const std::string& list : o.record_lists) {
        std::string text, error;
        std::vector<uint8_t> bytes;
        if (!mkbin::read_input_file(list, mkbin::kMaxImageBytes, &bytes, &error)) return fail_file(error);
        text.assign(bytes.begin(), bytes.end());
        std::string base = std::filesystem::path(list).parent_path().string();
        if (!mkbin::parse_record_list(text, base, &file->records, &error)) return fail_file(list + ": " + error);
    }
    file->end_record = !o.no_end;
    file->end_length = o.end_length;
    if (o.order) {
        std::vector<size_t> order;
        if (!parse_order(*o.order, &order)) return fail("--order takes record indices: 2,0,1");
        file->order = order;
    } else if (o.reverse) {
        std::vector<size_t> order;
        for (size_t i = file->records.size(); i > 0; --i) order.push_back(i - 1);
        file->order = order;
    }
    if (o.truncate) file->truncate = *o.truncate;
    for (const mkbin::Record& r : file->records)
        if (!r.raw && !r.end && r.address == 0 && r.checksum.value_or(mkbin::byte_sum(r.data)) == 0)
            std::fprintf(stderr, "mkbin: warning: the record at address 0 has the sum 0 and reads as the end record\n");
    return 0;
}

void list_records(const mkbin::BinFile& file, size_t bytes, const std::string& output) {
    std::printf("start %s length %s\n", sim::hex(file.image_start).c_str(), sim::hex(file.image_length).c_str());
    for (const mkbin::Record& r : file.records) {
        if (r.raw)
            std::printf("raw %zu bytes\n", r.data.size());
        else if (r.end)
            std::printf("end length %s\n", sim::hex(r.length.value_or(0)).c_str());
        else
            std::printf("record %s length %s\n", sim::hex(r.address).c_str(), sim::hex(r.data.size()).c_str());
    }
    std::printf("%zu bytes written to %s\n", bytes, output.c_str());
}

int build(Options& o) {
    mkbin::MemoryImage image;
    // Bytes placed so far, against the limit of what mkbin builds.
    uint64_t placed = o.fill ? o.length.value_or(0) : 0;
    mkbin::BinFile file;
    if (int status = check_placement(o)) return status;
    if (int status = place_fill(o, image)) return status;
    if (int status = place_data(o, image, &placed)) return status;
    if (int status = place_pieces(o, image, placed)) return status;
    if (int status = place_rom_headers(o, image)) return status;
    if (int status = make_file(o, image, &file)) return status;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!mkbin::write_bin(file, &bytes, &error)) return fail(error);
    if (!write_output_file(o.output, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           &error))
        return fail_file(error);
    if (o.verbose) list_records(file, bytes.size(), o.output);
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app(kAbout, "mkbin");
    cli::prepare(app);
    cli::set_exit_statuses(app,
                           "0 done (--info: the image is whole), 1 --info: the image is damaged, 2 the command line "
                           "was wrong or a file cannot be read or written");
    Options options;
    add_options(app, &options);
    cli::add_generate(app);
    if (argc == 1) {
        std::fputs(app.help().c_str(), stderr);
        return cli::kUsage;
    }
    if (int status = cli::parse(app, argc, argv); status >= 0) return status;
    if (!options.info.empty()) return show_info(options.info);
    return build(options);
}

}  // namespace

int main(int argc, char** argv) {
    return cli::run_guarded("mkbin", [&] { return run(argc, argv); });
}
