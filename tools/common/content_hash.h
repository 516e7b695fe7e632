// A 64-bit fingerprint of a file or of a module folder, to tell whether two
// runs were given the same inputs (the shards of a sweep): equal contents
// give equal fingerprints on every host; it is no defence against a file
// made to collide.
#pragma once
#include <filesystem>
#include <set>
#include <string>

// The fingerprint of the file's bytes as 16 hex digits, or "" when it cannot
// be read.
std::string file_fingerprint(const std::filesystem::path& file);
// Of every file in the folder, by name and bytes, but those named in
// leave_out; "" when one cannot be read.
std::string folder_fingerprint(const std::filesystem::path& folder, const std::set<std::string>& leave_out);
