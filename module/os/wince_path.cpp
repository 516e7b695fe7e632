#include "module/os/wince_path.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "module/hw/folder_file.h"
#include "module/observer.h"
#include "module/os/os_errors.h"

namespace sim::os {

bool is_wince_path(const std::u16string& path) { return !path.empty() && path[0] == u'\\'; }

// Folds ASCII letters only; other characters compare exactly.
bool names_equal_ignoring_case(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
        char a = left[i], b = right[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// A component may not leave the root or carry characters the WinCE file
// system refuses; '/' is refused too, since the host would take it as a
// separator.
static bool valid_component(const std::u16string& name) {
    if (name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c < 0x20) return false;
        switch (c) {
            case u'/':
            case u'<':
            case u'>':
            case u':':
            case u'"':
            case u'|':
            case u'?':
            case u'*': return false;
            default: break;
        }
    }
    return true;
}

bool resolve_wince_path(const std::filesystem::path& root, const std::u16string& path, bool last_may_be_missing,
                        std::filesystem::path* out, DWORD* error) {
    std::vector<std::u16string> components;
    std::u16string current;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!current.empty()) components.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) components.push_back(current);

    std::filesystem::path resolved = root;
    for (size_t i = 0; i < components.size(); ++i) {
        if (!valid_component(components[i])) {
            *error = kErrorInvalidName;
            return false;
        }
        std::string wanted = utf8(components[i]);
        bool last = i + 1 == components.size();
        std::error_code ec;
        std::filesystem::path match;
        for (std::filesystem::directory_iterator it(resolved, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name == wanted) {
                match = it->path();
                break;
            }
            if (match.empty() && names_equal_ignoring_case(name, wanted)) match = it->path();
        }
        if (ec) {
            *error = kErrorPathNotFound;
            return false;
        }
        // The WinCE file system has no links: one in the root is refused,
        // never followed out of it.
        if (!match.empty() && std::filesystem::is_symlink(std::filesystem::symlink_status(match, ec))) {
            std::fprintf(stderr, "module: %s\n", open_failure(match, ELOOP).c_str());
            *error = ERROR_ACCESS_DENIED;
            return false;
        }
        if (match.empty()) {
            if (!last) {
                *error = kErrorPathNotFound;
                return false;
            }
            if (!last_may_be_missing) {
                *error = ERROR_FILE_NOT_FOUND;
                return false;
            }
            match = resolved / wanted;
        }
        resolved = match;
    }
    *out = resolved;
    return true;
}

}  // namespace sim::os
