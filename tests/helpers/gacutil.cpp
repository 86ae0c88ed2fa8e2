// gacutil ARGUMENTS: a stand-in for the .NET assembly cache tool. Appends its command line,
// without the program name, as one line to gacutil.args beside itself and exits with 0.
#include <windows.h>

#include <string>

#include "qzHandles.h"

namespace {

// The command line after the program name and the blanks that follow it.
std::string Arguments() {
    const char* p = GetCommandLineA();
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p)
        if (*p == '"') quoted = !quoted;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

std::string RecordPath() {
    char module[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string path(module, length);
    return path.substr(0, path.rfind('\\') + 1) + "gacutil.args";
}

}  // namespace

int main() {
    qz::UniqueHandle file(CreateFileA(RecordPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    std::string line = Arguments() + "\r\n";
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return 0;
}
