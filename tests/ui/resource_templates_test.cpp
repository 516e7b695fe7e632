// The program's dialog templates as resources: found by id and type, sized
// as the resource compiler lays them out, and read back control by control.
#include <cstring>

#include "module/ui/dialog_template.h"
#include "res/resource_ids.h"
#include "ui_test_support.h"

namespace {

using sim::ui::DialogTemplateInfo;
using sim::ui::parse_dialog_template;

struct ExpectedControl {
    const char16_t* class_name;
    WORD id;
    const char16_t* text;
    DWORD style;
    short x, y, cx, cy;
};

DialogTemplateInfo parsed(int id) {
    DialogTemplateInfo info;
    std::string error;
    const DLGTEMPLATE* dialogTemplate = ui_test::program_template(id);
    EXPECT_NE(dialogTemplate, nullptr);
    EXPECT_TRUE(parse_dialog_template(dialogTemplate, &info, &error)) << error;
    return info;
}

void expect_controls(const DialogTemplateInfo& info, const std::vector<ExpectedControl>& expected) {
    ASSERT_EQ(info.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& item = info.items[i];
        const auto& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(item.class_name, want.class_name);
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.title, want.text);
        EXPECT_EQ(item.style, want.style);
        EXPECT_EQ(item.extended_style, 0u);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.creation_data_size, 0);
        EXPECT_EQ(item.offset % 4, 0u) << "items start on a DWORD boundary";
    }
}

TEST(ProgramResources, AreFoundByIdAndTypeWithTheirSizes) {
    HMODULE program = ui_test::program_instance();
    struct Case {
        LPCWSTR type;
        int id;
        DWORD size;
    } cases[] = {
        {RT_DIALOG, 101, 414}, {RT_DIALOG, 102, 310}, {RT_GROUP_ICON, 102, 34}, {RT_ICON, 1, 744}, {RT_ICON, 2, 296},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(c.id), c.type);
        ASSERT_NE(resource, nullptr);
        EXPECT_EQ(SizeofResource(program, resource), c.size);
        EXPECT_NE(LoadResource(program, resource), nullptr);
    }
    EXPECT_EQ(FindResourceW(program, MAKEINTRESOURCEW(103), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceW(program, MAKEINTRESOURCEW(101), RT_ICON), nullptr);
    EXPECT_EQ(FindResourceW(program, u"UPDATE", RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_DIALOG), nullptr);
}

TEST(ProgramResources, AreAllInEnglishUnitedStates) {
    size_t count = 0;
    for (const RESOURCE_ENTRY* entry = ProgramResources; entry->data != nullptr; ++entry, ++count)
        EXPECT_EQ(entry->language, MAKELANGID(0x09, 0x01));
    EXPECT_EQ(count, 5u);
}

