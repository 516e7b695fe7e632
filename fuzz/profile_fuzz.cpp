// module.toml over hostile text: toml++'s reading, the key table's rules,
// writing a profile whole and editing a read one in place. The input is the
// file; its first line is also tried as a KEY=VALUE assignment, as
// modulectl and the tools' --set take one, on a built-in profile.
//
// Besides the sanitizers, every input must keep these:
// - a file that does not read says why in one line, naming the file;
// - a profile that reads is written whole as text that reads back as the
//   same profile, and so is one edited in place (a change chosen by the
//   input's size, applied and saved as modulectl saves it);
// - an assignment that is refused changes nothing; one that is taken holds
//   its key.
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "module/config.h"
#include "module/profile_text.h"
#include "module/profiles.h"

namespace {

using fuzz_support::Require;

// Changes as a user makes them, each kept only when its profile still checks.
const char* const kChanges[] = {
    "nor.query_size=20",
    "hal.item5=[0x1, 2, 0x3]",
    "registry.'Drivers\\BuiltIn\\StrataFMD'.MemBase=0x100",
    "registry.'Drivers\\BuiltIn\\StrataFMD'.Name=flash",
    "nand.bad_blocks=[3, 4]",
    "fdf.created=\"2001-01-01 00:00:00\"",
    "os.build=7",
    "-os.build",
    "-hal.item5",
    "nand.os_builds_bbmt=true",
};

void Change(sim::Config* config, const std::string& change) {
    std::string error;
    if (change[0] == '-')
        config->erase(change.substr(1));
    else
        config->set_from_assignment(change, &error);
}

void CheckSavedAs(const sim::Config& config, const std::string& path) {
    std::string error;
    Require(config.save(path, &error), "a profile saves");
    sim::Config again;
    Require(again.load(path, &error), "a saved profile reads back");
    Require(again.to_toml() == config.to_toml(), "a saved profile reads back as itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_support::OpenModuleOnce("pxa270");
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string path = fuzz_support::WriteScratchFile("profile.toml", data, 0).string();

    sim::Config config;
    std::string error;
    if (!config.parse(text, "module.toml", &error)) {
        Require(error.rfind("module.toml:", 0) == 0, "a refused file is named in its error");
        Require(error.find('\n') == std::string::npos, "a refused file is told in one line");
    } else {
        sim::Config written;
        Require(written.parse(config.to_toml(), "written", &error), "a profile written whole reads back");
        Require(written.to_toml() == config.to_toml(), "a profile written whole reads back as itself");
        CheckSavedAs(config, path);
        Change(&config, kChanges[size % std::size(kChanges)]);
        if (config.check("changed", &error)) CheckSavedAs(config, path);
    }

    sim::Config profile;
    sim::builtin_profile("pxa270", &profile);
    std::string before = profile.to_toml();
    std::string assignment = text.substr(0, text.find('\n'));
    if (!profile.set_from_assignment(assignment, &error)) {
        Require(profile.to_toml() == before, "a refused assignment changes nothing");
    } else {
        std::vector<std::string> parts;
        Require(sim::profile_text::split_key(assignment.substr(0, assignment.find('=')), &parts) &&
                    profile.has(sim::profile_text::join(parts)),
                "a taken assignment holds its key");
    }
    return 0;
}
