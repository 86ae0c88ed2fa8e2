#include "qzStrUtils.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace {

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Quote state of GetField: a quote opens a stretch when none is open and closes the one it
// opened; the other quote character inside a stretch is ordinary text.
void TrackQuote(char c, char& open) {
    if (!IsQuote(c)) return;
    if (open == 0)
        open = c;
    else if (c == open)
        open = 0;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex(const std::string& text, size_t i, int32_t& value) {
    while (i < text.size() && text[i] == '0' && i + 1 < text.size()) ++i;
    size_t digits = 0;
    uint32_t result = 0;
    for (; i < text.size(); ++i, ++digits) {
        int d = HexDigitValue(text[i]);
        if (d < 0 || digits == 8) return false;
        result = result << 4 | static_cast<uint32_t>(d);
    }
    if (digits == 0) return false;
    value = static_cast<int32_t>(result);
    return true;
}

bool ReadDecimal(const std::string& text, size_t i, int32_t& value) {
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + (text[i] - '0');
        if (result > 2147483648LL) return false;
    }
    if (negative) result = -result;
    if (result > INT32_MAX) return false;
    value = static_cast<int32_t>(result);
    return true;
}

}  // namespace

std::string GetField(int32_t n, const std::string& text, const std::string& delimiters) {
    auto isDelimiter = [&](char c) { return delimiters.find(c) != std::string::npos; };
    size_t pos = 0;
    int32_t field = 1;
    char open = 0;
    for (; pos < text.size() && field < n; ++pos) {
        TrackQuote(text[pos], open);
        if (open == 0 && isDelimiter(text[pos])) ++field;
    }
    std::string result;
    open = 0;
    for (; pos < text.size(); ++pos) {
        TrackQuote(text[pos], open);
        if (open == 0 && isDelimiter(text[pos])) break;
        result += text[pos];
    }
    return StripQuotes(result, '\'');
}

std::string StripQuotes(const std::string& text, char quote) {
    if (text.empty() || text[0] != quote) return text;
    std::string result;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] != quote) {
            result += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == quote) {
            result += quote;
            ++i;
        } else {
            return result;
        }
    }
    // No closing quote: the last character stands for it.
    if (!result.empty()) result.pop_back();
    return result;
}

std::string TextBefore(const std::string& text, char c) { return text.substr(0, text.find(c)); }

std::string TextAfter(const std::string& text, char c) {
    size_t pos = text.find(c);
    return pos == std::string::npos ? std::string() : text.substr(pos + 1);
}

std::string NamePart(const std::string& text) { return TextBefore(text, '='); }
std::string ValuePart(const std::string& text) { return TextAfter(text, '='); }

std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement) {
    if (pattern.empty()) return text;
    std::string result;
    size_t from = 0;
    for (size_t match; (match = text.find(pattern, from)) != std::string::npos;
         from = match + pattern.size()) {
        result.append(text, from, match - from);
        result += replacement;
    }
    result.append(text, from, std::string::npos);
    return result;
}

std::string RemoveChar(const std::string& text, char c) {
    std::string result;
    result.reserve(text.size());
    for (char x : text)
        if (x != c) result += x;
    return result;
}

std::string RemoveSpaces(const std::string& text) { return RemoveChar(text, ' '); }

std::string PadLeft(char fill, const std::string& text, int width) {
    int length = static_cast<int>(text.size());
    return length < width ? std::string(width - length, fill) + text : text;
}

std::string ToOem(const std::string& text) {
    if (text.empty()) return text;
    std::vector<char> buffer(text.size() + 1);
    CharToOemBuffA(text.data(), buffer.data(), static_cast<DWORD>(text.size()));
    return std::string(buffer.data(), text.size());
}

std::vector<wchar_t> WideText(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return wide;
}

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    return text.substr(first, last - first);
}

std::string UpperCase(const std::string& text) {
    std::string result = text;
    if (!result.empty()) CharUpperBuffA(&result[0], static_cast<DWORD>(result.size()));
    return result;
}

std::string LowerCaseAscii(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) return false;
    return text[i] == '$' ? ReadHex(text, i + 1, value) : ReadDecimal(text, i, value);
}

std::string ToHex(int32_t value, int minDigits) {
    static const char digits[] = "0123456789ABCDEF";
    uint32_t pattern = static_cast<uint32_t>(value);
    std::string result;
    do {
        result.insert(result.begin(), digits[pattern & 15]);
        pattern >>= 4;
    } while (pattern != 0);
    return PadLeft('0', result, minDigits);
}

int32_t HexToInt(const std::string& text) {
    int32_t value = 0;
    std::string hex = text.find('$') == std::string::npos ? "$" + text : text;
    return TryStrToInt(hex, value) ? value : 0;
}

std::string IntToBase(int32_t value, uint8_t minDigits, uint8_t base) {
    if (value < 0 || base < 2 || base > 36) return std::string();
    std::string result;
    do {
        int digit = value % base;
        result.insert(result.begin(), static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10));
        value /= base;
    } while (value != 0);
    return PadLeft('0', result, minDigits);
}

int32_t StrToDWordDef(const std::string& text, int32_t defaultValue) {
    int32_t value = 0, head = 0, digit = 0;
    if (TryStrToInt(text, value)) return value;
    if (text.size() < 2) return defaultValue;
    if (TryStrToInt(text.substr(0, text.size() - 1), head) &&
        TryStrToInt(text.substr(text.size() - 1), digit) && digit >= 0 && digit <= 9)
        return static_cast<int32_t>(static_cast<uint32_t>(head) * 10u + static_cast<uint32_t>(digit));
    return defaultValue;
}

std::string UnsignedToStr(uint32_t value) { return std::to_string(value); }
std::string IntToStr(int32_t value) { return std::to_string(value); }

int32_t StrToIntOrZero(const std::string& text) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : 0;
}

std::string FormatOneString(const std::string& format, const std::string& argument) {
    std::string result;
    bool argumentUsed = false;
    for (size_t i = 0; i < format.size(); ++i) {
        char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (format[i] == '%' && next == '%') {
            result += '%';
            ++i;
        } else if (format[i] == '%' && next == 's' && !argumentUsed) {
            result += argument;
            argumentUsed = true;
            ++i;
        } else {
            result += format[i];
        }
    }
    return result;
}

std::string ParamStr(const char* commandLine, int n) {
    const char* p = commandLine ? commandLine : "";
    std::string argument;
    for (int index = 0; index <= n; ++index) {
        argument.clear();
        for (;;) {  // separators, and empty "" pairs, between arguments
            while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
            if (p[0] == '"' && p[1] == '"')
                p += 2;
            else
                break;
        }
        if (*p == '\0') return std::string();
        while (static_cast<unsigned char>(*p) > ' ') {
            if (*p == '"') {
                for (++p; *p != '\0' && *p != '"'; ++p) argument += *p;
                if (*p != '\0') ++p;
            } else {
                argument += *p++;
            }
        }
    }
    return argument;
}
