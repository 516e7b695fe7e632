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

// A chip used against its datasheet (the module's record of it).
struct ReportedViolation {
    std::string rule;
    unsigned chip = 0;
    uint32_t address = 0;
    std::string text;
};

// One run of the plan an update carried out: blocks erased or bytes
// programmed, where they lie in the device and at which flash offsets (the
// system's view) with the sections there.
struct PlanRange {
    uint64_t start;
    uint64_t end;
    std::vector<std::string> sections;
};
struct PlanStep {
    std::string operation;  // erase, program
    uint32_t first_block;
    uint32_t last_block;
    uint64_t device_start;
    uint64_t device_end;
    std::vector<PlanRange> flash;
    std::string place;  // NAND: "relocation table page" for the table's own page, else empty
};
struct UpdatePlan {
    std::vector<PlanStep> steps;
    // Flash outside the image in the blocks its erase covers: read before the
    // erase and written back after it.
    std::vector<PlanRange> kept;
    // NAND: the boot area held in RAM, written back after every record and read back.
    uint64_t boot_area_written_back = 0;
    uint64_t boot_area_read_back = 0;
};

// The boot region after an update that changed it, as modulectl check sees it.
struct BootCheck {
    bool bootable = false;
    std::string reason;
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
    std::string host_error;   // a file updatetool could not write (the report)
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
    std::optional<UpdatePlan> plan;  // updates
    std::optional<BootCheck> boot_check;
    // The image's range lies past the flash's end: "0x00080000-0x0207ffff ends past the flash's end 0x02000000".
    std::string beyond_flash;
    std::string dry_run_scratch;  // the scratch module of a dry run
    bool dry_run_kept = false;
    std::string power_cut;          // the operation the module lost its power in
    uint64_t flash_operations = 0;  // programs and erases the flash started
    std::vector<ReportedViolation> violations;

    // success, failure, usage, declined, aborted or power-cut, from what the run showed.
    std::string outcome() const;
    // What the job itself came to, a wrong answer or a host error aside.
    std::string job_outcome() const;
    // 0 success, 1 failure, 2 usage, 3 declined, 4 aborted, 5 power-cut.
    int exit_status() const;
    // "updatetool: update failed: Error writing to Flash!"; an update that
    // ran says its outcome before a wrong answer that ended the run.
    std::string sentence() const;
    std::string to_json() const;
};

// The job a module command line runs, read at the same fixed positions as
// the program reads it.
std::string job_of_command_line(const std::string& command_line);
