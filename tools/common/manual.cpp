#include "tools/common/manual.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace cli {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool indented(const std::string& line) { return !line.empty() && line[0] == ' '; }

// Help text as roff: plain lines are filled into paragraphs, indented lines
// (tables, examples) kept as they are, blank lines part paragraphs. Lines
// that start with the program's name are usage lines and kept too.
std::string roff_block(const std::string& text, const std::string& program = "") {
    std::string out;
    bool kept = false;
    for (const std::string& line : lines_of(text)) {
        bool keep = indented(line) || (!program.empty() && line.rfind(program + " ", 0) == 0);
        if (keep != kept) out += keep ? ".nf\n" : ".fi\n";
        kept = keep;
        out += line.empty() ? ".sp\n" : roff_text(line) + "\n";
    }
    if (kept) out += ".fi\n";
    return out;
}

bool listed(const CLI::Option* o) { return !o->get_group().empty(); }
bool is_help(const CLI::Option* o) { return o->check_lname("help"); }

std::vector<const CLI::Option*> options_of(const CLI::App& app, bool positional) {
    std::vector<const CLI::Option*> picked;
    for (const CLI::Option* o : app.get_options())
        if (listed(o) && o->nonpositional() != positional) picked.push_back(o);
    return picked;
}

std::vector<const CLI::App*> commands_of(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App*) { return true; });
}

bool takes_value(const CLI::Option* o) { return o->get_items_expected_max() > 0; }

std::string bold(const std::string& text) { return "\\fB" + roff_text(text) + "\\fR"; }
std::string italic(const std::string& text) { return "\\fI" + roff_text(text) + "\\fR"; }

// "-o, --output FILE" in roff.
std::string option_tag(const CLI::Option* o) {
    std::string tag;
    for (const std::string& s : o->get_snames()) tag += (tag.empty() ? "" : ", ") + bold("-" + s);
    for (const std::string& l : o->get_lnames()) tag += (tag.empty() ? "" : ", ") + bold("--" + l);
    std::string type = o->get_type_name();
    if (takes_value(o) && !type.empty()) tag += " " + italic(type);
    return tag;
}

std::string option_entry(const CLI::Option* o) {
    std::string entry = ".TP\n" + option_tag(o) + "\n" + roff_block(o->get_description());
    if (!o->get_default_str().empty()) entry += ".br\nDefault: " + bold(o->get_default_str()) + ".\n";
    return entry;
}

// Positional arguments as the synopsis names them: DIR, [IMAGE], NAME ...
std::string arguments(const CLI::App& app) {
    std::string words;
    for (const CLI::Option* p : options_of(app, true)) {
        std::string word = italic(p->get_name(true));
        if (p->get_items_expected_max() > 1) word += " ...";
        words += " " + (p->get_required() ? word : "[" + word + "]");
    }
    return words;
}

// The footer's "Exit status:" part as a table; the lines before it.
void split_footer(const std::string& footer, std::string* before, std::string* statuses) {
    size_t at = footer.find("Exit status:");
    *before = footer.substr(0, at);
    *statuses = at == std::string::npos ? "" : footer.substr(at + 12);
}

// "0 done, 1 failed, 2 usage." or indented rows "  0 success   text".
std::string status_table(const std::string& statuses) {
    std::vector<std::string> lines = lines_of(statuses);
    std::string out, first = lines.empty() ? "" : lines[0];
    first.erase(0, first.find_first_not_of(' '));
    if (!first.empty() && first.back() != ':') {
        if (first.back() == '.') first.pop_back();
        size_t begin = 0;
        for (size_t i = 0; i <= first.size(); ++i) {
            bool next = i == first.size() || (first.compare(i, 2, ", ") == 0 && i + 3 < first.size() &&
                                              isdigit(first[i + 2]) && first[i + 3] == ' ');
            if (!next) continue;
            std::string row = first.substr(begin, i - begin);
            size_t blank = row.find(' ');
            out += ".TP\n" + bold(row.substr(0, blank)) + "\n" + roff_text(row.substr(blank + 1)) + "\n";
            begin = i + 2;
        }
        return out;
    }
    if (!first.empty()) out += roff_text(first) + "\n";
    bool in_table = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() > 3 && line[0] == ' ' && line[1] == ' ' && isdigit(line[2]) && line[3] == ' ') {
            size_t text = line.find_first_not_of(' ', line.find(' ', 4));
            out += ".TP\n" + bold(line.substr(2, 1)) + " (" + line.substr(4, line.find(' ', 4) - 4) + ")\n" +
                   roff_text(text == std::string::npos ? "" : line.substr(text)) + "\n";
            in_table = true;
        } else if (indented(line) && in_table) {
            out += roff_text(line.substr(line.find_first_not_of(' '))) + "\n";
        } else {
            if (in_table) out += ".PP\n";
            in_table = false;
            out += roff_text(line) + "\n";
        }
    }
    return out;
}

std::string option_list(const CLI::App& app, bool with_help) {
    std::string out, group;
    for (const CLI::Option* o : options_of(app, false)) {
        if (!with_help && is_help(o)) continue;
        if (o->get_group() != group && o->get_group() != "Options") out += ".SS " + roff_text(o->get_group()) + "\n";
        group = o->get_group();
        out += option_entry(o);
    }
    return out;
}

