#include "tools/mkbin/bin_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "module/hex_text.h"
#include "tools/common/numbers.h"

namespace mkbin {

uint32_t byte_sum(std::span<const uint8_t> data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    return sum;
}

bool parse_u32(const std::string& text, uint32_t* value) {
    uint64_t v;
    if (!cli::parse_number(text, &v, 0xFFFFFFFF)) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
static int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

bool filetime_from_text(const std::string& text, uint64_t* filetime) {
    int year, month, day, hour, minute, second;
    char tail;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6)
        return false;
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return false;
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int days_in_month = kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > days_in_month) return false;
    // 1601-01-01 lies 134774 days before 1970-01-01.
    int64_t days = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + 134774;
    uint64_t seconds = static_cast<uint64_t>(days) * 86400u + static_cast<uint64_t>(hour) * 3600u +
                       static_cast<uint64_t>(minute) * 60u + static_cast<uint64_t>(second);
    *filetime = seconds * 10000000u;
    return true;
}

uint8_t pattern_byte(uint32_t offset) {
    return static_cast<uint8_t>(offset ^ (offset >> 8) ^ (offset >> 16) ^ (offset >> 24));
}

void put_le32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void set_le32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

void MemoryImage::put(uint32_t address, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    // Bytes past the top of the 32-bit address space are not placeable.
    uint64_t new_end = std::min<uint64_t>(static_cast<uint64_t>(address) + bytes.size(), 1ull << 32);
    bytes = bytes.first(static_cast<size_t>(new_end - address));

    // Every segment that overlaps or touches [address, new_end) merges with it.
    auto first = segments_.upper_bound(address);
    if (first != segments_.begin()) {
        auto previous = std::prev(first);
        if (previous->first + static_cast<uint64_t>(previous->second.size()) >= address) first = previous;
    }
    auto last = first;
    uint64_t merged_start = address;
    uint64_t merged_end = new_end;
    while (last != segments_.end() && last->first <= new_end) {
        merged_start = std::min<uint64_t>(merged_start, last->first);
        merged_end = std::max<uint64_t>(merged_end, last->first + static_cast<uint64_t>(last->second.size()));
        ++last;
    }
    std::vector<uint8_t> merged(static_cast<size_t>(merged_end - merged_start));
    for (auto it = first; it != last; ++it)
        std::copy(it->second.begin(), it->second.end(), merged.begin() + (it->first - merged_start));
    std::copy(bytes.begin(), bytes.end(), merged.begin() + (address - merged_start));
    segments_.erase(first, last);
    segments_.emplace(static_cast<uint32_t>(merged_start), std::move(merged));
}

void MemoryImage::put_word(uint32_t address, uint32_t value) {
    uint8_t bytes[4];
    set_le32(bytes, value);
    put(address, bytes);
}

uint64_t MemoryImage::end() const {
    if (segments_.empty()) return 0;
    const auto& last = *segments_.rbegin();
    return last.first + static_cast<uint64_t>(last.second.size());
}

void add_rom_headers(MemoryImage& image, const RomHeaderSpec& spec) {
    std::vector<uint8_t> pointer_block;
    put_le32(pointer_block, kRomSignature);
    put_le32(pointer_block, spec.toc_pointer.value_or(spec.physfirst + spec.toc_offset));
    put_le32(pointer_block, spec.toc_offset);
    image.put(spec.image_address + kRomSignatureOffset, pointer_block);

    // ROMHDR: dllfirst, dlllast, physfirst, physlast, nummods, RAM start/free/end,
    // copy entries/offset, profile length/offset, numfiles, kernel flags,
    // FS RAM percent, driver globals start/length, CPU type | misc flags,
    // extensions, tracking start/length.
    std::vector<uint8_t> header;
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, spec.physfirst);
    put_le32(header, spec.physlast);
    put_le32(header, 1);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0x01C2);  // ARM processor type, no misc flags
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    // First table-of-contents entry: attributes, FILETIME (low, high), size,
    // name pointer, E32, O32 and load offsets.
    put_le32(header, 0x07);
    put_le32(header, static_cast<uint32_t>(spec.build_filetime));
    put_le32(header, static_cast<uint32_t>(spec.build_filetime >> 32));
    put_le32(header, spec.module_size);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    put_le32(header, 0);
    image.put(spec.image_address + spec.toc_offset, header);
}

