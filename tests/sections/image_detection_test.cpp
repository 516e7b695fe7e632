// Images in flash as the section map finds them: ROM images and compressed
// images at the bootloader's and the operating system's places.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "tests/sections/section_fixture.h"
#include "update/section_map.h"

namespace sections_test {
namespace {

struct Placement {
    enum Kind { kRom, kCompressed, kBrokenRom } kind;
    uint32_t offset;
    uint32_t size;
};

struct Expected {
    uint32_t start, used, length;
};

struct DetectionCase {
    const char* name;
    std::vector<Placement> placements;
    Expected bootloader;
    Expected image;
};

void Place(SectionFixture& f, const Placement& p) {
    switch (p.kind) {
        case Placement::kRom: f.place_rom_image(p.offset, p.size); break;
        case Placement::kCompressed: f.place_compressed_image(p.offset, p.size); break;
        case Placement::kBrokenRom:
            // Signature and ROMHDR, but a TOC pointer that does not lead back to physfirst.
            f.place_rom_image(p.offset, p.size);
            f.poke_word(p.offset + 0x44, 0x12345678);
            break;
    }
}

// clang-format off
const DetectionCase kDetectionCases[] = {
    {"erased flash", {}, {0, 0, 0}, {0xC8000, 0, 0}},
    {"bootloader at 0", {{Placement::kRom, 0, 0x30000}}, {0, 0x30000, 0x40000}, {0xC8000, 0, 0}},
    {"bootloader only at 0x8000", {{Placement::kRom, 0x8000, 0x6000}}, {0, 0xE000, 0x40000}, {0xC8000, 0, 0}},
    {"image at 0 wins over 0x8000",
     {{Placement::kRom, 0, 0x1000}, {Placement::kRom, 0x8000, 0x6000}},
     {0, 0x1000, 0x40000},
     {0xC8000, 0, 0}},
    {"compressed bootloader", {{Placement::kCompressed, 0, 0x40001}}, {0, 0x40001, 0x80000}, {0xC8000, 0, 0}},
    {"image of exactly 256 KiB", {{Placement::kRom, 0x80000, 0x40000}}, {0, 0, 0}, {0x80000, 0x40000, 0x40000}},
    {"image one byte over", {{Placement::kRom, 0x80000, 0x40001}}, {0, 0, 0}, {0x80000, 0x40001, 0x80000}},
    {"image at 0xC8000", {{Placement::kRom, 0xC8000, 0x1234000}}, {0, 0, 0}, {0xC8000, 0x1234000, 0x1240000}},
    {"image at 0x80000 wins over 0xC8000",
     {{Placement::kRom, 0x80000, 0x10000}, {Placement::kRom, 0xC8000, 0x20000}},
     {0, 0, 0},
     {0x80000, 0x10000, 0x40000}},
    {"compressed image", {{Placement::kCompressed, 0x80000, 0x123456}}, {0, 0, 0}, {0x80000, 0x123456, 0x140000}},
    {"inconsistent ROM image is no image",
     {{Placement::kBrokenRom, 0x80000, 0x10000}},
     {0, 0, 0},
     {0xC8000, 0, 0}},
    {"inconsistent ROM image falls back to its compressed header",
     {{Placement::kBrokenRom, 0x80000, 0x10000}, {Placement::kCompressed, 0x80000, 0x50000}},
     {0, 0, 0},
     {0x80000, 0x50000, 0x80000}},
    {"all four places",
     {{Placement::kRom, 0, 0x7000},
      {Placement::kRom, 0x8000, 0x9000},
      {Placement::kRom, 0x80000, 0x48000},
      {Placement::kRom, 0xC8000, 0x1000}},
     {0, 0x7000, 0x40000},
     {0x80000, 0x48000, 0x80000}},
};
// clang-format on

class ImageDetection : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(ImageDetection, BootloaderAndImageSections) {
    const DetectionCase& c = GetParam();
    SectionFixture f;
    for (const Placement& p : c.placements) Place(f, p);
    EXPECT_TRUE(DetectSectionMap());

