// selfremove.exe [keep] [hold]: schedules its own removal with ScheduleSelfRemoval, the
// folder included unless "keep" is given, and exits with 0 (1 when the script could not be
// written). With "hold" it then creates <exe>.scheduled in the parent folder of its own
// folder and stays until it is terminated (at most a minute), so that a test can look at
// the script while it waits. Tests copy it into a throw-away application folder first.
#include <windows.h>

#include <cstring>

#include "qzErrors.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzUtils.h"
#include "qzWinUtils.h"

namespace {

bool HasArgument(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        ScheduleSelfRemoval(!HasArgument(argc, argv, "keep"));
    } catch (const EInOutError&) {
        return 1;
    }
    if (HasArgument(argc, argv, "hold")) {
        std::string exe = GetModuleName();
        std::string marker = ExtractFilePath(ExcludeTrailingBackslash(ExtractFilePath(exe))) +
                             ExtractFileName(exe) + ".scheduled";
        qz::UniqueHandle(CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        Sleep(60 * 1000);
    }
    return 0;
}
