// The command line: the log's path and the switches of an unattended run. Every argument
// that begins with "/" is a switch, wherever it stands; names are case-insensitive. The log
// path is the first other argument.
//   /S, /SILENT   no window, no box, no question; the exit code tells the outcome
//   /LOG=path     a report of every action (Report.h)
//   /DRYRUN       changes nothing and reports what the uninstall would do; needs /LOG=,
//                 implies /S
#pragma once

#include <string>

struct Switches {
    std::string logPath;     // a full path; empty: install.log beside the program
    std::string reportPath;  // a full path; empty: no report
    bool silent = false;
    bool dryRun = false;
    std::string bad;         // the first switch that is unknown or incomplete
    std::string given;       // the switches as given, for the report
};

// Relative paths are expanded against the current folder: this runs before start-up makes
// the program's folder current.
Switches ParseSwitches(const char* commandLine);
