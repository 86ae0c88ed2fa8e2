#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Globals.h"
#include "Skin.h"
#include "TestSupport.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "resource.h"

namespace {

const char* const TestLog =
    "[Strings]\r\n"
    "AppID=QzSkinApp\r\n"
    "1=Quorvel Test\r\n"
    "10=Removing %s...\r\n"
    "11=a|||b\r\n"
    "13=100% done %d %n %s%s %\r\n"
    "14=%%s then %s\r\n"
    "[Dialog.DLG_TEST]\r\n"
    "Caption=First||Second\r\n"
    "Title=Plain title\r\n"
    "Subtitle=The subtitle\r\n"
    "400=Title from the id\r\n"
    "104=Line one||Line two\r\n"
    "105=Save & Quit\r\n"
    "999=no such control\r\n"
    "[Dialog.DLG_OTHER]\r\n"
    "102=Remove\r\n"
    "[Display]\r\n"
    "Charset=204\r\n";

// Every test reads its own log through the engine cache; the cache is emptied around each
// test so that no engine of another log is reused.
class SkinLog : public ::testing::Test {
protected:
    test::TempFolder folder{"skin"};
    std::string savedLogPath = LogPath;

    void SetUp() override { UseLog(TestLog); }
    void TearDown() override {
        ReleaseAllIniFiles();
        LogPath = savedLogPath;
    }
    void UseLog(const std::string& contents) {
        ReleaseAllIniFiles();
        LogPath = folder.Write("log" + std::to_string(++logs) + ".log", contents);
    }

private:
    int logs = 0;
};

std::string Text(HWND window) { return test::WindowText(window); }

// A plain window with static children, standing in for a page.
class TestPage {
public:
    explicit TestPage(std::vector<int> ids) {
        window_.Reset(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr));
        for (int id : ids)
            CreateWindowExA(0, "STATIC", "unchanged", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20,
                            window_.Get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleA(nullptr), nullptr);
    }
    HWND Get() const { return window_.Get(); }
    HWND Item(int id) const { return GetDlgItem(window_.Get(), id); }

private:
    qz::UniqueWindow window_;
};

// Takes all but `free` of the GDI objects the process may hold, so that code which leaves
// even one object behind per call soon cannot create any: a leak check that works where
// the count above is not kept.
class GdiHeadroom {
public:
    explicit GdiHeadroom(size_t free) {
        while (held_.size() < 1000000) {
            qz::UniqueGdiObject brush(CreateSolidBrush(RGB(1, 2, 3)));
            if (!brush) break;
            held_.push_back(std::move(brush));
        }
        held_.resize(held_.size() - std::min(free, held_.size()));
    }
    size_t Taken() const { return held_.size(); }

private:
    std::vector<qz::UniqueGdiObject> held_;
};

bool IsGdiObject(HGDIOBJ object) { return GetObjectType(object) != 0; }

// The format of 32-bit top-down pixels.
BITMAPINFO TopDownFormat(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32};
    return info;
}

// A 32-bit top-down memory surface whose pixels can be read directly.
class Surface {
public:
    Surface(int width, int height) : width_(width) {
        BITMAPINFO info = TopDownFormat(width, height);
        void* bits = nullptr;
        bitmap_.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<const uint32_t*>(bits);
        dc_.Reset(CreateCompatibleDC(nullptr));
        previous_ = SelectObject(dc_.Get(), bitmap_.Get());
        PatBlt(dc_.Get(), 0, 0, width, height, BLACKNESS);
    }
    ~Surface() { SelectObject(dc_.Get(), previous_); }
    HDC Dc() const { return dc_.Get(); }
    HGDIOBJ Bitmap() const { return bitmap_.Get(); }
    uint32_t Pixel(int x, int y) const {
        GdiFlush();
        return bits_[y * width_ + x] & 0xFFFFFF;
    }

private:
    qz::UniqueGdiObject bitmap_;
    qz::UniqueMemoryDc dc_;
    HGDIOBJ previous_ = nullptr;
    const uint32_t* bits_ = nullptr;
    int width_;
};

const uint32_t White = 0xFFFFFF;

