// Support for tests of COM registration and of registry marks left by helper programs:
// the test artefacts comserver.dll, outprocserver.exe and sample.tlb (see their sources
// under tests/helpers), and small registry readers.
#pragma once

#include <windows.h>

#include <string>

namespace test {

// Registry reads; false when the key or value is missing.
bool KeyExists(HKEY root, const std::string& subkey);
bool ReadRegistryBytes(HKEY root, const std::string& subkey, const std::string& name,
                       std::string& bytes, DWORD* type = nullptr);
// A REG_SZ value without its terminating NUL, "" when missing.
std::string ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name);

// The mark comserver.dll keeps under HKCU\Software\QuorvelTests\ComServer for the DLL file
// name ("registered", or "" when unregistered), and the one outprocserver.exe writes under
// HKCU\Software\QuorvelTests\OutProcServer for its exe file name ("unregistered" or
// "registered", "" when it never ran).
std::string ComServerMark(const std::string& dllFileName);
std::string OutProcServerMark(const std::string& exeFileName);
void ClearOutProcServerMark(const std::string& exeFileName);
// Loads the DLL and calls its DllRegisterServer; true on success.
bool RegisterComServer(const std::string& dllPath);

// sample.tlb beside the tests, its registration key below HKCR, and registration of a
// type library file (LoadTypeLibEx with REGKIND_REGISTER).
std::string SampleTypeLibrary();
extern const char kSampleTypeLibKey[];
bool RegisterTypeLibrary(const std::string& path);

}  // namespace test
