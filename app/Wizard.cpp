#include "Wizard.h"

#include <commctrl.h>

#include "Globals.h"
#include "ProgressPage.h"
#include "Skin.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzShell.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

enum class PageKind : LONG_PTR {
    Other,
    Start,
    BeforeUninstall,
    BrowseForSetup,
    Uninstall,
    Reboot,
};

struct KnownPage {
    const char* name;
    PageKind kind;
};

const KnownPage KnownPages[] = {
    {"DLG_START", PageKind::Start},
    {"DLG_BEFOREUNINSTALL", PageKind::BeforeUninstall},
    {"DLG_BROWSEFORSETUP", PageKind::BrowseForSetup},
    {"DLG_UNINSTALL", PageKind::Uninstall},
    {"DLG_REBOOT", PageKind::Reboot},
};

const char BrowseSection[] = "Dialog.DLG_BROWSEFORSETUP";

PageKind KindOfName(const std::string& name) {
    for (const KnownPage& page : KnownPages)
        if (name == page.name) return page.kind;
    return PageKind::Other;
}

// Every page remembers its kind: the previous page stays on screen, and keeps being drawn,
// while the next one is created and CurrentPageName already names that one.
void RememberKind(HWND page) {
    SetWindowLongPtrA(page, DWLP_USER, static_cast<LONG_PTR>(KindOfName(CurrentPageName)));
}

PageKind KindOf(HWND page) { return static_cast<PageKind>(GetWindowLongPtrA(page, DWLP_USER)); }

