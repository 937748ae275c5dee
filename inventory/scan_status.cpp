#include "inventory/scan_status.h"

#include <cstdio>

#include "inventory/module_state.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "res/resource_ids.h"

namespace {

std::u16string Replace(std::u16string text, std::u16string_view marker, std::u16string_view value)
{
    if (const std::size_t at = text.find(marker); at != std::u16string::npos) text.replace(at, marker.size(), value);
    return text;
}

}  // namespace

void CScanStatus::Scanned(Clock::time_point when)
{
    m_scanned = when;
    m_refreshFailed.reset();
}

void CScanStatus::Restore(std::optional<Clock::time_point> scanned, std::optional<Clock::time_point> refreshFailed)
{
    m_stored = scanned;
    m_refreshFailed = refreshFailed;
}

void CScanStatus::Forget()
{
    m_scanned.reset();
    m_stored.reset();
    m_refreshFailed.reset();
}

void CScanStatus::AppendRows(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const
{
    std::vector<std::u16string> rowNames;
    LoadStringList(IDS_SCAN_ROW_NAMES, rowNames);
    if (rowNames.size() < 2) return;
    const std::optional<Clock::time_point> last = LastScanAt();
    const std::u16string scanned = last ? FormatUtcTime(*last) : LoadString(g_hInstance, IDS_STORED_SCAN);
    if (last) {
        names.push_back(rowNames[0]);
        values.push_back(scanned);
    }
    if (m_refreshFailed) {
        names.push_back(rowNames[1]);
        values.push_back(Replace(Replace(LoadString(g_hInstance, IDS_SCAN_FAILED), u"%1", FormatUtcTime(*m_refreshFailed)),
                                 u"%2", scanned));
    }
}

std::u16string FormatUtcTime(CScanStatus::Clock::time_point when)
{
    return AnsiToWide(IsoUtcTime(std::chrono::floor<std::chrono::seconds>(when).time_since_epoch().count()));
}
