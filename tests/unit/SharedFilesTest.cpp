#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "SecondThread.h"
#include "TestSupport.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

const char SharedDlls[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const int Esc = IDCANCEL;  // a reply that presses Esc instead of a button

const char PromptTexts[] =
    "[Dialog.DLG_DELSHARED]\r\n"
    "Caption=Shared file found\r\n"
    "101=No other program seems to use this file. Remove it?\r\n";

// An installation whose shared files have their counters under SharedDLLs; the counters
// are removed again at the end.
class SharedInstallation : public test::Installation {
public:
    explicit SharedInstallation(const std::string& sections)
        : Installation(std::string(test::StatusStrings) + PromptTexts + sections, "shared") {}
    ~SharedInstallation() {
        qz::UniqueKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDlls + 5, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
            return;
        for (const auto& path : counted_) RegDeleteValueA(key.Get(), path.c_str());
    }
    // The counter of the file as a REG_DWORD, or raw bytes of another type.
    void SetCounter(const std::string& file, DWORD count) {
        SetCounterBytes(file, REG_DWORD, std::string(reinterpret_cast<char*>(&count), sizeof count));
    }
    void SetCounterBytes(const std::string& file, DWORD type, const std::string& bytes) {
        counted_.push_back(Expand(file));
        SetValue(SharedDlls, file, type, bytes);
    }
    test::RegValue Counter(const std::string& file) const { return Value(SharedDlls, file); }
    std::vector<std::string> Kept() const {
        std::vector<std::string> kept;
        for (const auto& entry : KeptSharedFiles->Entries()) kept.push_back(entry.text);
        return kept;
    }

private:
    std::vector<std::string> counted_;
};

struct PromptSeen {
    std::string caption, question, file, folder;
    HWND owner = nullptr;
    bool ownerEnabled = true;
};

// Answers each prompt that the worker thread shows with the next reply (a button id, or
// Esc), recording what the prompt showed; a prompt beyond the replies is answered with Esc.
class PromptAnswerer {
public:
    explicit PromptAnswerer(std::vector<int> replies) : replies_(std::move(replies)) {}

    void operator()(DWORD threadId) {
        HWND dialog = test::ThreadDialog(threadId);
        if (!dialog || dialog == answered_) return;
        answered_ = dialog;
        PromptSeen prompt;
        prompt.caption = test::WindowText(dialog);
        prompt.question = test::WindowText(GetDlgItem(dialog, IDC_DS_QUESTION));
        prompt.file = test::WindowText(GetDlgItem(dialog, IDC_DS_FILE));
        prompt.folder = test::WindowText(GetDlgItem(dialog, IDC_DS_FOLDER));
        prompt.owner = GetWindow(dialog, GW_OWNER);
        prompt.ownerEnabled = IsWindowEnabled(prompt.owner) != FALSE;
        int reply = seen.size() < replies_.size() ? replies_[seen.size()] : Esc;
        seen.push_back(prompt);
        if (reply == Esc)
            PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        else
            PostMessageA(GetDlgItem(dialog, reply), BM_CLICK, 0, 0);
    }

    std::vector<PromptSeen> seen;

private:
    std::vector<int> replies_;
    HWND answered_ = nullptr;
};

// Runs ReleaseSharedFiles as the worker does, the progress page being the prompt's owner.
void ReleaseAnswering(PromptAnswerer& answerer) {
    MainWindow = CurrentPage;
    ASSERT_TRUE(test::RunOnSecondThread(ReleaseSharedFiles, std::ref(answerer)));
}

TEST(SharedFiles, CountersAboveOneGoDownAndFilesWithoutACountedEndStayUnasked) {
    SharedInstallation inst(
        "[SharedFiles]\r\n{app}\\three.dll=1\r\n{app}\\foreign.dll=1\r\n{app}\\uncounted.dll=1\r\n"
        "{app}\\huge.dll=1\r\n"
        "[CopyFiles]\r\n{app}\\three.dll=1\r\n{app}\\uncounted.dll=1\r\n{app}\\huge.dll=1\r\n");
    inst.SetCounter("{app}\\three.dll", 3);
    inst.SetCounter("{app}\\foreign.dll", 1);  // not installed by this application
    inst.SetCounter("{app}\\huge.dll", 0xFFFFFFFF);
    test::ProgressRecorder progress;
    PromptAnswerer answerer({});

    ReleaseAnswering(answerer);

    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_EQ(inst.Counter("{app}\\three.dll").Number(), 2u);
    EXPECT_EQ(inst.Counter("{app}\\foreign.dll").Number(), 1u);
    EXPECT_FALSE(inst.Counter("{app}\\uncounted.dll").exists);
    // A count that reads as negative when taken as signed is a large count, not an end.
    EXPECT_EQ(inst.Counter("{app}\\huge.dll").Number(), 0xFFFFFFFEu);
    EXPECT_EQ(inst.Kept(), (std::vector<std::string>{
                               inst.Expand("{app}\\three.dll=1"), inst.Expand("{app}\\foreign.dll=1"),
                               inst.Expand("{app}\\uncounted.dll=1"), inst.Expand("{app}\\huge.dll=1")}));
    EXPECT_EQ(progress.Texts(),
              (std::vector<std::string>{inst.Expand("18:{app}\\three.dll"), inst.Expand("18:{app}\\foreign.dll"),
                                        inst.Expand("18:{app}\\uncounted.dll"), inst.Expand("18:{app}\\huge.dll")}));
    EXPECT_EQ(progress.Steps(), 0);
}

// The system would read "lib.dll" for a path with a NUL after it.
TEST(SharedFiles, PathHoldingANulCountsNothingDown) {
    const std::string nul(1, '\0');
    SharedInstallation inst("[SharedFiles]\r\n{app}\\lib.dll" + nul + "x=1\r\n"
                            "[CopyFiles]\r\n{app}\\lib.dll=1\r\n{app}\\lib.dll" + nul + "x=1\r\n");
    inst.SetCounter("{app}\\lib.dll", 2);
    test::ProgressRecorder progress;
    PromptAnswerer answerer({});

    ReleaseAnswering(answerer);

    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_EQ(inst.Counter("{app}\\lib.dll").Number(), 2u);
}

TEST(SharedFiles, PromptShowsTheFileAndReturnsTheAnswerOfEachButtonAndOfEsc) {
    SharedInstallation inst("");
    test::ProgressRecorder progress;
    MainWindow = CurrentPage;
    const std::string path = inst.Expand("{app}\\sub dir\\common.dll");
    std::vector<int> answers;
    PromptAnswerer answerer({IDC_DS_DELETE, IDC_DS_DELETE_ALL, IDC_DS_KEEP, IDC_DS_KEEP_ALL, Esc});

    ASSERT_TRUE(test::RunOnSecondThread(
        [&] {
            for (int i = 0; i < 5; ++i) answers.push_back(AskDeleteSharedFile(path));
        },
        std::ref(answerer)));

    EXPECT_EQ(answers, (std::vector<int>{6, 10, 7, 9, 7}));
    ASSERT_EQ(answerer.seen.size(), 5u);
    const PromptSeen& first = answerer.seen.front();
    EXPECT_EQ(first.caption, "Shared file found");
    EXPECT_EQ(first.question, "No other program seems to use this file. Remove it?");
    EXPECT_EQ(first.file, "common.dll");
    EXPECT_EQ(first.folder, inst.Expand("{app}\\sub dir\\"));
    EXPECT_EQ(first.owner, CurrentPage);
    EXPECT_FALSE(first.ownerEnabled);  // modal to the progress page
    EXPECT_TRUE(IsWindowEnabled(CurrentPage));
}

TEST(SharedFiles, EachAnswerDecidesItsFileAndDeleteAllHoldsForTheRest) {
    SharedInstallation inst(
        "[SharedFiles]\r\n{app}\\a.dll=1\r\n{app}\\b.dll=1\r\n{app}\\c.dll=1\r\n{app}\\d.dll=1\r\n"
        "{app}\\e.dll=1\r\n"
        "[CopyFiles]\r\n{app}\\a.dll=1\r\n{app}\\b.dll=1\r\n{app}\\c.dll=1\r\n{app}\\d.dll=1\r\n"
        "{app}\\e.dll=1\r\n");
    for (const char* file : {"{app}\\a.dll", "{app}\\b.dll", "{app}\\c.dll", "{app}\\d.dll"})
        inst.SetCounter(file, 1);
    inst.SetCounterBytes("{app}\\e.dll", REG_SZ, std::string("7") + '\0');  // unreadable: counts as 1
    test::ProgressRecorder progress;
    PromptAnswerer answerer({IDC_DS_DELETE, Esc, IDC_DS_KEEP, IDC_DS_DELETE_ALL});

    ReleaseAnswering(answerer);

    ASSERT_EQ(answerer.seen.size(), 4u);
    EXPECT_EQ(answerer.seen[1].file, "b.dll");
    EXPECT_EQ(answerer.seen[3].file, "d.dll");
    for (const char* file : {"{app}\\a.dll", "{app}\\d.dll", "{app}\\e.dll"})
        EXPECT_FALSE(inst.Counter(file).exists) << file;
    for (const char* file : {"{app}\\b.dll", "{app}\\c.dll"}) EXPECT_EQ(inst.Counter(file).Number(), 1u) << file;
    EXPECT_EQ(inst.Kept(), (std::vector<std::string>{inst.Expand("{app}\\b.dll=1"), inst.Expand("{app}\\c.dll=1")}));
}

TEST(SharedFiles, KeepAllHoldsForTheRestWhileHigherCountersStillGoDown) {
    SharedInstallation inst(
        "[SharedFiles]\r\n{app}\\a.dll=1\r\n{app}\\b.dll=1\r\n{app}\\c.dll=1\r\n"
        "[CopyFiles]\r\n{app}\\a.dll=1\r\n{app}\\b.dll=1\r\n{app}\\c.dll=1\r\n");
    inst.SetCounter("{app}\\a.dll", 1);
    inst.SetCounter("{app}\\b.dll", 0);
    inst.SetCounter("{app}\\c.dll", 4);
    test::ProgressRecorder progress;
    PromptAnswerer answerer({IDC_DS_KEEP_ALL});

    ReleaseAnswering(answerer);

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].file, "a.dll");
    EXPECT_EQ(inst.Counter("{app}\\a.dll").Number(), 1u);
    EXPECT_EQ(inst.Counter("{app}\\b.dll").Number(), 0u);
    EXPECT_EQ(inst.Counter("{app}\\c.dll").Number(), 3u);
    EXPECT_EQ(inst.Kept().size(), 3u);
}

