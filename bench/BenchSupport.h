// Shared by the benchmark modes: the clock, the result file, the logs they run on, and the
// child processes they start.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

// Milliseconds from an arbitrary start, by QueryPerformanceCounter.
double NowMs();

// Appends one line "metric size round value" to the result file.
void Record(const std::string& results, const std::string& metric, long long size, int round,
            double value);

std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
long long FileSize(const std::string& path);

// Where the benchmark installation lives; files are named by their index.
extern const char* const AppRoot;  // "C:\Program Files\Quorvel Bench\", with the backslash
std::string InstalledFile(int index);  // relative to AppRoot, with backslashes

// The texts a real log carries: Strings (the status formats 10 to 19 among them) and the
// page sections. AppID is "QuorvelBench".
std::string LogHeader();
// A log that lists files installed files in CopyFiles, in index order.
std::string FilesLog(int files);
// A log of about the given number of lines with every section a real installation writes,
// CopyFiles the largest, with comments, blanks around "=" and quoted values here and there.
std::string MixedLog(int lines);

// The key of every line of a log section, read through the engine, in file order.
std::vector<std::string> SectionKeys(const std::string& log, const std::string& section);

// Peak working set and peak pagefile usage of a process, in bytes.
bool PeakMemory(HANDLE process, double& workingSet, double& pagefile);

// A visible dialog window (class "#32770") of the process, or null.
HWND VisibleDialogOf(DWORD processId);

}  // namespace bench
