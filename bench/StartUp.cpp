// Start-up: from CreateProcess of the built uninstall.exe to its first page on screen, with
// a 100,000-line log beside it and with a log of texts only, against reading the large log
// twice with ReadFile (what a program that loaded it for its own engine and for the INI
// cache's would read), in this process and in a process of its own started the same way, so
// that both sides of that second ratio pay for starting a process.
#include "Modes.h"

#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "resource.h"

namespace {

const DWORD PageTimeoutMs = 60000;
const DWORD ExitTimeoutMs = 10000;

struct Installation {
    std::string exe;
    std::string log;
};

Installation Install(const std::string& folder, const std::string& program, const std::string& log) {
    CreateDirectoryA(folder.c_str(), nullptr);
    Installation installation{folder + "\\uninstall.exe", folder + "\\install.log"};
    CopyFileA(program.c_str(), installation.exe.c_str(), FALSE);
    bench::WriteWholeFile(installation.log, log);
    return installation;
}

// Milliseconds until a page of the program is visible, or a negative value; the program is
// cancelled from its page afterwards, and terminated if it does not end.
double TimeToFirstPage(const Installation& installation, double& workingSet, double& pagefile) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + installation.exe + "\"";
    std::string folder = ExtractFilePath(installation.exe);
    double start = bench::NowMs();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info))
        return -1;
    qz::UniqueHandle process(info.hProcess), thread(info.hThread);
    HWND page = nullptr;
    while (!(page = bench::VisibleDialogOf(info.dwProcessId)) &&
           bench::NowMs() - start < PageTimeoutMs &&
           WaitForSingleObject(process.Get(), 1) == WAIT_TIMEOUT) {
    }
    double elapsed = bench::NowMs() - start;
    bench::PeakMemory(process.Get(), workingSet, pagefile);
    if (page) PostMessageA(page, WM_COMMAND, IDC_CANCEL, 0);
    if (WaitForSingleObject(process.Get(), ExitTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), ExitTimeoutMs);
    }
    return page ? elapsed : -1;
}

// Milliseconds from CreateProcess of "bench readtwice LOG" to the end of that process, or a
// negative value.
double TimeReadTwiceProcess(const std::string& log) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + std::string(self) + "\" readtwice \"" + log + "\"";
    double start = bench::NowMs();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return -1;
    qz::UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.Get(), PageTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        return -1;
    }
    return bench::NowMs() - start;
}

}  // namespace

double ReadTwice(const std::string& path) {
    std::vector<char> block(64 * 1024);
    double start = bench::NowMs();
    for (int pass = 0; pass < 2; ++pass) {
        qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD read = 0;
        while (ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) &&
               read > 0) {
        }
    }
    return bench::NowMs() - start;
}

int StartUpMode(const std::string& program, const std::string& folder, int lines, int rounds,
                const std::string& results) {
    Installation large = Install(folder + "\\large", program, bench::MixedLog(lines));
    Installation small = Install(folder + "\\small", program, bench::LogHeader());
    const long long logBytes = bench::FileSize(large.log), smallLogBytes = bench::FileSize(small.log);
    int failures = 0;
    for (int round = 1; round <= rounds; ++round) {
        double workingSet = 0, pagefile = 0, smallWorkingSet = 0, unused = 0;
        double largeMs = 0, smallMs = 0, readMs = 0, readProcessMs = 0;
        // Each of the four goes first in turn.
        for (int slot = 0; slot < 4; ++slot) {
            switch ((slot + round) % 4) {
                case 0: largeMs = TimeToFirstPage(large, workingSet, pagefile); break;
                case 1: smallMs = TimeToFirstPage(small, smallWorkingSet, unused); break;
                case 2: readProcessMs = TimeReadTwiceProcess(large.log); break;
                default: readMs = ReadTwice(large.log); break;
            }
        }
        if (largeMs < 0 || smallMs < 0 || readProcessMs < 0) {
            fprintf(stderr, "start-up round %d: no page shown\n", round);
            ++failures;
            continue;
        }
        bench::Record(results, "startup", lines, round, largeMs);
        bench::Record(results, "startup-small", lines, round, smallMs);
        bench::Record(results, "read-twice", lines, round, readMs);
        bench::Record(results, "read-twice-process", lines, round, readProcessMs);
        bench::Record(results, "startup-peak-ws", lines, round, workingSet);
        bench::Record(results, "startup-peak-pf", lines, round, pagefile);
        bench::Record(results, "startup-small-peak-ws", lines, round, smallWorkingSet);
        bench::Record(results, "startup-log-bytes", lines, round, static_cast<double>(logBytes));
        bench::Record(results, "startup-small-log-bytes", lines, round, static_cast<double>(smallLogBytes));
    }
    return failures == 0 ? 0 : 1;
}
