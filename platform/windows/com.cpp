#include "platform/com.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

LPOLESTR CoTaskMemDup(std::u16string_view text)
{
    auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
    copy[text.size()] = L'\0';
    return copy;
}

std::u16string_view OleView(LPCOLESTR text)
{
    if (text == nullptr) return {};
    return std::u16string_view(reinterpret_cast<const char16_t*>(text), std::wcslen(text));
}
