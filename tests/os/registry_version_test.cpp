// The registry from the profile, its flush, and the OS version.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "module/observer.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TestModule;

const std::vector<std::string> kRegistry = {
    "registry.Drivers\\BuiltIn\\StrataFMD.MemBase=0x00C00000",
    "registry.Drivers\\BuiltIn\\StrataFMD.MemLen=0x01400000",
    "registry.Drivers\\BuiltIn\\StrataFMD.Prefix=\"DSK\"",
    "registry.Drivers\\BuiltIn\\StrataFMD.Huge=0x123456789",
};

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Registry, KeysOpenWithoutRegardToCase) {
    TestModule module("pxa270", kRegistry);
    struct Case {
        const char16_t* path;
        LONG result;
    };
    const Case cases[] = {
        {u"Drivers\\BuiltIn\\StrataFMD", ERROR_SUCCESS},
        {u"drivers\\builtin\\stratafmd", ERROR_SUCCESS},
        {u"Drivers\\BuiltIn", ERROR_SUCCESS},
        {u"Drivers\\BlockDevice\\StrataFMD", ERROR_FILE_NOT_FOUND},
        {u"Drivers\\BuiltIn\\Strata", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path, 0, KEY_ALL_ACCESS, &key), c.result);
        EXPECT_EQ(key != nullptr, c.result == ERROR_SUCCESS);
        if (key) {
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        }
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Drivers\\BuiltIn\\StrataFMD", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ValuesWithTypesSizesAndSmallBuffers) {
    TestModule module("pxa270", kRegistry);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\StrataFMD", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD value = 0, type = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, u"membase", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 0x00C00000u);

    // No buffer: the size alone.
    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 8u);
    // Too small: the size, and the buffer left alone.
    BYTE small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], 0xEE);
    char16_t text[4];
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"DSK");

    // A value wider than 32 bits is not cut into a DWORD.
    uint64_t wide = 0;
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, u"Huge", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_MORE_DATA);
    size = sizeof wide;
    EXPECT_EQ(RegQueryValueExW(key, u"Huge", nullptr, &type, reinterpret_cast<BYTE*>(&wide), &size), ERROR_SUCCESS);
    EXPECT_EQ(wide, 0x123456789ull);

    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"MemLen", nullptr, &type, reinterpret_cast<BYTE*>(&value), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(Registry, FlushWritesTheSavedRegistryAndLogsIt) {
    TestModule module("pxa270", kRegistry);
    bool heard = false;
    sim::observer().registry_result = [&](bool ok) { heard = ok; };
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    sim::observer().registry_result = nullptr;
    EXPECT_TRUE(heard);
    std::string saved = file_text(module.module().dir() / "registry.saved");
    EXPECT_NE(saved.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\StrataFMD]"), std::string::npos);
    EXPECT_NE(saved.find("\"MemBase\"=dword:00c00000"), std::string::npos);
    EXPECT_NE(saved.find("\"Prefix\"=\"DSK\""), std::string::npos);
    EXPECT_NE(file_text(module.module().dir() / "events.log").find("registry flushed"), std::string::npos);
}

TEST(Registry, AFailingFlushWritesNothing) {
    TestModule module("pxa270", {"registry.flush_fails=true"});
    EXPECT_NE(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(module.module().dir() / "registry.saved"));
    EXPECT_NE(file_text(module.module().dir() / "events.log").find("registry flush failed"), std::string::npos);
}

TEST(Version, ComesFromTheProfileForTheRightRecordSize) {
    TestModule module("pxa270", {"os.major=6", "os.minor=2", "os.build=4567"});
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = 276;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(info.dwBuildNumber, 4567u);
    EXPECT_EQ(info.dwPlatformId, 3u);
    OSVERSIONINFOW wrong{};
    wrong.dwOSVersionInfoSize = 148;
    EXPECT_FALSE(GetVersionExW(&wrong));
    EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

}  // namespace
