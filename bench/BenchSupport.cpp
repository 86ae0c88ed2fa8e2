#include "BenchSupport.h"

#include <psapi.h>

#include <cstdio>

#include "Removal.h"
#include "qzHandles.h"
#include "qzIniFile.h"

namespace bench {

namespace {

const int FilesPerFolder = 500;
const char* const Extensions[] = {".dll", ".dat", ".txt", ".bmp", ".htm", ".ini", ".exe", ".xml"};

std::string Number(int value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%0*d", digits, value);
    return text;
}

struct DialogSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32770") != 0) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

double NowMs() {
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / frequency;
}

void Record(const std::string& results, const std::string& metric, long long size, int round,
            double value) {
    if (FILE* file = fopen(results.c_str(), "a")) {
        fprintf(file, "%s %lld %d %.6f\n", metric.c_str(), size, round, value);
        fclose(file);
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char block[65536];
        size_t read;
        while ((read = fread(block, 1, sizeof block, file)) > 0) bytes.append(block, read);
        fclose(file);
    }
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

const char* const AppRoot = "C:\\Program Files\\Quorvel Bench\\";

std::string InstalledFile(int index) {
    return "data\\d" + Number(index / FilesPerFolder, 3) + "\\file" + Number(index, 6) +
           Extensions[index % (sizeof Extensions / sizeof Extensions[0])];
}

std::string LogHeader() {
    return "; Written by the installer of Quorvel Bench 1.0.\r\n"
           "[Strings]\r\nAppID=QuorvelBench\r\n1=Quorvel Bench Uninstall\r\n"
           "2=The setup program was not found in that folder.\r\n"
           "10=Removing file %s\r\n11=Restoring registry value %s\r\n"
           "12=Removing registry key %s\r\n13=Updating %s\r\n14=Removing shortcut %s\r\n"
           "15=Removing folder %s\r\n16=Unregistering %s\r\n17=Removing font %s\r\n"
           "18=Releasing shared file %s\r\n19=Removing assembly %s\r\n\r\n"
           "[Dialog.DLG_START]\r\nCaption=Quorvel Bench 1.0\r\n"
           "104=Welcome to the Quorvel Bench uninstaller\r\n"
           "105=This wizard removes Quorvel Bench from your computer or repairs it.\r\n"
           "106=&Remove Quorvel Bench\r\n109=Deletes the program and its settings.\r\n"
           "107=Re&pair Quorvel Bench\r\n110=Reinstalls missing or damaged program files.\r\n"
           "101=< &Back\r\n102=&Next >\r\n103=Cancel\r\n\r\n"
           "[Dialog.DLG_BEFOREUNINSTALL]\r\nCaption=Quorvel Bench 1.0\r\n"
           "Title=Ready to remove Quorvel Bench\r\nSubtitle=Check your choice, then click Next.\r\n"
           "104=Quorvel Bench will be removed from this computer.||Files in use go at the restart.\r\n"
           "105=Also remove my &documents\r\n101=< &Back\r\n102=&Next >\r\n103=Cancel\r\n\r\n"
           "[Dialog.DLG_UNINSTALL]\r\nCaption=Quorvel Bench 1.0\r\nTitle=Removing Quorvel Bench\r\n"
           "Subtitle=Please wait while the uninstaller works.\r\n104=Progress:\r\n"
           "200=Preparing and releasing shared files\r\n201=Removing shortcuts\r\n"
           "202=Restoring registry and settings\r\n203=Removing fonts\r\n"
           "204=Unregistering components\r\n205=Removing files and folders\r\n206=Finishing\r\n"
           "101=< &Back\r\n102=&Next >\r\n103=Cancel\r\n\r\n"
           "[Dialog.DLG_UNINSTALLSUCCEEDED]\r\nCaption=Quorvel Bench 1.0\r\n"
           "Title=Quorvel Bench has been removed\r\n104=Quorvel Bench has been removed.\r\n"
           "102=&Finish\r\n\r\n";
}

std::string FilesLog(int files) {
    std::string log = LogHeader() + "[CopyFiles]\r\n";
    for (int i = 0; i < files; ++i) log += std::string(AppRoot) + InstalledFile(i) + "=1\r\n";
    return log;
}

namespace {

// One section of the mixed log: its name, its lines per thousand (CopyFiles takes what the
// others leave) and how each of its lines reads.
struct MixedSection {
    const char* name;
    int share;
    std::function<std::string(int)> line;
};

// Now and then a line written the way hand-edited logs are: blanks around "=", a quoted
// value, a comment between the lines.
std::string Decorated(const std::string& key, const std::string& value, int i) {
    if (i % 97 == 13) return "; entry " + std::to_string(i) + "\r\n" + key + "=" + value;
    if (i % 89 == 7) return key + " = " + value;
    if (i % 83 == 5) return key + "=\"" + value + "\"";
    return key + "=" + value;
}

int CountLines(const std::string& text) {
    int count = 0;
    for (char c : text) count += c == '\n';
    return count;
}

}  // namespace

std::string MixedLog(int lines) {
    const std::string root = AppRoot;
    const std::string regRoot = "HKLM\\SOFTWARE\\Quorvel\\Bench\\";
    const std::vector<MixedSection> sections = {
        {"SharedFiles", 4, [](int i) { return "C:\\Program Files\\Common Files\\Quorvel\\shared" + Number(i, 4) + ".dll=1"; }},
        {"Shortcuts", 3, [](int i) { return "C:\\users\\Public\\Desktop\\Quorvel Bench " + Number(i, 4) + "=1"; }},
        {"AddReg", 200, [&](int i) { return Decorated(regRoot + "Key" + Number(i / 10, 5) + "\\Value" + Number(i % 10, 2), "1,Setting value " + std::to_string(i), i); }},
        {"CreateKeys", 20, [&](int i) { return regRoot + "Key" + Number(i, 5) + "=1"; }},
        {"AddIni", 30, [&](int i) { return Decorated(root + "conf\\app" + Number(i / 50, 3) + ".ini,Section" + Number(i / 10 % 5, 1) + ",Key" + Number(i, 5), "old value " + std::to_string(i), i); }},
        {"RegFonts", 1, [&](int i) { return "Quorvel Sans " + Number(i, 3) + " (TrueType)=" + root + "fonts\\qsans" + Number(i, 3) + ".ttf"; }},
        {"RegServers", 15, [&](int i) { return root + "bin\\component" + Number(i, 4) + ".dll=1"; }},
        {"DataFiles", 20, [&](int i) { return root + "documents\\sample" + Number(i, 5) + ".qzd=1"; }},
        {"CopyFiles", 0, [&](int i) { return Decorated(root + InstalledFile(i), "1", i); }},
        {"DataFolders", 1, [&](int i) { return root + "documents\\set" + Number(i, 3) + "=1"; }},
        {"CreateDirs", 26, [&](int i) { return root + "data\\d" + Number(i, 3) + "=1"; }},
    };
    std::vector<std::string> bodies(sections.size());
    int total = CountLines(LogHeader());
    for (size_t s = 0; s < sections.size(); ++s) {
        const MixedSection& section = sections[s];
        std::string& body = bodies[s];
        body = "[" + std::string(section.name) + "]\r\n";
        int count = static_cast<int>(static_cast<long long>(lines) * section.share / 1000);
        for (int i = 0; i < count; ++i) body += section.line(i) + "\r\n";
        body += "\r\n";
        total += CountLines(body);
    }
    for (size_t s = 0; s < sections.size(); ++s) {
        if (sections[s].share != 0) continue;
        std::string tail = bodies[s].substr(bodies[s].size() - 2);
        bodies[s].erase(bodies[s].size() - 2);
        for (int i = 0; total < lines; ++i) {
            std::string line = sections[s].line(i) + "\r\n";
            if (total + CountLines(line) > lines) line = std::string(AppRoot) + InstalledFile(i) + "=1\r\n";
            bodies[s] += line;
            total += CountLines(line);
        }
        bodies[s] += tail;
    }
    std::string log = LogHeader();
    for (const std::string& body : bodies) log += body;
    return log;
}

std::vector<std::string> SectionKeys(const std::string& log, const std::string& section) {
    TqzIniFile engine(log, true);
    TStringList lines;
    engine.ReadSectionValues(section, lines);
    std::vector<std::string> keys;
    for (const auto& entry : lines.Entries()) keys.push_back(EntryKey(entry.text));
    return keys;
}

bool PeakMemory(HANDLE process, double& workingSet, double& pagefile) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return false;
    workingSet = static_cast<double>(counters.PeakWorkingSetSize);
    pagefile = static_cast<double>(counters.PeakPagefileUsage);
    return true;
}

HWND VisibleDialogOf(DWORD processId) {
    DialogSearch search{processId, nullptr};
    EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace bench
