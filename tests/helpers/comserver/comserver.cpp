// comserver.dll: an in-process COM server for tests that does nothing but mark its
// registration. DllRegisterServer sets the value named after the DLL's file name (for a
// copy at C:\x\My Server.dll: "My Server.dll") under HKCU\Software\QuorvelTests\ComServer
// to "registered"; DllUnregisterServer deletes it again (S_OK, or SELFREG_E_CLASS when the
// value was not there). Tests copy the DLL wherever they need it and read the mark with
// the functions of tests/unit/ComSupport.h.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "qzHandles.h"

namespace {

HMODULE gModule = nullptr;
const char kMarkKey[] = "Software\\QuorvelTests\\ComServer";

std::string ModuleFileName() {
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(gModule, path, MAX_PATH);
    std::string full(path, length);
    return full.substr(full.find_last_of('\\') + 1);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = instance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    qz::UniqueKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kMarkKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    static const char value[] = "registered";
    return RegSetValueExA(key.Get(), ModuleFileName().c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value), sizeof value) == ERROR_SUCCESS
               ? S_OK
               : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    qz::UniqueKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return RegDeleteValueA(key.Get(), ModuleFileName().c_str()) == ERROR_SUCCESS ? S_OK
                                                                                : SELFREG_E_CLASS;
}
