// What a campaign found, cell by cell: the row of each cell made from what
// its process left (cell.json) and how that process ended, and the three
// files of the report: report.json (every cell, every figure), report.csv
// (one line a cell) and index.html (one page, nothing loaded from outside:
// the matrix, then each cell's sweep strip and flash map as inline SVG).
#pragma once
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/common/forked_call.h"
#include "tools/modulectl/campaign_plan.h"

using CampaignJson = nlohmann::ordered_json;

// The cell's row: outcome (success, refused, declined, failed, aborted,
// power-cut, error, crashed, timed out), whether it met the expectation,
// and the figures. folder is the cell's folder, relative to the report as
// name.
CampaignJson campaign_row(const PlanModule& module, const PlanImage& image, const std::filesystem::path& folder,
                          const std::string& name, const ForkedEnd& end);

// "success (expected success); 0.142 s on the board, 1.0 MiB written; window 0.09 s"
std::string row_sentence(const CampaignJson& row);

CampaignJson campaign_json(const CampaignPlan& plan, const CampaignJson& rows);
std::string campaign_csv(const CampaignJson& rows);
// report is the folder the cells' pictures lie in.
std::string campaign_html(const CampaignPlan& plan, const CampaignJson& rows, const std::filesystem::path& report);