TEST(ProgramResources, TextNamesMatchWithoutRegardToCase) {
    static const char data[] = "x";
    const RESOURCE_ENTRY table[] = {
        {RT_DIALOG, u"SETUP", 1033, data, 1},
        {nullptr, nullptr, 0, nullptr, 0},
    };
    HMODULE module = reinterpret_cast<HMODULE>(const_cast<RESOURCE_ENTRY*>(table));
    EXPECT_NE(FindResourceW(module, u"setup", RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceW(module, u"setu", RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_DIALOG), nullptr);
}

TEST(MainDialogTemplate, HeaderCaptionAndFont) {
    DialogTemplateInfo info = parsed(IDD_MAIN_DIALOG);
    EXPECT_EQ(info.style, 0x80C800C0u);
    EXPECT_EQ(info.extended_style, 0u);
    EXPECT_EQ(info.x, 0);
    EXPECT_EQ(info.y, 0);
    EXPECT_EQ(info.cx, 119);
    EXPECT_EQ(info.cy, 119);
    EXPECT_EQ(info.menu, 0);
    EXPECT_EQ(info.class_name, u"");
    EXPECT_EQ(info.caption, u"Update Tool");
    EXPECT_EQ(info.point_size, 8);
    EXPECT_EQ(info.typeface, u"System");
}

TEST(MainDialogTemplate, SixButtonsInTabOrder) {
    const DWORD button = 0x50010000;
    expect_controls(parsed(IDD_MAIN_DIALOG), {
                                                 {u"Button", 1001, u"Save Registry to Flash", button, 7, 7, 105, 19},
                                                 {u"Button", 1000, u"Clear Registry on Flash", button, 7, 28, 105, 19},
                                                 {u"Button", 1002, u"Update Bootloader/Image", button, 7, 49, 105, 19},
                                                 {u"Button", 1004, u"BSP Version", button, 7, 70, 105, 19},
                                                 {u"Button", 1003, u"Coldboot", button, 69, 93, 43, 19},
                                                 {u"Button", 1005, u"Warmboot", button, 7, 93, 43, 19},
                                             });
}

TEST(ProgressDialogTemplate, HeaderCaptionAndFont) {
    DialogTemplateInfo info = parsed(IDD_PROGRESS_DIALOG);
    EXPECT_EQ(info.style, 0x80C000C0u);
    EXPECT_EQ(info.extended_style, 0u);
    EXPECT_EQ(info.x, 0);
    EXPECT_EQ(info.y, 0);
    EXPECT_EQ(info.cx, 171);
    EXPECT_EQ(info.cy, 89);
    EXPECT_EQ(info.menu, 0);
    EXPECT_EQ(info.caption, u"Updating IMAGE");
    EXPECT_EQ(info.point_size, 8);
    EXPECT_EQ(info.typeface, u"System");
}

TEST(ProgressDialogTemplate, HiddenAbortTwoBarsTwoTexts) {
    expect_controls(parsed(IDD_PROGRESS_DIALOG),
                    {
                        {u"Button", 2, u"Abort", 0x40010000, 52, 71, 58, 11},
                        {u"msctls_progress32", 1002, u"Progress1", 0x50800000, 7, 20, 157, 13},
                        {u"msctls_progress32", 1003, u"Progress2", 0x50800000, 7, 52, 157, 14},
                        {u"Static", 1004, u"", 0x50020000, 7, 7, 157, 10},
                        {u"Static", 1005, u"", 0x50020000, 7, 39, 157, 10},
                    });
}

// The raw words where the resource compiler puts them, read without the
// parser: each item's class field follows its 18-byte header.
TEST(ProgramTemplates, RawLayoutMatchesTheResourceCompiler) {
    struct Case {
        int id;
        size_t offset;  // byte offset in the template
        std::vector<WORD> words;
    } cases[] = {
        // header: style 0x80C800C0, no extended style, 6 items, 0, 0, 119, 119
        {101, 0, {0x00C0, 0x80C8, 0, 0, 6, 0, 0, 119, 119}},
        // no menu, no class, "Update Tool"
        {101, 18, {0, 0, u'U', u'p', u'd', u'a', u't', u'e', u' ', u'T', u'o', u'o', u'l', 0}},
        // 8 point "System", then one word of padding
        {101, 46, {8, u'S', u'y', u's', u't', u'e', u'm', 0, 0}},
        // first item: WS_CHILD|WS_VISIBLE|WS_TABSTOP, 7, 7, 105, 19, id 1001, button atom
        {101, 64, {0x0000, 0x5001, 0, 0, 7, 7, 105, 19, 1001, 0xFFFF, 0x0080, u'S'}},
        // last item: "Warmboot" with an empty creation-data word at the very end
        {101, 372 + 22, {u'W', u'a', u'r', u'm', u'b', u'o', u'o', u't', 0, 0}},
        {102, 0, {0x00C0, 0x80C0, 0, 0, 5, 0, 0, 171, 89}},
        // Abort: id 2
        {102, 68, {0x0000, 0x4001, 0, 0, 52, 71, 58, 11, 2, 0xFFFF, 0x0080, u'A'}},
        // first bar: class by name
        {102, 104 + 18, {u'm', u's', u'c', u't', u'l', u's', u'_'}},
        // status texts: static atom, empty title, no creation data
        {102, 256, {0x0000, 0x5002, 0, 0, 7, 7, 157, 10, 1004, 0xFFFF, 0x0082, 0, 0, 0}},
        {102, 284, {0x0000, 0x5002, 0, 0, 7, 39, 157, 10, 1005, 0xFFFF, 0x0082, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " at " + std::to_string(c.offset));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(ui_test::program_template(c.id));
        std::vector<WORD> actual(c.words.size());
        std::memcpy(actual.data(), bytes + c.offset, actual.size() * sizeof(WORD));
        EXPECT_EQ(actual, c.words);
    }
}

}  // namespace
