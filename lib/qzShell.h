// The folder picker and starting programs while the calling thread keeps its messages flowing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Shows the shell's folder browser rooted at the drives, with the owner's font and the
// starting folder pre-selected. True when a folder was chosen: path then holds it without
// a trailing backslash; otherwise path is unchanged.
bool BrowseForFolder(HWND owner, const std::string& caption, const std::string& instruction,
                     std::string& path);

// Starts a program and waits for its end, dispatching the thread's messages every 100 ms.
// The exit code; 0 when it cannot be read; -1 when the program could not be started.
int32_t RunAndWait(HWND owner, const std::string& file, const std::string& parameters,
                   const std::string& directory, int show);
