#include "Skin.h"

#include <vector>

#include "Globals.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "resource.h"

const char* const TitleFontSpec = "MS Sans Serif,10,0,B";
const char* const SubtitleFontSpec = "MS Sans Serif,8";

namespace {

const char* const FontProperty = "Font";

std::string WithLineBreaks(const std::string& text) { return ReplaceAll(text, "||", "\r"); }

qz::UniqueGdiObject CreateSpecFont(const TFontSpec& spec) {
    LOGFONTA font = BuildLogFont(spec.face, spec.size, spec.bold, spec.italic, spec.underline);
    return qz::UniqueGdiObject(CreateFontIndirectA(&font));
}

// Takes the control's own font off the control and deletes it. The control is told to
// drop the font first, so that it never holds a deleted handle.
void DeleteControlFont(HWND control) {
    if (!GetPropA(control, FontProperty)) return;
    SendMessageA(control, WM_SETFONT, 0, FALSE);
    qz::UniqueGdiObject font(static_cast<HGDIOBJ>(RemovePropA(control, FontProperty)));
}

BOOL CALLBACK DeleteChildFont(HWND child, LPARAM) {
    DeleteControlFont(child);
    return TRUE;
}

// The extent of the surface a device context draws on: the client area of its window, or,
// for a memory context, the bitmap selected into it.
SIZE SurfaceSize(HDC dc) {
    if (HWND window = WindowFromDC(dc)) {
        RECT client{};
        GetClientRect(window, &client);
        return SIZE{client.right, client.bottom};
    }
    BITMAP surface{};
    if (GetObjectA(GetCurrentObject(dc, OBJ_BITMAP), sizeof surface, &surface) == 0)
        return SIZE{0, 0};
    return SIZE{surface.bmWidth, surface.bmHeight};
}

// Copies the program's bitmap resource onto the target, scaled to size when stretching.
// A bitmap that cannot be loaded draws nothing.
void DrawBitmapResource(HDC target, const char* name, SIZE size, bool stretch) {
    qz::UniqueGdiObject bitmap(LoadBitmapA(GetModuleHandleA(nullptr), name));
    qz::UniqueMemoryDc source(CreateCompatibleDC(target));
    BITMAP info{};
    if (!bitmap || !source || GetObjectA(bitmap.Get(), sizeof info, &info) == 0) return;
    qz::SelectGuard selected(source.Get(), bitmap.Get());
    if (stretch) {
        // The default mode ANDs the rows it drops, which darkens a colour picture.
        SetStretchBltMode(target, COLORONCOLOR);
        StretchBlt(target, 0, 0, size.cx, size.cy, source.Get(), 0, 0, info.bmWidth,
                   info.bmHeight, SRCCOPY);
    } else {
        BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source.Get(), 0, 0, SRCCOPY);
    }
}

std::string WindowText(HWND window) {
    std::vector<char> buffer(GetWindowTextLengthA(window) + 1);
    int length = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length > 0 ? length : 0);
}

}  // namespace

std::string ReadLogText(const std::string& section, const std::string& key,
                        const std::string& defaultValue) {
    return WithLineBreaks(ReadIniString(LogPath, section, key, defaultValue));
}

// The program carries no string table, so the resource default of a missing entry is
// always the empty text.
std::string StringsEntry(int n) { return ReadLogText("Strings", IntToStr(n), ""); }

std::string FormatStringsEntry(int n, const std::string& argument) {
    return FormatOneString(StringsEntry(n), argument);
}

