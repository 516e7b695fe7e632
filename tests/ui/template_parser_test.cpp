// Templates beyond the program's own: class names and atoms, ordinal titles,
// creation data, refused templates and unregistered classes.
#include "module/ui/dialog_template.h"
#include "ui_test_support.h"

namespace {

using sim::ui::DialogTemplateInfo;
using sim::ui::parse_dialog_template;
using ui_test::TemplateBuilder;

TEST(TemplateParser, ReadsEveryFieldForm) {
    TemplateBuilder builder(WS_POPUP | DS_SETFONT, u"Forms", 80, 40);
    builder.item(WS_CHILD | WS_VISIBLE, 10, 0x0080, u"", u"OK")
        .item(WS_CHILD, 11, 0, u"msctls_progress32", u"", {0x1234, 0x5678})
        .item(WS_CHILD, 12, 0x0082, u"", u"x")
        .item(WS_CHILD, 13, 0x0081, u"", u"");
    // Give the third item an ordinal title (an icon id) in place of "x".
    std::vector<WORD>& words = builder.words();
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == u'x' && words[i + 1] == 0) {
            words[i] = 0xFFFF;
            words[i + 1] = 102;
            words.insert(words.begin() + i + 2, 0);  // creation data
            words.erase(words.begin() + i + 3);      // the old creation-data word
            break;
        }
    }
    DialogTemplateInfo info;
    std::string error;
    ASSERT_TRUE(parse_dialog_template(builder.get(), &info, &error)) << error;
    EXPECT_EQ(info.caption, u"Forms");
    EXPECT_EQ(info.typeface, u"System");
    ASSERT_EQ(info.items.size(), 4u);
    EXPECT_EQ(info.items[0].class_name, u"Button");
    EXPECT_EQ(info.items[0].title, u"OK");
    EXPECT_EQ(info.items[1].class_name, u"msctls_progress32");
    EXPECT_EQ(info.items[1].creation_data_size, 6);
    EXPECT_EQ(info.items[1].id, 11);
    EXPECT_EQ(info.items[2].class_name, u"Static");
    EXPECT_EQ(info.items[2].title_ordinal, 102);
    EXPECT_EQ(info.items[2].id, 12) << "creation data of the item before was skipped";
    EXPECT_EQ(info.items[3].class_name, u"Edit");
    EXPECT_EQ(info.items[3].id, 13);
}

TEST(TemplateParser, WithoutSetFontThereIsNoFont) {
    TemplateBuilder builder(WS_POPUP, u"Plain", 10, 10);
    builder.item(WS_CHILD | WS_VISIBLE, 1, 0x0080, u"", u"Go");
    DialogTemplateInfo info;
    std::string error;
    ASSERT_TRUE(parse_dialog_template(builder.get(), &info, &error)) << error;
    EXPECT_EQ(info.point_size, 0);
    EXPECT_EQ(info.typeface, u"");
    ASSERT_EQ(info.items.size(), 1u);
    EXPECT_EQ(info.items[0].title, u"Go");
}

TEST(TemplateParser, RefusesDamagedAndExtendedTemplates) {
    DialogTemplateInfo info;
    std::string error;
    EXPECT_FALSE(parse_dialog_template(nullptr, &info, &error));

    // DLGTEMPLATEEX: version 1, signature 0xFFFF.
    std::vector<WORD> extended = {1, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(parse_dialog_template(reinterpret_cast<const DLGTEMPLATE*>(extended.data()), &info, &error));
    EXPECT_NE(error.find("extended"), std::string::npos);

    // A caption without its terminator within the limit.
    TemplateBuilder endless(WS_POPUP, u"", 10, 10);
    std::vector<WORD>& words = endless.words();
    words.pop_back();
    words.insert(words.end(), sim::ui::kMaxTemplateText + 8, u'a');
    words.push_back(0);
    EXPECT_FALSE(parse_dialog_template(endless.get(), &info, &error));

    TemplateBuilder unknown_atom(WS_POPUP, u"Atom", 10, 10);
    unknown_atom.item(WS_CHILD, 1, 0x0099, u"", u"?");
    EXPECT_FALSE(parse_dialog_template(unknown_atom.get(), &info, &error));
}

BOOL CALLBACK NeverCalledProc(HWND, UINT, WPARAM, LPARAM) {
    ADD_FAILURE() << "a refused dialog reached its routine";
    return FALSE;
}

class RefusedDialogs : public ui_test::ScriptedUi {};

TEST_F(RefusedDialogs, UnregisteredClassOrNoRoutineGivesMinusOne) {
    TemplateBuilder unknown(WS_POPUP | DS_SETFONT, u"Unknown", 10, 10);
    unknown.item(WS_CHILD | WS_VISIBLE, 1, 0, u"NoSuchClass", u"");
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, unknown.get(), nullptr, NeverCalledProc, 0), -1);
    std::vector<sim::ui::UiEvent> notes = screen->events(sim::ui::UiEvent::Kind::note);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(sim::utf8(notes[0].text).find("NoSuchClass"), std::string::npos);

    TemplateBuilder fine(WS_POPUP, u"Fine", 10, 10);
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, fine.get(), nullptr, nullptr, 0), -1);
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, nullptr, nullptr, NeverCalledProc, 0), -1);
}

// Class names match without regard to case, as window classes do.
BOOL CALLBACK EndWithItemCountProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) EndDialog(dialog, GetDlgItem(dialog, 7) != nullptr ? 1 : 0);
    return FALSE;
}

TEST_F(RefusedDialogs, ClassNamesIgnoreCase) {
    TemplateBuilder builder(WS_POPUP, u"Case", 10, 10);
    builder.item(WS_CHILD, 7, 0, u"MSCTLS_PROGRESS32", u"").item(WS_CHILD, 8, 0, u"button", u"b");
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, builder.get(), nullptr, EndWithItemCountProc, 0), 1);
}

}  // namespace
