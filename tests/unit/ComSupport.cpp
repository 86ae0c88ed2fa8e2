#include "ComSupport.h"

#include <oleauto.h>

#include "TestSupport.h"
#include "qzHandles.h"

namespace test {

const char kSampleTypeLibKey[] = "TypeLib\\{DF23B576-B01F-46FB-9824-EE6FDB37582D}";

namespace {

const char kComServerKey[] = "Software\\QuorvelTests\\ComServer";
const char kOutProcServerKey[] = "Software\\QuorvelTests\\OutProcServer";

}  // namespace

bool KeyExists(HKEY root, const std::string& subkey) {
    qz::UniqueKey key;
    return RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool ReadRegistryBytes(HKEY root, const std::string& subkey, const std::string& name,
                       std::string& bytes, DWORD* type) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    bytes.assign(size, '\0');
    return RegQueryValueExA(key.Get(), name.c_str(), nullptr, type,
                            reinterpret_cast<BYTE*>(&bytes[0]), &size) == ERROR_SUCCESS;
}

std::string ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name) {
    std::string bytes;
    if (!ReadRegistryBytes(root, subkey, name, bytes)) return std::string();
    return bytes.substr(0, bytes.find('\0'));
}

std::string ComServerMark(const std::string& dllFileName) {
    return ReadRegistryString(HKEY_CURRENT_USER, kComServerKey, dllFileName);
}

std::string OutProcServerMark(const std::string& exeFileName) {
    return ReadRegistryString(HKEY_CURRENT_USER, kOutProcServerKey, exeFileName);
}

void ClearOutProcServerMark(const std::string& exeFileName) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kOutProcServerKey, 0, KEY_SET_VALUE, key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), exeFileName.c_str());
}

bool RegisterComServer(const std::string& dllPath) {
    qz::UniqueModule library(LoadLibraryA(dllPath.c_str()));
    auto entry = library ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                               GetProcAddress(library.Get(), "DllRegisterServer"))
                         : nullptr;
    return entry && SUCCEEDED(entry());
}

std::string SampleTypeLibrary() { return BinFolder() + "sample.tlb"; }

bool RegisterTypeLibrary(const std::string& path) {
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return false;
    qz::ComPtr<ITypeLib> library;
    return SUCCEEDED(LoadTypeLibEx(wide, REGKIND_REGISTER, library.Put()));
}

}  // namespace test
