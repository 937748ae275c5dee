#include "platform/dataobject.h"

UINT RegisterClipboardFormat(std::u16string_view name)
{
    const std::wstring text(name.begin(), name.end());
    return RegisterClipboardFormatW(text.c_str());
}