void add_compressed_header(MemoryImage& image, uint32_t address, uint32_t size) {
    std::vector<uint8_t> header;
    put_le32(header, kCompressedMagic);
    put_le32(header, 0);
    put_le32(header, size);
    put_le32(header, 0);
    put_le32(header, 0);
    image.put(address, header);
}

bool parse_version_spec(const std::string& text, VersionSpec* spec) {
    std::vector<uint32_t> parts;
    size_t begin = 0;
    while (true) {
        size_t dot = text.find('.', begin);
        uint32_t value;
        if (!parse_u32(text.substr(begin, dot == std::string::npos ? std::string::npos : dot - begin), &value))
            return false;
        parts.push_back(value);
        if (dot == std::string::npos) break;
        begin = dot + 1;
    }
    if (parts.size() < 3 || parts.size() > 4) return false;
    if (parts[2] > 0xFFFF || (parts.size() == 4 && parts[3] > 0xFFFF)) return false;
    spec->board_id = parts[0];
    spec->major = parts[1];
    spec->minor = parts[2];
    spec->beta = parts.size() == 4 ? parts[3] : 0;
    return true;
}

void add_version_record(MemoryImage& image, uint32_t address, const VersionSpec& spec) {
    std::vector<uint8_t> record;
    put_le32(record, kVersionStartMarker);
    put_le32(record, spec.board_id);
    put_le32(record, spec.major);
    put_le32(record, (spec.minor & 0xFFFF) | spec.beta << 16);
    put_le32(record, kVersionEndMarker);
    image.put(address, record);
}

void add_banner(MemoryImage& image, uint32_t address, const std::string& text) {
    std::vector<uint8_t> bytes(kBannerPrefix, kBannerPrefix + kBannerPrefixLength);
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    image.put(address, bytes);
}

bool add_config_block(MemoryImage& image, uint32_t address, uint32_t size) {
    if (size == 0 || size % 4 != 0) return false;
    std::vector<uint8_t> block;
    block.reserve(size + 4);
    put_le32(block, kConfigBlockMagic);
    // Settings words: never all ones, so only the closing word reads erased.
    for (uint32_t word = 1; word < size / 4; ++word) put_le32(block, 0x00C00000u | (word & 0xFFFFu));
    put_le32(block, 0xFFFFFFFF);
    image.put(address, block);
    return true;
}

std::vector<Record> records_from_image(const MemoryImage& image, uint32_t record_size) {
    std::vector<Record> records;
    for (const auto& [address, bytes] : image.segments()) {
        size_t piece = record_size == 0 ? bytes.size() : record_size;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            Record record;
            record.address = address + static_cast<uint32_t>(at);
            size_t count = std::min(piece, bytes.size() - at);
            record.data.assign(bytes.begin() + at, bytes.begin() + at + count);
            records.push_back(std::move(record));
        }
    }
    return records;
}

static bool parse_hex_bytes(const std::string& text, std::vector<uint8_t>* out) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint32_t value;
        if (!parse_u32("0x" + text.substr(i, 2), &value)) return false;
        out->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