void ApplyPageTexts(HWND page, const std::string& pageName) {
    const std::string section = "Dialog." + pageName;
    SetWindowTextA(page, ReadLogText(section, "Caption", "").c_str());
    SetDlgItemTextA(page, IDC_TITLE, ReadLogText(section, "Title", "").c_str());
    SetDlgItemTextA(page, IDC_SUBTITLE, ReadLogText(section, "Subtitle", "").c_str());

    TStringList lines;
    ReadIniSection(LogPath, section, lines);
    for (const auto& line : lines.Entries()) {
        // Named keys (Caption, Title, ...) read as 0; a control may really have id 0, so
        // they must not reach it.
        int32_t id = StrToIntOrZero(NamePart(line.text));
        HWND control = id != 0 ? GetDlgItem(page, id) : nullptr;
        if (!control) continue;
        const std::string value = WithLineBreaks(ValuePart(line.text));
        SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    }
}

TFontSpec ParseFontSpec(const std::string& spec) {
    TFontSpec font;
    font.face = GetField(1, spec, ",");
    int32_t number = 0;
    if (TryStrToInt(GetField(2, spec, ","), number)) font.size = number;
    if (TryStrToInt(GetField(3, spec, ","), number)) font.color = static_cast<COLORREF>(number);
    for (char style : GetField(4, spec, ",")) {
        font.bold |= style == 'B';
        font.italic |= style == 'I';
        font.underline |= style == 'U';
    }
    return font;
}

LOGFONTA BuildLogFont(const std::string& face, int32_t size, bool bold, bool italic,
                      bool underline) {
    int dpi = 96;
    {
        qz::WindowDc screen(HiddenMainWindow);
        if (screen.Get()) dpi = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    }
    // A character set outside the byte range cannot be meant; it falls back like a
    // missing one instead of being cut to some other set.
    int32_t charset = DEFAULT_CHARSET;
    if (!TryStrToInt(ReadLogText("Display", "Charset", ""), charset) || charset < 0 ||
        charset > 255)
        charset = DEFAULT_CHARSET;

    LOGFONTA font{};
    font.lfHeight = -MulDiv(size, dpi, 72);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = italic ? 1 : 0;
    font.lfUnderline = underline ? 1 : 0;
    font.lfCharSet = static_cast<BYTE>(charset);
    face.copy(font.lfFaceName, LF_FACESIZE - 1);
    return font;
}

void SetControlFont(HWND control, const std::string& spec) {
    qz::UniqueGdiObject font = CreateSpecFont(ParseFontSpec(spec));
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    qz::UniqueGdiObject previous(static_cast<HGDIOBJ>(RemovePropA(control, FontProperty)));
    // Kept only when the control can hold it; otherwise it goes at the end of this call.
    if (font && SetPropA(control, FontProperty, font.Get())) font.Release();
}

void ReleaseControlFonts(HWND page) { EnumChildWindows(page, DeleteChildFont, 0); }

void PaintBanner(HDC dc, const char* bitmapName, bool stretch) {
    const SIZE size = SurfaceSize(dc);
    if (size.cx <= 0 || size.cy <= 0) return;
    qz::UniqueMemoryDc memory(CreateCompatibleDC(dc));
    qz::UniqueGdiObject canvas(CreateCompatibleBitmap(dc, size.cx, size.cy));
    if (!memory || !canvas) return;
    qz::SelectGuard selected(memory.Get(), canvas.Get());
    RECT area{0, 0, size.cx, size.cy};
    FillRect(memory.Get(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (bitmapName) DrawBitmapResource(memory.Get(), bitmapName, size, stretch);
    BitBlt(dc, 0, 0, size.cx, size.cy, memory.Get(), 0, 0, SRCCOPY);
}

void PaintLabel(HDC dc, const std::string& spec, bool wrap) {
    HWND window = WindowFromDC(dc);
    RECT area{};
    GetClientRect(window, &area);
    const TFontSpec parsed = ParseFontSpec(spec);
    qz::UniqueGdiObject font = CreateSpecFont(parsed);
    qz::SelectGuard selected(dc, font.Get());
    SetTextColor(dc, parsed.color);
    SetBkMode(dc, TRANSPARENT);
    const std::string text = WindowText(window);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &area,
              wrap ? DT_NOPREFIX | DT_WORDBREAK : DT_NOPREFIX);
}
