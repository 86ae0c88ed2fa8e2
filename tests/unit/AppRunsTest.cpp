#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "TestSupport.h"

namespace {

// A run entry for exitcode.exe: it ends with the code and leaves a mark file (its command
// line and working folder) at {root}\<mark>.txt. Fields 3 to 7 follow as given.
std::string ExitCodeEntry(int code, const std::string& mark, const std::string& rest) {
    return test::HelperProgram("exitcode") + "," + std::to_string(code) + " --mark {root}\\" + mark +
           ".txt," + rest;
}

std::string MarkLines(const test::Installation& inst, const std::string& mark) {
    return test::ReadFileBytes(inst.Expand("{root}\\" + mark + ".txt"));
}

TEST(AppRuns, SectionEntryCountCountsTheLinesOfTheLoadedLog) {
    test::Installation inst(
        "[PreRunApp]\r\na=1\r\nb=2\r\n[RunApp]\r\n; a comment\r\na=1\r\nb=2\r\nc=3\r\n[Empty]\r\n");
    LoadedLog = std::make_unique<TqzIniFile>(inst.Log(), true);
    auto reset = qz::OnScopeExit([] { LoadedLog.reset(); });

    EXPECT_EQ(SectionEntryCount("PreRunApp"), 2);
    EXPECT_EQ(SectionEntryCount("runapp"), 3);
    EXPECT_EQ(SectionEntryCount("Empty"), 0);
    EXPECT_EQ(SectionEntryCount("Missing"), 0);
    LoadedLog.reset();
    EXPECT_EQ(SectionEntryCount("PreRunApp"), 0);
}

TEST(AppRuns, AssembliesAreRemovedByTheCacheToolBesideTheProgram) {
    const std::string record = test::BinFolder() + "gacutil.args";
    DeleteFileA(record.c_str());
    auto removeRecord = qz::OnScopeExit([&] { DeleteFileA(record.c_str()); });
    test::Installation inst(std::string(test::StatusStrings) +
                            "[SharedAssemblies]\r\n"
                            "a=Demo.Lib,Version=1.0.0.0,Culture=neutral\r\n"
                            "b=Other.Lib,Version=2.1.0.0,PublicKeyToken=0123456789abcdef\r\n");
    test::ProgressRecorder progress;

    UninstallAssemblies();

    EXPECT_EQ(test::ReadFileBytes(record),
              "/ur Demo.Lib,Version=1.0.0.0,Culture=neutral\r\n"
              "/ur Other.Lib,Version=2.1.0.0,PublicKeyToken=0123456789abcdef\r\n");
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{"19:Demo.Lib", "19:Other.Lib"}));
    EXPECT_EQ(progress.Steps(), 2);
}

TEST(AppRuns, FailingPreRunProgramStopsTheWalkWithoutAStep) {
    test::Installation inst("[PreRunApp]\r\n1=" + ExitCodeEntry(0, "first", "{root},0,Preparing,1,1") +
                            "\r\n2=" + ExitCodeEntry(3, "second", ",0,Checking,1,1") +
                            "\r\n3=" + ExitCodeEntry(0, "third", ",0,Never,1,1") + "\r\n");
    test::ProgressRecorder progress;

    EXPECT_FALSE(RunSection(true));

    EXPECT_EQ(progress.Steps(), 1);
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{"Preparing", "Checking"}));
    // The first ran in the working folder of its entry.
    EXPECT_NE(MarkLines(inst, "first").find("\r\n" + inst.Root() + "\r\n"), std::string::npos);
    EXPECT_FALSE(MarkLines(inst, "second").empty());
    EXPECT_FALSE(test::PathExists(inst.Expand("{root}\\third.txt")));
}

TEST(AppRuns, ExitCodesAreJudgedOnlyWhereTheEntryAsks) {
    test::Installation inst("");
    std::string tool = inst.File("{root}\\Program Files\\cleanup tool.exe", 0,
                                 test::ReadFileBytes(test::HelperProgram("exitcode")));
    test::ProgressRecorder progress;
    // A quoted program path with blanks, a quoted status, any ending accepted.
    EXPECT_TRUE(RunEntry(inst.Expand("\"" + tool + "\",3 --mark {root}\\quoted.txt,,0,\"Removing temporary data\",1,0")));
    EXPECT_EQ(progress.Texts().back(), "Removing temporary data");
    EXPECT_EQ(MarkLines(inst, "quoted").find("\"" + tool + "\" 3 --mark"), 0u);
    EXPECT_FALSE(RunEntry(inst.Expand(ExitCodeEntry(3, "judged", ",0,,1,1"))));
    // Fields 6 and 7 default to waiting and judging.
    EXPECT_FALSE(RunEntry(inst.Expand(ExitCodeEntry(4, "defaults", ""))));
    EXPECT_TRUE(RunEntry(inst.Expand(ExitCodeEntry(0, "zero", ",,,"))));
    // A program that cannot start returns -1: a failure only when the exit code is judged.
    EXPECT_TRUE(RunEntry(inst.Expand("{root}\\missing.exe,,,0,Missing,1,0")));
    EXPECT_FALSE(RunEntry(inst.Expand("{root}\\missing.exe,,,0,Missing,1,1")));
    EXPECT_EQ(progress.Texts().back(), "Missing");
    EXPECT_EQ(progress.Steps(), 0);  // single entries take no step
}

TEST(AppRuns, RunAppSectionStepsForEachProgramAndAnEmptySectionSucceeds) {
    test::Installation inst("[RunApp]\r\n1=" + ExitCodeEntry(2, "one", ",0,One,1,0") +
                            "\r\n2=" + ExitCodeEntry(0, "two", ",0,Two,1,1") + "\r\n");
    test::ProgressRecorder progress;

    EXPECT_TRUE(RunSection(false));
    EXPECT_EQ(progress.Steps(), 2);
    EXPECT_TRUE(RunSection(true));  // no PreRunApp section
    EXPECT_EQ(progress.Steps(), 2);
}

TEST(AppRuns, ProgramStartedWithoutWaitingFailsOnlyWhenItCannotStart) {
    test::Installation inst("");
    test::ProgressRecorder progress;

    EXPECT_TRUE(RunEntry(inst.Expand(ExitCodeEntry(5, "started", "{root},0,Starting,0,1"))));
    EXPECT_TRUE(test::WaitUntil([&] { return !MarkLines(inst, "started").empty(); }));
    EXPECT_FALSE(RunEntry(inst.Expand("{root}\\missing.exe,,,0,Missing,0,1")));
}

}  // namespace
