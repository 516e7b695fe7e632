// A module folder from someone else: its files given as symbolic links, or
// damaged. Every tool refuses such a module with one line naming the file
// and exit status 2, and nothing outside the folder is read into it or
// written through a link.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;

// A tool run on a module: its name in the table and its arguments.
struct Tool {
    const char* name;
    const char* program;
    std::function<std::vector<std::string>(const fs::path& module, const std::string& image)> args;
};

const Tool kTools[] = {
    {"update", "updatetool",
     [](const fs::path& m, const std::string& image) -> std::vector<std::string> {
         return {"--module", m.string(), "-q", "/u", image};
     }},
    {"dry_run", "updatetool",
     [](const fs::path& m, const std::string& image) -> std::vector<std::string> {
         return {"--module", m.string(), "--dry-run", "-q", "/u", image};
     }},
    {"show", "modulectl",
     [](const fs::path& m, const std::string&) -> std::vector<std::string> {
         return {"show", m.string()};
     }},
    {"check", "modulectl",
     [](const fs::path& m, const std::string&) -> std::vector<std::string> {
         return {"check", m.string()};
     }},
    {"set", "modulectl",
     [](const fs::path& m, const std::string&) -> std::vector<std::string> {
         return {"set", m.string(), "power.seed=3"};
     }},
    {"events", "modulectl",
     [](const fs::path& m, const std::string&) -> std::vector<std::string> {
         return {"events", m.string()};
     }},
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string make_image(const e2e::ModuleDir& module) {
    std::string image = module.scratch("os.bin").string();
    e2e::ToolRun made =
        e2e::run_tool("mkbin", {"-o", image, "--start", "0x80080000", "--length", "0x1000", "--fill", "pattern"});
    EXPECT_EQ(made.exit_code, 0) << made.output;
    return image;
}

// The run was refused: status 2, and stderr is one line that names the file.
void expect_refused(const e2e::ToolRun& run, const fs::path& file, const std::string& why) {
    EXPECT_EQ(run.exit_code, 2) << run.output;
    std::string line = run.errors;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    EXPECT_EQ(line.find('\n'), std::string::npos) << "one line: " << run.errors;
    EXPECT_NE(line.find(file.string() + " " + why), std::string::npos) << run.errors;
}

// The module's files and folders (in the module folder), each on the
// module kind that keeps it.
struct ModuleFile {
    const char* name;
    const char* profile;
    bool folder;
};

const ModuleFile kFiles[] = {
    {"module.toml", "pxa270", false},
    {"nor.bin", "pxa270", false},
    {"nor.locks", "pxa270", false},
    {"wear.bin", "pxa270", false},
    {"events.log", "pxa270", false},
    {"power-cut.json", "pxa270", false},
    {"registry.saved", "pxa270", false},
    {"gpio-state", "pxa270", false},
    {"hal/item-0.bin", "pxa270", false},
    {"objects/OnModuleFlash.lock", "pxa270", false},
    {"nand-0.main", "pxa320-d3ec", false},
    {"nand-0.oob", "pxa320-d3ec", false},
    {"objects/NAND_FLASH_BBMT.map", "pxa320-d3ec", false},
    {"objects", "pxa270", true},
    {"hal", "pxa270", true},
    {"root", "pxa270", true},
};

enum class LinkTo { Inside, Outside, Dangling };

struct LinkCase {
    ModuleFile file;
    LinkTo to;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.file.name << " link " << static_cast<int>(c.to); }

std::string case_name(const testing::TestParamInfo<LinkCase>& info) {
    std::string name = info.param.file.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    const char* to[] = {"inside", "outside", "dangling"};
    return name + "_" + to[static_cast<int>(info.param.to)];
}

class LinkedFileTest : public testing::TestWithParam<LinkCase> {};

TEST_P(LinkedFileTest, EveryToolRefusesItByNameAndLeavesTheTargetAlone) {
    const LinkCase& c = GetParam();
    e2e::ModuleDir module(c.file.profile);
    std::string image = make_image(module);
    const fs::path file = module.file(c.file.name);
    fs::create_directories(file.parent_path());
    // The target: a file or folder beside the module's own (inside), one
    // next to the module folder (outside), or nothing at all (dangling).
    fs::path target = c.to == LinkTo::Inside    ? module.file("spare")
                      : c.to == LinkTo::Outside ? module.scratch("outside")
                                                : module.scratch("nowhere");
    if (c.to != LinkTo::Dangling) {
        if (c.file.folder) {
            fs::create_directories(target);
            write_text(target / "kept", "kept\n");
        } else {
            write_text(target, "kept\n");
        }
    }
    fs::remove_all(file);
    fs::create_symlink(target, file);
    struct stat before {};
    lstat(target.c_str(), &before);
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        e2e::ToolRun run = e2e::run_tool(tool.program, tool.args(module.path(), image));
        expect_refused(run, file, "is a symbolic link");
        if (c.to == LinkTo::Dangling) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << "made through the link";
        } else if (c.file.folder) {
            EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
            EXPECT_EQ(read_text(target / "kept"), "kept\n");
        } else {
            EXPECT_EQ(read_text(target), "kept\n");
        }
        struct stat after {};
        lstat(target.c_str(), &after);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_TRUE(fs::is_symlink(file)) << "the link itself stays";
    }
}

