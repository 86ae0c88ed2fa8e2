// Guards between the paths a log names and the deletions the removal actions make. A log is
// only a text file: whatever it names, the uninstaller must never delete a drive, the
// system's own folders or a user's folders, nor follow a path it cannot judge.
#pragma once

#include <string>

// True when nothing may be deleted at the path, nor by a mask or a tree deletion there:
// - it is not a full path ("X:\..." or "\\server\share\...") or it is a device or
//   long-path form ("\\?\", "\\.\"), or one of its components is "." or ".." (or any other
//   name of dots and blanks only, which Windows shortens to one of those), or one holds a
//   colon (a stream name, which may name the folder itself);
// - it names a drive root or a UNC share root;
// - it names, or contains, the Windows folder, the system folder, a Program Files folder,
//   the temporary folder, a user profile (or any folder directly inside the folder that
//   holds the profiles) or a shell folder.
// Short (8.3) and long spellings, letter case and trailing backslashes do not matter.
bool IsProtectedPath(const std::string& path);

// Whether a file name matches the last component of a file mask by its long name alone:
// "*" and "?" as wildcards, case-insensitive; a mask ending in ".*" also matches names
// without an extension, and one ending in "." matches only names without one. (The
// system's own search also matches 8.3 short names, so "*.htm" finds "page.html".)
bool MatchesFileMask(const std::string& name, const std::string& mask);
bool HasWildcards(const std::string& text);
