// Shared by the rule tables. A rule is an expression with the value it must give, both
// printed, so that a failure names the expression, what it gave and what it should give.
// Logs are parsed from memory: this level writes no file that a rule does not need.
#pragma once

#include <gtest/gtest.h>

#include "Globals.h"
#include "TestSupport.h"
#include "qzRegIni.h"

namespace rules {

struct Rule { const char* expression; std::string got, expected; };
#define RULE(expression, expected) \
    rules::Rule { #expression, ::testing::PrintToString(expression), ::testing::PrintToString(expected) }

inline void ExpectRules(std::initializer_list<Rule> table) {
    for (const Rule& rule : table) EXPECT_EQ(rule.got, rule.expected) << rule.expression;
}

inline const std::string Nul(1, '\0');

// The list's texts joined by "|".
inline std::string Joined(const TStringList& list) {
    std::string text;
    for (int i = 0; i < list.Count(); ++i) (text += i ? "|" : "") += list.Strings(i);
    return text;
}

// An engine without a file, its model parsed from text (options: all four parse options).
inline std::unique_ptr<TqzIniFile> IniFromText(const std::string& text, bool options = true) {
    auto ini = std::make_unique<TqzIniFile>("", false, options, options, options, options);
    ini->LoadFromText(text);
    return ini;
}

// Makes text the program's log, as read by name through the engine cache (LogPath) and as
// the loaded log (LoadedLog); the log file itself is never created. Every test runs in a
// process of its own, so the cache holds no other log.
struct MemoryLog {
    explicit MemoryLog(const std::string& text) { Use(text); }
    ~MemoryLog() { ReleaseAllIniFiles(), ResetProcessState(); }
    void Use(const std::string& text) {
        LogPath = folder / "install.log";
        GetCachedIniFile(LogPath, true)->LoadFromText(text);
        LoadedLog = IniFromText(text);
    }
    test::TempFolder folder{"rules"};
};

}  // namespace rules
