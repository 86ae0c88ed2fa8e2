// Page skinning: every text of a page comes from the log; banners, the bold title and the
// subtitle are drawn here; one control may carry a font of its own ("Font" property).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

extern const char* const TitleFontSpec;     // "MS Sans Serif,10,0,B"
extern const char* const SubtitleFontSpec;  // "MS Sans Serif,8"

struct TFontSpec {
    std::string face;
    int32_t size = 8;
    COLORREF color = 0;
    bool bold = false, italic = false, underline = false;
};

// ReadIniString on LogPath, then each "||" becomes a carriage return.
std::string ReadLogText(const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// Strings entry n ("" when missing).
std::string StringsEntry(int n);
// A Strings entry used as a status format with one argument (safe against any log text).
std::string FormatStringsEntry(int n, const std::string& argument);
void ApplyPageTexts(HWND page, const std::string& pageName);
TFontSpec ParseFontSpec(const std::string& spec);
LOGFONTA BuildLogFont(const std::string& face, int32_t size, bool bold, bool italic,
                      bool underline);
void SetControlFont(HWND control, const std::string& spec);
void ReleaseControlFonts(HWND page);
void PaintBanner(HDC dc, const char* bitmapName, bool stretch);
void PaintLabel(HDC dc, const std::string& spec, bool wrap);
