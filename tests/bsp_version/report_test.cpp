// The "BSP Version" message box, line by line, for the generations of
// bootloader in flash and for the running image's answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "app/bsp_version.h"
#include "module/observer.h"
#include "tests/bsp_version/bsp_fixture.h"

namespace bsp_test {
namespace {

const std::string kImageBlock =
    "\r\n\r\nImage (current running)\r\nID:\tFENNARO\r\nVer:\t2.7 \r\nBuilt:\t12 Mar 2007 10:20:30 (GMT)";

std::string BootloaderBlock(const std::string& id, const std::string& version, const std::string& built) {
    return "Bootloader (in Flash)\r\nID:\t" + id + "\r\nVer:\t" + version + "\r\nBuilt:\t" + built;
}

// Where the banner's text lands at the end of the 128 KiB copy (0x8000 .. 0x28000).
uint32_t BannerStartSoThat(const std::string& text, const std::string& part, uint32_t part_offset) {
    return part_offset - static_cast<uint32_t>(mkbin::kBannerPrefixLength + text.find(part));
}

const std::string kBannerText = "1.3 for Zantrel Fennaro Built Mar 12 2007";

struct BootloaderCase {
    const char* name;
    std::function<void(BspFixture&)> arrange;
    std::string block;
};

// clang-format off
const BootloaderCase kBootloaderCases[] = {
    {"beta record with image at 0",
     [](BspFixture& f) {
         f.place_bootloader_image(0, "2007-03-12 10:20:30");
         f.place_version_record(0x1000, 1, 2, 0x00030007);
     },
     BootloaderBlock("FENNARO", "2.7 BETA, Build 3", "12 Mar 2007 10:20:30 (GMT)")},
    {"release record with image at 0x8000",
     [](BspFixture& f) {
         f.place_bootloader_image(0x8000, "2008-11-05 23:59:59");
         f.place_version_record(0x9000, 1, 2, 7);
     },
     BootloaderBlock("FENNARO", "2.7 ", "05 Nov 2008 23:59:59 (GMT)")},
    {"record without image header",
     [](BspFixture& f) { f.place_version_record(0x100, 0, 1, 0); },
     BootloaderBlock("UNKNOWN", "1.0 ", "Unknown Date")},
    {"board 2 and the highest beta build",
     [](BspFixture& f) {
         f.place_bootloader_image(0, "2007-03-12 10:20:30");
         f.place_version_record(0x2000, 2, 5, 0xFFFF0001);
     },
     BootloaderBlock("UNKNOWN", "5.1 BETA, Build 65535", "12 Mar 2007 10:20:30 (GMT)")},
    {"older bootloader banner",
     [](BspFixture& f) { f.place_banner(0x9000, kBannerText); },
     BootloaderBlock("FENNARO", "1.3 ", "12 Mar 2007 0:00:00 (GMT)")},
    {"banner with lower-case month",
     [](BspFixture& f) { f.place_banner(0x9000, "1.3 for Zantrel Fennaro Built mar 12 2007"); },
     BootloaderBlock("FENNARO", "1.3 ", "0:00:00 (GMT)")},
    {"banner with full month name",
     [](BspFixture& f) { f.place_banner(0x9000, "1.3 for Zantrel Fennaro Built March 12 2007"); },
     BootloaderBlock("FENNARO", "1.3 ", "0:00:00 (GMT)")},
    {"banner with other text after the version",
     [](BspFixture& f) { f.place_banner(0x9000, "4.12 for Another Board Built Mar 12 2007"); },
     BootloaderBlock("FENNARO", "4.12 ", "0:00:00 (GMT)")},
    {"banner at the copy's first byte",
     [](BspFixture& f) { f.place_banner(0x8000, "2.0 for Zantrel Fennaro Built Dec 31 2006"); },
     BootloaderBlock("FENNARO", "2.0 ", "31 Dec 2006 0:00:00 (GMT)")},
    {"banner before the copy",
     [](BspFixture& f) { f.place_banner(0x7000, kBannerText); },
     BootloaderBlock("UNKNOWN", "0.0 ", "0:00:00 (GMT)")},
    // The year's digits go on past the copy: a year that was cut off counts as not read.
    {"banner whose year runs past the copy's end",
     [](BspFixture& f) {
         const std::string text = "1.3 for Zantrel Fennaro Built Mar 12 20071";
         f.place_banner(BannerStartSoThat(text, "20071", 0x28000 - 4), text);
     },
     BootloaderBlock("FENNARO", "1.3 ", "0:00:00 (GMT)")},
    {"banner ending at the copy's last byte",
     [](BspFixture& f) {
         f.place_banner(0x28000 - static_cast<uint32_t>(mkbin::kBannerPrefixLength), kBannerText);
     },
     BootloaderBlock("FENNARO", "0.0 ", "0:00:00 (GMT)")},
    {"banner prefix crossing the copy's end",
     [](BspFixture& f) { f.place_banner(0x27FE0, kBannerText); },
     BootloaderBlock("UNKNOWN", "0.0 ", "0:00:00 (GMT)")},
    {"record wins over banner",
     [](BspFixture& f) {
         f.place_banner(0x9000, kBannerText);
         f.place_version_record(0x3F000, 0, 3, 1);
     },
     BootloaderBlock("UNKNOWN", "3.1 ", "Unknown Date")},
    {"neither record nor banner", [](BspFixture&) {}, BootloaderBlock("UNKNOWN", "0.0 ", "0:00:00 (GMT)")},
};
// clang-format on

class BootloaderReport : public ::testing::TestWithParam<BootloaderCase> {};

TEST_P(BootloaderReport, WholeText) {
    const BootloaderCase& c = GetParam();
    BspFixture f;
    c.arrange(f);
    EXPECT_EQ(f.report(), c.block + kImageBlock);
}

INSTANTIATE_TEST_SUITE_P(Flash, BootloaderReport, ::testing::ValuesIn(kBootloaderCases), CaseName<BootloaderCase>);

struct ImageCase {
    const char* name;
    std::vector<std::string> overrides;
    bool remove_fdf;
    std::string block;
};

// clang-format off
const ImageCase kImageCases[] = {
    {"profile's image", {}, false, kImageBlock},
    {"other board, beta build",
     {"image.version=[0, 3, 0x10001]", "fdf.created=\"1999-12-31 23:59:59\""},
     false,
     "\r\n\r\nImage (current running)\r\nID:\tUNKNOWN\r\nVer:\t3.1 BETA, Build 1\r\nBuilt:\t31 Dec 1999 23:59:59 (GMT)"},
    {"board 2", {"image.version=[2, 2, 7]"}, false,
     "\r\n\r\nImage (current running)\r\nID:\tUNKNOWN\r\nVer:\t2.7 \r\nBuilt:\t12 Mar 2007 10:20:30 (GMT)"},
    {"HAL does not report the version", {"-image.version"}, false,
     "\r\n\r\nImage (current running)\r\nID:\tUNKNOWN\r\nVer:\tUnknown Version\r\nBuilt:\t12 Mar 2007 10:20:30 (GMT)"},
    {"no default.fdf", {}, true,
     "\r\n\r\nImage (current running)\r\nID:\tFENNARO\r\nVer:\t2.7 \r\nBuilt:\tUnknown Date"},
    {"unreadable creation time", {"fdf.created=\"not a time\""}, false,
     "\r\n\r\nImage (current running)\r\nID:\tFENNARO\r\nVer:\t2.7 \r\nBuilt:\tUnknown Date"},
};
// clang-format on

class ImageReport : public ::testing::TestWithParam<ImageCase> {};

// The bootloader's values must not show through in the image block.
TEST_P(ImageReport, WholeText) {
    const ImageCase& c = GetParam();
    BspFixture f(c.overrides);
    f.place_bootloader_image(0, "2001-01-01 01:01:01");
    f.place_version_record(0x800, 1, 9, 0x00050008);
    if (c.remove_fdf) {
        ASSERT_TRUE(std::filesystem::remove(f.module().dir() / "module/root/windows/default.fdf"));
    }
    EXPECT_EQ(f.report(), BootloaderBlock("FENNARO", "9.8 BETA, Build 5", "01 Jan 2001 1:01:01 (GMT)") + c.block);
}

INSTANTIATE_TEST_SUITE_P(Hal, ImageReport, ::testing::ValuesIn(kImageCases), CaseName<ImageCase>);

// The mutex is free while the box is open: another thread can take it then.
TEST(ShowBspVersion, ReleasesTheFlashMutexBeforeTheBox) {
    BspFixture f;
    DWORD wait_result = 0xDEAD;
    sim::observer().message_box = [&](const std::u16string&, const std::u16string&, unsigned, int) {
        std::thread other([&] {
            HANDLE mutex = CreateMutexW(NULL, FALSE, TEXT("OnModuleFlash"));
            wait_result = WaitForSingleObject(mutex, 0);
            if (wait_result == WAIT_OBJECT_0) ReleaseMutex(mutex);
            CloseHandle(mutex);
        });
        other.join();
    };
    ShowBspVersion(nullptr);
    EXPECT_EQ(wait_result, WAIT_OBJECT_0);
}

}  // namespace
}  // namespace bsp_test
