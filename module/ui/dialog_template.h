// Reads a classic DLGTEMPLATE as the resource compiler lays it out: the
// header, menu, class, caption, the font when DS_SETFONT is set, then the
// DLGITEMTEMPLATEs, each on a DWORD boundary from the template's start, with
// class (0xFFFF and an atom, or a name), title (0xFFFF and an ordinal, or a
// text) and creation data. Extended templates (DLGTEMPLATEEX) are refused.
#pragma once
#include <string>
#include <vector>

#include "platform/windows.h"

namespace sim::ui {

struct TemplateItem {
    DWORD style = 0;
    DWORD extended_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::u16string class_name;  // atoms are given their class names ("Button")
    std::u16string title;       // empty for an ordinal title
    int title_ordinal = -1;     // the ordinal when the title is one
    WORD creation_data_size = 0;
    size_t offset = 0;  // of the item from the template's start
};

struct DialogTemplateInfo {
    DWORD style = 0;
    DWORD extended_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int menu = 0;  // 0: none; a named or ordinal menu is kept as -1
    std::u16string class_name;
    std::u16string caption;
    WORD point_size = 0;
    std::u16string typeface;
    std::vector<TemplateItem> items;
};

// The class names of the predefined atoms (0x0080 Button ... 0x0085 ComboBox).
std::u16string class_name_of_atom(WORD atom);

// A template's texts have no stated length: one longer than this is taken
// as damage rather than read without end.
constexpr size_t kMaxTemplateText = 4096;
constexpr size_t kMaxTemplateItems = 255;

bool parse_dialog_template(const DLGTEMPLATE* dialogTemplate, DialogTemplateInfo* info, std::string* error);

}  // namespace sim::ui
