// The update command: where the path comes from, quiet mode, and paths that
// do not fit.
#include <gtest/gtest.h>

#include "shell/shell_state.h"
#include "tests/app/app_harness.h"
#include "tests/support/test_module.h"

namespace app_tests {
namespace {

using testing_support::TestModule;

TEST(UpdateCommand, PathStartsAfterTheSeparatorWhateverItIs) {
    const char* lines[] = {"/u \\Temp\\os.bin", "/ux\\Temp\\os.bin", "/uu\\Temp\\os.bin"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        TestModule module("pxa270");
        AppHarness harness;
        EXPECT_EQ(harness.run(line), 1);
        harness.wait_for_worker();
        // No file dialog: the worker went straight to the file.
        EXPECT_EQ(harness.file_dialogs(), 0u);
        EXPECT_EQ(harness.boxes(), std::vector<std::string>{"ERROR: Cannot Open Image File \\Temp\\os.bin"});
        EXPECT_EQ(QuietMode, 1u);
        EXPECT_EQ(ImagePath[0], 0);
    }
}

TEST(UpdateCommand, EmptyPathAsksForTheFile) {
    const char* lines[] = {"/u", "/u ", "/ux"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        TestModule module("pxa270");
        AppHarness harness;
        // No file chosen: the scripted user cancels the file dialog.
        EXPECT_EQ(harness.run(line), 1);
        EXPECT_EQ(harness.file_dialogs(), 1u);
        EXPECT_EQ(harness.dialogs_ended(), std::vector<std::string>{"Updating IMAGE"});
        EXPECT_TRUE(harness.boxes().empty());
        EXPECT_EQ(harness.workers_ended(), 0);
        EXPECT_EQ(QuietMode, 1u);
    }
}

TEST(UpdateCommand, PathThatDoesNotFitIsRefused) {
    TestModule module("pxa270");
    AppHarness harness;
    std::string path = "\\" + std::string(259, 'a');  // 260 characters
    EXPECT_EQ(harness.run("/u " + path), 1);
    EXPECT_EQ(harness.boxes(), std::vector<std::string>{"ERROR: Image File path too long (more than 259 characters)!"});
    EXPECT_TRUE(harness.dialogs_ended().empty());
    EXPECT_EQ(ImagePath[0], 0);
    EXPECT_EQ(QuietMode, 0u);
}

TEST(UpdateCommand, LongestPathThatFitsIsTakenWhole) {
    TestModule module("pxa270");
    AppHarness harness;
    std::string path = "\\" + std::string(258, 'b');  // 259 characters
    EXPECT_EQ(harness.run("/u " + path), 1);
    harness.wait_for_worker();
    std::vector<std::string> boxes = harness.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    // The message buffer holds 255 characters of "Cannot Open Image File " + path.
    EXPECT_EQ(boxes[0], "ERROR: " + ("Cannot Open Image File " + path).substr(0, 255));
}

TEST(UpdateCommand, WritesTheImageQuietly) {
    TestModule module("pxa270");
    AppHarness harness;
    // Signature, start 0x80000, length 16, one record of four bytes, end record.
    std::vector<uint8_t> image = {'B', '0', '0', '0', 'F', 'F', '\n', 0x00, 0x00, 0x08, 0x00, 0x10, 0x00, 0x00, 0x00};
    const uint8_t record[] = {0x00, 0x00, 0x08, 0x00, 4, 0, 0, 0, 0x0A, 0, 0, 0, 1, 2, 3, 4};
    image.insert(image.end(), std::begin(record), std::end(record));
    image.resize(image.size() + 12, 0x00);
    std::filesystem::path file = module.dir() / "image.bin";
    testing_support::write_binary(file, image);
    EXPECT_EQ(harness.run("/u " + file.string()), 1);
    harness.wait_for_worker();
    // Quiet: no warning, no reset question.
    EXPECT_TRUE(harness.boxes().empty());
    std::vector<uint8_t> nor = module.read_file("nor.bin");
    EXPECT_EQ(std::vector<uint8_t>(nor.begin() + 0x80000, nor.begin() + 0x80006),
              (std::vector<uint8_t>{1, 2, 3, 4, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace app_tests
