// holdfile PATH SHAREMODE: opens PATH (creating it when missing) with the given share mode,
// creates PATH.held to say so, and keeps the file open until it is terminated (at most
// five minutes, so that a test that forgets it leaves nothing running).
#include <windows.h>

#include <cstdlib>
#include <string>

#include "qzHandles.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    DWORD share = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0));
    qz::UniqueHandle file(CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    std::string ready = std::string(argv[1]) + ".held";
    qz::UniqueHandle(CreateFileA(ready.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Sleep(5 * 60 * 1000);
    return 0;
}
