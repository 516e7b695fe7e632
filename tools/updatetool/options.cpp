#include "tools/updatetool/options.h"

#include "tools/common/cli.h"
#include "tools/common/manual.h"

namespace {

const char kAbout[] =
    "Runs the module's flash maintenance program (Update Tool 2.7) on a simulated\n"
    "module. Everything after the host options (or after --), joined with single\n"
    "blanks, is the program's own command line on the module:\n"
    "  /u PATH     update the bootloader or OS image from a .bin file, quietly\n"
    "              (no overwrite warning, no reset question; errors are shown)\n"
    "  /f  /fu     save the registry to flash (u: quietly)\n"
    "  /c  /cu     clear the registry stored in flash (u: quietly)\n"
    "  /rMS /rcMS  warm / cold reboot after MS milliseconds\n"
    "  (nothing)   the main dialog: full-screen at a terminal; otherwise (and with\n"
    "              --ui line) type a button's text or id per line on stdin\n"
    "              (\"BSP Version\", \"1004\"); end of input closes it\n"
    "Paths that start with \\ are paths on the module (under DIR/root); others are\n"
    "host paths.";

const char kExitStatus[] =
    "Exit status: the outcome of the run, as the report's \"outcome\" names it:\n"
    "  0 success   the job was done (the main dialog: closed; its last update, if\n"
    "              one ran, succeeded)\n"
    "  1 failure   the job failed: an update's error message, a registry job that\n"
    "              failed (also quietly, /fu /cu), a reboot the HAL returned from,\n"
    "              --verify finding the flash unlike the image\n"
    "  2 usage     a wrong command line, a module that cannot be opened, a command\n"
    "              the program does not know (it then does nothing), an answer that\n"
    "              is not a button of the box on screen (input not a terminal)\n"
    "  3 declined  the overwrite warning was answered Cancel, or no file was chosen\n"
    "  4 aborted   Abort (Escape, Ctrl-C, --escape-at) stopped the update\n"
    "  5 power-cut the module lost its power (power.cut_* in module.toml,\n"
    "              modulectl cut): the flash is as the cut left it\n"
    "The last line on stderr says the outcome in one sentence. With\n"
    "--module-exit-status the exit status is the program's own return value\n"
    "instead, always 1 as on the module.";

}  // namespace

int parse_host_options(int argc, char** argv, HostOptions* o) {
    CLI::App app(kAbout, "updatetool");
    cli::prepare(app, kExitStatus);
    app.add_option("--module", o->module_dir,
                   "the module directory (make one with `modulectl create`). Default:\n"
                   "$UPDATETOOL_MODULE, else ${XDG_DATA_HOME:-~/.local/share}/updatetool/\n"
                   "default-module, a PXA270 NOR module created on first use")
        ->type_name("DIR");
    app.add_option("--ui", o->ui,
                   "line: dialogs as lines on stdout; terminal: full-screen dialogs, keys and\n"
                   "mouse; auto (default): terminal for the main dialog at a TTY, else line")
        ->check(cli::one_of({"line", "terminal", "auto"}))
        ->type_name("line|terminal|auto");
    app.add_option("--answer", o->answers,
                   "answer the next message box so; repeat for later boxes. Without one,\n"
                   "a line on stdin names the button; at end of input the default is taken.\n"
                   "A word that is no button of the box is refused: asked again when stdin\n"
                   "is a terminal, else the run ends with exit status 2")
        ->check(cli::one_of({"yes", "no", "ok", "cancel"}))
        ->type_name("yes|no|ok|cancel")
        ->allow_extra_args(false);
    app.add_option("--escape-at", o->escape_at,
                   "press Escape (abort) as soon as a window shows a text that starts with\n"
                   "TEXT, e.g. --escape-at Section:")
        ->type_name("TEXT")
        ->allow_extra_args(false);
    app.add_option_function<std::string>(
           "--speed", [o](const std::string& speed) { o->realtime = speed == "realtime"; },
           "max: virtual time runs as fast as the host can go (default);\n"
           "realtime: pace the module to the wall clock (watch the chips work)")
        ->check(cli::one_of({"max", "realtime"}))
        ->type_name("max|realtime");
    app.add_option("--report", o->report_path,
                   "write a JSON summary when the program ends (also at a reboot): job,\n"
                   "outcome (success, failure, usage, declined, aborted, power-cut), exit status,\n"
                   "message boxes, the failed flash operation, NAND bad blocks and ECC\n"
                   "reports, bytes erased and written, virtual time, reboot, verify.\n"
                   "- writes it to stdout (the dialogs' lines then go to stderr)")
        ->type_name("FILE");
    app.add_flag_function(
        "-q,--quiet", [o](int64_t) { o->detail = 0; }, "print only message boxes and the outcome");
    app.add_flag_function(
        "-v,--verbose", [o](int64_t) { o->detail = 2; }, "print every status text of the progress dialog too");
    app.add_flag("--verify", o->verify,
                 "after a successful update, compare the flash with every record of the\n"
                 "image (as modulectl verify does); a difference makes the update a failure");
    CLI::Option* dry_run = app.add_flag("--dry-run", o->dry_run,
                                        "run on a scratch copy of the module (reflinked where the file system\n"
                                        "can, else copied without the NAND files' erased tails) and print the\n"
                                        "plan the update carried out: blocks erased, bytes programmed by\n"
                                        "section, boot area staging, blocks relocated, outcome, virtual time.\n"
                                        "The module is left byte for byte as it was");
    app.add_option("--keep", o->keep_dir, "with --dry-run: keep the scratch module in DIR (new or empty)")
        ->type_name("DIR")
        ->needs(dry_run);
    app.add_flag("--module-exit-status", o->module_exit_status,
                 "exit with the program's own return value (always 1, as on the module)");
    // The module's command line is the program's to read: CLI11 stops at its
    // first word and takes every later word as it is, options or not.
    std::vector<std::string> words;
    app.add_option("module-command-line", words, "the program's command line on the module");
    app.positionals_at_end();
    cli::add_generate(app, {{"module-command-line", "/u /f /fu /c /cu /r /rc"}});

    int status = cli::parse(app, argc, argv);
    for (const std::string& word : words) {
        if (!o->module_command_line.empty()) o->module_command_line += ' ';
        o->module_command_line += word;
    }
    return status;
}
