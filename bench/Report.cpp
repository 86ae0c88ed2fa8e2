// The table: every figure is a ratio of two measurements taken in the same round, given as
// the median over the rounds with the smallest and the largest.
#include "Modes.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

using Key = std::tuple<std::string, long long, int>;  // metric, size, round

class Results {
public:
    explicit Results(const std::string& path) {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string metric;
            long long size;
            int round;
            double value;
            if (!(fields >> metric >> size >> round >> value)) continue;
            values_[Key{metric, size, round}] = value;
            rounds_ = std::max(rounds_, round);
        }
    }
    bool Get(const std::string& metric, long long size, int round, double& value) const {
        auto found = values_.find(Key{metric, size, round});
        if (found == values_.end()) return false;
        value = found->second;
        return true;
    }
    // The sizes for which the metric was measured, smallest first.
    std::vector<long long> Sizes(const std::string& metric) const {
        std::vector<long long> sizes;
        for (const auto& entry : values_)
            if (std::get<0>(entry.first) == metric &&
                std::find(sizes.begin(), sizes.end(), std::get<1>(entry.first)) == sizes.end())
                sizes.push_back(std::get<1>(entry.first));
        std::sort(sizes.begin(), sizes.end());
        return sizes;
    }
    int Rounds() const { return rounds_; }

private:
    std::map<Key, double> values_;
    int rounds_ = 0;
};

// One round's value of a figure; false when a measurement of that round is missing.
using Figure = std::function<bool(int round, double& value)>;

void PrintRow(const Results& results, const std::string& name, const Figure& figure,
              const std::string& target) {
    std::vector<double> values;
    for (int round = 1; round <= results.Rounds(); ++round) {
        double value;
        if (figure(round, value)) values.push_back(value);
    }
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    printf("| %s | %.2f | %.2f-%.2f | %zu | %s |\n", name.c_str(), median, values.front(),
           values.back(), n, target.c_str());
}

Figure Ratio(const Results& results, const std::string& a, long long sizeA, const std::string& b,
             long long sizeB) {
    return [&results, a, sizeA, b, sizeB](int round, double& value) {
        double x, y;
        if (!results.Get(a, sizeA, round, x) || !results.Get(b, sizeB, round, y) || y <= 0)
            return false;
        value = x / y;
        return true;
    };
}

std::string Thousands(long long n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
    return digits;
}

void UninstallRows(const Results& results) {
    const std::vector<long long> sizes = results.Sizes("uninstall");
    for (long long size : sizes)
        PrintRow(results, "Uninstall / bare delete loop, " + Thousands(size) + " files",
                 Ratio(results, "uninstall", size, "bare", size),
                 size == 10000 || size == 30000 ? "<= 1.3" : "");
    if (sizes.size() >= 2) {
        long long first = sizes.front(), last = sizes.back();
        Figure ratioFirst = Ratio(results, "uninstall", first, "bare", first);
        Figure ratioLast = Ratio(results, "uninstall", last, "bare", last);
        PrintRow(results,
                 "Flatness: ratio at " + Thousands(last) + " / ratio at " + Thousands(first),
                 [=](int round, double& value) {
                     double x, y;
                     if (!ratioLast(round, x) || !ratioFirst(round, y)) return false;
                     value = x / y;
                     return true;
                 },
                 "<= 1.2");
    }
}

void StepRows(const Results& results) {
    const char* const steps[][2] = {
        {"check", "path check (protected folders)"}, {"search", "file search (a mask)"},
        {"exists", "attribute check (a plain name)"},
        {"format", "status text from Strings 10"},   {"roundtrip", "empty call to the page"},
        {"status", "status text left for the page"},
        {"step", "progress step"},                   {"self", "comparison with the running program"},
    };
    for (long long size : results.Sizes("step-delete")) {
        for (const auto& step : steps)
            PrintRow(results,
                     "Per file, " + std::string(step[1]) + " / one deletion (" + Thousands(size) + ")",
                     Ratio(results, std::string("step-") + step[0], size, "step-delete", size), "");
        PrintRow(results, "Per file, attribute check + status line + deletion / deletion (" + Thousands(size) + ")",
                 [&results, size](int round, double& value) {
                     double search, status, remove;
                     if (!results.Get("step-exists", size, round, search) ||
                         !results.Get("step-status", size, round, status) ||
                         !results.Get("step-delete", size, round, remove))
                         return false;
                     value = (search + status + remove) / remove;
                     return true;
                 },
                 "");
    }
}

