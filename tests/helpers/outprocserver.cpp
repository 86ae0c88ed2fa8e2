// outprocserver.exe: an out-of-process COM server for tests that only marks how it was
// asked to (un)register. Started with the single argument "/UNREGSERVER" it sets the value
// named after its own file name (a copy at C:\x\server.exe: "server.exe") under
// HKCU\Software\QuorvelTests\OutProcServer to "unregistered"; "/REGSERVER" sets it to
// "registered". Any other command line changes nothing. It always exits at once, with 0
// when it wrote the mark. Tests read the mark with tests/unit/ComSupport.h.
#include <windows.h>

#include <string>

#include "qzHandles.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string mark = lstrcmpiA(argv[1], "/UNREGSERVER") == 0 ? "unregistered"
                       : lstrcmpiA(argv[1], "/REGSERVER") == 0 ? "registered"
                                                                : "";
    if (mark.empty()) return 2;
    char path[MAX_PATH] = "";
    std::string full(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string name = full.substr(full.find_last_of('\\') + 1);
    qz::UniqueKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QuorvelTests\\OutProcServer", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return 1;
    return RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(mark.c_str()),
                          static_cast<DWORD>(mark.size() + 1)) == ERROR_SUCCESS
               ? 0
               : 1;
}