bool Checked(HWND page, int id) {
    return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Check(HWND page, int id) { SendDlgItemMessageA(page, id, BM_SETCHECK, BST_CHECKED, 0); }

void Enable(HWND page, int id, bool enabled) { EnableWindow(GetDlgItem(page, id), enabled); }

std::string ControlText(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

void ShowFolderField(HWND page, const std::string& folder) {
    HWND edit = GetDlgItem(page, IDC_BS_FOLDER);
    SetWindowTextA(edit, folder.c_str());
    SendMessageA(edit, EM_SETSEL, 0, GetWindowTextLengthA(edit));
    SetFocus(edit);
}

bool RepairOffered() {
    return FileExists(RepairDataFile()) && !RegReadBool(UninstallKey, "NoRepair", false);
}

void InitStartPage(HWND page) {
    SetControlFont(GetDlgItem(page, IDC_START_HEADING), TitleFontSpec);
    if (ActionChoice == 0) Check(page, IDC_START_UNINSTALL);
    if (ActionChoice == 1) Check(page, IDC_START_REPAIR);
    Enable(page, IDC_BACK, false);
    if (!RepairOffered()) {
        Enable(page, IDC_START_REPAIR, false);
        Enable(page, IDC_START_REPAIR_TEXT, false);
    }
}

void InitBeforeUninstallPage(HWND page) {
    if (RemoveDataFiles) Check(page, IDC_BU_DATAFILES);
    if (CountIniSectionLines(LogPath, "DataFiles") == 0 &&
        CountIniSectionLines(LogPath, "DataFolders") == 0)
        ShowWindow(GetDlgItem(page, IDC_BU_DATAFILES), SW_HIDE);
}

void InitRebootPage(HWND page) {
    Enable(page, IDC_BACK, false);
    int chosen = RestartNeeded ? IDC_RB_NOW : IDC_RB_LATER;
    Check(page, chosen);
    SetFocus(GetDlgItem(page, chosen));
}

void InitPage(HWND page) {
    PageResult = 0;
    RememberKind(page);
    ApplyPageTexts(page, CurrentPageName);
    SetClassLongPtrA(page, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconA(GetModuleHandleA(nullptr), "MAINICON")));
    CenterWindow(page);
    SetFocus(GetDlgItem(page, IDC_NEXT));

    switch (KindOf(page)) {
        case PageKind::Start: InitStartPage(page); break;
        case PageKind::BeforeUninstall: InitBeforeUninstallPage(page); break;
        case PageKind::BrowseForSetup: ShowFolderField(page, ExtractFilePath(SetupPath)); break;
        case PageKind::Uninstall: InitProgressPage(page); break;
        case PageKind::Reboot: InitRebootPage(page); break;
        case PageKind::Other: break;
    }
}

void DrawFrameItem(const DRAWITEMSTRUCT& item) {
    if (!(item.itemAction & ODA_DRAWENTIRE)) return;
    switch (item.CtlID) {
        case IDC_BANNER: PaintBanner(item.hDC, "TopBanner", true); break;
        case IDC_TITLE: PaintLabel(item.hDC, TitleFontSpec, false); break;
        case IDC_SUBTITLE: PaintLabel(item.hDC, SubtitleFontSpec, true); break;
        default: break;
    }
}

// Draws the start page's other controls again over its white panel. Only they are
// invalidated: invalidating the whole page would invalidate the panel as well, whose next
// paint would invalidate it again, without end.
void RedrawOverPanel(HWND page) {
    HWND banner = GetDlgItem(page, IDC_BANNER), panel = GetDlgItem(page, IDC_PANEL);
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (child != banner && child != panel)
            RedrawWindow(child, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void DrawStartItem(HWND page, const DRAWITEMSTRUCT& item) {
    if (!(item.itemAction & ODA_DRAWENTIRE)) return;
    if (item.CtlID == IDC_BANNER) {
        PaintBanner(item.hDC, "LeftBanner", true);
    } else if (item.CtlID == IDC_PANEL) {
        PaintBanner(item.hDC, nullptr, true);  // white only
        RedrawOverPanel(page);
    }
}

bool IsNext(WORD id) { return id == IDOK || id == IDC_NEXT; }
bool IsCancel(WORD id) { return id == IDCANCEL || id == IDC_CANCEL; }

// Next on the browse page: true when the setup program is in the folder typed.
bool AcceptSetupFolder(HWND page) {
    std::string candidate = IncludeTrailingBackslash(ControlText(page, IDC_BS_FOLDER)) +
                            ExtractFileName(SetupPath);
    if (!FileExists(candidate)) {
        WarningBox(StringsEntry(2));
        return false;
    }
    SetupPath = candidate;
    return true;
}

void BrowseSetupFolder(HWND page) {
    std::string folder = ControlText(page, IDC_BS_FOLDER);
    if (BrowseForFolder(page, ReadLogText(BrowseSection, "200", ""),
                        ReadLogText(BrowseSection, "201", ""), folder))
        ShowFolderField(page, folder);
}

// The page's own handling of a command; false when the command must not end the page.
bool HandlePageCommand(HWND page, WORD id, WORD code) {
    switch (KindOf(page)) {
        case PageKind::Start:
            if (IsNext(id))
                ActionChoice = Checked(page, IDC_START_UNINSTALL) ? 0
                               : Checked(page, IDC_START_REPAIR)  ? 1
                                                                  : 2;
            return true;
        case PageKind::BeforeUninstall:
            if (IsNext(id) || id == IDC_BACK)
                RemoveDataFiles = Checked(page, IDC_BU_DATAFILES);
            else if (id == IDC_BU_DATAFILES && code == BN_CLICKED &&
                     ReadIniBool(LogPath, "Display", "ForceRemoveDataFiles", false))
                Check(page, IDC_BU_DATAFILES);
            return true;
        case PageKind::BrowseForSetup:
            // Enter (IDOK) is checked like Next, so that no way out of the page skips the check.
            if (IsNext(id)) return AcceptSetupFolder(page);
            if (id == IDC_BS_BROWSE) BrowseSetupFolder(page);
            return true;
        case PageKind::Uninstall:
            return false;  // only the worker ends the progress page
        case PageKind::Reboot:
            if (IsNext(id) || id == IDC_BACK)
                RestartNeeded = RestartChosen = Checked(page, IDC_RB_NOW);
            else if (IsCancel(id))
                RestartNeeded = RestartChosen = false;
            return true;
        case PageKind::Other:
            return true;
    }
    return true;
}

void EndPageByCommand(WORD id) {
    if (IsNext(id))
        PageResult = PageNext;
    else if (IsCancel(id))
        PageResult = PageCancel;
    else if (id == IDC_BACK)
        PageResult = PageBack;
}

// A command from a page whose loop has ended (a second click on Next that arrives while the
// next page is being shown) is dropped: it would end the new page at once.
void HandleCommand(HWND page, WORD id, WORD code) {
    if (page != CurrentPage) return;
    if (HandlePageCommand(page, id, code)) EndPageByCommand(id);
}

// True when the worker whose progress page is running has ended without giving a result.
bool WorkerEndedSilently() {
    return WorkerThread && WaitForSingleObject(WorkerThread, 0) == WAIT_OBJECT_0 &&
           PageResult == 0;
}

// Serves every message of the thread until the page has a result. While the queue is empty
// the loop sleeps until the next message or the end of the worker (on the progress page),
// whichever comes first, so that neither waits; the time-out only bounds a wait that
// neither ends.
int32_t ServePage() {
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(CurrentPage, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (PageResult != 0) return PageResult;
        if (CallbackFailed()) return PageCancel;
        HANDLE worker = WorkerThread;
        DWORD woken = MsgWaitForMultipleObjects(worker ? 1 : 0, &worker, FALSE, 50, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + (worker ? 1 : 0) && WorkerEndedSilently()) return PageCancel;
    }
}

}  // namespace

int32_t RunPage(const std::string& name) {
    CurrentPageName = name;
    CurrentPage = CreateDialogParamA(GetModuleHandleA(nullptr), name.c_str(), MainWindow,
                                     WizardPageProc, 0);
    if (!CurrentPage) return PageCancel;

    // Boxes and the shared-file prompt are owned by the page. MainWindow changes before the
    // page is shown, that is before the progress page resumes the worker, which reads it.
    HWND savedMainWindow = MainWindow;
    MainWindow = CurrentPage;
    auto restore = qz::OnScopeExit([savedMainWindow] { MainWindow = savedMainWindow; });

    ShowWindow(CurrentPage, SW_SHOW);
    ProcessMessages();
    BringWindowToTop(CurrentPage);
    ProcessMessages();
    DestroyPreviousPage();
    PreviousPage = CurrentPage;
    int32_t result = ServePage();
    RethrowCallbackError();  // an error of the page's procedure ends the page and goes on from here
    return result;
}

int32_t RunPageSequence() {
    std::string page = "DLG_START";
    for (;;) {
        int32_t result = RunPage(page);
        if (result == PageCancel) return PageCancel;
        if (page == "DLG_START") {
            if (ActionChoice == 0) page = "DLG_BEFOREUNINSTALL";
            if (ActionChoice == 1) page = "DLG_BEFOREREPAIR";
        } else if (page == "DLG_BEFOREUNINSTALL") {
            if (result == PageNext) return PageNext;
            page = "DLG_START";
        } else if (page == "DLG_BEFOREREPAIR") {
            if (result != PageNext) {
                page = "DLG_START";
                continue;
            }
            SetupPath = RegReadString(UninstallKey, "InstallSourceFile", "");
            if (FileExists(SetupPath)) return PageNext;
            page = "DLG_BROWSEFORSETUP";
        } else if (page == "DLG_BROWSEFORSETUP") {
            if (result == PageNext) return PageNext;
            page = "DLG_BEFOREREPAIR";
        }
    }
}

namespace {

INT_PTR HandlePageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            ReleaseControlFonts(page);
            break;
        case WM_INITDIALOG:
            InitPage(page);
            break;
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (KindOf(page) == PageKind::Start)
                DrawStartItem(page, item);
            else
                DrawFrameItem(item);
            break;
        }
        case WM_CTLCOLORSTATIC:
            if (KindOf(page) == PageKind::Start)
                return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
            break;
        case WM_SHOWWINDOW:
            if (wParam && KindOf(page) == PageKind::Uninstall && WorkerThread)
                ResumeThread(WorkerThread);
            break;
        case WM_COMMAND:
            HandleCommand(page, LOWORD(wParam), HIWORD(wParam));
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardCallback([=] { return HandlePageMessage(page, message, wParam, lParam); }, INT_PTR{0});
}
