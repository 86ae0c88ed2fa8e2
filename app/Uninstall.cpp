// Program entry of the uninstaller.
#include <windows.h>

#include "MainFlow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ExitProcess(static_cast<UINT>(ProgramEntry()));
}
