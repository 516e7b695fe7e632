// Named shared memory: one object per module, shared between processes and
// kept in the module directory.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/winbase.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TestModule;

constexpr DWORD kMapSize = 16388;

uint8_t* map_all(HANDLE mapping) { return static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)); }

TEST(SharedMapping, CreatedZeroFilledThenOpenedAsExisting) {
    TestModule module("pxa270");
    HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMapSize, u"NAND_FLASH_BBMT");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    uint8_t* view = map_all(first);
    ASSERT_NE(view, nullptr);
    for (DWORD i = 0; i < kMapSize; ++i) ASSERT_EQ(view[i], 0) << i;
    std::memcpy(view, "BBMT", 4);

    HANDLE second = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMapSize, u"NAND_FLASH_BBMT");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    uint8_t* other = map_all(second);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::memcmp(other, "BBMT", 4), 0);
    other[kMapSize - 1] = 0x5A;
    EXPECT_EQ(view[kMapSize - 1], 0x5A);

    // The bytes are the module's file.
    std::vector<uint8_t> file = module.read_file("objects/NAND_FLASH_BBMT.map");
    ASSERT_EQ(file.size(), kMapSize);
    EXPECT_EQ(std::memcmp(file.data(), "BBMT", 4), 0);
    EXPECT_EQ(file[kMapSize - 1], 0x5A);

    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(UnmapViewOfFile(other));
    EXPECT_FALSE(UnmapViewOfFile(other));
    CloseHandle(first);
    CloseHandle(second);
}

TEST(SharedMapping, AnotherProcessSeesTheSameMemory) {
    TestModule module("pxa270");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMapSize, u"NAND_FLASH_BBMT");
    uint8_t* view = map_all(mapping);
    ASSERT_NE(view, nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        HANDLE child =
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMapSize, u"NAND_FLASH_BBMT");
        bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        uint8_t* child_view = child ? map_all(child) : nullptr;
        if (!child_view || !existed) _exit(1);
        std::memcpy(child_view + 4, "\x07\x00", 2);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(view[4], 7);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

TEST(SharedMapping, AShortExistingFileGrowsToTheSize) {
    TestModule module("pxa270");
    std::filesystem::create_directories(module.module().dir() / "objects");
    testing_support::write_binary(module.module().dir() / "objects" / "Short.map", {1, 2, 3});
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, u"Short");
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    uint8_t* view = map_all(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[2], 3);
    EXPECT_EQ(view[8191], 0);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

TEST(SharedMapping, RefusedRequests) {
    TestModule module("pxa270");
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, u"Empty"), nullptr);
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 1, 0, u"Huge"), nullptr);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 8192), nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);
    EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x7FF0), FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    // A name cannot reach outside the module's objects folder.
    HANDLE odd = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"../escape");
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(std::filesystem::exists(module.module().dir() / "objects" / ".._escape.map"));
    CloseHandle(odd);
    CloseHandle(mapping);
}

}  // namespace
