#include "Switches.h"

#include "qzFileUtils.h"
#include "qzStrUtils.h"

namespace {

// Takes one switch; false when it is unknown or lacks its value.
bool TakeSwitch(const std::string& argument, Switches& switches) {
    const std::string name = UpperCase(argument);
    if (name == "/S" || name == "/SILENT") {
        switches.silent = true;
    } else if (name == "/DRYRUN") {
        switches.dryRun = true;
    } else if (name.compare(0, 5, "/LOG=") == 0 && argument.size() > 5) {
        switches.reportPath = ExpandFileName(argument.substr(5));
    } else {
        return false;
    }
    return true;
}

}  // namespace

Switches ParseSwitches(const char* commandLine) {
    Switches switches;
    for (int n = 1;; ++n) {
        const std::string argument = ParamStr(commandLine, n);
        if (argument.empty()) break;
        if (argument[0] != '/') {
            if (switches.logPath.empty()) switches.logPath = ExpandFileName(argument);
            continue;
        }
        switches.given += (switches.given.empty() ? "" : " ") + argument;
        if (!TakeSwitch(argument, switches) && switches.bad.empty()) switches.bad = argument;
    }
    if (switches.dryRun) {
        switches.silent = true;
        if (switches.reportPath.empty() && switches.bad.empty()) switches.bad = "/DRYRUN without /LOG=";
    }
    return switches;
}