bool read_input_file(const std::string& path, uint64_t max, std::vector<uint8_t>* out, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = path + " is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out->clear();
    // Read in pieces: pipes and devices have no size to check beforehand.
    std::vector<char> piece(1 << 20);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        out->insert(out->end(), piece.begin(), piece.begin() + in.gcount());
        if (out->size() > max) {
            *error = path + " is larger than " + std::to_string(max >> 20) + " MiB";
            return false;
        }
    }
    if (in.bad() || !in.eof()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

bool parse_record_list(const std::string& text, const std::string& base_dir, std::vector<Record>* records,
                       std::string* error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        *error = "record list line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) tokens.push_back(token);
        if (tokens.empty()) continue;

        Record record;
        if (tokens[0] == "end") {
            record.end = true;
            uint32_t length = 0;
            if (tokens.size() > 2 || (tokens.size() == 2 && !parse_u32(tokens[1], &length)))
                return fail("expected: end [LENGTH]");
            record.length = length;
        } else if (tokens[0] == "raw") {
            record.raw = true;
            if (tokens.size() != 2 || !parse_hex_bytes(tokens[1], &record.data)) return fail("expected: raw HEXBYTES");
        } else {
            if (tokens.size() < 2) return fail("expected: ADDRESS DATA [sum=N] [len=N]");
            if (!parse_u32(tokens[0], &record.address)) return fail("bad address '" + tokens[0] + "'");
            const std::string& data = tokens[1];
            if (data == "-") {
                // a record without data
            } else if (data[0] == '@') {
                std::string path = data.substr(1);
                if (!path.empty() && path[0] != '/' && !base_dir.empty()) path = base_dir + "/" + path;
                std::string why;
                if (!read_input_file(path, kMaxImageBytes, &record.data, &why)) return fail(why);
            } else if (!parse_hex_bytes(data, &record.data)) {
                return fail("bad hex data '" + data + "'");
            }
            for (size_t i = 2; i < tokens.size(); ++i) {
                uint32_t value;
                const std::string& option = tokens[i];
                if (option.rfind("sum=", 0) == 0 && parse_u32(option.substr(4), &value))
                    record.checksum = value;
                else if (option.rfind("len=", 0) == 0 && parse_u32(option.substr(4), &value))
                    record.length = value;
                else
                    return fail("unknown field '" + option + "'");
            }
        }
        records->push_back(std::move(record));
    }
    return true;
}

static void append_record(std::vector<uint8_t>& out, const Record& record) {
    if (record.raw) {
        out.insert(out.end(), record.data.begin(), record.data.end());
        return;
    }
    if (record.end) {
        put_le32(out, 0);
        put_le32(out, record.length.value_or(0));
        put_le32(out, 0);
        return;
    }
    put_le32(out, record.address);
    put_le32(out, record.length.value_or(static_cast<uint32_t>(record.data.size())));
    put_le32(out, record.checksum.value_or(byte_sum(record.data)));
    out.insert(out.end(), record.data.begin(), record.data.end());
}

bool write_bin(const BinFile& file, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    out->insert(out->end(), kSignature, kSignature + kSignatureLength);
    put_le32(*out, file.image_start);
    put_le32(*out, file.image_length);
    if (file.order) {
        for (size_t index : *file.order) {
            if (index >= file.records.size()) {
                *error =
                    "record order names record " + std::to_string(index) + " of " + std::to_string(file.records.size());
                return false;
            }
            append_record(*out, file.records[index]);
        }
    } else {
        for (const Record& record : file.records) append_record(*out, record);
    }
    if (file.end_record) {
        Record end;
        end.end = true;
        end.length = file.end_length;
        append_record(*out, end);
    }
    if (file.truncate && *file.truncate < out->size()) out->resize(*file.truncate);
    return true;
}

bool parse_bin(std::span<const uint8_t> file, ParsedBin* parsed, std::string* error) {
    *parsed = ParsedBin();
    if (file.size() < kSignatureLength || !std::equal(kSignature, kSignature + kSignatureLength, file.begin())) {
        *error = "not a Windows CE binary image (signature)";
        return false;
    }
    if (file.size() < kFileHeaderSize) {
        *error = "file ends inside the image start or length";
        return false;
    }
    parsed->image_start = get_le32(&file[7]);
    parsed->image_length = get_le32(&file[11]);
    size_t at = kFileHeaderSize;
    while (true) {
        if (file.size() - at < kRecordHeadSize) {
            *error = "file ends inside a record head (offset " + std::to_string(at) + ")";
            return false;
        }
        uint32_t address = get_le32(&file[at]);
        uint32_t length = get_le32(&file[at + 4]);
        uint32_t checksum = get_le32(&file[at + 8]);
        at += kRecordHeadSize;
        if (address == 0 && checksum == 0) {
            parsed->has_end = true;
            parsed->end_length = length;
            parsed->trailing_bytes = file.size() - at;
            return true;
        }
        if (file.size() - at < length) {
            *error = "file ends inside the data of the record at " + sim::hex(address);
            return false;
        }
        uint32_t sum = byte_sum(file.subspan(at, length));
        parsed->records.push_back({address, length, checksum, at, sum == checksum});
        at += length;
    }
}

}  // namespace mkbin
