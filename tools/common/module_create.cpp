#include "tools/common/module_create.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "module/module.h"

namespace fs = std::filesystem;

namespace {

// A new empty folder beside dir: "DIR/../.NAME.<what>-XXXXXX".
fs::path folder_beside(const fs::path& dir, const char* what, std::string* error) {
    std::string pattern = (dir.parent_path() / ("." + dir.filename().string() + "." + what + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
        *error = "cannot create " + dir.string() + ": " + std::strerror(errno);
        return {};
    }
    return pattern;
}

// The names of the folder beside, in a message, as the one asked for.
std::string named_as(std::string text, const fs::path& from, const fs::path& to) {
    if (from == to) return text;
    for (size_t at = text.find(from.string()); at != std::string::npos;
         at = text.find(from.string(), at + to.string().size()))
        text.replace(at, from.string().size(), to.string());
    return text;
}

// Puts the made module in dir's place; a module there moves aside first and
// is removed once the new one stands.
bool put_in_place(const fs::path& made, const fs::path& dir, bool replace, std::string* error) {
    std::error_code ec;
    bool holds_module = fs::exists(dir / "module.toml", ec);
    if (!holds_module) {
        // A new name, or an empty folder the rename takes the place of.
        if (::rename(made.c_str(), dir.c_str()) == 0) return true;
        *error = errno == ENOTEMPTY || errno == EEXIST
                     ? dir.string() + " holds files but no module; give a new or empty folder"
                     : "cannot create " + dir.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!replace) {
        *error = dir.string() + " already holds a module (use --force to replace it)";
        return false;
    }
    fs::path old = folder_beside(dir, "old", error);
    if (old.empty()) return false;
    if (::rename(dir.c_str(), old.c_str()) != 0) {
        *error = "cannot replace " + dir.string() + ": " + std::strerror(errno);
        fs::remove_all(old, ec);
        return false;
    }
    if (::rename(made.c_str(), dir.c_str()) != 0) {
        *error = "cannot replace " + dir.string() + ": " + std::strerror(errno);
        ::rename(old.c_str(), dir.c_str());
        return false;
    }
    fs::remove_all(old, ec);
    return true;
}

}  // namespace

bool create_module_whole(const fs::path& asked, const sim::Config& profile, bool replace, std::string* error) {
    fs::path dir = asked.lexically_normal();
    if (!dir.has_filename()) dir = dir.parent_path();
    if (dir.parent_path().empty()) dir = fs::path(".") / dir;
    std::error_code ec;
    if (!replace && fs::exists(dir / "module.toml", ec)) {
        *error = asked.string() + " already holds a module (use --force to replace it)";
        return false;
    }
    fs::create_directories(dir.parent_path(), ec);
    if (ec) {
        *error = "cannot create " + asked.string() + ": " + ec.message();
        return false;
    }
    fs::path made = folder_beside(dir, "new", error);
    if (made.empty()) return false;
    // The module's folder as mkdir(2) would make it, not the private one mkdtemp makes.
    mode_t mask = umask(0);
    umask(mask);
    ::chmod(made.c_str(), 0777 & ~mask);
    std::string why;
    if (!sim::Module::create(made, profile, &why) || !put_in_place(made, dir, replace, &why)) {
        *error = named_as(named_as(why, made, asked), dir, asked);
        fs::remove_all(made, ec);
        return false;
    }
    return true;
}
