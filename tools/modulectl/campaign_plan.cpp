#include "tools/modulectl/campaign_plan.h"

#include <toml++/toml.h>
#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

#include "module/config.h"
#include "module/module_folder.h"
#include "module/profiles.h"

namespace fs = std::filesystem;

const char* const kExpectations[3] = {"success", "refused", "declined"};

namespace {

const char* type_name(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a number with a fraction";
        case toml::node_type::boolean: return "true or false";
        case toml::node_type::array: return "a list";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

// Reads one table of the plan; the first problem is kept, with its line.
class Reader {
public:
    Reader(std::string source, fs::path base) : source_(std::move(source)), base_(std::move(base)) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    void fail(const toml::node& at, const std::string& key, const std::string& message) {
        if (failed()) return;
        error_ =
            source_ + ":" + std::to_string(std::max<uint32_t>(1, at.source().begin.line)) + ": " + key + ": " + message;
    }

    // Every key of table is one of known; names the first that is not.
    void only_keys(const toml::table& table, const std::string& prefix, const std::vector<std::string>& known) {
        for (const auto& [key, node] : table) {
            if (std::find(known.begin(), known.end(), std::string(key.str())) != known.end()) continue;
            std::string list;
            for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
            fail(node, prefix + std::string(key.str()), "unknown key (known: " + list + ")");
        }
    }

    std::string text(const toml::table& t, const std::string& prefix, const char* key, const std::string& fallback) {
        const toml::node* n = t.get(key);
        if (!n) return fallback;
        if (!n->is_string()) {
            fail(*n, prefix + key, std::string("must be a string, not ") + type_name(*n));
            return fallback;
        }
        return n->as_string()->get();
    }

    std::vector<std::string> texts(const toml::table& t, const std::string& prefix, const char* key) {
        std::vector<std::string> out;
        const toml::node* n = t.get(key);
        if (!n) return out;
        const toml::array* list = n->as_array();
        if (!list) {
            fail(*n, prefix + key, std::string("must be a list of strings, not ") + type_name(*n));
            return out;
        }
        for (const toml::node& item : *list) {
            if (!item.is_string())
                fail(item, prefix + key, std::string("must hold strings, not ") + type_name(item));
            else
                out.push_back(item.as_string()->get());
        }
        return out;
    }

    bool flag(const toml::table& t, const std::string& prefix, const char* key, bool fallback) {
        const toml::node* n = t.get(key);
        if (!n) return fallback;
        if (!n->is_boolean()) {
            fail(*n, prefix + key, std::string("must be true or false, not ") + type_name(*n));
            return fallback;
        }
        return n->as_boolean()->get();
    }

    uint64_t count(const toml::table& t, const std::string& prefix, const char* key, uint64_t low, uint64_t high,
                   uint64_t fallback) {
        const toml::node* n = t.get(key);
        if (!n) return fallback;
        if (!n->is_integer()) {
            fail(*n, prefix + key, std::string("must be an integer, not ") + type_name(*n));
            return fallback;
        }
        int64_t v = n->as_integer()->get();
        if (v < static_cast<int64_t>(low) || static_cast<uint64_t>(v) > high) {
            fail(*n, prefix + key,
                 "must be " + std::to_string(low) + " to " + std::to_string(high) + ", not " + std::to_string(v));
            return fallback;
        }
        return static_cast<uint64_t>(v);
    }

    double seconds(const toml::table& t, const std::string& prefix, const char* key, double fallback) {
        const toml::node* n = t.get(key);
        if (!n) return fallback;
        std::optional<double> v = n->value<double>();
        if (!n->is_number() || !v) {
            fail(*n, prefix + key, std::string("must be a number of seconds, not ") + type_name(*n));
            return fallback;
        }
        if (!(*v > 0) || !std::isfinite(*v)) fail(*n, prefix + key, "must be more than 0 seconds");
        return *v;
    }

    // A file named in the plan, relative to the plan's folder; it must exist.
    fs::path file(const toml::node& at, const std::string& key, const std::string& name) {
        fs::path path = fs::path(name).is_absolute() ? fs::path(name) : base_ / name;
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) fail(at, key, "no such file: " + path.string());
        return path;
    }

    fs::path resolve(const std::string& name) const {
        return fs::path(name).is_absolute() ? fs::path(name) : base_ / name;
    }

private:
    std::string source_;
    fs::path base_;
    std::string error_;
};

// The tables of an array of tables ([[module]], [[image]]).
std::vector<const toml::table*> tables_of(Reader& r, const toml::table& root, const char* key) {
    std::vector<const toml::table*> out;
    const toml::node* n = root.get(key);
    if (!n) return out;
    const toml::array* list = n->as_array();
    if (!list) {
        r.fail(*n, key, std::string("must be tables [[") + key + "]], not " + type_name(*n));
        return out;
    }
    for (const toml::node& item : *list) {
        if (const toml::table* t = item.as_table())
            out.push_back(t);
        else
            r.fail(item, key, std::string("must be tables [[") + key + "]], not " + type_name(item));
    }
    return out;
}

void read_module(Reader& r, const toml::table& t, std::set<std::string>* names, CampaignPlan* plan) {
    const std::string p = "module.";
    r.only_keys(t, p, {"name", "profile", "folder", "set", "prerequisites"});
    PlanModule m;
    m.profile = r.text(t, p, "profile", "");
    std::string folder = r.text(t, p, "folder", "");
    m.sets = r.texts(t, p, "set");
    if (r.failed()) return;
    sim::Config config;
    std::string error;
    if (m.profile.empty() == folder.empty()) {
        r.fail(t, "module", "give one of profile and folder");
        return;
    }
    if (!m.profile.empty() && !sim::builtin_profile(m.profile, &config)) {
        r.fail(*t.get("profile"), p + "profile", "unknown profile '" + m.profile + "' (see modulectl profiles)");
        return;
    }
    if (!folder.empty()) {
        m.folder = r.resolve(folder);
        if (!sim::check_module_folder(m.folder.string(), &error) ||
            !config.load((m.folder / "module.toml").string(), &error)) {
            r.fail(*t.get("folder"), p + "folder", "not a module: " + error);
            return;
        }
    }
    for (const std::string& s : m.sets)
        if (!config.set_from_assignment(s, &error)) r.fail(*t.get("set"), p + "set", error);
    m.name = r.text(t, p, "name", m.profile.empty() ? m.folder.filename().string() : m.profile);
    if (!names->insert(m.name).second)
        r.fail(t.get("name") ? *t.get("name") : t, p + "name", "'" + m.name + "' names another module too");
    for (const std::string& image : r.texts(t, p, "prerequisites"))
        m.prerequisites.push_back(r.file(*t.get("prerequisites"), p + "prerequisites", image));
    plan->modules.push_back(m);
}

void read_image(Reader& r, const toml::table& t, std::set<std::string>* names, CampaignPlan* plan) {
    const std::string p = "image.";
    r.only_keys(t, p, {"name", "file", "expect", "verify", "dialog", "answers", "sweep", "depth", "timeout"});
    PlanImage image;
    std::string file = r.text(t, p, "file", "");
    if (r.failed()) return;
    if (file.empty()) {
        r.fail(t, "image.file", "missing: the image to update with");
        return;
    }
    image.file = r.file(*t.get("file"), p + "file", file);
    image.name = r.text(t, p, "name", fs::path(file).stem().string());
    if (!names->insert(image.name).second)
        r.fail(t.get("name") ? *t.get("name") : t, p + "name", "'" + image.name + "' names another image too");
    image.expect = r.text(t, p, "expect", "success");
    if (std::find(std::begin(kExpectations), std::end(kExpectations), image.expect) == std::end(kExpectations))
        r.fail(*t.get("expect"), p + "expect", "must be success, refused or declined, not '" + image.expect + "'");
    image.verify = r.flag(t, p, "verify", true);
    image.dialog = r.flag(t, p, "dialog", false);
    image.answers = r.texts(t, p, "answers");
    image.depth = r.count(t, p, "depth", 1, 2, 1);
    image.timeout = r.seconds(t, p, "timeout", 0);
    if (const toml::node* sweep = t.get("sweep")) {
        if (const toml::table* s = sweep->as_table()) {
            const std::string sp = "image.sweep.";
            r.only_keys(*s, sp, {"every", "points", "seed"});
            image.sweep = true;
            image.every = r.count(*s, sp, "every", 1, 0xFFFFFFFF, 0);
            image.points = r.count(*s, sp, "points", 1, 0xFFFFFFFF, 0);
            image.seed = r.count(*s, sp, "seed", 0, 0xFFFFFFFF, 1);
            if (image.every && image.points) r.fail(*sweep, p + "sweep", "give one of every and points");
        } else if (sweep->is_boolean()) {
            image.sweep = sweep->as_boolean()->get();
        } else {
            r.fail(*sweep, p + "sweep",
                   std::string("must be a table {every|points, seed} or false, not ") + type_name(*sweep));
        }
    }
    plan->images.push_back(image);
}

}  // namespace

