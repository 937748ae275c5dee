// Random text for the names of temporary files and folders.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <string>

inline std::string RandomNameSuffix()
{
    unsigned char bytes[6] = {};
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        const ULONGLONG tick = ::GetTickCount64() ^ (static_cast<ULONGLONG>(::GetCurrentThreadId()) << 20);
        for (unsigned i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(tick >> (8 * i));
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string text;
    for (unsigned char b : bytes) {
        text.push_back(digits[b & 31]);
    }
    return text;
}
