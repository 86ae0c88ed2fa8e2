// General utilities used at the end of an uninstall and for COM servers: restarting
// Windows, the self-removal script, and unregistering COM servers and type libraries.
#pragma once

#include <windows.h>

#include <string>

bool ExitWindowsWithPrivilege(UINT flags);
bool RestartWindows(bool force);
// Writes and starts the script that deletes the running executable (and its folder when
// removeFolder) once this process has ended. Raises EInOutError when the script cannot
// be written.
void ScheduleSelfRemoval(bool removeFolder);
// Writes the text in the OEM code page followed by CR LF; raises EInOutError on failure.
void WriteOemLine(HANDLE file, const std::string& text);

bool UnregisterComFile(const std::string& path);
bool UnregisterServerFile(const std::string& path);
bool UnregisterTypeLibrary(const std::string& path);
