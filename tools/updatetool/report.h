// The JSON summary that --report writes when the program ends or reboots.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ReportedMessageBox {
    std::string caption;
    std::string text;
    std::string answer;
};

struct RunReport {
    std::string job;  // update, save-registry, clear-registry, reboot, main-dialog, none
    std::string command_line;
    std::string module_dir;
    std::vector<ReportedMessageBox> message_boxes;
    std::optional<unsigned long> worker_result;
    bool abort_requested = false;
    bool update_started = false;
    std::optional<bool> registry_result;
    std::string reboot;  // "", cold, warm
    bool reboot_returned = false;
    uint64_t bytes_erased = 0;
    uint64_t bytes_written = 0;
    uint64_t virtual_time_ns = 0;

    // success, failure, declined or aborted, from what the run showed.
    std::string outcome() const;
    std::string to_json() const;
};

// The job a module command line runs, read at the same fixed positions as
// the program reads it.
std::string job_of_command_line(const std::string& command_line);
