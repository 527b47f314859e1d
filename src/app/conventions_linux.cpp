#include "app/command_option.h"
#include "app/conventions.h"
#include "base/version.h"

namespace {

constexpr int kExitBadOption = 2;

const char kUsage[] =
    "usage: varnel [SWITCH...] [FILE.prm]\n"
    "       varnel --package=UPDATER [SWITCH...]\n"
    "       varnel --help | --version\n"
    "\n"
    "With an update package appended (an updater), or with --package=UPDATER (the package\n"
    "of another updater, a Windows one as shipped), varnel writes new firmware into optical\n"
    "disc drives. Without a package it generates updaters (maintenance mode). Switches\n"
    "begin with / or -.\n"
    "\n"
    "Updater mode:\n"
    "  /au         start the update at once\n"
    "  /ae         end after the update\n"
    "  /all        add and preselect the entry of every target drive\n"
    "  /s          silent: /au and /ae, nothing shown; a disc in a drive is ejected\n"
    "  /dl=NAME    preselect the target drive by its device name (sr1 or /dev/sr1)\n"
    "  /lw         unattended: update and write the result log qzfwup.txt\n"
    "              (into $VARNEL_LOG_DIR, else /var/log)\n"
    "  /report=FILE  when the run ends, write FILE: JSON with the updater, the package's\n"
    "              revision, the exit status and per target drive its label, vendor,\n"
    "              product, revision_before, result (updated, skipped, failed, refused,\n"
    "              not_run), error, revision_after and verified, e.g.\n"
    "              {\"updater\": \"Q42R1.10\", \"revision\": \"1.10\", \"exit_code\": 0,\n"
    "               \"drives\": [{\"drive\": \"sr1 [2:0:1:0] QZEN DVD-RAM KVS-Q42R 1.00\",\n"
    "                 \"vendor\": \"QZEN\", \"product\": \"DVD-RAM KVS-Q42R\",\n"
    "                 \"revision_before\": \"1.00\", \"result\": \"updated\", \"error\": \"\",\n"
    "                 \"revision_after\": \"1.10\", \"verified\": true}]}\n"
    "              verified false with result updated: effective after a restart\n"
    "\n"
    "Maintenance mode:\n"
    "  FILE.prm    the parameter file naming the Main and Core program files\n"
    "  /a          generate at once when FILE.prm loads, then end\n"
    "  /tp=NAME    target product name      /i=REV     inquiry revision\n"
    "  /rf=XXXX    inquiry revision filter  /op=NAME   output file name\n"
    "  /cn=CODE    customer code            /ff /no /hc /cc  the four options\n"
    "\n"
    "Exit status of an updater: 0 updated; 3 nothing updated (259); 194 updated, reboot\n"
    "requested (3010); 102 skipped, the drive is not older (1638); 8 no target drive;\n"
    "1 unattended run (the result log tells); 2 an unknown option; 29 the result log or\n"
    "the report cannot be written (checked before any drive is asked: nothing was done).\n"
    "Writing firmware needs root or the capability CAP_SYS_RAWIO besides read and write\n"
    "access to /dev/sr*; the group that owns the drives only lets a user list them.\n"
    "Environment: VARNEL_SIMULATE (simulated drives), VARNEL_LOG_DIR, VARNEL_REBOOT_COMMAND,\n"
    "VARNEL_POWER_SUPPLY_DIR; a program with a file capability or set-user-ID ignores them\n"
    "and refuses --package=. No run starts on battery below 25 % without external power.\n"
    "Manual: varnel(1), varnel-pkg(1).\n";

}  // namespace

int AnswerConventionalOptions(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err) {
    const CommandCheck check = CheckCommandItems(args);
    switch (check.request) {
        case CommandRequest::Help:
            out << kUsage;
            return 0;
        case CommandRequest::Version:
            out << "varnel " VARNEL_VERSION "\n";
            return 0;
        case CommandRequest::UsageError:
            err << "varnel: unknown option '" << check.item << "' (varnel --help lists them)\n";
            return kExitBadOption;
        case CommandRequest::Run:
            break;
    }
    return -1;
}
