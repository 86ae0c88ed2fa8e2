// What the removal actions report while they work: the item in hand, one step per counted
// entry, and the end of each stage. The worker points the reports at the progress page;
// without a sink they go nowhere, so the actions also run where no page is shown.
#pragma once

#include <cstdint>
#include <string>

class ProgressSink {
public:
    virtual void Status(const std::string& text) = 0;
    virtual void Step() = 0;
    virtual void Stage() = 0;

protected:
    ~ProgressSink() = default;
};

// The sink the reports go to (nullptr: none); returns the one it replaces.
ProgressSink* SetProgressSink(ProgressSink* sink);
void ReportStatus(const std::string& text);
void ReportStep();
void ReportStage();

// The bar's position after done of total steps: the percentage rounded half to even, 0 while
// nothing is counted.
int ProgressPercent(int32_t done, int32_t total);
