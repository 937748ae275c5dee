#include "res/module_strings.h"

#include "platform/text.h"

HINSTANCE g_hInstance = ThisModule();

void LoadStringList(UINT id, std::vector<std::u16string>& list)
{
    list.clear();
    const std::u16string text = LoadString(g_hInstance, id);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'|', start);
        if (end == std::u16string::npos) end = text.size();
        if (end > start) list.emplace_back(text, start, end - start);
        start = end + 1;
    }
}

LPOLESTR BuildResourceUrl(std::u16string_view page)
{
    const std::u16string url = u"res://" + AnsiToWide(GetModuleFileName(g_hInstance)) + u"/" + std::u16string(page);
    return CoTaskMemDup(url);
}
