#include "tools/modulectl/key_manual.h"

#include <map>
#include <sstream>
#include <variant>

#include "module/config.h"
#include "module/profile_keys.h"
#include "module/profiles.h"
#include "tools/common/manual.h"

namespace modulectl {

namespace {

std::string value_text(const sim::Config::Entry& entry) {
    struct Show {
        bool hex;
        std::string number(int64_t n) const {
            std::ostringstream out;
            if (hex)
                out << "0x" << std::hex << std::uppercase << n;
            else
                out << n;
            return out.str();
        }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(int64_t n) const { return number(n); }
        std::string operator()(const std::string& s) const { return "\"" + s + "\""; }
        std::string operator()(const std::vector<int64_t>& list) const {
            std::string text = "[";
            for (int64_t n : list) text += (text.size() > 1 ? ", " : "") + number(n);
            return text + "]";
        }
    };
    return std::visit(Show{entry.hex}, entry.value);
}

// "pxa270 24, pxa270-p30 25", or "every built-in profile: 100".
std::string profile_values(const sim::KeyRule& rule, const std::map<std::string, sim::Config>& profiles) {
    std::vector<std::pair<std::string, std::string>> set;  // profile, value
    for (const auto& [name, config] : profiles)
        for (const auto& [key, entry] : config.entries())
            if (sim::find_key_rule(entry.path) == &rule) set.emplace_back(name, key + " = " + value_text(entry));
    if (set.empty()) return "";
    bool same = true;
    for (const auto& s : set) same = same && s.second == set.front().second;
    if (same && set.size() == profiles.size()) return "Every built-in profile: " + cli::roff_text(set.front().second);
    std::string text = "Built-in profiles:";
    for (const auto& [profile, value] : set) text += "\n.br\n" + cli::roff_text(profile + ": " + value);
    return text;
}

}  // namespace

std::string key_manual() {
    std::map<std::string, sim::Config> profiles;
    for (const sim::ProfileInfo& p : sim::builtin_profiles()) sim::builtin_profile(p.name, &profiles[p.name]);
    std::string out;
    for (const sim::KeyRule& rule : sim::profile_key_rules()) {
        std::string key = rule.key;
        if (key == "hal.item#") key = "hal.itemN";
        if (key == "registry.*.*") key = "registry.KEY.PATH.VALUE";
        out += ".TP\n\\fB" + cli::roff_text(key) + "\\fR (" + cli::roff_text(sim::describe_rule(rule)) + ")\n";
        out += cli::roff_text(rule.meaning) + ".\n";
        if (rule.needed_on)
            out += std::string(*rule.needed_on == '*' ? "Every module needs it." : "A NAND module needs it.") + "\n";
        std::string values = profile_values(rule, profiles);
        out += ".br\n" + (values.empty() ? std::string("No built-in profile sets it.") : values) + "\n";
    }
    return out;
}

std::string profile_toml(const std::string& name) {
    sim::Config config;
    if (!sim::builtin_profile(name, &config)) return "";
    return config.file_text();
}

}  // namespace modulectl
