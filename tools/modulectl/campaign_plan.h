// The plan of a campaign (modulectl campaign PLAN.toml): the modules to
// update, the images to update them with and what each image should come
// to, and the options of each update and its sweep. Every cell of the
// matrix is one module updated with one image.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PlanModule {
    std::string name;                                  // the row of the matrix
    std::string profile;                               // a built-in profile, or
    std::filesystem::path folder;                      // a module folder to copy
    std::vector<std::string> sets;                     // KEY=VALUE profile keys, as modulectl create --set
    std::vector<std::filesystem::path> prerequisites;  // images installed before the update, in order
};

struct PlanImage {
    std::string name;  // the column of the matrix
    std::filesystem::path file;
    std::string expect;  // success, refused, declined
    bool verify = true;
    bool dialog = false;  // through the main dialog's Update button (the warning and reset question shown), not /u
    std::vector<std::string> answers;  // updatetool --answer values
    bool sweep = false;
    uint64_t every = 0, points = 0, seed = 1;
    uint64_t depth = 1;
    double timeout = 0;  // seconds; 0: the campaign's
};

struct CampaignPlan {
    std::filesystem::path source;  // the plan file
    double timeout = 600;          // seconds a cell may take
    unsigned jobs = 1;             // sweep workers per cell
    std::vector<PlanModule> modules;
    std::vector<PlanImage> images;
};

// The outcomes an image may be expected to come to.
extern const char* const kExpectations[3];

// Reads and checks the whole plan before anything runs. Paths in it are
// relative to the plan's folder. False with one line naming the file, the
// line and the key: "plan.toml:7: image.verfy: unknown key (...)".
bool read_campaign_plan(const std::filesystem::path& path, CampaignPlan* plan, std::string* error);