void EngineRows(const Results& results) {
    for (long long size : results.Sizes("engine-sections"))
        PrintRow(results, "Log engine: load + read every section / GetPrivateProfileSectionA (" +
                              Thousands(size) + " lines)",
                 Ratio(results, "engine-sections", size, "profile-sections", size), "< 1");
    for (long long size : results.Sizes("engine-lookups"))
        PrintRow(results, "Log engine: " + Thousands(size) +
                              " key lookups in file order / GetPrivateProfileStringA",
                 Ratio(results, "engine-lookups", size, "profile-lookups", size), "< 1");
}

void StartUpRows(const Results& results) {
    for (long long size : results.Sizes("startup")) {
        const std::string lines = Thousands(size) + "-line log";
        PrintRow(results, "Start-up to first page, " + lines + " / ReadFile of it twice",
                 Ratio(results, "startup", size, "read-twice", size), "<= 2");
        PrintRow(results, "Start-up to first page, " + lines +
                              " / a process that starts and reads it twice",
                 Ratio(results, "startup", size, "read-twice-process", size), "<= 2");
        PrintRow(results, "Start-up, " + lines + " minus texts-only log / ReadFile of it twice",
                 [&results, size](int round, double& value) {
                     double large, small, read;
                     if (!results.Get("startup", size, round, large) ||
                         !results.Get("startup-small", size, round, small) ||
                         !results.Get("read-twice", size, round, read) || read <= 0)
                         return false;
                     value = (large - small) / read;
                     return true;
                 },
                 "<= 2");
        PrintRow(results, "Start-up, " + lines + " / texts-only log",
                 Ratio(results, "startup", size, "startup-small", size), "");
        PrintRow(results, "Peak working set at the first page / log size, " + lines,
                 Ratio(results, "startup-peak-ws", size, "startup-log-bytes", size), "");
        PrintRow(results, "Peak working set at the first page, growth / log growth, texts-only to " + lines,
                 [&results, size](int round, double& value) {
                     double large, small, largeBytes, smallBytes;
                     if (!results.Get("startup-peak-ws", size, round, large) ||
                         !results.Get("startup-small-peak-ws", size, round, small) ||
                         !results.Get("startup-log-bytes", size, round, largeBytes) ||
                         !results.Get("startup-small-log-bytes", size, round, smallBytes) ||
                         largeBytes <= smallBytes)
                         return false;
                     value = (large - small) / (largeBytes - smallBytes);
                     return true;
                 },
                 "<= 4");
    }
}

// Peak memory grows with the log: the growth between the smallest and the largest log over
// the growth of the log itself tells what each byte of log costs.
Figure Growth(const Results& results, const std::string& metric, long long small, long long large) {
    return [&results, metric, small, large](int round, double& value) {
        double peakSmall, peakLarge, bytesSmall, bytesLarge;
        if (!results.Get(metric, small, round, peakSmall) || !results.Get(metric, large, round, peakLarge) ||
            !results.Get("uninstall-log-bytes", small, round, bytesSmall) ||
            !results.Get("uninstall-log-bytes", large, round, bytesLarge) || bytesLarge <= bytesSmall)
            return false;
        value = (peakLarge - peakSmall) / (bytesLarge - bytesSmall);
        return true;
    };
}

void MemoryRows(const Results& results) {
    const std::vector<long long> sizes = results.Sizes("uninstall-peak-ws");
    if (sizes.empty()) return;
    long long small = sizes.front(), large = sizes.back();
    const std::string log = Thousands(large) + "-line log";
    PrintRow(results, "Uninstall peak working set / log size, " + log,
             Ratio(results, "uninstall-peak-ws", large, "uninstall-log-bytes", large), "");
    PrintRow(results, "Uninstall peak pagefile usage / log size, " + log,
             Ratio(results, "uninstall-peak-pf", large, "uninstall-log-bytes", large), "");
    if (small == large) return;
    PrintRow(results, "Uninstall peak working set growth / log growth, " + Thousands(small) + " to " + log,
             Growth(results, "uninstall-peak-ws", small, large), "<= 4");
    PrintRow(results, "Uninstall peak pagefile growth / log growth, " + Thousands(small) + " to " + log,
             Growth(results, "uninstall-peak-pf", small, large), "");
}

}  // namespace

int ReportMode(const std::string& path) {
    Results results(path);
    printf("| Figure (ratio) | Median | Min-max | Runs | Target |\n|---|---|---|---|---|\n");
    UninstallRows(results);
    StepRows(results);
    EngineRows(results);
    StartUpRows(results);
    MemoryRows(results);
    return 0;
}
