#include "Progress.h"

#include "Report.h"

namespace {

ProgressSink* Sink = nullptr;

}  // namespace

ProgressSink* SetProgressSink(ProgressSink* sink) {
    ProgressSink* previous = Sink;
    Sink = sink;
    return previous;
}

void ReportStatus(const std::string& text) {
    if (Sink) Sink->Status(text);
}

void ReportStep() {
    if (Sink) Sink->Step();
}

// A stage's end is where the report reaches the disk.
void ReportStage() {
    FlushReport();
    if (Sink) Sink->Stage();
}

// In integers: a tie such as 23 of 40 (57.5) must not depend on how a build rounds doubles.
int ProgressPercent(int32_t done, int32_t total) {
    if (total <= 0) return 0;
    const int64_t scaled = static_cast<int64_t>(done) * 100;
    int64_t percent = scaled / total;
    const int64_t twiceRest = scaled % total * 2;
    if (twiceRest > total || (twiceRest == total && percent % 2 != 0)) ++percent;
    return static_cast<int>(percent);
}
