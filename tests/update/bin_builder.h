// Builds Windows CE .bin images for the tests: signature, image start and
// length, records, end record; or any broken variant of them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace update_tests {

class BinBuilder {
public:
    // Signature, image start and image length.
    BinBuilder(uint32_t image_start, uint32_t image_length);
    // A record whose checksum matches its data.
    BinBuilder& record(uint32_t address, const std::vector<uint8_t>& data);
    BinBuilder& record_with_checksum(uint32_t address, const std::vector<uint8_t>& data, uint32_t checksum);
    BinBuilder& end(uint32_t length_field = 0);
    BinBuilder& raw(const std::vector<uint8_t>& bytes);
    BinBuilder& word(uint32_t value);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Deterministic bytes that differ from erased flash and from each other.
std::vector<uint8_t> pattern(std::size_t count, uint32_t seed);
std::vector<uint8_t> signature_bytes();

}  // namespace update_tests
