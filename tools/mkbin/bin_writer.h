// Building Windows CE binary image files (".bin"): a sparse memory image of
// placed bytes, the realistic pieces a module's flash images carry (ROM
// header and table of contents, compressed-image header, bootloader version
// record, the older text banner, configuration block), the records cut from
// the memory image, and the file itself with the deliberate faults tests ask
// for (wrong sums, no end record, reordered records, a cut-off file).
// A reader of the format sits beside the writer so images can be checked.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mkbin {

inline constexpr uint32_t kRomSignature = 0x43454345;  // "ECEC" at image offset 0x40
inline constexpr uint32_t kRomSignatureOffset = 0x40;
inline constexpr uint32_t kRomHeaderSize = 84;
inline constexpr uint32_t kTocEntrySize = 32;
inline constexpr uint32_t kCompressedMagic = 0x504D4F43;  // "COMP"
inline constexpr uint32_t kCompressedHeaderSize = 20;
inline constexpr uint32_t kVersionStartMarker = 0x01234567;
inline constexpr uint32_t kVersionEndMarker = 0x89ABCDEF;
inline constexpr uint32_t kConfigBlockMagic = 0xCF014000;
inline constexpr char kBannerPrefix[] = "Microsoft Windows CE Ethernet Bootloader ";
inline constexpr size_t kBannerPrefixLength = sizeof(kBannerPrefix) - 1;  // 41
inline constexpr char kSignature[] = "B000FF\n";
inline constexpr size_t kSignatureLength = 7;
inline constexpr size_t kFileHeaderSize = 15;
inline constexpr size_t kRecordHeadSize = 12;

// Byte sum of a record's data, wrapping modulo 2^32.
uint32_t byte_sum(std::span<const uint8_t> data);

// The most bytes mkbin places in an image (fill, data files and
// configuration block together) or reads from one file: the largest flash a
// module carries, 1 GiB. Header fields (--length without --fill, lengths in
// records) are plain 32-bit numbers.
inline constexpr uint64_t kMaxImageBytes = 1ull << 30;

// Unsigned number in decimal or 0x hex, fitting 32 bits.
bool parse_u32(const std::string& text, uint32_t* value);

// The bytes of a file (not a directory) of at most max bytes; false with a reason.
bool read_input_file(const std::string& path, uint64_t max, std::vector<uint8_t>* out, std::string* error);

// "YYYY-MM-DD HH:MM:SS" (UTC) as a FILETIME: 100 ns intervals since 1601-01-01.
bool filetime_from_text(const std::string& text, uint64_t* filetime);

// The fill pattern's byte at an image offset: neighbouring bytes always
// differ, so no aligned word of it reads 0xFFFFFFFF (erased flash).
uint8_t pattern_byte(uint32_t offset);

void put_le32(std::vector<uint8_t>& out, uint32_t value);
void set_le32(uint8_t* at, uint32_t value);
uint32_t get_le32(const uint8_t* at);

// Bytes placed at 32-bit addresses. A later placement overwrites the bytes
// of an earlier one where they overlap; touching pieces merge.
class MemoryImage {
public:
    void put(uint32_t address, std::span<const uint8_t> bytes);
    void put_word(uint32_t address, uint32_t value);
    // Contiguous runs of placed bytes in ascending address order.
    const std::map<uint32_t, std::vector<uint8_t>>& segments() const { return segments_; }
    bool empty() const { return segments_.empty(); }
    // One past the highest placed byte (64-bit: an image may end at 2^32).
    uint64_t end() const;

private:
    std::map<uint32_t, std::vector<uint8_t>> segments_;
};

// The Windows CE ROM image headers: signature, TOC pointer and TOC offset at
// image offset 0x40, the 84-byte ROMHDR at the TOC offset and the first
// table-of-contents entry right after it, stamped with the build time.
struct RomHeaderSpec {
    uint32_t image_address = 0;   // where the image's first byte is linked
    uint32_t toc_offset = 0x200;  // ROMHDR offset from the image's first byte
    uint32_t physfirst = 0;
    uint32_t physlast = 0;
    std::optional<uint32_t> toc_pointer;  // default physfirst + toc_offset (consistent)
    uint64_t build_filetime = 0;
    uint32_t module_size = 0;  // nFileSize of the first entry
};
void add_rom_headers(MemoryImage& image, const RomHeaderSpec& spec);

// Compressed image header: "COMP", 0, size, 0, 0.
void add_compressed_header(MemoryImage& image, uint32_t address, uint32_t size);

struct VersionSpec {
    uint32_t board_id = 0;
    uint32_t major = 0;
    uint32_t minor = 0;  // 0..65535
    uint32_t beta = 0;   // 0..65535, 0 for a release
};
// "ID.MAJOR.MINOR[.BETA]"
bool parse_version_spec(const std::string& text, VersionSpec* spec);
// The 20-byte record: start marker, board id, major, minor | beta << 16, end marker.
void add_version_record(MemoryImage& image, uint32_t address, const VersionSpec& spec);

// The banner prefix followed by the text, single-byte characters, ending in a zero byte.
void add_banner(MemoryImage& image, uint32_t address, const std::string& text);

// size bytes starting with the configuration block magic, every word of them
// other than 0xFFFFFFFF, then one erased word 0xFFFFFFFF that ends the block.
// size must be a nonzero multiple of 4.
bool add_config_block(MemoryImage& image, uint32_t address, uint32_t size);

struct Record {
    uint32_t address = 0;
    std::vector<uint8_t> data;
    std::optional<uint32_t> checksum;  // default: the data's byte sum
    std::optional<uint32_t> length;    // default: the data's size (a lie when set)
    bool end = false;                  // an end record: address 0, checksum 0, length field
    bool raw = false;                  // data goes into the file as it is, no record head
};

// Records for the image's segments, each cut into pieces of at most
// record_size bytes (0: one record per segment).
std::vector<Record> records_from_image(const MemoryImage& image, uint32_t record_size);

// A text list of records, one per line; '#' starts a comment:
//   ADDR HEX|@FILE|- [sum=N] [len=N]   a record (hex bytes, a file's bytes, or no data)
//   end [N]                            an end record with length field N (default 0)
//   raw HEX                            bytes written as they are, no record head
// Files are found relative to base_dir.
bool parse_record_list(const std::string& text, const std::string& base_dir, std::vector<Record>* records,
                       std::string* error);

struct BinFile {
    uint32_t image_start = 0;
    uint32_t image_length = 0;
    std::vector<Record> records;
    bool end_record = true;                    // append the end record after the records
    uint32_t end_length = 0;                   // the end record's length field
    std::optional<std::vector<size_t>> order;  // record indices to write, in this order
    std::optional<size_t> truncate;            // keep only this many bytes of the file
};

// The file's bytes; false when the order names a record that does not exist.
bool write_bin(const BinFile& file, std::vector<uint8_t>* out, std::string* error);

// What a reader sees in a file.
struct ParsedRecord {
    uint32_t address;
    uint32_t length;
    uint32_t checksum;
    size_t data_offset;  // position of the data in the file
    bool sum_matches;
};
struct ParsedBin {
    uint32_t image_start = 0;
    uint32_t image_length = 0;
    std::vector<ParsedRecord> records;  // the end record not included
    bool has_end = false;
    uint32_t end_length = 0;
    size_t trailing_bytes = 0;  // after the end record
};
// False with a reason for a bad signature, a cut-off header, head or data,
// or a missing end record; records read before the fault are kept.
bool parse_bin(std::span<const uint8_t> file, ParsedBin* parsed, std::string* error);

}  // namespace mkbin
