#include "platform/com.h"

#include <cstdio>
#include <cstdlib>

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
