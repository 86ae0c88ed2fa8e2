#include "Report.h"

#include <memory>

#include "qzHandles.h"
#include "qzStrUtils.h"

namespace {

// The worker writes action lines while the main thread may write an error line.
struct OpenedReport {
    qz::UniqueHandle file;
    qz::CriticalSection lock;
    std::string pending;
};

std::unique_ptr<OpenedReport> Current;

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Removed: return "removed";
        case Outcome::Restored: return "restored";
        case Outcome::Unchanged: return "unchanged";
        case Outcome::Kept: return "kept";
        case Outcome::Deferred: return "deferred to the next boot";
        case Outcome::Failed: return "failed";
        case Outcome::Refused: return "refused by the guard";
        case Outcome::Malformed: return "skipped because malformed";
        case Outcome::Missing: return "not found";
        case Outcome::Ran: return "ran";
    }
    return "";
}

void AddLine(const std::string& line) {
    qz::Lock guard(Current->lock);
    Current->pending += line;
    Current->pending += "\r\n";
}

}  // namespace

bool OpenReport(const std::string& path, const std::string& header) {
    auto report = std::make_unique<OpenedReport>();
    report->file.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!report->file) return false;
    Current = std::move(report);
    AddLine(header);
    FlushReport();
    return true;
}

bool Reporting() { return Current != nullptr; }

void Record(Outcome outcome, const char* kind, const std::string& object, const std::string& detail) {
    if (!Current) return;
    std::string line = std::string(OutcomeText(outcome)) + ": " + kind + " " + object;
    if (!detail.empty()) line += " (" + detail + ")";
    AddLine(line);
}

void RecordFailure(const char* kind, const std::string& object, DWORD error) {
    // The registry's calls return their error instead of setting the thread's: 0 then.
    if (Current) Record(Outcome::Failed, kind, object, error == 0 ? "" : SystemError(error));
}

void RecordError(const std::string& text) {
    if (Current) AddLine("error: " + ReplaceAll(text, "\r\n", " "));
}

void FlushReport() {
    if (!Current) return;
    qz::Lock guard(Current->lock);
    DWORD written = 0;
    WriteFile(Current->file.Get(), Current->pending.data(),
              static_cast<DWORD>(Current->pending.size()), &written, nullptr);
    Current->pending.clear();
}

void CloseReport(const std::string& result) {
    if (!Current) return;
    AddLine("result: " + result);
    FlushReport();
    Current.reset();
}

std::string SystemError(DWORD error) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    std::string message = Trim(std::string(text, length));
    char code[32];
    wsprintfA(code, "error %lu", error);
    return message.empty() ? code : std::string(code) + ": " + message;
}
