// modulectl campaign PLAN.toml -o DIR: every module of the plan updated with
// every image of it, each cell in a process of its own with a time limit,
// one progress line a cell, and the report in DIR (report.json, report.csv,
// index.html and a folder a cell), made beside DIR and renamed to it when
// whole.
#pragma once
#include <string>

struct CampaignOptions {
    std::string plan;
    std::string out;
    int (*modulectl_main)(int, char**) = nullptr;  // modulectl's own command line, for the tools in memory
};

// Exit status: 0 when every cell met its expectation, 1 when one did not,
// 2 for a plan with a mistake (nothing runs) or a DIR that cannot be
// written, 130 when interrupted (DIR is as it was).
int run_campaign(const CampaignOptions& options);
