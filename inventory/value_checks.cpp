#include "inventory/value_checks.h"

#include "scan/jump_route.h"
#include "inventory/module_state.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "res/resource_ids.h"

namespace {

constexpr int kMaxPort = 65535;

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Characters that show as empty space: the space separators, tabs and line
// ends, and the zero-width spaces.
bool IsSpace(char16_t c)
{
    return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000 || c == 0xFEFF;
}

// The string resource with "%1" and "%2" replaced by the two numbers.
std::u16string Message(UINT id, std::size_t first = 0, std::size_t second = 0)
{
    std::u16string text = LoadString(g_hInstance, id);
    const std::u16string values[] = {IntToDecimal(static_cast<long long>(first)),
                                     IntToDecimal(static_cast<long long>(second))};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::u16string marker = u"%" + IntToDecimal(static_cast<long long>(i + 1));
        if (const std::size_t at = text.find(marker); at != std::u16string::npos)
            text.replace(at, marker.size(), values[i]);
    }
    return text;
}

}  // namespace

bool IsBlankName(std::u16string_view name)
{
    for (char16_t c : name)
        if (!IsSpace(c)) return false;
    return true;
}

std::u16string CheckNodeName(std::u16string_view name)
{
    if (IsBlankName(name)) return Message(IDS_NAME_BLANK);
    if (name.size() > kMaxNodeName) return Message(IDS_NAME_TOO_LONG, kMaxNodeName, name.size());
    for (char16_t c : name)
        if (c == u'/' || IsControl(c)) return Message(IDS_NAME_CHARACTERS);
    return {};
}

std::u16string CheckKeyFiles(std::u16string_view text, std::u16string& stored)
{
    std::u16string joined;
    std::size_t count = 0;
    while (true) {
        const std::size_t end = std::min(text.find_first_of(u";\n"), text.size());
        std::u16string_view path = text.substr(0, end);
        while (!path.empty() && (path.front() == u' ' || path.front() == u'\t')) path.remove_prefix(1);
        while (!path.empty() && (path.back() == u' ' || path.back() == u'\t')) path.remove_suffix(1);
        if (!path.empty()) {
            if (std::u16string refusal = CheckKeyFilePath(path); !refusal.empty()) return refusal;
            if (!joined.empty()) joined += u'\n';
            joined += path;
            ++count;
        }
        if (end == text.size()) break;
        text.remove_prefix(end + 1);
    }
    if (count > hostimport::kMaxKeyFiles) return Message(IDS_KEY_FILES_TOO_MANY, hostimport::kMaxKeyFiles, count);
    stored = std::move(joined);
    return {};
}

std::u16string KeyFilesShown(std::u16string_view stored)
{
    std::u16string shown;
    for (char16_t c : stored) {
        if (c == u'\n')
            shown += u"; ";
        else
            shown += c;
    }
    return shown;
}

std::u16string CheckJumpRoute(std::u16string_view text, std::u16string& route)
{
    bool valid = false;
    std::u16string normal = NormalJumpRoute(text, valid);
    if (!valid) return Message(IDS_JUMP_ROUTE_FORM);
    route = std::move(normal);
    return {};
}

std::u16string CheckPort(std::u16string_view text, int& port)
{
    int value = 0;
    bool digits = false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return Message(IDS_PORT_RANGE);
        digits = true;
        value = value * 10 + (c - u'0');
        if (value > kMaxPort) return Message(IDS_PORT_RANGE);  // stops before any overflow
    }
    if (!digits || value == 0) return Message(IDS_PORT_RANGE);
    port = value;
    return {};
}

std::u16string CheckKeyFilePath(std::u16string_view path)
{
    const std::size_t bytes = WideToAnsi(path).size();
    if (bytes > kMaxKeyFilePath) return Message(IDS_KEY_PATH_TOO_LONG, kMaxKeyFilePath, bytes);
    for (char16_t c : path)
        if (IsControl(c)) return Message(IDS_KEY_PATH_CHARACTERS);
    return {};
}