    const FlashSection& bootloader = SectionMap[kSectionBootloader];
    EXPECT_EQ(bootloader.start, c.bootloader.start);
    EXPECT_EQ(bootloader.used, c.bootloader.used);
    EXPECT_EQ(bootloader.length, c.bootloader.length);
    const FlashSection& image = SectionMap[kSectionImage];
    EXPECT_EQ(image.start, c.image.start);
    EXPECT_EQ(image.used, c.image.used);
    EXPECT_EQ(image.length, c.image.length);
    // Names and flags are never detected.
    EXPECT_EQ(std::u16string(bootloader.name), u"Bootloader");
    EXPECT_EQ(bootloader.flags, 3u);
    EXPECT_EQ(std::u16string(image.name), u"IMAGE");
}

INSTANTIATE_TEST_SUITE_P(Places, ImageDetection, ::testing::ValuesIn(kDetectionCases), CaseName<DetectionCase>);

TEST(FindImageHeader, GivesTheRomHeaderAndItsOffset) {
    SectionFixture f;
    f.place_rom_image(0x8000, 0x6000, 0x1F00);
    BYTE header[ROMHDR_SIZE];
    DWORD offset = 0;
    ASSERT_TRUE(FindImageHeader(0x8000, header, &offset));
    EXPECT_EQ(offset, 0x8000u + 0x1F00);
    EXPECT_EQ(mkbin::get_le32(header + 8), 0x80008000u);            // physfirst
    EXPECT_EQ(mkbin::get_le32(header + 12), 0x80008000u + 0x5FFC);  // physlast
    // No offset asked: still recognised.
    EXPECT_TRUE(FindImageHeader(0x8000, header, nullptr));
    EXPECT_EQ(ImageSizeAt(0x8000), 0x6000u);
}

TEST(FindImageHeader, InconsistentImageStillFillsTheRecord) {
    SectionFixture f;
    f.place_rom_image(0, 0x3000);
    f.poke_word(0x44, 0x80000204);  // TOC pointer 4 bytes off
    BYTE header[ROMHDR_SIZE] = {};
    DWORD offset = 0;
    EXPECT_FALSE(FindImageHeader(0, header, &offset));
    EXPECT_EQ(offset, 0x200u);
    EXPECT_EQ(mkbin::get_le32(header + 8), 0x80000000u);
    EXPECT_EQ(ImageSizeAt(0), 0u);
}

TEST(FindImageHeader, NoSignatureLeavesOffsetAlone) {
    SectionFixture f;
    f.place_rom_image(0, 0x3000);
    f.poke_word(0x40, 0x43454344);
    BYTE header[ROMHDR_SIZE];
    DWORD offset = 0xDEAD;
    EXPECT_FALSE(FindImageHeader(0, header, &offset));
    EXPECT_EQ(offset, 0xDEADu);
}

// A ROMHDR that lies past the end of the device cannot be read: no image, even
// where an all-zero header would have looked consistent (TOC pointer equal to
// the TOC offset, physfirst 0).
TEST(FindImageHeader, UnreadableHeaderIsNoImage) {
    SectionFixture f;
    ASSERT_EQ(FlashDeviceSize, 0x2000000u);
    std::vector<uint8_t> pointers;
    mkbin::put_le32(pointers, 0x43454345);
    mkbin::put_le32(pointers, 0x7000000);
    mkbin::put_le32(pointers, 0x7000000);
    f.poke(0x80040, pointers);
    BYTE header[ROMHDR_SIZE];
    memset(header, 0xAB, sizeof header);
    EXPECT_FALSE(FindImageHeader(0x80000, header, nullptr));
    EXPECT_EQ(ImageSizeAt(0x80000), 0u);
    DetectSectionMap();
    EXPECT_EQ(SectionMap[kSectionImage].start, 0xC8000u);
    EXPECT_EQ(SectionMap[kSectionImage].used, 0u);
}

// Without a flash back-end every read fails: nothing is found and nothing is erased.
TEST(DetectSectionMap, NoBackEndFindsNothing) {
    SectionFixture f({}, false);
    f.place_rom_image(0, 0x3000);
    f.place_config_block(0x88000, 0x100);
    EXPECT_TRUE(DetectSectionMap());
    EXPECT_EQ(SectionMap[kSectionBootloader].used, 0u);
    EXPECT_EQ(SectionMap[kSectionConfigBlock].start, 0x40000u);
    EXPECT_EQ(SectionMap[kSectionConfigBlock].length, 0u);
    EXPECT_EQ(SectionMap[kSectionImage].length, 0u);
    EXPECT_EQ(f.peek(0x40000, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace sections_test
