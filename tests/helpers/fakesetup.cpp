// fakesetup: stands in for an application's setup program. Writes two lines, its command
// line exactly as it received it and its current folder, into the file named by
// the environment variable QZ_FAKESETUP_RECORD, or else into NAME.txt beside itself, and
// exits (code 0, or 1 when the record could not be written).
#include <windows.h>

#include <string>

#include "qzHandles.h"

namespace {

std::string RecordPath() {
    char buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("QZ_FAKESETUP_RECORD", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return std::string(buffer, length);
    length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('.')) + ".txt";
}

}  // namespace

int main() {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::string record = std::string(GetCommandLineA()) + "\r\n" + folder + "\r\n";
    // Written under another name first, so that a reader never sees half a record.
    std::string path = RecordPath(), partial = path + ".part";
    {
        qz::UniqueHandle file(CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.Get(), record.data(), static_cast<DWORD>(record.size()),
                                &written, nullptr))
            return 1;
    }
    return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