std::vector<LinkCase> link_cases() {
    std::vector<LinkCase> cases;
    for (const ModuleFile& f : kFiles)
        for (LinkTo to : {LinkTo::Inside, LinkTo::Outside, LinkTo::Dangling}) cases.push_back({f, to});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ModuleFiles, LinkedFileTest, testing::ValuesIn(link_cases()), case_name);

// A link in the module's own file system (root/) is the system's to meet:
// its open fails as on a file system without links, the module names the
// link, and what it leads to is not read.
TEST(LinkedFileTest, TheSystemsOpensInTheFileSystemRootFollowNoLink) {
    struct RootCase {
        const char* link;  // below root/
        const char* path;  // the image's WinCE path
    };
    const RootCase cases[] = {
        {"windows/os.bin", "\\windows\\os.bin"},
        {"windows", "\\windows\\os.bin"},
    };
    for (const RootCase& c : cases) {
        SCOPED_TRACE(c.link);
        e2e::ModuleDir module("pxa270");
        std::string image = make_image(module);
        fs::path link = module.file("root") / c.link;
        fs::remove_all(link);
        if (std::string(c.link) == "windows") {
            fs::create_directories(module.scratch("elsewhere"));
            fs::copy_file(image, module.scratch("elsewhere") / "os.bin");
            fs::create_symlink(module.scratch("elsewhere"), link);
        } else {
            fs::create_symlink(image, link);
        }
        std::vector<uint8_t> flash_before = module.flash_files()["nor.bin"];
        e2e::ToolRun run = module.update_tool({"-q"}, std::string("/u ") + c.path);
        EXPECT_EQ(run.exit_code, 1) << run.output;
        EXPECT_NE(run.errors.find("module: " + link.string() + " is a symbolic link"), std::string::npos) << run.errors;
        EXPECT_NE(run.output.find("Cannot Open Image File"), std::string::npos) << run.output;
        EXPECT_EQ(module.flash_files()["nor.bin"], flash_before) << "nothing of the linked image was written";
    }
}

// Damaged files: a folder in a file's place, a size the module cannot hold,
// a truncated file. Each refused by name with status 2 by every tool that
// reads it.
struct DamageCase {
    const char* name;
    const char* profile;
    const char* file;
    std::function<void(const fs::path& file)> damage;
    const char* why;  // the refusal after the file's name
    std::vector<const char*> tools;
};

void make_folder(const fs::path& file) {
    fs::remove_all(file);
    fs::create_directories(file);
}

std::function<void(const fs::path&)> truncate_to(uint64_t bytes) {
    return [bytes](const fs::path& file) {
        if (!fs::exists(file)) write_text(file, "");
        fs::resize_file(file, bytes);
    };
}

std::function<void(const fs::path&)> write_bytes(std::string text) {
    return [text](const fs::path& file) { write_text(file, text); };
}

// A wear file's header ("WEAR", version 1, 2 chips, 128 blocks, no pages)
// followed by more counters than the chips have.
std::string oversized_wear_file() {
    std::string header("WEAR\x01\0\0\0\x02\0\0\0\x80\0\0\0\0\0\0\0", 20);
    header.resize(32, '\0');
    return header + std::string(4 * 2 * 128 + 4, '\0');
}

const std::vector<const char*> kEveryTool = {"update", "dry_run", "show", "check"};

