#include "inventory/value_checks.h"

#include "inventory/jump_route.h"
#include "inventory/module_state.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace {

constexpr UINT kNameTooLong = 340;
constexpr UINT kNameCharacters = 341;
constexpr UINT kPortRange = 342;
constexpr int kMaxPort = 65535;
constexpr UINT kKeyPathTooLong = 520;
constexpr UINT kKeyPathCharacters = 521;
constexpr UINT kJumpRouteForm = 700;

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

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

std::u16string CheckNodeName(std::u16string_view name)
{
    if (name.size() > kMaxNodeName) return Message(kNameTooLong, kMaxNodeName, name.size());
    for (char16_t c : name)
        if (c == u'/' || IsControl(c)) return Message(kNameCharacters);
    return {};
}

std::u16string CheckJumpRoute(std::u16string_view text, std::u16string& route)
{
    bool valid = false;
    std::u16string normal = NormalJumpRoute(text, valid);
    if (!valid) return Message(kJumpRouteForm);
    route = std::move(normal);
    return {};
}

std::u16string CheckPort(std::u16string_view text, int& port)
{
    int value = 0;
    bool digits = false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return Message(kPortRange);
        digits = true;
        value = value * 10 + (c - u'0');
        if (value > kMaxPort) return Message(kPortRange);  // stops before any overflow
    }
    if (!digits || value == 0) return Message(kPortRange);
    port = value;
    return {};
}

std::u16string CheckKeyFilePath(std::u16string_view path)
{
    const std::size_t bytes = WideToAnsi(path).size();
    if (bytes > kMaxKeyFilePath) return Message(kKeyPathTooLong, kMaxKeyFilePath, bytes);
    for (char16_t c : path)
        if (IsControl(c)) return Message(kKeyPathCharacters);
    return {};
}
