#include "scp/scp_match.h"

namespace {
// Matches one set "[...]" at *pattern (just after '[') against c; moves
// *pattern past the closing ']'. A set without ']' matches nothing.
bool scp_match_set(const char** pattern, unsigned char c, bool* valid)
{
    const char* p = *pattern;
    bool negate = false;
    if (*p == '^') {
        negate = true;
        ++p;
    }
    bool found = false;
    bool first = true;
    while (*p && (*p != ']' || first)) {
        first = false;
        unsigned char lo = static_cast<unsigned char>(*p);
        if (lo == '\\' && p[1]) lo = static_cast<unsigned char>(*++p);
        ++p;
        unsigned char hi = lo;
        if (*p == '-' && p[1] && p[1] != ']') {
            ++p;
            hi = static_cast<unsigned char>(*p);
            if (hi == '\\' && p[1]) hi = static_cast<unsigned char>(*++p);
            ++p;
        }
        if (lo <= c && c <= hi) found = true;
    }
    if (*p != ']') {
        *valid = false;
        return false;
    }
    *pattern = p + 1;
    *valid = true;
    return found != negate;
}
}  // namespace

bool scp_match_pattern(const char* pattern, const char* text)
{
    // Iterative matcher with one back-tracking point for the latest '*'.
    const char* starPattern = nullptr;
    const char* starText = nullptr;
    const char* p = pattern;
    const char* t = text;
    for (;;) {
        if (*p == '*') {
            while (*p == '*') ++p;
            starPattern = p;
            starText = t;
            continue;
        }
        if (*t == '\0' && *p == '\0') return true;
        bool ok = false;
        if (*t != '\0' && *p != '\0') {
            const char* next = p;
            if (*p == '?') {
                ok = true;
                next = p + 1;
            } else if (*p == '[') {
                ++next;
                bool valid = false;
                ok = scp_match_set(&next, static_cast<unsigned char>(*t), &valid);
                if (!valid) return false;
            } else if (*p == '\\' && p[1]) {
                ok = p[1] == *t;
                next = p + 2;
            } else {
                ok = *p == *t;
                next = p + 1;
            }
            if (ok) {
                p = next;
                ++t;
                continue;
            }
        }
        if (!starPattern || *starText == '\0') return false;
        p = starPattern;
        t = ++starText;
    }
}
