// One cell of a campaign: a module made (or copied) and given its
// prerequisites, updated with one image and verified, swept, and its flash
// drawn. It runs in a process forked for it (the campaign's own stays
// clear of any module), each tool in a process forked in turn, and leaves
// what it found in the cell's folder: cell.json, the update's report, the
// sweep's tables and pictures. cell.json is rewritten after every step, so
// a cell that crashes or hangs still tells how far it came.
#pragma once
#include <filesystem>

#include "tools/modulectl/campaign_plan.h"

struct CellRun {
    const CampaignPlan* plan = nullptr;
    const PlanModule* module = nullptr;
    const PlanImage* image = nullptr;
    std::filesystem::path folder;  // the cell's part of the report
    std::filesystem::path work;    // the cell's modules (removed after)
    int (*modulectl_main)(int, char**) = nullptr;
};

// Always 0: what the cell came to is in cell.json.
int run_campaign_cell(const CellRun& cell);