TEST(SharedFiles, PromptThatCannotBeShownKeepsTheFile) {
    SharedInstallation inst("[SharedFiles]\r\n{app}\\a.dll=1\r\n[CopyFiles]\r\n{app}\\a.dll=1\r\n");
    inst.SetCounter("{app}\\a.dll", 1);
    test::ProgressRecorder progress;
    PromptAnswerer answerer({IDC_DS_DELETE});
    // An owner that is gone: the dialog cannot be created.
    MainWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(MainWindow);
    int answer = 0;

    ASSERT_TRUE(test::RunOnSecondThread(
        [&] {
            answer = AskDeleteSharedFile(inst.Expand("{app}\\a.dll"));
            ReleaseSharedFiles();
        },
        std::ref(answerer), 20000));

    EXPECT_EQ(answer, 7);
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_EQ(inst.Counter("{app}\\a.dll").Number(), 1u);
    EXPECT_EQ(inst.Kept().size(), 1u);
}

TEST(SharedFiles, EmptySectionLeavesTheListEmptyWithoutReadingCopiedFiles) {
    SharedInstallation inst("[SharedFiles]\r\n[CopyFiles]\r\n{app}\\a.dll=1\r\n");
    test::ProgressRecorder progress;
    SectionLines->Add("earlier=1");

    ReleaseSharedFiles();

    EXPECT_TRUE(KeptSharedFiles->Empty());
    ASSERT_EQ(SectionLines->Count(), 1);
    EXPECT_EQ(SectionLines->Strings(0), "earlier=1");
    EXPECT_TRUE(progress.Texts().empty());
}

}  // namespace
