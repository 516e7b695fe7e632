// Shared by the dialog manager's tests: a scripted or line front-end
// installed for one test, the program's templates, and hand-built templates.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "module/observer.h"
#include "module/ui/dialog_input.h"
#include "module/ui/front_end.h"
#include "module/ui/line_front_end.h"
#include "module/ui/ui_config.h"
#include "platform/commctrl.h"
#include "platform/windows.h"
#include "res/resources.h"
#include "tests/support/scripted_front_end.h"

namespace ui_test {

// Installs a scripted front-end; restores the defaults and the observer after.
class ScriptedUi : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ui::reset_ui_config();
        screen = std::make_shared<sim::ui::ScriptedFrontEnd>();
        sim::ui::set_front_end(screen);
        InitCommonControls();
    }
    void TearDown() override {
        sim::ui::reset_ui_config();
        sim::observer() = sim::ModuleObserver{};
    }
    std::shared_ptr<sim::ui::ScriptedFrontEnd> screen;
};

// Installs a line front-end reading `input` and writing into `output`.
class LineUi : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ui::reset_ui_config();
        InitCommonControls();
    }
    void TearDown() override {
        sim::ui::reset_ui_config();
        sim::observer() = sim::ModuleObserver{};
    }
    void start(const std::string& text) {
        input.clear();
        input.str(text);
        sim::ui::set_front_end(sim::ui::make_line_front_end(input, output));
    }
    void start(const std::string& text, sim::ui::LineOptions options) {
        input.clear();
        input.str(text);
        auto line = std::make_shared<sim::ui::LineFrontEnd>(input, output);
        line->configure(std::move(options));
        sim::ui::set_front_end(line);
    }
    // Drops the front-end so that its reader is done with `input`.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::istringstream all(output.str());
        for (std::string line; std::getline(all, line);) out.push_back(line);
        return out;
    }
    std::istringstream input;
    std::ostringstream output;
};

inline const DLGTEMPLATE* program_template(int id) {
    HMODULE program = reinterpret_cast<HMODULE>(const_cast<RESOURCE_ENTRY*>(ProgramResources));
    HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(id), RT_DIALOG);
    return resource ? static_cast<const DLGTEMPLATE*>(LoadResource(program, resource)) : nullptr;
}

inline HINSTANCE program_instance() {
    return reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources));
}

// Builds a classic template word by word, as the resource compiler would.
class TemplateBuilder {
public:
    TemplateBuilder(DWORD style, const std::u16string& caption, short cx, short cy) {
        dword(style);
        dword(0);
        count_at_ = words_.size();
        words_.push_back(0);
        for (short v : {short(0), short(0), cx, cy}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(0);  // menu
        words_.push_back(0);  // class
        text(caption);
        if (style & DS_SETFONT) {
            words_.push_back(8);
            text(u"System");
        }
    }
    // class_atom 0 means the class is given by name.
    TemplateBuilder& item(DWORD style, WORD id, WORD class_atom, const std::u16string& class_name,
                          const std::u16string& title, std::vector<WORD> creation = {}) {
        while (words_.size() % 2) words_.push_back(0);
        dword(style);
        dword(0);
        for (short v : {short(1), short(2), short(30), short(10)}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(id);
        if (class_atom) {
            words_.push_back(0xFFFF);
            words_.push_back(class_atom);
        } else {
            text(class_name);
        }
        text(title);
        if (creation.empty()) {
            words_.push_back(0);
        } else {
            words_.push_back(static_cast<WORD>((creation.size() + 1) * sizeof(WORD)));
            words_.insert(words_.end(), creation.begin(), creation.end());
        }
        words_[count_at_]++;
        return *this;
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }
    std::vector<WORD>& words() { return words_; }

private:
    void dword(DWORD v) {
        words_.push_back(static_cast<WORD>(v));
        words_.push_back(static_cast<WORD>(v >> 16));
    }
    void text(const std::u16string& s) {
        for (char16_t c : s) words_.push_back(c);
        words_.push_back(0);
    }
    std::vector<WORD> words_;  // vector storage is at least DWORD-aligned
    size_t count_at_ = 0;
};

}  // namespace ui_test
