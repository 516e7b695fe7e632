#include "tools/common/image_verify.h"

#include <cstdio>
#include <fstream>

#include "module/hal/config_items.h"
#include "module/hex_text.h"
#include "tools/mkbin/bin_writer.h"

namespace {

constexpr uint32_t kDefaultImagePlace = 0x80000;
constexpr uint64_t kChunk = 1 << 20;

}  // namespace

uint32_t board_image_place(const std::filesystem::path& dir, const sim::Config& profile) {
    std::vector<uint8_t> item;
    if (!sim::hal::read_config_item(dir, profile, 5, &item) || item.empty()) return kDefaultImagePlace;
    uint32_t word = 0;
    for (size_t i = 0; i < 4 && i < item.size(); ++i) word |= uint32_t{item[i]} << (8 * i);
    return word;
}

uint32_t image_address_bias(uint32_t s, uint32_t image_place) {
    if (s >= 0xBCA00000u && s <= 0xBFFFFFFEu) return 0u - s;
    if ((s >= 0xA0000000u && s < 0xBCA00000u) || (s >= 0x80000000u && s < 0x9CA00000u)) return image_place - s;
    return 0;
}

std::string VerifyResult::summary() const {
    std::string counts = std::to_string(records) + (records == 1 ? " record" : " records");
    std::string text = matches() ? "matches: " + counts + ", " + sim::hex(bytes, 0) + " bytes"
                                 : "differs at " + sim::hex(first_difference.value_or(0)) + ": " +
                                       sim::hex(differing, 0) + " of " + sim::hex(bytes, 0) + " bytes in " + counts;
    // The bytes are compared as stored; a reader with ECC would meet these.
    if (page_problems.empty()) return text;
    size_t uncorrectable = 0;
    for (const sim::PageProblem& p : page_problems) uncorrectable += p.uncorrectable;
    return text + "; " + std::to_string(page_problems.size()) + (page_problems.size() == 1 ? " page" : " pages") +
           " with ECC errors, " + std::to_string(uncorrectable) + " uncorrectable";
}

bool read_image(const std::filesystem::path& image, std::vector<uint8_t>* file, mkbin::ParsedBin* bin,
                std::string* error) {
    std::ifstream f(image, std::ios::binary | std::ios::ate);
    std::error_code ec;
    if (!f || std::filesystem::is_directory(image, ec)) {
        *error = "cannot read " + image.string();
        return false;
    }
    // One read of the whole file: images run to tens of MiB.
    const std::streamoff size = f.tellg();
    file->resize(size > 0 ? static_cast<size_t>(size) : 0);
    f.seekg(0);
    if (size < 0 || !f.read(reinterpret_cast<char*>(file->data()), static_cast<std::streamsize>(file->size()))) {
        *error = "cannot read " + image.string();
        return false;
    }
    if (!mkbin::parse_bin(*file, bin, error)) {
        *error = image.string() + ": " + *error;
        return false;
    }
    return true;
}

bool image_flash_ranges(const std::filesystem::path& module_dir, const std::filesystem::path& image,
                        std::vector<std::pair<uint64_t, uint64_t>>* ranges, std::string* error) {
    sim::Config profile;
    if (!profile.load((module_dir / "module.toml").string(), error)) return false;
    std::vector<uint8_t> file;
    mkbin::ParsedBin bin;
    if (!read_image(image, &file, &bin, error)) return false;
    uint32_t bias = image_address_bias(bin.image_start, board_image_place(module_dir, profile));
    for (const mkbin::ParsedRecord& r : bin.records) {
        uint64_t start = static_cast<uint32_t>(r.address + bias);
        if (!ranges->empty() && ranges->back().second == start)
            ranges->back().second += r.length;
        else
            ranges->emplace_back(start, start + r.length);
    }
    return true;
}

bool verify_image(const std::filesystem::path& module_dir, const std::filesystem::path& image, VerifyResult* result,
                  std::string* error, const std::function<void(uint64_t, uint64_t)>& progress) {
    *result = VerifyResult();
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(module_dir, error);
    if (!view) return false;
    std::vector<uint8_t> file;
    mkbin::ParsedBin bin;
    if (!read_image(image, &file, &bin, error)) return false;
    for (const mkbin::ParsedRecord& r : bin.records) {
        if (!r.sum_matches) {
            *error = image.string() + ": the record at " + sim::hex(r.address) + " does not match its checksum";
            return false;
        }
        result->bytes += r.length;
    }
    result->bias = image_address_bias(bin.image_start, board_image_place(module_dir, view->profile()));
    result->records = bin.records.size();

    uint64_t done = 0;
    if (progress) progress(0, result->bytes);
    std::vector<uint8_t> flash;
    auto differ = [result](uint64_t at, uint64_t count) {
        result->differing += count;
        if (!result->first_difference || at < *result->first_difference) result->first_difference = at;
    };
    for (const mkbin::ParsedRecord& r : bin.records) {
        const uint64_t start = static_cast<uint32_t>(r.address + result->bias);
        for (uint64_t at = 0; at < r.length; at += kChunk) {
            uint64_t n = std::min<uint64_t>(kChunk, r.length - at), offset = start + at;
            // Bytes beyond the end of the flash cannot hold the record.
            uint64_t inside = offset >= view->size() ? 0 : std::min(n, view->size() - offset);
            flash.resize(inside);
            if (inside && !view->read(offset, inside, flash.data(), error)) return false;
            const uint8_t* wanted = &file[r.data_offset + at];
            for (uint64_t i = 0; i < inside; ++i)
                if (flash[i] != wanted[i]) differ(offset + i, 1);
            if (inside < n) differ(offset + inside, n - inside);
            done += n;
            if (progress) progress(done, result->bytes);
        }
    }
    result->page_problems = view->page_problems();
    return true;
}
