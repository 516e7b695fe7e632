#include "tools/modulectl/campaign_cell.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/common/memory_module.h"
#include "tools/common/output_file.h"
#include "tools/common/scratch_copy.h"
#include "tools/modulectl/sweep_command.h"
#include "tools/modulectl/sweep_result.h"
#include "tools/updatetool/updatetool_main.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

json read_json(const fs::path& path) {
    std::ifstream in(path);
    json j = json::parse(in, nullptr, false);
    return j.is_discarded() ? json(nullptr) : j;
}

class Cell {
public:
    explicit Cell(const CellRun& run) : run_(run), module_(run.work / "module"), before_(run.work / "before") {
        record_ = {{"step", "starting"}, {"problem", ""},    {"prerequisites", json::array()}, {"update", nullptr},
                   {"map", nullptr},     {"sweep", nullptr}, {"sweep_exit_status", nullptr},   {"strip", nullptr}};
    }

    void run() {
        if (make_module() && install_prerequisites() && update()) {
            sweep();
            draw_map();
        }
        std::error_code ec;
        fs::remove_all(run_.work, ec);
        step("done");
    }

private:
    void step(const std::string& name) {
        record_["step"] = name;
        std::string error;
        write_output_file(run_.folder / "cell.json", record_.dump(2) + "\n", &error);
    }

    bool problem(const std::string& text) {
        record_["problem"] = text;
        return false;
    }

    bool make_module() {
        step("making the module");
        std::error_code ec;
        fs::create_directories(run_.work, ec);
        std::string error;
        if (!run_.module->folder.empty()) {
            ScratchCopy copy;
            if (!copy_module(run_.module->folder, module_, &copy, &error)) return problem(error);
            fs::remove(module_ / "events.log", ec);
            if (run_.module->sets.empty()) return true;
            // The plan's keys go into the copy, as modulectl set puts them.
            std::vector<std::string> args = {"modulectl", "set", module_.string()};
            args.insert(args.end(), run_.module->sets.begin(), run_.module->sets.end());
            int status = MemoryModule::run(run_.modulectl_main, args);
            if (status != 0) return problem("modulectl set ended with exit status " + std::to_string(status));
            return true;
        }
        std::vector<std::string> args = {"modulectl", "create", module_.string(), "--profile", run_.module->profile};
        for (const std::string& s : run_.module->sets) args.insert(args.end(), {"--set", s});
        const fs::path out = run_.folder / "create.txt";
        int status = MemoryModule::run(run_.modulectl_main, args, out);
        if (status != 0) return problem("modulectl create ended with exit status " + std::to_string(status));
        fs::remove(out, ec);
        return true;
    }

    bool install_prerequisites() {
        for (size_t i = 0; i < run_.module->prerequisites.size(); ++i) {
            const fs::path& image = run_.module->prerequisites[i];
            step("installing " + image.filename().string());
            const fs::path report = run_.work / ("prerequisite-" + std::to_string(i) + ".json");
            int status = MemoryModule::run(updatetool_main, {"updatetool", "--module", module_.string(), "-q",
                                                             "--report", report.string(), "/u " + image.string()});
            json r = read_json(report);
            std::string outcome = r.is_object() ? r.value("outcome", "") : "";
            record_["prerequisites"].push_back({{"image", image.string()},
                                                {"exit_status", status},
                                                {"outcome", outcome},
                                                {"summary", r.is_object() ? r.value("summary", "") : ""}});
            if (status != 0)
                return problem("the prerequisite " + image.filename().string() + " did not install: " +
                               (outcome.empty() ? "exit status " + std::to_string(status) : outcome));
        }
        return true;
    }

    bool update() {
        const PlanImage& image = *run_.image;
        std::string error;
        // The sweep starts from the module as the prerequisites left it.
        if (image.sweep) {
            step("keeping the module for the sweep");
            ScratchCopy copy;
            if (!copy_module(module_, before_, &copy, &error)) return problem(error);
        }
        step("updating");
        const fs::path report = run_.folder / "update.json";
        std::vector<std::string> args = {"updatetool", "--module", module_.string(), "-q", "--report", report.string()};
        if (image.verify) args.push_back("--verify");
        for (const std::string& a : image.answers) args.insert(args.end(), {"--answer", a});
        // The main dialog reads its button and the file's path from its
        // input; its message boxes then take the answers, else their
        // default buttons at the end of the input.
        const fs::path input = run_.work / "dialog-input.txt";
        if (image.dialog) {
            if (!write_output_file(input, "Update Bootloader/Image\n" + image.file.string() + "\n", &error))
                return problem(error);
        } else {
            args.push_back("/u " + image.file.string());
        }
        const int saved_input = ::dup(0);
        const int fd = ::open(image.dialog ? input.c_str() : "/dev/null", O_RDONLY);
        if (fd >= 0) ::dup2(fd, 0);
        int status = MemoryModule::run(updatetool_main, args);
        if (fd >= 0) ::close(fd);
        if (saved_input >= 0) {
            ::dup2(saved_input, 0);
            ::close(saved_input);
        }
        record_["update"] = read_json(report);
        if (!record_["update"].is_object())
            return problem("updatetool ended with exit status " + std::to_string(status));
        return true;
    }

    bool sweep() {
        const PlanImage& image = *run_.image;
        if (!image.sweep || record_["update"].value("outcome", "") != "success") return true;
        step("sweeping");
        SweepOptions o;
        o.dir = before_.string();
        o.image = image.file.string();
        o.every = image.every;
        o.points = image.points;
        o.seed = image.seed;
        o.jobs = run_.plan->jobs;
        o.depth = static_cast<unsigned>(image.depth);
        o.json = (run_.folder / "sweep.json").string();
        o.csv = (run_.folder / "sweep.csv").string();
        o.svg = (run_.folder / "strip.svg").string();
        o.work = (run_.work / "sweep").string();
        o.modulectl_main = run_.modulectl_main;
        std::fflush(stdout);
        SweepResult result;
        int status = run_sweep(o, &result);
        std::fflush(stdout);
        record_["sweep_exit_status"] = status;
        record_["sweep"] = read_json(o.json);
        if (fs::is_regular_file(o.svg)) record_["strip"] = "strip.svg";
        if (record_["sweep"].is_object()) record_["sweep_summary_lines"] = sweep_summary_lines(result);
        std::error_code ec;
        fs::remove_all(before_, ec);
        if (!record_["sweep"].is_object()) return problem("the sweep ended with exit status " + std::to_string(status));
        return true;
    }

    void draw_map() {
        step("drawing the flash");
        const fs::path svg = run_.folder / "map.svg";
        int status = MemoryModule::run(run_.modulectl_main, {"modulectl", "map", module_.string(), "-o", svg.string(),
                                                             "--image", run_.image->file.string()});
        if (status == 0)
            record_["map"] = "map.svg";
        else
            problem("modulectl map ended with exit status " + std::to_string(status));
    }

    const CellRun& run_;
    const fs::path module_, before_;
    json record_;
};

}  // namespace

int run_campaign_cell(const CellRun& run) {
    Cell cell(run);
    cell.run();
    return 0;
}
