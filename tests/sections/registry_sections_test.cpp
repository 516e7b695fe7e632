// Registry and FileSystem sections: configuration item 5 and the NOR flash
// driver's registry keys.
#include <gtest/gtest.h>

#include "tests/sections/section_fixture.h"
#include "update/section_map.h"

namespace sections_test {
namespace {

struct RegistryCase {
    const char* name;
    std::vector<std::string> overrides;
    uint32_t start, length;
};

// Before detection the entry holds 0x1230000 / 0x4560000, so kept values show.
const RegistryCase kRegistryCases[] = {
    {"profile's item", {}, 0x1400000, 0x80000},
    {"other layout", {"hal.item5=[0x80000, 0x2000000, 0x100000, 0, 0, 0]"}, 0x2000000, 0x200000},
    {"length doubles modulo 2^32", {"hal.item5=[0, 0x100, 0x80000001, 0, 0, 0]"}, 0x100, 0x2},
    {"just the three words", {"hal.item5=[0, 0x3000000, 0x40000]"}, 0x3000000, 0x80000},
    {"no item", {"-hal.item5"}, 0x1230000, 0x4560000},
    {"item too short for words 1 and 2", {"hal.item5=[0x80000, 0x2000000]"}, 0x1230000, 0x4560000},
};

class RegistrySection : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistrySection, FromConfigurationItem5) {
    const RegistryCase& c = GetParam();
    SectionFixture f(c.overrides);
    SectionMap[kSectionRegistry].start = 0x1230000;
    SectionMap[kSectionRegistry].length = 0x4560000;
    EXPECT_TRUE(DetectSectionMap());
    EXPECT_EQ(SectionMap[kSectionRegistry].start, c.start);
    EXPECT_EQ(SectionMap[kSectionRegistry].length, c.length);
    EXPECT_EQ(SectionMap[kSectionRegistry].flags, 0u);
}

INSTANTIATE_TEST_SUITE_P(Items, RegistrySection, ::testing::ValuesIn(kRegistryCases),
                         CaseName<RegistrySection::ParamType>);

#define BUILTIN "registry.Drivers\\BuiltIn\\StrataFMD."
#define BLOCKDEV "registry.Drivers\\BlockDevice\\StrataFMD."

struct FileSystemCase {
    const char* name;
    std::vector<std::string> overrides;
    uint32_t start, length;
};

// clang-format off
const FileSystemCase kFileSystemCases[] = {
    {"no driver keys", {}, 0x14800000, 0x0B800000},
    {"built-in driver", {BUILTIN "MemBase=0x2000000", BUILTIN "MemLen=0x6000000"}, 0x2000000, 0x6000000},
    {"block device driver", {BLOCKDEV "MemBase=0x1800000", BLOCKDEV "MemLen=0x800000"}, 0x1800000, 0x800000},
    {"built-in wins",
     {BUILTIN "MemBase=0x2000000", BUILTIN "MemLen=0x6000000", BLOCKDEV "MemBase=0x1800000",
      BLOCKDEV "MemLen=0x800000"},
     0x2000000,
     0x6000000},
    {"base only", {BUILTIN "MemBase=0x2000000"}, 0x2000000, 0x0B800000},
    {"length only", {BUILTIN "MemLen=0x100000"}, 0x14800000, 0x100000},
    {"a text value does not fit the field", {BUILTIN "MemBase=\"0x2000000\"", BUILTIN "MemLen=0x100000"},
     0x14800000, 0x100000},
    {"key exists with other values only", {BUILTIN "Prefix=\"DSK\""}, 0x14800000, 0x0B800000},
};
// clang-format on

class FileSystemSection : public ::testing::TestWithParam<FileSystemCase> {};

TEST_P(FileSystemSection, FromTheFlashDriversKeys) {
    const FileSystemCase& c = GetParam();
    SectionFixture f(c.overrides);
    EXPECT_TRUE(DetectSectionMap());
    EXPECT_EQ(SectionMap[kSectionFileSystem].start, c.start);
    EXPECT_EQ(SectionMap[kSectionFileSystem].length, c.length);
}

INSTANTIATE_TEST_SUITE_P(Keys, FileSystemSection, ::testing::ValuesIn(kFileSystemCases),
                         CaseName<FileSystemSection::ParamType>);

}  // namespace
}  // namespace sections_test
