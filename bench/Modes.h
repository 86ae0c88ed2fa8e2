// The modes of the benchmark program; each appends its figures to a result file, and
// ReportMode prints the table of ratios from that file.
#pragma once

#include <string>

int UninstallMode(const std::string& log, int files, int round, const std::string& results);
int BareMode(int files, int round, const std::string& results);
int ProfileMode(const std::string& log, int files, int round, const std::string& results);
int EngineMode(const std::string& folder, int lines, int rounds, const std::string& results);
int StartUpMode(const std::string& program, const std::string& folder, int lines, int rounds,
                const std::string& results);
// Reads a file twice with ReadFile, as the start-up's baseline in a process of its own.
double ReadTwice(const std::string& path);
int ReportMode(const std::string& results);
