// Text conversion and the wiping of secrets.
//
// Wide text is UTF-16. The "ANSI code page of the current thread" that the
// system converts to before handing text to its 8-bit libraries is UTF-8 on
// this platform.
#pragma once

#include <cstdint>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// UTF-16 to code points; unpaired surrogates become U+FFFD.
std::u32string Utf16ToCodePoints(std::u16string_view text);
// Code points as UTF-8 (each assumed valid: callers replace what is not).
std::string CodePointsToUtf8(std::u32string_view points);
// UTF-16 to the thread's 8-bit code page. Unpaired surrogates become U+FFFD.
std::string WideToAnsi(std::u16string_view text);
// The thread's 8-bit code page to UTF-16. Malformed sequences become U+FFFD.
std::u16string AnsiToWide(std::string_view text);

// Overwrites memory in a way the compiler cannot drop.
#ifdef _WIN32
#include <windows.h>
#else
void SecureZeroMemory(void* data, std::size_t size);
#endif

// Wipes a string's whole buffer (not only its current length) and empties it.
void WipeString(std::string& text);
void WipeString(std::u16string& text);
void WipeBytes(std::vector<unsigned char>& bytes);

// Parses a decimal number the way the dialogs do: optional white space and
// sign, then leading digits only; no digits give 0. Wraps like a 32-bit int.
// Bytes as hexadecimal, two digits a byte, lower or upper case.
std::string HexLower(const void* data, std::size_t size);
std::string HexUpper(const void* data, std::size_t size);
// One hexadecimal digit of the low four bits of `value`.
char HexDigitLower(unsigned value);
char HexDigitUpper(unsigned value);
// Pairs of hexadecimal digits (either case) as bytes; false on an odd
// length or any other character, and out is then empty.
bool ParseHex(std::string_view text, std::vector<unsigned char>& out);

// Seconds since 1970 as ISO 8601 UTC, "2026-12-07T18:46:31Z": the one form in
// which every time is printed, listed and exported.
std::string IsoUtcTime(std::int64_t seconds);

int DecimalToInt(std::u16string_view text);
std::u16string IntToDecimal(long long value);

// A string that wipes itself when it goes away.
template <typename String>
class Wiped {
public:
    Wiped() = default;
    explicit Wiped(String value) : m_value(std::move(value)) {}
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    ~Wiped() { WipeString(m_value); }
    String& get() { return m_value; }
    const String& get() const { return m_value; }

private:
    String m_value;
};

// One pattern with "*" and "?" wildcards against a text; `foldCase`
// compares ASCII letters in either case.
bool WildcardMatch(std::string_view pattern, std::string_view text, bool foldCase);
// Whether a host name matches a list of host patterns as OpenSSH's client
// files write them: "*" and "?" wildcards, ASCII letters in either case,
// and "!pattern" excluding whatever it matches (a list of exclusions alone
// matches nothing).
bool HostPatternsMatch(const std::vector<std::string>& patterns, std::string_view host);
