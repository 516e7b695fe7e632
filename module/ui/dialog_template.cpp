#include "module/ui/dialog_template.h"

#include <cstring>

namespace sim::ui {
namespace {

// Walks the template word by word from its start.
struct TemplateReader {
    const BYTE* base;
    size_t offset;

    WORD word() {
        WORD value;
        std::memcpy(&value, base + offset, sizeof value);
        offset += sizeof value;
        return value;
    }
    bool text(std::u16string* out) {
        out->clear();
        for (size_t n = 0; n <= kMaxTemplateText; ++n) {
            WORD c = word();
            if (c == 0) return true;
            out->push_back(static_cast<char16_t>(c));
        }
        return false;
    }
    void align_dword() { offset = (offset + 3) & ~size_t{3}; }
};

// A menu, class or title field: 0 (none), 0xFFFF and an ordinal, or a text.
bool name_or_ordinal(TemplateReader& reader, std::u16string* name, int* ordinal) {
    *ordinal = -1;
    name->clear();
    WORD first = reader.word();
    if (first == 0) return true;
    if (first == 0xFFFF) {
        *ordinal = reader.word();
        return true;
    }
    reader.offset -= sizeof(WORD);
    return reader.text(name);
}

}  // namespace

std::u16string class_name_of_atom(WORD atom) {
    switch (atom) {
        case 0x0080: return u"Button";
        case 0x0081: return u"Edit";
        case 0x0082: return u"Static";
        case 0x0083: return u"ListBox";
        case 0x0084: return u"ScrollBar";
        case 0x0085: return u"ComboBox";
        default: return u"";
    }
}

bool parse_dialog_template(const DLGTEMPLATE* dialogTemplate, DialogTemplateInfo* info, std::string* error) {
    if (dialogTemplate == nullptr) {
        *error = "no template";
        return false;
    }
    TemplateReader reader{reinterpret_cast<const BYTE*>(dialogTemplate), 0};
    // DLGTEMPLATEEX starts with version 1 and the signature 0xFFFF.
    WORD first = reader.word();
    WORD second = reader.word();
    if (first == 1 && second == 0xFFFF) {
        *error = "extended dialog templates are not supported";
        return false;
    }
    DLGTEMPLATE header;
    std::memcpy(&header, dialogTemplate, sizeof header);
    reader.offset = sizeof(DLGTEMPLATE);
    *info = DialogTemplateInfo{};
    info->style = header.style;
    info->extended_style = header.dwExtendedStyle;
    info->x = header.x;
    info->y = header.y;
    info->cx = header.cx;
    info->cy = header.cy;
    if (header.cdit > kMaxTemplateItems) {
        *error = "too many controls in the template";
        return false;
    }

    std::u16string name;
    int ordinal;
    if (!name_or_ordinal(reader, &name, &ordinal)) {
        *error = "menu name has no end";
        return false;
    }
    info->menu = (ordinal < 0 && name.empty()) ? 0 : -1;
    if (!name_or_ordinal(reader, &info->class_name, &ordinal)) {
        *error = "class name has no end";
        return false;
    }
    if (!reader.text(&info->caption)) {
        *error = "caption has no end";
        return false;
    }
    if (info->style & DS_SETFONT) {
        info->point_size = reader.word();
        if (!reader.text(&info->typeface)) {
            *error = "typeface has no end";
            return false;
        }
    }

    for (WORD index = 0; index < header.cdit; ++index) {
        reader.align_dword();
        TemplateItem item;
        item.offset = reader.offset;
        DLGITEMTEMPLATE raw;
        std::memcpy(&raw, reader.base + reader.offset, sizeof raw);
        reader.offset += sizeof raw;
        item.style = raw.style;
        item.extended_style = raw.dwExtendedStyle;
        item.x = raw.x;
        item.y = raw.y;
        item.cx = raw.cx;
        item.cy = raw.cy;
        item.id = raw.id;
        if (!name_or_ordinal(reader, &item.class_name, &ordinal)) {
            *error = "control class has no end";
            return false;
        }
        if (ordinal >= 0) {
            item.class_name = class_name_of_atom(static_cast<WORD>(ordinal));
            if (item.class_name.empty()) {
                *error = "unknown control class atom " + std::to_string(ordinal);
                return false;
            }
        } else if (item.class_name.empty()) {
            *error = "control without a class";
            return false;
        }
        if (!name_or_ordinal(reader, &item.title, &item.title_ordinal)) {
            *error = "control title has no end";
            return false;
        }
        // A nonzero size counts the size word itself.
        item.creation_data_size = reader.word();
        if (item.creation_data_size > sizeof(WORD)) reader.offset += item.creation_data_size - sizeof(WORD);
        info->items.push_back(item);
    }
    return true;
}

}  // namespace sim::ui
