#include "Progress.h"

#include <cmath>

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

void ReportStage() {
    if (Sink) Sink->Stage();
}

int ProgressPercent(int32_t done, int32_t total) {
    if (total <= 0) return 0;
    return static_cast<int>(std::nearbyint(static_cast<double>(done) / total * 100));
}
