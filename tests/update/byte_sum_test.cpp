#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/image_file.h"

namespace {

struct SumCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t expected;
};

std::vector<uint8_t> repeated(size_t count, uint8_t value) { return std::vector<uint8_t>(count, value); }

TEST(ByteSum, MatchesKnownSums) {
    const SumCase cases[] = {
        {"no bytes", {}, 0},
        {"abc", {0x61, 0x62, 0x63}, 0x126},
        {"bytes are unsigned", {0x80, 0xFF}, 0x17F},
        {"one full page of 0xFF", repeated(256, 0xFF), 0xFF00},
        // 255 x 0x1010102 = 2^32 + 254: the sum wraps.
        {"wraps modulo 2^32", repeated(0x1010102, 0xFF), 0xFE},
    };
    for (const SumCase& c : cases) {
        EXPECT_EQ(ByteSum(c.bytes.data(), static_cast<DWORD>(c.bytes.size())), c.expected) << c.name;
    }
}

TEST(ByteSum, CountLimitsTheBytesSummed) {
    const BYTE bytes[] = {1, 2, 3, 200};
    EXPECT_EQ(ByteSum(bytes, 0), 0u);
    EXPECT_EQ(ByteSum(bytes, 3), 6u);
    EXPECT_EQ(ByteSum(bytes, 4), 206u);
}

}  // namespace