// The pixels of a bitmap resource as loaded for the screen, in the layout of Surface.
std::vector<uint32_t> ResourcePixels(const char* name, SIZE& size) {
    qz::UniqueGdiObject bitmap(LoadBitmapA(GetModuleHandleA(nullptr), name));
    BITMAP info{};
    GetObjectA(bitmap.Get(), sizeof info, &info);
    size = SIZE{info.bmWidth, info.bmHeight};
    BITMAPINFO format = TopDownFormat(info.bmWidth, info.bmHeight);
    std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    qz::WindowDc screen(nullptr);
    GetDIBits(screen.Get(), static_cast<HBITMAP>(bitmap.Get()), 0, info.bmHeight, pixels.data(),
              &format, DIB_RGB_COLORS);
    for (auto& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
}

}  // namespace

TEST_F(SkinLog, LogTextsTurnDoubleBarsIntoCarriageReturns) {
    EXPECT_EQ(ReadLogText("Dialog.DLG_TEST", "Caption", ""), "First\rSecond");
    EXPECT_EQ(ReadLogText("dialog.dlg_test", "caption", ""), "First\rSecond");
    EXPECT_EQ(ReadLogText("Dialog.DLG_TEST", "Missing", "x||y"), "x\ry");
    EXPECT_EQ(ReadLogText("NoSection", "Caption", ""), "");
    EXPECT_EQ(StringsEntry(1), "Quorvel Test");
    EXPECT_EQ(StringsEntry(11), "a\r|b");
    EXPECT_EQ(StringsEntry(12), "");
    EXPECT_EQ(ReadLogText("Strings", "AppID", ""), "QzSkinApp");

    UseLog("[Strings]\r\n1=Second log\r\n");
    EXPECT_EQ(StringsEntry(1), "Second log");
    EXPECT_EQ(StringsEntry(10), "");
}

TEST_F(SkinLog, StatusFormatsNeverReadLogTextAsAFormat) {
    EXPECT_EQ(FormatStringsEntry(10, "C:\\App\\a.dll"), "Removing C:\\App\\a.dll...");
    // Only the first %s takes the argument; an argument with % signs stays as it is.
    EXPECT_EQ(FormatStringsEntry(13, "50%s%d"), "100% done %d %n 50%s%d%s %");
    EXPECT_EQ(FormatStringsEntry(14, "x"), "%s then x");
    EXPECT_EQ(FormatStringsEntry(12, "x"), "");
    EXPECT_EQ(FormatStringsEntry(11, "x"), "a\r|b");
}

TEST_F(SkinLog, PageTextsComeFromThePagesOwnSection) {
    TestPage page({0, 101, 102, 104, 105, IDC_TITLE, IDC_SUBTITLE});
    ApplyPageTexts(page.Get(), "DLG_TEST");
    EXPECT_EQ(Text(page.Get()), "First\rSecond");
    EXPECT_EQ(Text(page.Item(IDC_TITLE)), "Title from the id");
    EXPECT_EQ(Text(page.Item(IDC_SUBTITLE)), "The subtitle");
    EXPECT_EQ(Text(page.Item(104)), "Line one\rLine two");
    EXPECT_EQ(Text(page.Item(105)), "Save & Quit");
    // Named keys read as id 0 and must not reach a control that has that id.
    EXPECT_EQ(Text(page.Item(0)), "unchanged");
    EXPECT_EQ(Text(page.Item(102)), "unchanged");

    TestPage other({102, IDC_TITLE});
    ApplyPageTexts(other.Get(), "DLG_OTHER");
    EXPECT_EQ(Text(other.Item(102)), "Remove");
    EXPECT_EQ(Text(other.Item(IDC_TITLE)), "");
    EXPECT_EQ(Text(other.Get()), "");

    TestPage bare({104});
    ApplyPageTexts(bare.Get(), "DLG_NOT_IN_LOG");
    EXPECT_EQ(Text(bare.Item(104)), "unchanged");
}

