#include "hardware/format_quantity.h"

#include <cstdint>
#include <vector>

#include "res/module_strings.h"
#include "platform/text.h"
#include "res/resource_ids.h"

namespace {

// "Gb", "Mb", "Kb", "GHz", "MHz", "kHz": string list 106, loaded once.
const std::vector<std::u16string>& UnitNames()
{
    static const std::vector<std::u16string> units = [] {
        std::vector<std::u16string> list;
        LoadStringList(IDS_UNITS, list);
        return list;
    }();
    return units;
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Signed decimal with the wrap-around of 64-bit arithmetic on overflow.
std::int64_t ParseDecimal(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - u'0');
    return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

}  // namespace

std::u16string FormatQuantity(std::u16string_view text, bool isFrequency)
{
    const std::int64_t value = ParseDecimal(text);
    const std::int64_t base = isFrequency ? 1000 : 1024;
    const std::int64_t divisors[] = {base * base * base, base * base, base};
    const std::vector<std::u16string>& units = UnitNames();
    for (std::size_t step = 0; step < 3; ++step) {
        const std::int64_t quotient = value / divisors[step];
        if (quotient == 0 || value % divisors[step] != 0) continue;
        const std::size_t unit = 3 * (isFrequency ? 1 : 0) + step;
        if (unit >= units.size()) break;  // no unit names among the resources
        return IntToDecimal(quotient) + u" " + units[unit];
    }
    return std::u16string(text);
}

std::u16string FormatMeasure(std::u16string_view text, std::u16string_view units)
{
    if (units == u"Hz") return FormatQuantity(text, true);
    if (units.empty() || units == u"bytes") return FormatQuantity(text, false);
    if (text.empty()) return {};
    std::u16string shown(text);
    shown += u' ';
    shown += units;
    return shown;
}
