#include "text.h"

std::string OneLine(std::wstring_view text)
{
    std::wstring flat;
    flat.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t unit = text[i];
        if (unit == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        flat.push_back(unit == L'\n' || unit == L'\r' || unit == L'\t' ? L' ' : unit);
    }
    while (!flat.empty() && flat.back() == L' ') flat.pop_back();
    return Narrow(flat);
}
