// rebootdelete.exe PATH: calls DeleteFileAtReboot(PATH) and exits with 0, or with 1 when it
// raised EInOutError (the message then goes to standard error). Tests run it where the
// platform must be the Windows 9x family: Wine reports that for one program when
// HKCU\Software\Wine\AppDefaults\rebootdelete.exe has Version = win98.
#include <cstdio>

#include "qzErrors.h"
#include "qzFileUtils.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    try {
        DeleteFileAtReboot(argv[1]);
    } catch (const EInOutError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
