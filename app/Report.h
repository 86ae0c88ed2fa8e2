// The report of a run started with /LOG=: a header, one line per action with its outcome
// and its object, and a result line; plain text in the ANSI code page with CR LF line ends.
// Lines collect in memory and are written at the end of each stage (ReportStage) and at the
// close, never one disk write per line, so a run that is killed still leaves what happened
// up to its last finished stage. Without an open report every call does nothing.
#pragma once

#include <windows.h>

#include <string>

enum class Outcome {
    Removed,
    Restored,
    Unchanged,
    Kept,
    Deferred,
    Failed,
    Refused,
    Malformed,
    Missing,
    Ran,
};

// Creates the report (replacing a file of that name) and writes its header; false when the
// file cannot be created.
bool OpenReport(const std::string& path, const std::string& header);
bool Reporting();
// "<outcome>: <kind> <object>", with " (<detail>)" when there is one.
void Record(Outcome outcome, const char* kind, const std::string& object,
            const std::string& detail = "");
// A failed action, with the system's message for the error code.
void RecordFailure(const char* kind, const std::string& object, DWORD error);
// An error the run met that is no action's outcome (a box's text, in a run without boxes).
void RecordError(const std::string& text);
void FlushReport();
// Writes the result line and closes the report.
void CloseReport(const std::string& result);

// "error N: <the system's message>".
std::string SystemError(DWORD error);
