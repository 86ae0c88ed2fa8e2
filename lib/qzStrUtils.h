// Text helpers for log entries: fields, quotes, name=value parts, numbers. All texts are
// 8-bit ANSI; positions count from 1 in the comments. No function fails: invalid input
// gives the documented fallback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The n-th field of text, fields separated by any character of delimiters; a delimiter
// inside single or double quotes does not separate. The field loses one pair of
// enclosing single quotes (StripQuotes with '\''); double quotes stay.
std::string GetField(int32_t n, const std::string& text, const std::string& delimiters);
// Text without one level of enclosing quote characters, doubled quotes reduced to one.
std::string StripQuotes(const std::string& text, char quote);
std::string TextBefore(const std::string& text, char c);  // whole text when c is absent
std::string TextAfter(const std::string& text, char c);   // "" when c is absent
std::string NamePart(const std::string& text);             // TextBefore(text, '=')
std::string ValuePart(const std::string& text);            // TextAfter(text, '=')

std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement);
std::string RemoveChar(const std::string& text, char c);
std::string RemoveSpaces(const std::string& text);
std::string PadLeft(char fill, const std::string& text, int width);
std::string ToOem(const std::string& text);
// The text in UTF-16 from the ANSI code page, ended by a NUL (only the NUL when it cannot
// be converted), for the few COM calls that take wide paths.
std::vector<wchar_t> WideText(const std::string& text);
// Leading and trailing characters with codes 0 to 32 removed.
std::string Trim(const std::string& text);
// Locale upper-casing (CharUpperBuffA).
std::string UpperCase(const std::string& text);
// ASCII lower-casing.
std::string LowerCaseAscii(const std::string& text);

// Reads a signed 32-bit integer: leading blanks, then an optional sign and decimal digits,
// or "$" and up to eight hexadecimal digits; nothing may follow; no overflow.
bool TryStrToInt(const std::string& text, int32_t& value);
std::string ToHex(int32_t value, int minDigits);
int32_t HexToInt(const std::string& text);
std::string IntToBase(int32_t value, uint8_t minDigits, uint8_t base);
int32_t StrToDWordDef(const std::string& text, int32_t defaultValue);
std::string UnsignedToStr(uint32_t value);
std::string IntToStr(int32_t value);
int32_t StrToIntOrZero(const std::string& text);

// Formats a text that comes from outside (a log value) with one string argument, without
// ever reading it as a printf format: "%%" gives "%", the first "%s" is replaced by the
// argument, and every other "%" sequence stays as it stands.
std::string FormatOneString(const std::string& format, const std::string& argument);

// Argument n of a command line (0 is the program): arguments are separated by blanks and
// control characters; double quotes group blanks into an argument and are removed.
std::string ParamStr(const char* commandLine, int n);
