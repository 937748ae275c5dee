#include "platform/com.h"

#include <cstdio>
#include <cstdlib>

std::string GuidToAnsi(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::u16string GuidToString(const GUID& guid)
{
    const std::string text = GuidToAnsi(guid);
    return std::u16string(text.begin(), text.end());
}

bool GuidFromString(std::u16string_view text, GUID& out)
{
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
    char plain[37];
    for (int i = 0; i < 36; ++i) {
        const char16_t c = text[1 + i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != u'-'
                 : !((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
        plain[i] = static_cast<char>(c);
    }
    plain[36] = '\0';
    out = MakeGuid(plain);
    return true;
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }

LPOLESTR CoTaskMemDup(std::u16string_view text)
{
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = u'\0';
    return copy;
}

std::u16string_view OleView(LPCOLESTR text) { return text == nullptr ? std::u16string_view() : std::u16string_view(text); }
