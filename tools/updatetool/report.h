// What a run came to: the outcome, its exit status and its one-sentence
// summary, and the JSON summary that --report writes when the program ends
// or reboots.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/image_verify.h"

struct ReportedMessageBox {
    std::string caption;
    std::string text;
    std::string answer;
};

// The flash operation that failed, from the device events.
struct ReportedFailure {
    std::string operation;
    uint32_t address = 0;
    unsigned chip = 0;
    uint32_t status = 0;
    std::string meaning;
    std::string text;
};

struct RunReport {
    std::string job;  // update, save-registry, clear-registry, reboot, main-dialog, none
    std::string command_line;
    std::string module_dir;
    std::vector<ReportedMessageBox> message_boxes;
    std::optional<unsigned long> worker_result;
    bool abort_requested = false;
    bool update_started = false;  // the worker ran
    bool update_dialog = false;   // the progress dialog opened
    std::string image_path;       // the host path of the last update's image
    std::optional<bool> registry_result;
    std::string reboot;  // "", cold, warm
    bool reboot_returned = false;
    std::string usage_error;  // the run was ended over a wrong answer
    uint64_t bytes_erased = 0;
    uint64_t bytes_written = 0;
    uint64_t virtual_time_ns = 0;
    std::optional<ReportedFailure> failure;
    uint64_t failed_operations = 0;
    uint64_t bad_blocks_found = 0;
    uint64_t ecc_corrected = 0;
    uint64_t ecc_uncorrectable = 0;
    std::vector<std::pair<uint32_t, uint32_t>> relocated;  // logical block, physical block
    std::optional<VerifyResult> verify;
    std::string verify_error;
    std::vector<std::string> unused_answers;
    std::string power_cut;          // the operation the module lost its power in
    uint64_t flash_operations = 0;  // programs and erases the flash started

    // success, failure, usage, declined, aborted or power-cut, from what the run showed.
    std::string outcome() const;
    // 0 success, 1 failure, 2 usage, 3 declined, 4 aborted, 5 power-cut.
    int exit_status() const;
    // "updatetool: update failed: Error writing to Flash!"
    std::string sentence() const;
    std::string to_json() const;
};

// The job a module command line runs, read at the same fixed positions as
// the program reads it.
std::string job_of_command_line(const std::string& command_line);
