// The file-open dialog as the progress dialog fills it in: filter, initial
// directory and flags printed; a path read per line; cancel on an empty line
// or the end of input; missing files and over-long paths refused and asked
// again; the chosen path copied into the caller's buffer.
#include <fstream>

#include "platform/commdlg.h"
#include "tests/support/test_module.h"
#include "ui_test_support.h"

namespace {

class OpenFile : public ui_test::LineUi {
protected:
    void SetUp() override {
        LineUi::SetUp();
        module = std::make_unique<testing_support::TestModule>("pxa270");
        std::ofstream(module->module().root_dir() / "os.bin") << "image";
        std::filesystem::create_directories(module->module().root_dir() / "Temp");
        std::ofstream(module->module().root_dir() / "Temp" / "nk") << "image";
        host_file = (module->dir() / "host image.bin").string();
        std::ofstream(host_file) << "image";
    }
    void TearDown() override {
        module.reset();
        LineUi::TearDown();
    }
    // The record as the progress dialog sets it up.
    OPENFILENAMEW request(DWORD room) {
        OPENFILENAMEW ofn = {};
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrFilter = u"IMAGE files\0*.bin\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path;
        ofn.nMaxFile = room;
        ofn.lpstrInitialDir = u"\\";
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return ofn;
    }
    std::unique_ptr<testing_support::TestModule> module;
    std::string host_file;
    WCHAR path[260] = {};
};

TEST_F(OpenFile, PathsFromInput) {
    struct Case {
        const char* name;
        std::string input;
        DWORD room;
        BOOL chosen;
        std::u16string path;
        std::vector<std::string> refusals;
        // clang-format off
    } cases[] = {
        {"empty line cancels", "\n\\os.bin\n", 260, FALSE, u"", {}},
        {"end of input cancels", "", 260, FALSE, u"", {}},
        {"existing WinCE path", "\\os.bin\n", 260, TRUE, u"\\os.bin", {}},
        {"case-insensitive names", "\\TEMP\\NK\n", 260, TRUE, u"\\TEMP\\NK", {}},
        {"missing file asked again", "\\missing.bin\n\\os.bin\n", 260, TRUE, u"\\os.bin",
         {"[Open] file not found: \\missing.bin"}},
        {"missing then end", "\\missing.bin\n", 260, FALSE, u"", {"[Open] file not found: \\missing.bin"}},
        {"just fits", "\\os.bin\n", 8, TRUE, u"\\os.bin", {}},
        {"one too long", "\\os.bin\n\n", 7, FALSE, u"",
         {"[Open] path too long (7 characters, at most 6): \\os.bin"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineUi::TearDown();
        LineUi::SetUp();
        output.str("");
        std::fill(std::begin(path), std::end(path) - 1, u'#');
        start(c.input);
        OPENFILENAMEW ofn = request(c.room);
        EXPECT_EQ(GetOpenFileNameW(&ofn), c.chosen);
        std::vector<std::string> out = lines();
        ASSERT_GE(out.size(), 2u);
        EXPECT_EQ(out[0], "[Open] filter: IMAGE files (*.bin)");
        EXPECT_EQ(out[1], "[Open] directory: \\");
        std::vector<std::string> refusals;
        for (const std::string& line : out)
            if (line.find("not found") != std::string::npos || line.find("too long") != std::string::npos)
                refusals.push_back(line);
        EXPECT_EQ(refusals, c.refusals) << output.str();
        if (c.chosen) {
            EXPECT_EQ(std::u16string(path), c.path);
            EXPECT_EQ(out.back(), "[Open] file: " + sim::utf8(c.path));
        } else {
            EXPECT_EQ(path[0], u'#') << "a cancelled dialog leaves the buffer alone";
            EXPECT_EQ(out.back(), "[Open] cancelled");
        }
    }
}

TEST_F(OpenFile, HostPathsAndNameOffsets) {
    start(host_file + "\n");
    WCHAR title[16];
    OPENFILENAMEW ofn = request(260);
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = 16;
    ASSERT_TRUE(GetOpenFileNameW(&ofn));
    std::u16string chosen(path);
    EXPECT_EQ(chosen, sim::utf16(host_file));
    EXPECT_EQ(chosen.substr(ofn.nFileOffset), u"host image.bin");
    EXPECT_EQ(chosen.substr(ofn.nFileExtension), u"bin");
    EXPECT_EQ(std::u16string(title), u"host image.bin");
}

TEST_F(OpenFile, WithoutFileMustExistAnyPathIsTaken) {
    start("\\new\\file\n");
    OPENFILENAMEW ofn = request(260);
    ofn.Flags = 0;
    ASSERT_TRUE(GetOpenFileNameW(&ofn));
    EXPECT_EQ(std::u16string(path), u"\\new\\file");
    EXPECT_EQ(ofn.nFileOffset, 5);
    EXPECT_EQ(ofn.nFileExtension, 9) << "no extension: the offset of the terminator";
}

TEST_F(OpenFile, BadRecordsFailWithoutAsking) {
    start("\\os.bin\n");
    OPENFILENAMEW ofn = request(260);
    ofn.lStructSize = 12;
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    ofn = request(0);
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    ofn = request(260);
    ofn.lpstrFile = nullptr;
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    EXPECT_FALSE(GetOpenFileNameW(nullptr));
    EXPECT_TRUE(lines().empty());
    // The module's 32-bit record size is accepted too.
    ofn = request(260);
    ofn.lStructSize = 76;
    EXPECT_TRUE(GetOpenFileNameW(&ofn));
}

class ScriptedOpenFile : public ui_test::ScriptedUi {};

TEST_F(ScriptedOpenFile, ScriptedFilesAreCheckedLikeTypedOnes) {
    testing_support::TestModule module("pxa270");
    std::ofstream(module.module().root_dir() / "os.bin") << "image";
    screen->choose_file(u"\\none.bin");
    screen->choose_file(u"\\os.bin");
    WCHAR path[260] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFile = path;
    ofn.nMaxFile = 260;
    ofn.Flags = OFN_FILEMUSTEXIST;
    ASSERT_TRUE(GetOpenFileNameW(&ofn));
    EXPECT_EQ(std::u16string(path), u"\\os.bin");
    EXPECT_FALSE(GetOpenFileNameW(&ofn)) << "no file left: cancelled";
    EXPECT_EQ(screen->lines(), (std::vector<std::string>{"[Open] refused: file not found: \\none.bin",
                                                         "[Open] file: \\os.bin", "[Open] cancelled"}));
}

}  // namespace
