// Files by WinCE path (under the module's root, names matched without
// regard to case) and by host path; sharing; sequential reads; file times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/winbase.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TempDir;
using testing_support::TestModule;

constexpr DWORD kSharingViolation = 32;

void write_text(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

HANDLE open_read(const char16_t* path, DWORD share = 0) {
    return CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string read_all(HANDLE file, DWORD chunk) {
    std::string out;
    char buffer[64];
    DWORD got = 0;
    do {
        EXPECT_TRUE(ReadFile(file, buffer, chunk, &got, nullptr));
        out.append(buffer, got);
    } while (got == chunk);
    return out;
}

class FilesTest : public ::testing::Test {
protected:
    TestModule module_{"pxa270"};
    std::filesystem::path root() { return module_.module().root_dir(); }
};

TEST_F(FilesTest, WinCePathsResolveUnderTheRootWithoutRegardToCase) {
    write_text(root() / "Storage" / "Images" / "NK.bin", "image bytes");
    const char16_t* names[] = {u"\\Storage\\Images\\NK.bin", u"\\storage\\images\\nk.BIN",
                               u"\\STORAGE\\\\IMAGES\\nk.bin"};
    for (const char16_t* name : names) {
        HANDLE file = open_read(name);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(read_all(file, 64), "image bytes");
        EXPECT_TRUE(CloseHandle(file));
    }
}

TEST_F(FilesTest, MissingAndEscapingWinCePathsFail) {
    write_text(root() / "windows" / "a.txt", "a");
    struct Case {
        const char16_t* path;
        DWORD error;
    };
    // clang-format off
    const Case cases[] = {
        {u"\\windows\\b.txt", ERROR_FILE_NOT_FOUND},
        {u"\\nowhere\\a.txt", 3},
        {u"\\windows\\..\\..\\module.toml", 123},
        {u"\\windows/a.txt", 123},
        {u"\\windows", ERROR_ACCESS_DENIED},  // a directory
    };
    // clang-format on
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(open_read(c.path), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(FilesTest, OtherPathsAreHostPaths) {
    TempDir host;
    write_text(host.path() / "image.bin", "host file");
    std::u16string path = u"";
    for (char c : (host.path() / "image.bin").string()) path += static_cast<char16_t>(c);
    HANDLE file = open_read(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read_all(file, 4), "host file");
    CloseHandle(file);

    // Relative to the working directory, and not found by another case.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(host.path());
    HANDLE relative = open_read(u"image.bin");
    HANDLE wrong_case = open_read(u"IMAGE.BIN");
    std::filesystem::current_path(cwd);
    EXPECT_NE(relative, INVALID_HANDLE_VALUE);
    EXPECT_EQ(wrong_case, INVALID_HANDLE_VALUE);
    CloseHandle(relative);
}

TEST_F(FilesTest, ShortReadsAreReportedHonestly) {
    write_text(root() / "data", std::string(10, 'x'));
    HANDLE file = open_read(u"\\data");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8];
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(file, buffer, 8, &got, nullptr));
    EXPECT_EQ(got, 8u);
    EXPECT_TRUE(ReadFile(file, buffer, 8, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_TRUE(ReadFile(file, buffer, 8, &got, nullptr));
    EXPECT_EQ(got, 0u);
    CloseHandle(file);
    EXPECT_FALSE(ReadFile(file, buffer, 8, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, ShareModesBetweenOpens) {
    write_text(root() / "nk.bin", "x");
    struct Case {
        DWORD first_access, first_share, second_access, second_share;
        bool second_opens;
    };
    const Case cases[] = {
        {GENERIC_READ, 0, GENERIC_READ, 0, false},
        {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, 0, false},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ, true},
    };
    for (const Case& c : cases) {
        HANDLE first = CreateFileW(u"\\nk.bin", c.first_access, c.first_share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = CreateFileW(u"\\NK.BIN", c.second_access, c.second_share, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.second_opens) << c.first_share << "/" << c.second_share;
        if (second != INVALID_HANDLE_VALUE)
            CloseHandle(second);
        else
            EXPECT_EQ(GetLastError(), kSharingViolation);
        CloseHandle(first);
        // Once closed, the file is free again.
        HANDLE again = open_read(u"\\nk.bin");
        EXPECT_NE(again, INVALID_HANDLE_VALUE);
        CloseHandle(again);
    }
}

TEST_F(FilesTest, CreateAlwaysWritesAndRespectsSharing) {
    HANDLE file = CreateFileW(u"\\Windows\\New.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    // While it is open unshared, no second open may truncate it.
    EXPECT_EQ(CreateFileW(u"\\windows\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    CloseHandle(file);
    std::ifstream in(root() / "windows" / "New.txt");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "abc");
    // A read-only handle cannot write.
    HANDLE reader = open_read(u"\\windows\\new.txt");
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
    CloseHandle(reader);
}

FILETIME creation_time_of(const char16_t* path) {
    HANDLE file = open_read(path);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{};
    EXPECT_TRUE(GetFileTime(file, &created, nullptr, nullptr));
    CloseHandle(file);
    return created;
}

TEST_F(FilesTest, TheImageStampTakesItsCreationTimeFromTheProfile) {
    // 2007-03-12 10:20:30 UTC, the profile's fdf.created.
    FILETIME created = creation_time_of(u"\\windows\\default.fdf");
    uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    EXPECT_EQ(ticks, 128181684300000000ull);
}

TEST_F(FilesTest, OtherFilesGiveTheHostModificationTime) {
    write_text(root() / "stamp", "x");
    struct timespec times[2] = {{1000000000, 0}, {1173694830, 500000000}};  // 2007-03-12 10:20:30.5
    ASSERT_EQ(utimensat(AT_FDCWD, (root() / "stamp").c_str(), times, 0), 0);
    FILETIME created = creation_time_of(u"\\stamp");
    uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    EXPECT_EQ(ticks, 128181684305000000ull);
}

TEST(FilesProfile, AMalformedStampTimeIsAnErrorNotAGuess) {
    TestModule module("pxa270", {"fdf.created=\"12 March 2007\""});
    HANDLE file = open_read(u"\\windows\\default.fdf");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{};
    EXPECT_FALSE(GetFileTime(file, &created, nullptr, nullptr));
    CloseHandle(file);
}

}  // namespace
