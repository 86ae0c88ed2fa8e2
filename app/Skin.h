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
// A Strings entry used as a status format with one argument: the first "%s" takes the
// argument, "%%" gives "%", anything else stays as written (safe against any log text).
std::string FormatStringsEntry(int n, const std::string& argument);
// Caption, title (400), subtitle (401), then every "<control id>=text" line of the page's
// "Dialog.<pageName>" section.
void ApplyPageTexts(HWND page, const std::string& pageName);
// "face,size,colour,styles": size 8 and colour 0 when missing or not a number; styles are
// the letters B, I and U.
TFontSpec ParseFontSpec(const std::string& spec);
// Height in points at the screen's resolution; character set from the log's
// Display/Charset (DEFAULT_CHARSET when missing or invalid), read anew on every call.
LOGFONTA BuildLogFont(const std::string& face, int32_t size, bool bold, bool italic,
                      bool underline);
// The control owns the font (window property "Font") until ReleaseControlFonts or the
// next SetControlFont on it.
void SetControlFont(HWND control, const std::string& spec);
// Deletes the fonts that SetControlFont gave to any child of the page.
void ReleaseControlFonts(HWND page);
// Paints the whole client area of the context's window (for a memory context: its
// bitmap) white, then the named bitmap resource over it, stretched to fit or at its own
// size; no name or a missing resource leaves it white. The target is written once.
void PaintBanner(HDC dc, const char* bitmapName, bool stretch);
// Draws the window text of the context's window transparently in the font and
// colour that fontSpec names, top-left, "&" drawn as itself, wrapped at words or on one line.
void PaintLabel(HDC dc, const std::string& fontSpec, bool wrap);
