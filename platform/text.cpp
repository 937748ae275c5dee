#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <cstring>

std::u32string Utf16ToCodePoints(std::u16string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(c);
    }
    return out;
}

std::string CodePointsToUtf8(std::u32string_view points)
{
    std::string out;
    out.reserve(points.size());
    for (const char32_t c : points) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string WideToAnsi(std::u16string_view text) { return CodePointsToUtf8(Utf16ToCodePoints(text)); }

std::u16string AnsiToWide(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        char32_t c = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else {
            std::size_t need = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
            if (need != 0 && n - i >= need) {
                char32_t v = b & (0xFF >> (need + 1));
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80) { ok = false; break; }
                    v = (v << 6) | (s[i + k] & 0x3F);
                }
                const char32_t min = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    c = v;
                    len = need;
                }
            }
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

#ifndef _WIN32
void SecureZeroMemory(void* data, std::size_t size)
{
    if (data == nullptr || size == 0) return;
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (size--) *p++ = 0;
}
#endif

void WipeString(std::string& text)
{
    SecureZeroMemory(text.data(), text.capacity());
    text.clear();
}

void WipeString(std::u16string& text)
{
    SecureZeroMemory(text.data(), text.capacity() * sizeof(char16_t));
    text.clear();
}

void WipeBytes(std::vector<unsigned char>& bytes)
{
    SecureZeroMemory(bytes.data(), bytes.capacity());
    bytes.clear();
}

int DecimalToInt(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    unsigned int value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) value = value * 10u + unsigned(text[i] - u'0');
    return static_cast<int>(negative ? 0u - value : value);
}

std::u16string IntToDecimal(long long value)
{
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// Iterative, with one back-tracking point for the last "*".
bool WildcardMatch(std::string_view pattern, std::string_view text, bool foldCase)
{
    auto lower = [foldCase](char c) { return foldCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool HostPatternsMatch(const std::vector<std::string>& patterns, std::string_view host)
{
    bool matched = false;
    for (const std::string& pattern : patterns) {
        if (!pattern.empty() && pattern.front() == '!') {
            if (WildcardMatch(std::string_view(pattern).substr(1), host, true)) return false;
        } else if (WildcardMatch(pattern, host, true)) {
            matched = true;
        }
    }
    return matched;
}

char HexDigitLower(unsigned value) { return "0123456789abcdef"[value & 15]; }
char HexDigitUpper(unsigned value) { return "0123456789ABCDEF"[value & 15]; }

namespace {
std::string HexOf(const void* data, std::size_t size, char (*digit)(unsigned))
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digit(bytes[i] >> 4);
        text += digit(bytes[i]);
    }
    return text;
}
}  // namespace

std::string HexLower(const void* data, std::size_t size) { return HexOf(data, size, HexDigitLower); }
std::string HexUpper(const void* data, std::size_t size) { return HexOf(data, size, HexDigitUpper); }

bool ParseHex(std::string_view text, std::vector<unsigned char>& out)
{
    out.clear();
    if (text.size() % 2 != 0) return false;
    const auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

std::string IsoUtcTime(std::int64_t seconds)
{
    using namespace std::chrono;
    const sys_seconds when{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> time{when - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}
