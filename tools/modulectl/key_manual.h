// The parts of the manual that modulectl's tables make: the keys of
// module.toml (updatetool-module(5)) and the built-in profiles as files.
#pragma once
#include <string>

namespace modulectl {

// Every key of the key table as a roff list: its type and range, whether a
// module needs it, its meaning, and what the built-in profiles set it to.
std::string key_manual();

// A built-in profile as the module.toml that `modulectl create` writes.
std::string profile_toml(const std::string& name);

}  // namespace modulectl
