// exitcode [CODE] [--sleep MS] [--mark FILE]
// Ends with exit code CODE (a decimal number, 0 when missing). Before that it sleeps MS
// milliseconds when --sleep is given, and writes a mark file when --mark is given or, when
// it is not, when the environment variable EXITCODE_MARK names one (for starts whose
// command line cannot carry the option). The mark file holds two lines: the program's
// full command line exactly as it received it, and its working directory. A relative FILE
// is taken from the working directory.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "qzHandles.h"

namespace {

void WriteMark(const std::string& path) {
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, directory);
    std::string text = std::string(GetCommandLineA()) + "\r\n" + directory + "\r\n";
    qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    int code = argc > 1 ? std::atoi(argv[1]) : 0;
    DWORD sleepMs = 0;
    std::string mark;
    char fromEnvironment[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("EXITCODE_MARK", fromEnvironment, MAX_PATH);
    if (length > 0 && length < MAX_PATH) mark = fromEnvironment;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sleep") == 0) sleepMs = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--mark") == 0) mark = argv[i + 1];
    }
    if (sleepMs) Sleep(sleepMs);
    if (!mark.empty()) WriteMark(mark);
    return code;
}
