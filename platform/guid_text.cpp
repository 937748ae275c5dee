// The registry text form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <cstdio>
#include <string>

#include "platform/com.h"

std::string GuidToAnsi(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1), g.Data2, g.Data3,
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
