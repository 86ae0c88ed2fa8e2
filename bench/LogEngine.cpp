// The log engine against the system's own profile functions on a 100,000-line log: loading
// it and reading every section, and looking keys up in file order. Each run reads a fresh
// copy of the log, so that neither side serves it from what an earlier run loaded.
#include "Modes.h"

#include <vector>

#include "BenchSupport.h"
#include "qzFileUtils.h"
#include "qzIniFile.h"
#include "qzStrUtils.h"

namespace {

// Every section is read, and a key looked up at every one of this many lines: the system's
// lookups scan a section from its start, so all 100,000 would take minutes.
const int LookupSpacing = 50;

struct Lookup {
    std::string section;
    std::string key;
};

std::vector<Lookup> LookupsInFileOrder(const std::string& log) {
    TqzIniFile engine(log, true);
    TStringList names;
    engine.ReadSections(names);
    std::vector<Lookup> lookups;
    int line = 0;
    for (const auto& name : names.Entries()) {
        TStringList keys;
        engine.ReadSection(name.text, keys);
        for (const auto& key : keys.Entries())
            if (line++ % LookupSpacing == 0) lookups.push_back({name.text, key.text});
    }
    return lookups;
}

double EngineSections(const std::string& log, long long& lines) {
    double start = bench::NowMs();
    TqzIniFile engine(log, true);
    TStringList names;
    engine.ReadSections(names);
    lines = 0;
    for (const auto& name : names.Entries()) {
        TStringList section;
        engine.ReadSectionValues(name.text, section);
        lines += section.Count();
    }
    return bench::NowMs() - start;
}

double ProfileSections(const std::string& log, std::vector<char>& buffer, long long& lines) {
    double start = bench::NowMs();
    std::vector<char> names(1 << 16);
    GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), log.c_str());
    lines = 0;
    for (const char* name = names.data(); *name; name += lstrlenA(name) + 1) {
        GetPrivateProfileSectionA(name, buffer.data(), static_cast<DWORD>(buffer.size()), log.c_str());
        for (const char* line = buffer.data(); *line; line += lstrlenA(line) + 1) ++lines;
    }
    return bench::NowMs() - start;
}

double EngineLookups(const std::string& log, const std::vector<Lookup>& lookups, size_t& found) {
    TqzIniFile engine(log, true);
    double start = bench::NowMs();
    found = 0;
    for (const Lookup& lookup : lookups)
        found += !engine.ReadString(lookup.section, lookup.key, "").empty();
    return bench::NowMs() - start;
}

double ProfileLookups(const std::string& log, const std::vector<Lookup>& lookups, size_t& found) {
    char value[4096];
    GetPrivateProfileStringA("Strings", "AppID", "", value, sizeof value, log.c_str());  // loads it
    double start = bench::NowMs();
    found = 0;
    for (const Lookup& lookup : lookups)
        found += GetPrivateProfileStringA(lookup.section.c_str(), lookup.key.c_str(), "", value,
                                          sizeof value, log.c_str()) > 0;
    return bench::NowMs() - start;
}

}  // namespace

int EngineMode(const std::string& folder, int lines, int rounds, const std::string& results) {
    const std::string master = IncludeTrailingBackslash(folder) + "engine.log";
    const std::string text = bench::MixedLog(lines);
    if (!bench::WriteWholeFile(master, text)) return 1;
    const std::vector<Lookup> lookups = LookupsInFileOrder(master);
    std::vector<char> buffer(16 << 20);
    for (int round = 1; round <= rounds; ++round) {
        std::string ours = IncludeTrailingBackslash(folder) + "engine-" + IntToStr(round) + "a.log";
        std::string theirs = IncludeTrailingBackslash(folder) + "engine-" + IntToStr(round) + "b.log";
        bench::WriteWholeFile(ours, text);
        bench::WriteWholeFile(theirs, text);
        long long ourLines = 0, theirLines = 0;
        size_t ourFound = 0, theirFound = 0;
        double engineSections, profileSections, engineLookups, profileLookups;
        // Alternating which side goes first evens out what a run leaves warm for the next.
        if (round % 2) {
            engineSections = EngineSections(ours, ourLines);
            profileSections = ProfileSections(theirs, buffer, theirLines);
            engineLookups = EngineLookups(ours, lookups, ourFound);
            profileLookups = ProfileLookups(theirs, lookups, theirFound);
        } else {
            profileSections = ProfileSections(theirs, buffer, theirLines);
            engineSections = EngineSections(ours, ourLines);
            profileLookups = ProfileLookups(theirs, lookups, theirFound);
            engineLookups = EngineLookups(ours, lookups, ourFound);
        }
        bench::Record(results, "engine-sections", lines, round, engineSections);
        bench::Record(results, "profile-sections", lines, round, profileSections);
        bench::Record(results, "engine-lookups", static_cast<long long>(lookups.size()), round, engineLookups);
        bench::Record(results, "profile-lookups", static_cast<long long>(lookups.size()), round, profileLookups);
        if (round == 1)
            printf("log engine: %lld and %lld section lines read, %zu and %zu of %zu keys found\n",
                   ourLines, theirLines, ourFound, theirFound, lookups.size());
        DeleteFileA(ours.c_str());
        DeleteFileA(theirs.c_str());
    }
    DeleteFileA(master.c_str());
    return 0;
}