TEST(SkinFonts, SpecificationFields) {
    struct Case {
        const char* spec;
        TFontSpec expected;
    } cases[] = {
        {"Arial", {"Arial", 8, 0, false, false, false}},
        {"Arial,abc,xyz", {"Arial", 8, 0, false, false, false}},
        {"Arial,12,255,BIU", {"Arial", 12, 255, true, true, true}},
        {"Arial, 14,$FF00,biuXB", {"Arial", 14, 0xFF00, true, false, false}},
        {"'Times, Roman',9,,I", {"Times, Roman", 9, 0, false, true, false}},
        {"", {"", 8, 0, false, false, false}},
        {",,,U", {"", 8, 0, false, false, true}},
    };
    auto fields = [](const TFontSpec& f) {
        return std::make_tuple(f.face, f.size, f.color, f.bold, f.italic, f.underline);
    };
    for (const Case& c : cases) EXPECT_EQ(fields(ParseFontSpec(c.spec)), fields(c.expected)) << c.spec;
}

TEST_F(SkinLog, LogFontsTakeTheLogsCharacterSetReadAnewEveryTime) {
    LOGFONTA font = BuildLogFont("Arial", 10, true, false, true);
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    EXPECT_EQ(font.lfItalic, 0);
    EXPECT_EQ(font.lfUnderline, 1);
    EXPECT_EQ(font.lfCharSet, 204);
    EXPECT_STREQ(font.lfFaceName, "Arial");
    // Anything but a character set number gives DEFAULT_CHARSET.
    const std::pair<const char*, int> charsets[] = {
        {"[Display]\r\nCharset=abc\r\n", DEFAULT_CHARSET}, {"[Display]\r\nCharset=300\r\n", DEFAULT_CHARSET},
        {"[Display]\r\nCharset=-1\r\n", DEFAULT_CHARSET}, {"[Display]\r\nCharset=0\r\n", ANSI_CHARSET},
        {"[Strings]\r\n", DEFAULT_CHARSET}};
    for (const auto& [log, charset] : charsets) {
        UseLog(log);
        EXPECT_EQ(BuildLogFont("Arial", 8, false, false, false).lfCharSet, charset) << log;
    }
    const std::string longFace(40, 'F');
    EXPECT_EQ(std::string(BuildLogFont(longFace, 8, false, false, false).lfFaceName), longFace.substr(0, 31));
}

TEST_F(SkinLog, ControlFontsAreOwnedByTheControlUntilThePageGoes) {
    TestPage page({104, 105});
    SetControlFont(page.Item(104), "Arial,12,255,B");
    HGDIOBJ first = GetPropA(page.Item(104), "Font");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageA(page.Item(104), WM_GETFONT, 0, 0)), first);
    LOGFONTA made{};
    ASSERT_NE(GetObjectA(first, sizeof made, &made), 0);
    EXPECT_EQ(made.lfWeight, FW_BOLD);

    SetControlFont(page.Item(104), "Arial,8");
    HGDIOBJ second = GetPropA(page.Item(104), "Font");
    EXPECT_FALSE(IsGdiObject(first));
    EXPECT_TRUE(IsGdiObject(second));
    SetControlFont(page.Item(105), "Courier New,9,0,I");
    HGDIOBJ third = GetPropA(page.Item(105), "Font");

    ReleaseControlFonts(page.Get());
    EXPECT_FALSE(IsGdiObject(second));
    EXPECT_FALSE(IsGdiObject(third));
    EXPECT_EQ(GetPropA(page.Item(104), "Font"), nullptr);
    EXPECT_EQ(SendMessageA(page.Item(104), WM_GETFONT, 0, 0), 0);

    // Replacing and releasing fonts over and over leaves nothing behind, and a control
    // that is gone cannot own a font, so none is kept for it.
    HWND gone = page.Item(105);
    DestroyWindow(gone);
    {
        GdiHeadroom room(20);
        for (int round = 0; round < 60; ++round) {
            SetControlFont(page.Item(104), "Arial,12,0,B");
            SetControlFont(page.Item(104), "Arial,8");
            SetControlFont(gone, "Arial,8");
            ReleaseControlFonts(page.Get());
        }
        SetControlFont(page.Item(104), "Arial,8");
        EXPECT_NE(GetPropA(page.Item(104), "Font"), nullptr);
        ReleaseControlFonts(page.Get());
    }
}