// clang-format off
const DamageCase kDamage[] = {
    {"item_folder",       "pxa270",      "hal/item-0.bin",  make_folder,         "is a folder, not a file",  kEveryTool},
    {"item_empty",        "pxa270",      "hal/item-0.bin",  truncate_to(0),      "is 0 bytes; a configuration item holds 1 to 4096", kEveryTool},
    {"item_too_long",     "pxa270",      "hal/item-0.bin",  truncate_to(4097),   "is 4097 bytes; a configuration item holds 1 to 4096", kEveryTool},
    {"nor_folder",        "pxa270",      "nor.bin",         make_folder,         "is a folder, not a file",  kEveryTool},
    {"nor_short",         "pxa270",      "nor.bin",         truncate_to(0x100000), "is 1048576 bytes; the profile's flash needs 33554432", kEveryTool},
    {"locks_short",       "pxa270",      "nor.locks",       truncate_to(3),      "is 3 bytes; the profile's flash needs 256", kEveryTool},
    {"wear_folder",       "pxa270",      "wear.bin",        make_folder,         "is a folder, not a file",  kEveryTool},
    {"wear_truncated",    "pxa270",      "wear.bin",        write_bytes("WEAR"), "is not a wear file of version 1", kEveryTool},
    {"wear_too_long",     "pxa270",      "wear.bin",        write_bytes(oversized_wear_file()), "is 1060 bytes; its counters take at most 1056", kEveryTool},
    {"toml_folder",       "pxa270",      "module.toml",     make_folder,         "is a folder, not a file",  kEveryTool},
    {"cut_record_folder", "pxa270",      "power-cut.json",  make_folder,         "is a folder, not a file",  kEveryTool},
    {"cut_record_cut",    "pxa270",      "power-cut.json",  write_bytes("{\"operation\": 3, \"ki"), "is no cut record (truncated or damaged)", {"check"}},
    {"log_folder",        "pxa270",      "events.log",      make_folder,         "is a folder, not a file",  kEveryTool},
    {"gpio_folder",       "pxa270",      "gpio-state",      make_folder,         "is a folder, not a file",  kEveryTool},
    {"registry_folder",   "pxa270",      "registry.saved",  make_folder,         "is a folder, not a file",  kEveryTool},
    {"lock_folder",       "pxa270",      "objects/OnModuleFlash.lock", make_folder, "is a folder, not a file", kEveryTool},
    {"objects_file",      "pxa270",      "objects",         write_bytes("x"),    "is not a folder",          kEveryTool},
    {"nor_fifo",          "pxa270",      "nor.bin",         [](const fs::path& f) { fs::remove(f); mkfifo(f.c_str(), 0644); }, "is not a plain file", kEveryTool},
    {"nand_main_long",    "pxa320-75ec", "nand-0.main",     truncate_to(0x2000001), "is 33554433 bytes; the chip holds 33554432", kEveryTool},
    {"nand_oob_folder",   "pxa320-d3ec", "nand-0.oob",      make_folder,         "is a folder, not a file",  kEveryTool},
    {"block_map_short",   "pxa320-d3ec", "objects/NAND_FLASH_BBMT.map", truncate_to(100), "is 100 bytes; the block map is 16388", kEveryTool},
};
// clang-format on

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class DamagedFileTest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFileTest, EveryToolThatReadsItRefusesItByName) {
    const DamageCase& c = GetParam();
    e2e::ModuleDir module(c.profile);
    std::string image = make_image(module);
    const fs::path file = module.file(c.file);
    fs::create_directories(file.parent_path());
    c.damage(file);
    for (const char* name : c.tools) {
        SCOPED_TRACE(name);
        const Tool* tool = nullptr;
        for (const Tool& t : kTools)
            if (std::string(t.name) == name) tool = &t;
        ASSERT_NE(tool, nullptr);
        expect_refused(e2e::run_tool(tool->program, tool->args(module.path(), image)), file, c.why);
    }
}

INSTANTIATE_TEST_SUITE_P(ModuleFiles, DamagedFileTest, testing::ValuesIn(kDamage),
                         [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// The control: the same tools on an undamaged module go through.
TEST(DamagedFileTest, AnUndamagedModuleOpensForEveryTool) {
    for (const char* profile : {"pxa270", "pxa320-d3ec"}) {
        SCOPED_TRACE(profile);
        e2e::ModuleDir module(profile);
        std::string image = make_image(module);
        for (const Tool& tool : kTools) {
            SCOPED_TRACE(tool.name);
            e2e::ToolRun run = e2e::run_tool(tool.program, tool.args(module.path(), image));
            // check on an empty flash: not bootable (1), but opened.
            EXPECT_EQ(run.exit_code, std::string(tool.name) == "check" ? 1 : 0) << run.output;
        }
    }
}

}  // namespace
