// The test program stages files, keys and links, runs programs that delete what a log names
// and restarts the simulated Windows. It runs only in a throwaway Wine prefix that
// scripts/test has sealed off from the host, and refuses to start anywhere else.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Environment(const char* name) {
    char value[1024] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? value : "";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

// A link below folder (Wine reports a Unix link as a reparse point), at any depth.
bool HoldsLink(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) found = true;
        else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found = HoldsLink(folder + "\\" + name);
    } while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

// Why this is not a sealed test prefix; empty when it is one. The script marks the prefix
// it sealed; the program checks that it runs in that prefix, below a temporary folder that
// also holds HOME, from its C: drive, with no other drive and no link in the user folders.
std::string WhyNotSealed() {
    std::string prefix = Environment("WINEPREFIX");
    if (prefix.empty() || Environment("QZ_SEALED_PREFIX") != prefix) return "not in the prefix that scripts/test sealed";
    std::string temporary = prefix.substr(0, prefix.find_last_of('/') + 1);
    std::string tmp = Environment("TMPDIR").empty() ? "/tmp/" : Environment("TMPDIR") + "/";
    if (!StartsWith(prefix, tmp)) return "the prefix " + prefix + " is not in a temporary folder";
    // Wine gives a program the Unix HOME as WINEHOMEDIR, in its NT form \??\unix\...
    std::string home = Environment("WINEHOMEDIR");
    for (char& c : home) c = c == '\\' ? '/' : c;
    if (!StartsWith(home, "/?" "?/unix" + temporary)) return "HOME is not inside " + temporary;
    if (GetLogicalDrives() != (1u << 2))
        return "the prefix has drives other than C: (" + std::to_string(GetLogicalDrives()) + ")";
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (!StartsWith(module, "C:\\")) return "the program does not run from the prefix's C: drive";
    if (HoldsLink("C:\\users")) return "a user folder of the prefix is a link";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    std::string why = WhyNotSealed();
    if (!why.empty()) {
        std::fprintf(stderr, "refusing to run: %s\n", why.c_str());
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