// The pixels of a width x height area for which differs(x, y) holds.
int CountPixels(int width, int height, const std::function<bool(int, int)>& differs) {
    int count = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) count += differs(x, y);
    return count;
}

TEST(SkinBanner, NoPictureOrAMissingOneLeavesTheSurfaceWhite) {
    for (const char* name : {static_cast<const char*>(nullptr), "NoSuchBitmap"}) {
        Surface surface(40, 30);
        PaintBanner(surface.Dc(), name, true);
        EXPECT_EQ(CountPixels(40, 30, [&](int x, int y) { return surface.Pixel(x, y) != White; }), 0);
        EXPECT_EQ(GetCurrentObject(surface.Dc(), OBJ_BITMAP), surface.Bitmap());
    }
}

// Painted over and over with the GDI nearly exhausted, so that a leaked object shows.
TEST(SkinBanner, PictureStretchedToTheSurfaceOrAtItsOwnSizeKeepingNoObject) {
    SIZE size{};
    const std::vector<uint32_t> source = ResourcePixels("TopBanner", size);
    ASSERT_EQ(size.cx, 502);
    Surface doubled(2 * 502, 2 * 64), wide(600, 80);
    {
        GdiHeadroom room(40);
        ASSERT_GT(room.Taken(), 1000u);
        for (int round = 0; round < 120; ++round) PaintBanner(doubled.Dc(), "TopBanner", round % 2 == 0);
        PaintBanner(doubled.Dc(), "TopBanner", true);
        PaintBanner(wide.Dc(), "topbanner", false);
    }
    EXPECT_EQ(CountPixels(502, 64, [&](int x, int y) {
                  return doubled.Pixel(2 * x + 1, 2 * y + 1) != source[y * 502 + x];
              }), 0);
    EXPECT_EQ(CountPixels(600, 80, [&](int x, int y) {
                  return wide.Pixel(x, y) != (x < 502 && y < 64 ? source[y * 502 + x] : White);
              }), 0);
}

TEST(SkinBanner, WindowContextIsPaintedOverItsWholeClientArea) {
    qz::UniqueWindow window(CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE,
                                            10, 10, 300, 120, nullptr, nullptr,
                                            GetModuleHandleA(nullptr), nullptr));
    UpdateWindow(window.Get());
    SIZE size{};
    const std::vector<uint32_t> source = ResourcePixels("LeftBanner", size);
    qz::WindowDc dc(window.Get());
    auto pixel = [&](int x, int y) {
        COLORREF c = GetPixel(dc.Get(), x, y);
        return static_cast<uint32_t>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
    };
    PaintBanner(dc.Get(), "LeftBanner", false);
    EXPECT_EQ(pixel(188, 119), source[119 * 189 + 188]);
    EXPECT_EQ(pixel(189, 0), White);
    EXPECT_EQ(pixel(299, 119), White);
}

namespace {

// A visible window showing a text, painted green, then labelled with PaintLabel.
struct LabelShot {
    qz::UniqueWindow window;
    int lineHeight = 0, textWidth = 0, rightmost = -1, lowest = -1;

    LabelShot(const std::string& text, const std::string& spec, bool wrap, int width) {
        window.Reset(CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", text.c_str(), WS_POPUP | WS_VISIBLE,
                                     10, 10, width, 100, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr));
        UpdateWindow(window.Get());
        qz::WindowDc dc(window.Get());
        qz::UniqueGdiObject green(CreateSolidBrush(RGB(0, 255, 0)));
        RECT all{0, 0, width, 100};
        FillRect(dc.Get(), &all, static_cast<HBRUSH>(green.Get()));
        HGDIOBJ fontBefore = GetCurrentObject(dc.Get(), OBJ_FONT);
        PaintLabel(dc.Get(), spec, wrap);
        EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_FONT), fontBefore);
        Measure(dc.Get(), text, spec, width);
    }

    void Measure(HDC dc, const std::string& text, const std::string& spec, int width) {
        TFontSpec parsed = ParseFontSpec(spec);
        LOGFONTA log = BuildLogFont(parsed.face, parsed.size, parsed.bold, parsed.italic, parsed.underline);
        qz::UniqueGdiObject font(CreateFontIndirectA(&log));
        qz::SelectGuard selected(dc, font.Get());
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        lineHeight = metrics.tmHeight;
        SIZE extent{};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        textWidth = extent.cx;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < width; ++x)
                if (GetPixel(dc, x, y) != RGB(0, 255, 0)) {
                    rightmost = std::max(rightmost, x);
                    lowest = std::max(lowest, y);
                }
    }
};

}  // namespace

