#include "tests/update/bin_builder.h"

namespace update_tests {

std::vector<uint8_t> signature_bytes() { return {'B', '0', '0', '0', 'F', 'F', '\n'}; }

BinBuilder::BinBuilder(uint32_t image_start, uint32_t image_length) : bytes_(signature_bytes()) {
    word(image_start);
    word(image_length);
}

BinBuilder& BinBuilder::word(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
}

BinBuilder& BinBuilder::raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

BinBuilder& BinBuilder::record(uint32_t address, const std::vector<uint8_t>& data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    return record_with_checksum(address, data, sum);
}

BinBuilder& BinBuilder::record_with_checksum(uint32_t address, const std::vector<uint8_t>& data, uint32_t checksum) {
    word(address);
    word(static_cast<uint32_t>(data.size()));
    word(checksum);
    return raw(data);
}

BinBuilder& BinBuilder::end(uint32_t length_field) {
    word(0);
    word(length_field);
    return word(0);
}

std::vector<uint8_t> pattern(std::size_t count, uint32_t seed) {
    std::vector<uint8_t> out(count);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Never 0xFF, so every byte shows in erased flash.
        out[i] = static_cast<uint8_t>(x % 255);
    }
    return out;
}

}  // namespace update_tests
