// Message-box answers through the line front-end: the host's answer list
// first, one per box, then a line of input naming a button, then the box's
// default button; a word that names no button of the box is refused and
// asked for again at a terminal (elsewhere the run ends, see the tools' tests).
#include <thread>

#include "ui_test_support.h"

namespace {

class MessageBoxes : public ui_test::LineUi {};

struct AnswerCase {
    const char* name;
    UINT type;
    std::vector<std::string> preset;
    std::string input;
    int answer;
    bool refused;
};

TEST_F(MessageBoxes, AnswerSourcesAndDefaults) {
    const AnswerCase cases[] = {
        {"preset wins over input", MB_YESNO, {"no"}, "yes\n", IDNO, false},
        {"input by label", MB_YESNO, {}, "YES\n", IDYES, false},
        {"input by id", MB_YESNO, {}, "7\n", IDNO, false},
        {"input with blanks", MB_OKCANCEL, {}, "  cancel \r\n", IDCANCEL, false},
        {"end of input: first default", MB_YESNO, {}, "", IDYES, false},
        {"end of input: second default", MB_YESNO | MB_DEFBUTTON2, {}, "", IDNO, false},
        {"empty line is Enter", MB_OKCANCEL | MB_DEFBUTTON2, {}, "\n", IDCANCEL, false},
        {"unknown input word, asked again", MB_YESNO | MB_DEFBUTTON2, {}, "maybe\nyes\n", IDYES, true},
        {"preset not on this box, asked again", MB_OK, {"yes"}, "ok\n", IDOK, true},
        {"id not on this box, asked again", MB_YESNO, {}, "1\nno\n", IDNO, true},
        {"default past the last button", MB_OK | MB_DEFBUTTON2, {}, "", IDOK, false},
        {"three buttons, third default", MB_YESNOCANCEL | MB_DEFBUTTON3, {}, "", IDCANCEL, false},
        {"retry", MB_ABORTRETRYIGNORE, {"Retry"}, "", IDRETRY, false},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        output.str("");
        std::string error;
        ASSERT_TRUE(sim::ui::set_answers(c.preset, &error)) << error;
        sim::ui::LineOptions at_terminal;
        at_terminal.ask_again = true;
        start(c.input, at_terminal);
        EXPECT_EQ(MessageBoxW(nullptr, u"Question", u"BOX", c.type), c.answer);
        bool refused = false;
        for (const std::string& line : lines()) refused |= line.rfind("[BOX] refused:", 0) == 0;
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(lines().back(), "[BOX] answer: " + sim::utf8(sim::ui::button_label(c.answer)));
    }
}

TEST_F(MessageBoxes, PresetAnswersAreUsedInOrderThenInput) {
    std::string error;
    ASSERT_TRUE(sim::ui::set_answers({"no", "ok"}, &error));
    start("cancel\n");
    EXPECT_EQ(MessageBoxW(nullptr, u"one", u"A", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"two", u"B", MB_OKCANCEL), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"three", u"C", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"four", u"D", MB_YESNO | MB_DEFBUTTON2), IDNO);
}

TEST_F(MessageBoxes, UnknownAnswerWordsAreRefusedUpFront) {
    std::string error;
    EXPECT_FALSE(sim::ui::set_answers({"yes", "perhaps"}, &error));
    EXPECT_NE(error.find("perhaps"), std::string::npos);
    EXPECT_EQ(sim::ui::take_answer(), std::nullopt) << "a refused list sets nothing";
}

TEST_F(MessageBoxes, LinesShowTextButtonsDefaultAndAnswer) {
    start("no\n");
    EXPECT_EQ(MessageBoxW(nullptr, u"To finish the update reset the system.\n Reset now?", u"RESET", MB_YESNO), IDNO);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "[RESET] To finish the update reset the system.",
                           "[RESET]  Reset now?",
                           "[RESET] buttons: Yes (default) | No",
                           "[RESET] answer: No",
                       }));
}

TEST_F(MessageBoxes, ObserverHearsEveryAnsweredBox) {
    std::vector<std::tuple<std::u16string, std::u16string, unsigned, int>> seen;
    sim::observer().message_box = [&](const std::u16string& caption, const std::u16string& text, unsigned flags,
                                      int answer) { seen.emplace_back(caption, text, flags, answer); };
    start("");
    MessageBoxW(nullptr, u"Error writing to Flash!", u"ERROR", MB_OK);
    MessageBoxW(nullptr, nullptr, nullptr, MB_YESNO | MB_DEFBUTTON2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_tuple(std::u16string(u"ERROR"), std::u16string(u"Error writing to Flash!"), 0u, IDOK));
    // No caption reads "Error", as on Windows.
    EXPECT_EQ(seen[1], std::make_tuple(std::u16string(u"Error"), std::u16string(u""), 0x104u, IDNO));
}

TEST_F(MessageBoxes, WorksFromAnyThreadWithoutOwner) {
    start("yes\n");
    int answer = 0;
    std::thread worker([&] { answer = MessageBoxW(nullptr, u"Reset now?", u"RESET", MB_YESNO | MB_DEFBUTTON2); });
    worker.join();
    EXPECT_EQ(answer, IDYES);
}

TEST_F(MessageBoxes, UnknownButtonTypeIsRefused) {
    start("");
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"X", 0x0000000E), 0);
}

}  // namespace
