// The folder the file-open dialog shows: a module path (starting with a
// backslash, under the module's file-system root) or a host path, its
// sub-folders and the files that match the dialog's filter.
#pragma once
#include <string>
#include <vector>

namespace sim::ui::terminal {

struct FileEntry {
    std::u16string name;  // ".." for the folder above; a full path for a place
    bool folder = false;
    // A place of the other kind, shown so: the host's current folder beside
    // the module's folders, the module's root beside the host's.
    std::u16string label;
};

class FileBrowser {
public:
    // patterns: the filter's wildcards, separated by ';' ("*.bin"); empty
    // lists every file. An empty start is the working directory.
    FileBrowser(const std::u16string& start, const std::u16string& patterns);

    const std::u16string& folder() const { return folder_; }
    const std::vector<FileEntry>& entries() const { return entries_; }
    // Why the folder could not be listed, or empty.
    const std::string& error() const { return error_; }

    // Goes into a sub-folder of this one, or up for "..".
    void enter(const std::u16string& name);
    // Shows another folder, given as a full path; false when it is none.
    bool show(const std::u16string& path);
    // The path of a name in this folder, in the folder's own kind of path. A
    // name that is a full path itself is returned as it is.
    std::u16string path_of(const std::u16string& name) const;
    bool is_module_path() const { return !folder_.empty() && folder_[0] == u'\\'; }

private:
    void list();

    std::u16string folder_;
    std::u16string host_start_;  // the host's current folder when the dialog opened
    std::u16string patterns_;
    std::vector<FileEntry> entries_;
    std::string error_;
};

}  // namespace sim::ui::terminal
