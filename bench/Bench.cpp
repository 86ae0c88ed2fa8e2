// The benchmark program. scripts/bench runs its modes under Wine and prints the table:
//   bench uninstall LOG FILES ROUND RESULTS   the real uninstall of a staged installation
//   bench bare FILES ROUND RESULTS            SetFileAttributesA + DeleteFileA of the same files
//   bench profile LOG FILES ROUND RESULTS     each step of one file's removal, alone
//   bench filelog FILES LOG                   writes the log of an installation of FILES files,
//                                             and LOG.files: their paths below the application
//                                             folder, with slashes, for staging them
//   bench engine FOLDER LINES ROUNDS RESULTS  the log engine against the profile functions
//   bench startup EXE FOLDER LINES ROUNDS RESULTS   start-up of the program to its first page
//   bench readtwice LOG                       reads LOG twice with ReadFile and ends
//   bench report RESULTS                      prints the table
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Modes.h"

namespace {

int FileLogMode(int files, const std::string& log) {
    std::string manifest;
    for (int i = 0; i < files; ++i) {
        std::string path = bench::InstalledFile(i);
        for (char& c : path)
            if (c == '\\') c = '/';
        manifest += path + "\n";
    }
    return bench::WriteWholeFile(log, bench::FilesLog(files)) &&
                   bench::WriteWholeFile(log + ".files", manifest)
               ? 0
               : 1;
}

int Dispatch(const std::vector<std::string>& a) {
    auto number = [&a](size_t i) { return std::atoi(a[i].c_str()); };
    const std::string mode = a.empty() ? "" : a[0];
    if (mode == "uninstall" && a.size() == 5) return UninstallMode(a[1], number(2), number(3), a[4]);
    if (mode == "bare" && a.size() == 4) return BareMode(number(1), number(2), a[3]);
    if (mode == "profile" && a.size() == 5) return ProfileMode(a[1], number(2), number(3), a[4]);
    if (mode == "filelog" && a.size() == 3) return FileLogMode(number(1), a[2]);
    if (mode == "engine" && a.size() == 5) return EngineMode(a[1], number(2), number(3), a[4]);
    if (mode == "startup" && a.size() == 6) return StartUpMode(a[1], a[2], number(3), number(4), a[5]);
    if (mode == "readtwice" && a.size() == 2) return ReadTwice(a[1]) >= 0 ? 0 : 1;
    if (mode == "report" && a.size() == 2) return ReportMode(a[1]);
    fprintf(stderr, "usage: see bench/Bench.cpp\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    int result = Dispatch(arguments);
    fflush(stdout);
    return result;
}