TEST_F(SkinLog, LabelsDrawAmpersandsAsTheyStandOnTheBannerBelow) {
    // With prefix processing, eight ampersands would be drawn as four.
    LabelShot shot("&&&&&&&&", "Arial,14,255", false, 400);
    ASSERT_GT(shot.rightmost, 0) << "nothing drawn";
    EXPECT_GT(shot.rightmost, shot.textWidth * 3 / 4);
    EXPECT_LT(shot.lowest, shot.lineHeight);
    qz::WindowDc dc(shot.window.Get());
    EXPECT_EQ(GetPixel(dc.Get(), 399, 99), RGB(0, 255, 0));
}

TEST_F(SkinLog, LabelsWrapAtWordsOnlyWhenAsked) {
    const std::string text = "several words that cannot fit on one line of this label";
    LabelShot single(text, "Arial,10", false, 120);
    LabelShot wrapped(text, "Arial,10", true, 120);
    ASSERT_GT(single.rightmost, 0);
    EXPECT_LT(single.lowest, single.lineHeight);
    EXPECT_GT(wrapped.lowest, wrapped.lineHeight * 2);
}

TEST_F(SkinLog, RepeatedLabelsKeepNoObject) {
    LabelShot shot("Wg", "Arial,8", false, 200);
    qz::WindowDc dc(shot.window.Get());
    qz::UniqueGdiObject green(CreateSolidBrush(RGB(0, 255, 0)));
    RECT all{0, 0, 200, 100};
    {
        GdiHeadroom room(20);
        for (int round = 0; round < 60; ++round) PaintLabel(dc.Get(), "Arial,30,255,BIU", round % 2 == 0);
        FillRect(dc.Get(), &all, static_cast<HBRUSH>(green.Get()));
        // Drawn in the context's own small font if the 30-point font could not be made.
        PaintLabel(dc.Get(), "Arial,30,255", false);
    }
    int lowest = -1;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if (GetPixel(dc.Get(), x, y) != RGB(0, 255, 0)) lowest = std::max(lowest, y);
    EXPECT_GT(lowest, 25);
}

TEST(SkinResources, BannersAreEightBitPicturesAndIconsHaveAnImageForEverySize) {
    auto header = [](const char* name, int type) {
        HRSRC found = FindResourceA(nullptr, name, MAKEINTRESOURCEA(type));
        return found ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, found))) : nullptr;
    };
    for (const auto& [name, width, height] : {std::make_tuple("TopBanner", 502, 64), std::make_tuple("LeftBanner", 189, 316)}) {
        const BITMAPINFOHEADER* bitmap = header(name, 2);  // RT_BITMAP
        ASSERT_NE(bitmap, nullptr) << name;
        EXPECT_EQ(std::make_tuple(bitmap->biWidth, std::abs(bitmap->biHeight), bitmap->biBitCount, bitmap->biCompression),
                  std::make_tuple(LONG(width), LONG(height), WORD(8), DWORD(BI_RGB))) << name;
    }
    for (const auto& [name, sizes] : {std::make_pair("MAINICON", std::vector<int>{16, 32, 48}),
                                      std::make_pair("STATEPROGRESS", std::vector<int>{16, 32}),
                                      std::make_pair("STATEFINISHED", std::vector<int>{16, 32})}) {
        auto directory = reinterpret_cast<PBYTE>(const_cast<BITMAPINFOHEADER*>(header(name, 14)));  // RT_GROUP_ICON
        ASSERT_NE(directory, nullptr) << name;
        for (int size : sizes) {
            int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
            const BITMAPINFOHEADER* image = header(MAKEINTRESOURCEA(id), 3);  // RT_ICON
            ASSERT_NE(image, nullptr) << name << " " << size;
            EXPECT_EQ(image->biWidth, size) << name;
        }
    }
}
