#include "module/ui/terminal/file_browser.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "module/module.h"
#include "module/observer.h"
#include "module/os/wince_path.h"

namespace sim::ui::terminal {
namespace {

namespace fs = std::filesystem;

bool is_full_path(const std::u16string& path) { return !path.empty() && (path[0] == u'\\' || path[0] == u'/'); }

// The file-system names match without regard to case, as on the module.
bool matches(const std::string& name, const std::u16string& patterns) {
    if (patterns.empty()) return true;
    std::string all = utf8(patterns);
    size_t start = 0;
    for (;;) {
        size_t end = all.find(';', start);
        std::string pattern = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!pattern.empty() && fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

bool before_ignoring_case(const FileEntry& left, const FileEntry& right) {
    if (left.folder != right.folder) return left.folder;
    std::string a = utf8(left.name), b = utf8(right.name);
    std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return a != b ? a < b : left.name < right.name;
}

// The host folder behind a path of either kind.
bool host_folder(const std::u16string& path, fs::path* out) {
    if (path.empty() || path[0] != u'\\') {
        *out = fs::path(utf8(path));
        return true;
    }
    Module* module = Module::current();
    DWORD error = 0;
    return module != nullptr && os::resolve_wince_path(module->root_dir(), path, false, out, &error);
}

bool is_folder(const std::u16string& path) {
    fs::path host;
    std::error_code ec;
    return host_folder(path, &host) && fs::is_directory(host, ec);
}

}  // namespace

FileBrowser::FileBrowser(const std::u16string& start, const std::u16string& patterns) : patterns_(patterns) {
    std::error_code ec;
    host_start_ = utf16(fs::current_path(ec).string());
    std::u16string first = start;
    if (first.empty())
        first = host_start_;
    else if (!is_full_path(first))
        first = utf16(fs::absolute(fs::path(utf8(first)), ec).string());
    if (!show(first)) {
        folder_ = first;
        list();
    }
}

bool FileBrowser::show(const std::u16string& path) {
    if (!is_full_path(path) || !is_folder(path)) return false;
    std::u16string shown = path;
    if (shown[0] == u'\\') {
        // A module path keeps its backslashes; only the root ends with one.
        while (shown.size() > 1 && shown.back() == u'\\') shown.pop_back();
    } else {
        shown = utf16(fs::path(utf8(path)).lexically_normal().string());
        while (shown.size() > 1 && shown.back() == u'/') shown.pop_back();
    }
    folder_ = shown;
    list();
    return true;
}

void FileBrowser::enter(const std::u16string& name) {
    if (name != u"..") {
        show(path_of(name));
        return;
    }
    char16_t separator = is_module_path() ? u'\\' : u'/';
    size_t cut = folder_.find_last_of(separator);
    if (cut == std::u16string::npos) return;
    show(cut == 0 ? folder_.substr(0, 1) : folder_.substr(0, cut));
}

std::u16string FileBrowser::path_of(const std::u16string& name) const {
    if (is_full_path(name)) return name;
    char16_t separator = is_module_path() ? u'\\' : u'/';
    if (!folder_.empty() && folder_.back() == separator) return folder_ + name;
    return folder_ + separator + name;
}

void FileBrowser::list() {
    entries_.clear();
    error_.clear();
    fs::path host;
    if (!host_folder(folder_, &host)) {
        error_ = "cannot open the folder " + utf8(folder_);
        return;
    }
    std::error_code ec;
    for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        // Hidden host files stay hidden, as the module's file system has none.
        if (name.empty() || name[0] == '.') continue;
        std::error_code kind_error;
        bool folder = it->is_directory(kind_error);
        if (folder || matches(name, patterns_)) entries_.push_back({utf16(name), folder, u""});
    }
    if (ec) error_ = "cannot list the folder " + utf8(folder_) + ": " + ec.message();
    std::sort(entries_.begin(), entries_.end(), before_ignoring_case);
    // An image made on the host is found from the module's folders, and back.
    if (is_module_path() && !host_start_.empty())
        entries_.push_back(FileEntry{host_start_, true, u"[this computer] " + host_start_});
    else if (!is_module_path() && Module::current())
        entries_.push_back(FileEntry{u"\\", true, u"[module] \\"});
    if (folder_.size() > 1) entries_.insert(entries_.begin(), FileEntry{u"..", true, u""});
}

}  // namespace sim::ui::terminal
