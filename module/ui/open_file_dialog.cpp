// GetOpenFileNameW: the front-end asks for a path; the dialog checks it
// (length, and existence under OFN_FILEMUSTEXIST) and copies it into the
// caller's buffer with the offsets of the file name and its extension.
#include "module/observer.h"
#include "module/ui/front_end.h"
#include "module/ui/ui_config.h"
#include "module/ui/window.h"
#include "platform/commdlg.h"
#include "platform/winbase.h"

namespace sim::ui {
namespace {

// The size the caller states: this build's record, or the module's 32-bit one.
constexpr DWORD kOpenFileNameSize32 = 76;

std::u16string text_of(LPCWSTR text) {
    if (text == nullptr) return u"";
    size_t length = 0;
    while (text[length] != 0) ++length;
    return std::u16string(text, length);
}

// The filter is pairs of texts, each ended by a zero, the list by another.
std::vector<std::pair<std::u16string, std::u16string>> filters_of(LPCWSTR filter) {
    std::vector<std::pair<std::u16string, std::u16string>> filters;
    if (filter == nullptr) return filters;
    const WCHAR* cursor = filter;
    while (*cursor != 0) {
        std::u16string description = text_of(cursor);
        cursor += description.size() + 1;
        std::u16string pattern = text_of(cursor);
        cursor += pattern.size() + 1;
        filters.emplace_back(description, pattern);
        if (pattern.empty()) break;
    }
    return filters;
}

bool file_exists(const std::u16string& path) {
    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    CloseHandle(file);
    return true;
}

}  // namespace
}  // namespace sim::ui

using namespace sim::ui;

BOOL GetOpenFileNameW(LPOPENFILENAMEW request) {
    if (request == nullptr) return FALSE;
    if (request->lStructSize != sizeof(OPENFILENAMEW) && request->lStructSize != kOpenFileNameSize32) return FALSE;
    if (request->lpstrFile == nullptr || request->nMaxFile == 0) return FALSE;

    OpenFileView view;
    view.title = request->lpstrTitle ? text_of(request->lpstrTitle) : u"Open";
    view.filters = filters_of(request->lpstrFilter);
    view.filter_index = request->nFilterIndex;
    view.initial_dir = text_of(request->lpstrInitialDir);
    view.max_chars = request->nMaxFile;
    view.flags = request->Flags;

    DWORD longest = request->nMaxFile - 1;
    bool must_exist = (request->Flags & OFN_FILEMUSTEXIST) != 0;
    PathCheck check = [longest, must_exist](const std::u16string& path) -> std::string {
        if (path.size() > longest)
            return "path too long (" + std::to_string(path.size()) + " characters, at most " + std::to_string(longest) +
                   "): " + sim::utf8(path);
        if (must_exist && !file_exists(path)) return "file not found: " + sim::utf8(path);
        return "";
    };
    deliver_reports_first();
    std::optional<std::u16string> chosen = front_end()->open_file(view, check);
    // A front-end that skips the check still never overruns the buffer.
    if (!chosen || chosen->empty() || !check(*chosen).empty()) return FALSE;

    const std::u16string& path = *chosen;
    std::copy(path.begin(), path.end(), request->lpstrFile);
    request->lpstrFile[path.size()] = 0;
    size_t name_start = path.find_last_of(u"\\/");
    name_start = (name_start == std::u16string::npos) ? 0 : name_start + 1;
    size_t dot = path.find_last_of(u'.');
    size_t extension = (dot == std::u16string::npos || dot < name_start) ? path.size() : dot + 1;
    request->nFileOffset = static_cast<WORD>(name_start);
    request->nFileExtension = static_cast<WORD>(extension);
    if (request->lpstrFileTitle != nullptr && request->nMaxFileTitle > 0) {
        std::u16string title = path.substr(name_start);
        size_t count = std::min<size_t>(title.size(), request->nMaxFileTitle - 1);
        std::copy(title.begin(), title.begin() + count, request->lpstrFileTitle);
        request->lpstrFileTitle[count] = 0;
    }
    return TRUE;
}
