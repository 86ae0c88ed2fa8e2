// General utilities used at the end of an uninstall and for COM servers: restarting
// Windows, the self-removal script, and unregistering COM servers and type libraries.
#pragma once

#include <windows.h>

#include <string>

// ExitWindowsEx(flags), with the shutdown privilege enabled first on the NT family when
// the flags shut down, restart or power off; true when the request was accepted.
bool ExitWindowsWithPrivilege(UINT flags);
bool RestartWindows(bool force);  // EWX_REBOOT, plus EWX_FORCE when force
// Writes and starts the script that deletes the running executable (and its folder when
// removeFolder) once this process has ended. Raises EInOutError when the script cannot
// be written. The script waits without a limit for the process to end (for a marker file
// beside it that the process holds open until then), then tries for a minute at most to
// delete the executable. The script's folder then becomes the current folder.
void ScheduleSelfRemoval(bool removeFolder);
// Writes the text in the OEM code page followed by CR LF; raises EInOutError on failure.
void WriteOemLine(HANDLE file, const std::string& text);

// UnregisterServerFile, else UnregisterTypeLibrary; true when either succeeded.
bool UnregisterComFile(const std::string& path);
// The DLL's DllUnregisterServer; when that fails and the file is an .exe, the
// program started hidden with "/UNREGSERVER" (not waited for).
bool UnregisterServerFile(const std::string& path);
// Removes the registration of the type library that the file holds.
bool UnregisterTypeLibrary(const std::string& path);
