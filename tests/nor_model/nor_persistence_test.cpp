// The pair's files: created erased, kept across module reopens, the view the
// OS layer maps, and what a module closing mid-operation leaves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "module/hw/nor/nor_storage.h"
#include "tests/nor_model/nor_bus.h"

namespace {

using nor_test::kReady;
using nor_test::NorBus;
using testing_support::TestModule;

struct CreatedCase {
    const char* name;
    const char* profile;
    std::vector<std::string> overrides;
    uint64_t array_bytes;
    std::vector<uint8_t> locks;  // empty: no lock file
};

void PrintTo(const CreatedCase& c, std::ostream* out) { *out << c.name; }

class CreatedFilesTest : public testing::TestWithParam<CreatedCase> {};

TEST_P(CreatedFilesTest, ArrayErasedAndLockBytesPerChipBlock) {
    const CreatedCase& c = GetParam();
    TestModule module(c.profile, c.overrides);
    std::filesystem::path path = module.dir() / "module" / "nor.bin";
    ASSERT_EQ(c.array_bytes, std::filesystem::file_size(path));
    std::vector<uint8_t> array(c.array_bytes);
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(array.data()), static_cast<std::streamsize>(array.size()));
    EXPECT_EQ(array.end(), std::find_if(array.begin(), array.end(), [](uint8_t b) { return b != 0xFF; }))
        << "not erased";
    bool has_locks = std::filesystem::exists(module.dir() / "module" / "nor.locks");
    EXPECT_EQ(!c.locks.empty(), has_locks);
    if (has_locks) {
        EXPECT_EQ(c.locks, module.read_file("nor.locks"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, CreatedFilesTest,
    // clang-format off
    testing::Values(
        CreatedCase{"j3_small", "pxa270", {"nor.query_size=18"}, 0x80000, {0, 0, 0, 0}},
        CreatedCase{"j3_locked", "pxa270", {"nor.query_size=19", "nor.locked=[0x40000, 0xFFFFC]"}, 0x100000,
                    {0, 0, 1, 1, 0, 0, 1, 1}},
        CreatedCase{"j3_32mib", "pxa270", {}, 0x2000000, std::vector<uint8_t>(256, 0)},
        CreatedCase{"p30_volatile_locks", "pxa270-p30", {"nor.query_size=19"}, 0x100000, {}},
        CreatedCase{"k3_volatile_locks", "pxa270", {"nor.device_code=0x8801", "nor.query_size=18"}, 0x80000, {}}),
    // clang-format on
    [](const testing::TestParamInfo<CreatedCase>& info) { return std::string(info.param.name); });

TEST(NorPersistence, ProgrammedDataAndJ3LocksSurviveReopen) {
    TestModule module("pxa270", {"nor.query_size=19"});
    {
        NorBus nor(module);
        ASSERT_EQ(kReady, nor.ProgramBuffer(0x80000, {0x11112222, 0x33334444}));
        ASSERT_EQ(kReady, nor.LockCommand(0xC0000, 0x01));
        nor.Command(0, 0xFF);
    }
    module.reopen();
    NorBus nor(module);
    EXPECT_EQ(0x11112222u, nor.Read(0x80000));
    EXPECT_EQ(0x33334444u, nor.Read(0x80004));
    EXPECT_EQ(0x00010001u, nor.LockWord(0xC0000));
    EXPECT_EQ(0u, nor.LockWord(0x80000));
}

// More MiB than the pair keeps in memory at once: what it let go comes back.
// A private array (the module opened only to look at it) keeps its writes
// in memory through the same letting go, and never in the file.
class RegionsLetGoTest : public testing::TestWithParam<bool> {};

TEST_P(RegionsLetGoTest, KeepWhatWasWritten) {
    const bool is_private = GetParam();
    struct ReadOwnArrays {
        ~ReadOwnArrays() { sim::read_nor_array_from({}); }
    } reset;
    TestModule module("pxa270");
    if (is_private) {
        sim::Module::close_current();
        sim::read_nor_array_from(module.dir() / "module");
        module.reopen();
    }
    NorBus nor(module);
    constexpr uint32_t kMiB = 32;
    for (uint32_t mib = 0; mib < kMiB; ++mib)
        ASSERT_EQ(kReady, nor.ProgramBuffer(mib << 20 | 0x40, {0x12340000u | mib})) << mib;
    nor.Command(0, 0xFF);
    for (uint32_t mib = 0; mib < kMiB; ++mib) {
        SCOPED_TRACE(mib);
        EXPECT_EQ(0x12340000u | mib, nor.Read(mib << 20 | 0x40));
        EXPECT_EQ(0xFFFFFFFFu, nor.Read(mib << 20 | 0x44));
        EXPECT_EQ(is_private ? 0xFFFFFFFFu : 0x12340000u | mib, nor.FileWord(mib << 20 | 0x40));
    }
    EXPECT_EQ(is_private, sim::nor_array_source_written());
}

INSTANTIATE_TEST_SUITE_P(Mappings, RegionsLetGoTest, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Private" : "Shared");
});

TEST(NorPersistence, ModuleClosingKeepsFinishedWorkAndDropsRunningWork) {
    TestModule module("pxa270", {"nor.query_size=19"});
    {
        NorBus nor(module);
        nor.FillFile(0, 0x100000, 0x00);
        // Finished in virtual time, never polled: the erase is in the file.
        nor.Command(0x40000, 0x20);
        nor.Command(0x40000, 0xD0);
        module.module().clock().advance_ns(2000000000u);
        // Still running when the module closes: the block stays as it was.
        nor.Command(0x80000, 0x20);
        nor.Command(0x80000, 0xD0);
    }
    module.reopen();
    NorBus nor(module);
    EXPECT_EQ(0xFFFFFFFFu, nor.Read(0x40000));
    EXPECT_EQ(0xFFFFFFFFu, nor.Read(0x7FFFC));
    EXPECT_EQ(0u, nor.Read(0x80000));
    EXPECT_EQ(0u, nor.Read(0xBFFFC));
}

TEST(NorPersistence, DirectBackingIsTheArrayFile) {
    TestModule module("pxa270", {"nor.query_size=19"});
    NorBus nor(module);
    ASSERT_EQ(kReady, nor.ProgramWord(0x1000, 0xCAFEF00D));
    nor.Command(0x1000, 0xFF);
    std::optional<sim::DirectBacking> view = nor.pair().direct_backing(0x1000, 0x1000);
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(0x1000u, view->file_offset);
    uint32_t word = 0;
    ASSERT_EQ(4, pread(view->fd, &word, 4, static_cast<off_t>(view->file_offset)));
    EXPECT_EQ(nor.Read(0x1000), word);
    EXPECT_TRUE(nor.pair().direct_backing(0, 0x100000).has_value());
    EXPECT_FALSE(nor.pair().direct_backing(0xFF000, 0x2000).has_value());
}

struct BrokenFileCase {
    const char* name;
    const char* file;
    uint64_t new_size;  // 0: remove the file
    const char* message;
};

void PrintTo(const BrokenFileCase& c, std::ostream* out) { *out << c.name; }

class BrokenFileTest : public testing::TestWithParam<BrokenFileCase> {};

TEST_P(BrokenFileTest, OpenFailsWithTheFileNamed) {
    const BrokenFileCase& c = GetParam();
    TestModule module("pxa270", {"nor.query_size=19"});
    sim::Module::close_current();
    std::filesystem::path path = module.dir() / "module" / c.file;
    if (c.new_size)
        std::filesystem::resize_file(path, c.new_size);
    else
        std::filesystem::remove(path);
    try {
        module.reopen();
        FAIL() << "module opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenFileTest,
                         testing::Values(BrokenFileCase{"array_short", "nor.bin", 0x80000, "nor.bin is 524288 bytes"},
                                         BrokenFileCase{"array_long", "nor.bin", 0x200000, "nor.bin is 2097152 bytes"},
                                         BrokenFileCase{"array_missing", "nor.bin", 0, "cannot open"},
                                         BrokenFileCase{"locks_short", "nor.locks", 4, "nor.locks is 4 bytes"},
                                         BrokenFileCase{"locks_missing", "nor.locks", 0, "nor.locks"}),
                         [](const testing::TestParamInfo<BrokenFileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(NorPersistence, PairSitsOnTheBusAtZeroWithTheDeviceSize) {
    TestModule module("pxa270-p30", {"nor.query_size=19"});
    uint32_t offset = 0;
    EXPECT_EQ(module.module().nor(), module.module().bus().decode(0xFFFFC, &offset));
    EXPECT_EQ(0xFFFFCu, offset);
    EXPECT_EQ(nullptr, module.module().bus().decode(0x100000, &offset));
}

}  // namespace