bool read_campaign_plan(const fs::path& path, CampaignPlan* plan, std::string* error) {
    const std::string source = path.string();
    toml::table root;
    try {
        root = toml::parse_file(source);
    } catch (const toml::parse_error& e) {
        *error = source + ":" + std::to_string(e.source().begin.line) + ": TOML: " + std::string(e.description());
        return false;
    }
    plan->source = path;
    std::error_code ec;
    Reader r(source, fs::absolute(path, ec).parent_path());
    r.only_keys(root, "", {"campaign", "module", "image"});
    if (const toml::node* n = root.get("campaign")) {
        if (const toml::table* c = n->as_table()) {
            r.only_keys(*c, "campaign.", {"timeout", "jobs"});
            plan->timeout = r.seconds(*c, "campaign.", "timeout", plan->timeout);
            plan->jobs = static_cast<unsigned>(r.count(*c, "campaign.", "jobs", 1, 64, 1));
        } else {
            r.fail(*n, "campaign", std::string("must be a table [campaign], not ") + type_name(*n));
        }
    }
    std::set<std::string> module_names, image_names;
    for (const toml::table* t : tables_of(r, root, "module"))
        if (!r.failed()) read_module(r, *t, &module_names, plan);
    for (const toml::table* t : tables_of(r, root, "image"))
        if (!r.failed()) read_image(r, *t, &image_names, plan);
    if (!r.failed() && (plan->modules.empty() || plan->images.empty()))
        r.fail(root, plan->modules.empty() ? "module" : "image",
               std::string("the plan names no ") + (plan->modules.empty() ? "[[module]]" : "[[image]]"));
    if (r.failed()) *error = r.error();
    return !r.failed();
}