std::string command_section(const CLI::App& app, const CLI::App& command) {
    std::string out = ".SS " + bold(command.get_name()) + arguments(command) + "\n";
    out += roff_block(command.get_description());
    for (const CLI::Option* p : options_of(command, true))
        if (!p->get_description().empty())
            out += ".TP\n" + italic(p->get_name(true)) + "\n" + roff_block(p->get_description());
    out += option_list(command, false);
    std::string before, statuses;
    split_footer(command.get_footer(), &before, &statuses);
    if (!statuses.empty() && command.get_footer() != app.get_footer())
        out += ".PP\nExit status:\n" + status_table(statuses);
    return out;
}

// The words a value or argument completes to: a folder, a .bin file, a
// file, listed words, or anything.
std::string value_kind(const std::string& name, const CompletionWords& words) {
    if (auto w = words.find(name); w != words.end()) {
        std::string listed = w->second;
        std::replace(listed.begin(), listed.end(), ' ', ',');
        return "words:" + listed;
    }
    if (name.find('|') != std::string::npos) {
        // The lowercase words of "max|realtime", "BYTE|pattern",
        // "erase@ADDRESS|program@ADDRESS" (up to their placeholder).
        std::string listed;
        std::istringstream in(name);
        for (std::string word; std::getline(in, word, '|');) {
            size_t upper = 0;
            while (upper < word.size() && !isupper(static_cast<unsigned char>(word[upper]))) ++upper;
            if (upper > 0) listed += (listed.empty() ? "" : ",") + word.substr(0, upper);
        }
        if (!listed.empty()) return "words:" + listed;
    }
    if (name.find(".bin") != std::string::npos || name == "IMAGE") return "bin";
    if (name == "DIR" || name == "OTHER") return "dir";
    if (name == "FILE" || name == "PATH" || name == "LIST") return "file";
    return "any";
}

std::string bash_quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void add_tables(const CLI::App& app, const std::string& tool, const std::string& command, const CompletionWords& words,
                std::string* out) {
    const std::string key = tool + "|" + command;
    std::string names, positionals;
    for (const CLI::Option* o : options_of(app, false)) {
        std::vector<std::string> all;
        for (const std::string& s : o->get_snames()) all.push_back("-" + s);
        for (const std::string& l : o->get_lnames()) all.push_back("--" + l);
        for (const std::string& n : all) {
            names += (names.empty() ? "" : " ") + n;
            if (takes_value(o))
                *out += "_updatetool_values[" + bash_quoted(key + "|" + n) +
                        "]=" + bash_quoted(value_kind(o->get_type_name(), words)) + "\n";
        }
    }
    for (const CLI::Option* p : options_of(app, true)) {
        std::string name =
            p->get_type_name().empty() || p->get_type_name() == "TEXT" ? p->get_name(true) : p->get_type_name();
        std::string kind = value_kind(name, words);
        positionals += (positionals.empty() ? "" : " ") + kind + (p->get_items_expected_max() > 1 ? "..." : "");
    }
    *out += "_updatetool_options[" + bash_quoted(key) + "]=" + bash_quoted(names) + "\n";
    *out += "_updatetool_arguments[" + bash_quoted(key) + "]=" + bash_quoted(positionals) + "\n";
    std::string commands;
    for (const CLI::App* sub : commands_of(app)) {
        commands += (commands.empty() ? "" : " ") + sub->get_name();
        add_tables(*sub, tool, sub->get_name(), words, out);
    }
    if (!commands.empty()) *out += "_updatetool_commands[" + bash_quoted(tool) + "]=" + bash_quoted(commands) + "\n";
}

}  // namespace

std::string roff_text(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string man_sections(const CLI::App& app) {
    const std::string name = app.get_name();
    std::string out = ".SH SYNOPSIS\n";
    std::vector<const CLI::App*> commands = commands_of(app);
    if (commands.empty()) {
        out += bold(name) + " [" + italic("options") + "]" + arguments(app) + "\n";
    } else {
        out += bold(name) + " " + italic("command") + " [" + italic("options") + "] [" + italic("arguments") + "]\n";
        for (const CLI::App* c : commands)
            out += ".br\n" + bold(name) + " " + bold(c->get_name()) + arguments(*c) + " [" + italic("options") + "]\n";
    }
    out += ".SH DESCRIPTION\n" + roff_block(app.get_description(), name);
    std::string before, statuses;
    split_footer(app.get_footer(), &before, &statuses);
    out += ".SH OPTIONS\n" + option_list(app, true);
    for (const CLI::Option* p : options_of(app, true))
        out += ".TP\n" + italic(p->get_name(true)) + "\n" + roff_block(p->get_description());
    if (!before.empty()) out += ".PP\n" + roff_block(before);
    if (!commands.empty()) {
        out += ".SH COMMANDS\n";
        for (const CLI::App* c : commands) out += command_section(app, *c);
    }
    if (!statuses.empty()) out += ".SH EXIT STATUS\n" + status_table(statuses);
    return out;
}

std::string completion_tables(const CLI::App& app, const CompletionWords& words) {
    std::string out;
    add_tables(app, app.get_name(), "", words, &out);
    return out;
}

void add_generate(CLI::App& app, const CompletionWords& words,
                  std::vector<std::pair<std::string, std::function<std::string()>>> extra) {
    CLI::App* owner = &app;
    app.add_option_function<std::string>(
           "--generate",
           [owner, words, extra](const std::string& what) {
               std::string text;
               if (what == "man")
                   text = man_sections(*owner);
               else if (what == "bash")
                   text = completion_tables(*owner, words);
               else {
                   bool found = false;
                   for (const auto& [name, make] : extra)
                       if (name == what) text = make(), found = true;
                   if (!found) throw CLI::ValidationError("--generate", "no part named " + what);
               }
               std::fputs(text.c_str(), stdout);
               throw CLI::Success();
           },
           "")
        ->group("");
}

}  // namespace cli
